#include "app/calyx_app.h"

#include <commctrl.h>

#include "ui/calyx_dlg.h"

// The one application object, made before the entry point runs.
CCalyxApp theApp;

BOOL CCalyxApp::InitInstance()
{
    // The progress bar's class must be registered before any window exists.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CCalyxDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    // No message loop afterwards: the program ends with the dialog.
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunApplication(theApp); }
