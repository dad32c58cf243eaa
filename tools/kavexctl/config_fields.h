// The named fields of the port configuration record, as kavexctl shows and
// edits them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "config/port_config.h"

namespace kavexctl {

enum class FieldKind { kText, kSigned, kUnsigned, kPorts };

struct ConfigField {
    const char* name;  // exactly as the record names it
    FieldKind kind;
    std::size_t offset;
    std::size_t size;   // bytes in the record
    long long minimum;  // numbers: the accepted range
    long long maximum;
    std::size_t maxText;  // texts: the most bytes `set` stores
    bool settable;
};

// Every named field, in record order.
const std::vector<ConfigField>& ConfigFields();
const ConfigField* FindConfigField(const std::string& name);

// A field's value for display: texts as UTF-8, FurtherPorts as "a b c d".
std::string FieldText(const PortConfigRecord& record, const ConfigField& field);
// The same as a JSON value.
std::string FieldJson(const PortConfigRecord& record, const ConfigField& field);

// Parses `value` for the field and stores it. False with a message when the
// value is malformed or out of range; the record is then unchanged.
bool SetField(PortConfigRecord& record, const ConfigField& field, const std::string& value,
              std::string* error);

}  // namespace kavexctl
