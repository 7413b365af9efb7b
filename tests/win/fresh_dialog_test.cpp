// A fresh dialog: its fields, buttons, menu and icon, the default path,
// the system commands, and its clean-up.

#include <direct.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dialog_fixture.h"

using namespace harness;

// ---- a fresh dialog

void TestFreshDialog()
{
    char cwd[MAX_PATH];
    _getcwd(cwd, sizeof cwd);
    Dialog d;
    CHECK(IsWindowVisible(d.hwnd));
    CHECK_EQ(d.Text(IDC_SAMPLE_RATE), "384000");
    CHECK_EQ(d.Text(IDC_FREQUENCY), "1000");
    CHECK_EQ(d.Text(IDC_ATTENUATION), "0");
    CHECK_EQ(d.Text(IDC_DURATION), "30");
    std::string expected = std::string(cwd) + "\\Test.wav";
    expected[0] = char(toupper(expected[0]));
    CHECK_EQ(d.Text(IDC_PATH), expected);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS16), 0u);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS24), 0u);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS32), 1u);
    CHECK_EQ(d.dlg.nBitWidth, 32);
    CHECK_EQ(d.ProgressLow(), 0);
    CHECK_EQ(d.ProgressHigh(), 10u);
    CHECK_EQ(d.ProgressPos(), 0u);
    CHECK(GetFocus() == d.Item(IDOK));
    CHECK(!d.dlg.bBusy);
    CHECK(d.dlg.hThread == nullptr);

    // Both push buttons became owner-drawn when they were attached.
    CHECK_EQ(GetWindowLongA(d.Item(IDOK), GWL_STYLE) & 0xF, BS_OWNERDRAW);
    CHECK_EQ(GetWindowLongA(d.Item(IDCANCEL), GWL_STYLE) & 0xF, BS_OWNERDRAW);

    HMENU menu = GetSystemMenu(d.hwnd, FALSE);
    const int n = GetMenuItemCount(menu);
    CHECK(n >= 2);
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID;
    GetMenuItemInfoA(menu, UINT(n - 2), TRUE, &info);
    CHECK(info.fType & MFT_SEPARATOR);
    char text[64] = "";
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    GetMenuItemInfoA(menu, UINT(n - 1), TRUE, &info);
    CHECK_EQ(info.wID, UINT(IDM_ABOUTBOX));
    CHECK_EQ(std::string(text), "&About Calyx...");

    // One icon for both sizes and for dragging.
    CHECK(d.dlg.hIcon != nullptr);
    CHECK(HICON(SendMessageA(d.hwnd, WM_GETICON, ICON_BIG, 0)) == d.dlg.hIcon);
    CHECK(HICON(SendMessageA(d.hwnd, WM_GETICON, ICON_SMALL, 0)) == d.dlg.hIcon);
    CHECK(HICON(SendMessageA(d.hwnd, WM_QUERYDRAGICON, 0, 0)) == d.dlg.hIcon);

    RECT client;
    GetClientRect(d.hwnd, &client);
    RECT dlu = {0, 0, 201, 182};
    MapDialogRect(d.hwnd, &dlu);
    std::printf("dialog 201 x 182 DLU = %ld x %ld px client (base units %ld x %ld)\n", client.right,
                client.bottom, dlu.right * 4 / 201, dlu.bottom * 8 / 182);
    CHECK_EQ(client.right, dlu.right);
    CHECK_EQ(client.bottom, dlu.bottom);
}

// ---- the brushes: every DeleteObject of the program goes through the
// import slot, so the test counts the handles passed to it.

#ifdef _WIN64
extern "C" void* importDeleteObject __asm__("__imp_DeleteObject");
#else
extern "C" void* importDeleteObject __asm__("__imp__DeleteObject@4");
#endif
namespace {

using DeleteObjectFn = BOOL(WINAPI*)(HGDIOBJ);
DeleteObjectFn realDeleteObject = nullptr;
std::vector<HGDIOBJ> deleted;

BOOL WINAPI CountingDeleteObject(HGDIOBJ object)
{
    deleted.push_back(object);
    return realDeleteObject(object);
}

}  // namespace

void HookDeleteObject()
{
    DWORD old;
    VirtualProtect(&importDeleteObject, sizeof(void*), PAGE_READWRITE, &old);
    realDeleteObject = reinterpret_cast<DeleteObjectFn>(importDeleteObject);
    importDeleteObject = reinterpret_cast<void*>(&CountingDeleteObject);
    VirtualProtect(&importDeleteObject, sizeof(void*), old, &old);
}

// ---- system menu, icon, clean-up

