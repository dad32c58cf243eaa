#include "framework/exception.h"

KAVEX_IMPLEMENT_DYNAMIC(CException, CObject)

void CException::Delete() {
    if (m_bAutoDelete > 0) delete this;
}

BOOL CException::GetErrorMessage(LPSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext != nullptr) *helpContext = 0;
    if (buffer != nullptr && maxChars > 0) buffer[0] = '\0';
    return FALSE;
}

int CException::ReportError(UINT type, UINT messageId) const {
    char message[512];
    if (!GetErrorMessage(message, sizeof message)) {
        const UINT id = messageId != 0 ? messageId : KAVEX_IDP_NO_ERROR_AVAILABLE;
        const char* text = LoadModuleString(id);
        lstrcpynA(message, text != nullptr ? text : "", sizeof message);
    }
    return MessageBoxA(nullptr, message, nullptr, type);
}

const char* LoadModuleString(UINT id) {
    // "无法获取错误信息。" ("No error message is available.") in GBK.
    static const char kNoErrorAvailable[] =
        "\xCE\xDE\xB7\xA8\xBB\xF1\xC8\xA1\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA1\xA3";
    return id == KAVEX_IDP_NO_ERROR_AVAILABLE ? kNoErrorAvailable : nullptr;
}
