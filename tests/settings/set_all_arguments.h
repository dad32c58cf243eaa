// CVersionConfig::SetAll with its 171 arguments taken from tables indexed
// by their position, so that a test can vary any of them.
#pragma once

#include "settings/version_config.h"

namespace kavex::test {

struct SetAllArguments {
    static constexpr int kCount = 171;
    // By position (1 .. kCount; index 0 is not used). The call takes each
    // position from the table of its parameter's kind.
    int numbers[kCount + 1] = {};
    const char* texts[kCount + 1] = {};
    const BYTE* blocks[kCount + 1] = {};
};

// Every number 0, every text "" and every block a zero-filled buffer.
SetAllArguments PlainSetAllArguments();

BOOL CallSetAll(CVersionConfig& config, const SetAllArguments& arguments);

}  // namespace kavex::test
