// The application object base. A module holds exactly one application
// object, constructed before and destroyed after its other static objects.
#pragma once

#include "framework/object.h"
#include "platform/win32.h"

// A message map: the messages a class handles (none in this module) and the
// map of its base class, which lookups fall back to.
struct CMessageMapEntry {
    UINT message;
    void (*handler)();
};

struct CMessageMap {
    const CMessageMap* (*pfnGetBaseMap)();
    const CMessageMapEntry* lpEntries;  // ends with an entry whose handler is null
};

class CWinApp : public CObject {
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual const CMessageMap* GetMessageMap() const;
    static const CMessageMap* GetThisMessageMap();

    // The module's application object while it exists, else null.
    static CWinApp* Current();

    LPCSTR m_pszAppName;
};
