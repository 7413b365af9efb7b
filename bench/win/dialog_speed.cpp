// Times the dialog making one file under Wine: from the click on "Create
// file" to the button being enabled again, the dialog serving its messages
// meanwhile as it does for a user. Also counts the position messages the
// progress bar received. Usage: dialog_speed PATH [SECONDS]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "res/resource.h"
#include "tests/win/harness.h"
#include "ui/calyx_dlg.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("usage: dialog_speed PATH [SECONDS]\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CCalyxDlg dlg;
    if (!dlg.Create()) return 1;
    const HWND hwnd = dlg.m_hWnd;
    SetDlgItemTextA(hwnd, 1004, argv[1]);
    if (argc > 2) SetDlgItemTextA(hwnd, 1003, argv[2]);
    harness::MessageCounter positions(GetDlgItem(hwnd, IDC_PROGRESS), PBM_SETPOS);

    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    SendMessageA(GetDlgItem(hwnd, IDOK), BM_CLICK, 0, 0);
    MSG msg;
    while (!IsWindowEnabled(GetDlgItem(hwnd, IDOK)) || dlg.bBusy) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(hwnd, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    QueryPerformanceCounter(&end);
    std::printf("dialog: %.3f s, %u progress positions\n",
                double(end.QuadPart - start.QuadPart) / double(freq.QuadPart), positions.count);
    DestroyWindow(hwnd);
    return 0;
}
