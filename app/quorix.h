#pragma once
// The application object: its start-up call runs the main window for the life of the process.
#include "platform/qt/framework.h"

class CQuorixApp : public CWinApp {
public:
    CQuorixApp();
    ~CQuorixApp() override;

    BOOL InitInstance() override;
    const CommandMap& GetMessageMap() const override;
};

extern CQuorixApp theApp;
