// The Win32 code of the serial error an action throws.
#pragma once

#include "serial/serial_exception.h"

namespace kavex::test {

// Runs `action` and returns the code of the CSerialException it threw (and
// deletes it), or -1 when it threw none.
template <class Action>
long long SerialErrorOf(Action action) {
    try {
        action();
    } catch (CSerialException* error) {
        const long long code = error->m_dwErrorCode;
        error->Delete();
        return code;
    }
    return -1;
}

}  // namespace kavex::test
