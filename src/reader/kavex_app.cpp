#include "reader/kavex_app.h"

namespace {
const CMessageMapEntry kNoEntries[] = {{0, nullptr}};
// An empty map that chains to the base class's map.
const CMessageMap kKavexAppMap = {&CWinApp::GetThisMessageMap, kNoEntries};
}  // namespace

CKavexApp::CKavexApp() : CWinApp(nullptr) {}

CKavexApp::~CKavexApp() = default;

const CMessageMap* CKavexApp::GetMessageMap() const { return &kKavexAppMap; }
