#include "serial/serial_exception.h"

#include <new>
#include <vector>

KAVEX_IMPLEMENT_DYNAMIC(CSerialException, CException)

namespace {

// The exception thrown when a new one cannot be allocated. It is built when
// the module loads, so that throwing it needs no memory at all; its
// auto-delete flag is clear, so the catcher's Delete leaves it alone.
class CFallbackSerialException : public CSerialException {
public:
    CFallbackSerialException() : CSerialException(0) { m_bAutoDelete = FALSE; }
};
CFallbackSerialException g_FallbackSerialException;

}  // namespace

CSerialException::CSerialException(DWORD errorCode) : m_dwErrorCode(errorCode) {}

BOOL CSerialException::GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext != nullptr) *helpContext = 0;
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        m_dwErrorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0) {
        if (buffer != nullptr && maxChars > 0) buffer[0] = '\0';
        return FALSE;
    }
    lstrcpynA(buffer, text, static_cast<int>(maxChars));
    LocalFree(text);
    return TRUE;
}

std::string CSerialException::GetErrorMessage() const {
    std::vector<char> buffer(4096, '\0');
    // Through the virtual call, so a derived class's text is the one used.
    const CException& self = *this;
    self.GetErrorMessage(buffer.data(), static_cast<UINT>(buffer.size()));
    return std::string(buffer.data());
}

void ThrowSerialException(DWORD errorCode) {
    if (errorCode == 0) errorCode = GetLastError();
    CSerialException* error = new (std::nothrow) CSerialException(errorCode);
    if (error == nullptr) {
        // Out of memory: the module's preallocated exception carries the code.
        g_FallbackSerialException.m_dwErrorCode = errorCode;
        error = &g_FallbackSerialException;
    }
    throw error;
}
