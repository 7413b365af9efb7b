#pragma once

#include "framework/framework.h"

// The About box (template 100), in the system's own colours.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();

    DECLARE_MESSAGE_MAP(CAboutDlg)
};
