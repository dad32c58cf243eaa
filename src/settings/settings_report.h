// The settings report: the registration settings as the printable GBK text
// that support staff hand around, and the name of the cafe-management
// system in use.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "settings/version_record.h"

// Writes the report of the shared record to the file `path` (an existing
// file is emptied first): 1 when the whole report was written. 0 when no
// view is mapped (nothing is created), the file cannot be opened, or a file
// error occurs (its description goes to standard output).
BOOL WriteSettingsReport(const char* path);

// The display name of the shared record's CafeSystem and 1; "未指定" (GBK)
// and 0 for an identifier without a name, or when no view is mapped.
BOOL GetCafeSystemName(std::string& name);

namespace kavex::settings {

// The report's lines of a record, GBK, each ending in CR LF, but for the
// last one: the time line of `now` (null: a local time that could not be had).
std::vector<std::string> SettingsReportLines(const VersionConfigRecord& record);
std::string SettingsReportTimeLine(const std::tm* now);

// Breaks `moment` down into local time in *local; false when the system
// cannot. Unlike std::localtime it shares no result with other callers, so
// threads may call it at once.
bool LocalTimeOf(std::time_t moment, std::tm* local);

}  // namespace kavex::settings
