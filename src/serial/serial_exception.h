// CSerialException: a failed serial port operation and its Win32 error code.
//
// Serial port methods throw it by pointer through ThrowSerialException; the
// catcher owns it and ends it with Delete().
#pragma once

#include <string>

#include "framework/exception.h"

class CSerialException : public CException {
    KAVEX_DECLARE_DYNAMIC(CSerialException)

public:
    explicit CSerialException(DWORD errorCode);

    // The system's text for m_dwErrorCode, copied as the system gives it
    // (line break included) and truncated to maxChars - 1 characters.
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const override;
    // The same text as a string; empty when the system has none.
    std::string GetErrorMessage() const;

    DWORD m_dwErrorCode;
};

// Throws a new CSerialException by pointer. A code of 0 stands for the
// calling thread's last error, that is, the code of the call that just failed.
[[noreturn]] void ThrowSerialException(DWORD errorCode = 0);
