#pragma once

#include "framework/framework.h"

// The application: runs the main dialog once, then ends.
class CCalyxApp : public CWinApp {
public:
    CCalyxApp() : CWinApp(nullptr) {}
    BOOL InitInstance() override;
};
