// CException: the base of the exceptions this module throws by pointer. The
// catcher ends an exception's life with Delete, which frees it only while
// its auto-delete flag is set (a static fallback object keeps it clear).
#pragma once

#include "framework/object.h"
#include "platform/win32.h"

class CException : public CObject {
    KAVEX_DECLARE_DYNAMIC(CException)

public:
    explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}

    // Destroys a heap exception; does nothing for one whose flag is clear.
    void Delete();

    // Writes a description into `buffer` (at most maxChars - 1 characters
    // and a NUL). The base has none: an empty buffer and FALSE.
    virtual BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const;

    // Shows the description in a message box; `messageId` names the text to
    // show when there is none (0: "no error message is available").
    virtual int ReportError(UINT type = MB_OK, UINT messageId = 0) const;

    BOOL m_bAutoDelete;
};

// The framework's string resource for an error without a description.
#define KAVEX_IDP_NO_ERROR_AVAILABLE 0xF020u

// The text of a string resource of the module, or null when there is none.
const char* LoadModuleString(UINT id);
