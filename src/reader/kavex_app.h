// The module's application object. It does no start-up or shutdown work of
// its own; it exists so the module has the application object that the
// framework expects, constructed before the port objects.
#pragma once

#include "framework/app.h"

class CKavexApp : public CWinApp {
public:
    CKavexApp();
    ~CKavexApp() override;

    const CMessageMap* GetMessageMap() const override;
};
