#pragma once

// What the dialog tests share: the work folder, file helpers, the real main
// dialog opened modeless, keys as the user types them, and a job held at its
// first write. Each group of tests is in its own file; main() in
// dialog_test.cpp runs them in order.

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "harness.h"
#include "resource.h"
#include "ui/calyx_dlg.h"

#define CHECK_COLOR(actual, expected) \
    harness::CheckEqual(harness::ColorText(actual), harness::ColorText(expected), #actual, __FILE__, __LINE__)

extern std::string workDir;  // takes the files the tests make
extern std::string refDir;   // calyx-cli's files for the jobs' requests, or empty

std::string WorkPath(const std::string& name);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
uint32_t U32(const std::string& bytes, size_t at);
// A finished file of whole blocks of the given width; blocks gets their count.
bool ValidWholeBlocks(const std::string& file, uint32_t bits, uint32_t& blocks);
HWND FindStatic(HWND dialog, const char* text);

// The dialog under test: the real class, opened modeless, with the focus
// on its first control and its first messages served.
struct Dialog {
    CCalyxDlg dlg;
    HWND hwnd = nullptr;
    Dialog();
    ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return harness::WindowText(Item(id)); }
    void SetText(int id, const std::string& text) const { SetDlgItemTextA(hwnd, id, text.c_str()); }
    uint32_t ProgressPos() const { return uint32_t(SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
    uint32_t ProgressHigh() const
    {
        return uint32_t(SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    }
    int ProgressLow() const { return int(SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, TRUE, 0)); }
    void Click(int id) const { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    bool CreateEnabled() const { return IsWindowEnabled(Item(IDOK)) != FALSE; }
    // A short request to path: 1 s at 8000 Hz, 16 blocks.
    void SetShortJob(const std::string& path) const
    {
        SetText(IDC_SAMPLE_RATE, "8000");
        SetText(IDC_DURATION, "1");
        SetText(IDC_PATH, path);
    }
    // Moves the focus as the dialog manager does for Tab.
    void Focus(int id) const { SendMessageA(hwnd, WM_NEXTDLGCTL, WPARAM(Item(id)), TRUE); }
    // Waits for the running job's end, as the user would: serving messages.
    bool WaitForJob(DWORD ms) const;
};

// A key as the user types it: through the system's input queue to the
// focused window, and into the dialog through the pump's IsDialogMessage.
void PressKey(WORD key, bool shift = false);

// Holds the dialog's job in its first write until the test releases it or
// the dialog clears busy, so that keys arrive while the job runs on any
// machine. Going out of scope, it lets the job end and waits for it.
struct HeldJob {
    CCalyxDlg& dlg;
    std::atomic<int> writes{0};
    std::atomic<bool> release{false};
    explicit HeldJob(CCalyxDlg& dialog);
    ~HeldJob();
};

// The groups of tests, one file each.
void HookDeleteObject();
void TestResources();
void TestFieldGrammar();
void TestUnreadFields();
void TestRefusals();
void TestFreshDialog();
void TestColors();
void TestJobs();
void TestProgressMessages();
void TestQuitDuringJob();
void TestCloseWays();
void TestKeysAroundJobs();
void TestEnterOnButtons();
void TestBitWidthArrows();
void TestSystemCommands();
void TestIconicAndDestroy();
void TestDefaultPath();
void TestLabels();
