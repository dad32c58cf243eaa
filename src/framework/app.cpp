#include "framework/app.h"

namespace {
CWinApp* g_currentApp = nullptr;
const CMessageMapEntry kNoEntries[] = {{0, nullptr}};
const CMessageMap kWinAppMap = {nullptr, kNoEntries};
}  // namespace

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { g_currentApp = this; }

CWinApp::~CWinApp() {
    if (g_currentApp == this) g_currentApp = nullptr;
}

const CMessageMap* CWinApp::GetMessageMap() const { return GetThisMessageMap(); }

const CMessageMap* CWinApp::GetThisMessageMap() { return &kWinAppMap; }

CWinApp* CWinApp::Current() { return g_currentApp; }