void TestSystemCommands()
{
    Dialog d;
    for (UINT id = 15; id <= 32; ++id) {
        ModalWatcher boxes(d.hwnd);
        SendMessageA(d.hwnd, WM_SYSCOMMAND, id, 0);
        const bool about = id >= 16 && id <= 31;
        CHECK_EQ(boxes.seen.size(), size_t(about ? 1 : 0));
        if (boxes.seen.size() != 1) continue;
        const ModalWindow& m = boxes.seen[0];
        CHECK_EQ(m.caption, "About Calyx");
        CHECK(m.owner == d.hwnd);
        CHECK(!m.ownerEnabled);
        CHECK(m.icon);
        CHECK(!m.texts.empty() && m.texts[0] == "Calyx, Version 1.05");
        CHECK(m.buttons == std::vector<std::string>{"OK"});
    }
    CHECK(IsWindowEnabled(d.hwnd));
    CHECK_EQ(d.dlg.Result(), -1);
}

namespace {

HWND iconicDialog = nullptr;
int iconEraseCount = 0;

LRESULT CALLBACK CountIconErase(int code, WPARAM w, LPARAM l)
{
    const auto* m = reinterpret_cast<CWPSTRUCT*>(l);
    if (m->hwnd == iconicDialog && m->message == WM_ICONERASEBKGND && m->wParam) ++iconEraseCount;
    return CallNextHookEx(nullptr, code, w, l);
}

}  // namespace

void TestIconicAndDestroy()
{
    Dialog d;
    // Painting while minimised erases the icon's background itself.
    iconicDialog = d.hwnd;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountIconErase, nullptr, GetCurrentThreadId());
    ShowWindow(d.hwnd, SW_MINIMIZE);
    CHECK(IsIconic(d.hwnd));
    RECT iconic;
    GetClientRect(d.hwnd, &iconic);
    std::printf("minimised client area: %ld x %ld\n", iconic.right, iconic.bottom);
    // Wine sends no WM_PAINT to a minimised window (it has no client area),
    // so the paint is asked for directly.
    SendMessageA(d.hwnd, WM_PAINT, 0, 0);
    std::printf("painting while minimised sent WM_ICONERASEBKGND %d time(s)\n", iconEraseCount);
    CHECK(iconEraseCount >= 1);
    ShowWindow(d.hwnd, SW_RESTORE);
    iconEraseCount = 0;
    RedrawWindow(d.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpPending(d.hwnd);
    CHECK_EQ(iconEraseCount, 0);
    UnhookWindowsHookEx(hook);

    // Destroying the window deletes each brush exactly once.
    HBRUSH dialogBrush = d.dlg.hDialogBrush, fieldBrush = d.dlg.hFieldBrush;
    CHECK_EQ(GetObjectType(dialogBrush), DWORD(OBJ_BRUSH));
    CHECK_EQ(GetObjectType(fieldBrush), DWORD(OBJ_BRUSH));
    deleted.clear();
    DestroyWindow(d.hwnd);
    CHECK_EQ(std::count(deleted.begin(), deleted.end(), HGDIOBJ(dialogBrush)), 1);
    CHECK_EQ(std::count(deleted.begin(), deleted.end(), HGDIOBJ(fieldBrush)), 1);
    CHECK_EQ(GetObjectType(dialogBrush), 0u);
    CHECK_EQ(GetObjectType(fieldBrush), 0u);
}

// ---- the default path from the working directory

namespace {

std::string DirectoryOfLength(size_t length)
{
    std::string dir = workDir + "\\long";
    CreateDirectoryA(dir.c_str(), nullptr);
    while (dir.size() < length) {
        const size_t part = std::min<size_t>(60, length - dir.size() - 1);
        if (part == 0) {
            dir += "x";  // one character short of a separator and a name
            break;
        }
        dir += "\\" + std::string(part, 'd');
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    if (dir.back() == 'x') CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

}  // namespace

void TestDefaultPath()
{
    char saved[MAX_PATH];
    _getcwd(saved, sizeof saved);
    const struct {
        std::string dir;
        std::string expected;
    } cases[] = {
        {"c:\\", "C:\\\\Test.wav"},  // the root's backslash stays: two in a row
        {DirectoryOfLength(246), ""},
        {DirectoryOfLength(247), "Test.wav"},
    };
    for (const auto& c : cases) {
        CHECK(_chdir(c.dir.c_str()) == 0);
        char cwd[MAX_PATH] = "";
        _getcwd(cwd, sizeof cwd);
        Dialog d;
        if (c.expected.empty()) {
            CHECK_EQ(std::strlen(cwd), size_t(246));
            CHECK_EQ(d.Text(IDC_PATH), std::string(cwd) + "\\Test.wav");
        } else {
            CHECK_EQ(d.Text(IDC_PATH), c.expected);
        }
    }
    _chdir(saved);
}
