// The shared settings view of this process: mapped once, by the first
// CVersionConfig, and kept until the process ends.
#pragma once

#include "platform/win32.h"
#include "settings/version_config.h"

namespace kavex::settings {

// Names of the machine-wide objects, written exactly so.
constexpr char kMutexName[] = "zoru_versionfcfg_file";
constexpr char kMappingName[] = "FileMap20080819";

// Steps of the construction after the mutex is held: the first call in the
// process maps the view, fills it with zeros and the defaults, loads `path`
// through `config` (saving the defaults to `path`, or to the located file
// for none, when createIfMissing is set and that file is missing or is no
// settings file) and fills in the values still 0. Later calls do nothing,
// also after a set-up that failed.
void SetUpSharedView(CVersionConfig& config, const char* path, BOOL createIfMissing);

}  // namespace kavex::settings
