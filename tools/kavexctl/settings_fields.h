// The fields of the registration settings record as kavexctl shows, prints
// as JSON and sets them, driven by the record's field table.
#pragma once

#include <string>

#include "settings/version_fields.h"

namespace kavexctl {

// A field's value for a person: numbers in decimal, texts in UTF-8 as they
// are (no quotes), IdTypes its entries joined by commas, IpAddress dotted,
// blocks in hex, times in seconds with the local date and time.
std::string SettingsFieldText(const VersionConfigRecord& record, const kavex::settings::VersionField& field);
// The same as a JSON value.
std::string SettingsFieldJson(const VersionConfigRecord& record, const kavex::settings::VersionField& field);

// Parses `value` for the field named `name` and stores it in `record`.
// False with a message naming the field when the name is unknown or not
// settable, or the value is malformed, out of range or does not fit; the
// record is then unchanged.
bool SetSettingsField(VersionConfigRecord& record, const std::string& name, const std::string& value,
                      std::string* error);

}  // namespace kavexctl
