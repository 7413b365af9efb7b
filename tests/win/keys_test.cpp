// The keyboard: around a job, Enter on the buttons, the arrows in the
// bit-width group.

#include <vector>

#include "dialog_fixture.h"

using namespace harness;

// ---- the keyboard around a job: a disabled "Create file" with the focus
// would leave every key dead, so "Quit" holds it during the job and gives it
// back at the end; focus the user put elsewhere stays there.

void TestKeysAroundJobs()
{
    const struct {
        const char* name;
        int enterIn;  // the control with the focus when Enter starts the job
        bool tab;     // Tab pressed while the job runs
        int during;   // the focus while the job runs
        int after;    // and once it has ended
    } cases[] = {
        {"Enter on Create file", IDOK, false, IDCANCEL, IDOK},
        {"Enter in the duration field", IDC_DURATION, false, IDC_DURATION, IDC_DURATION},
        {"Tab during the job", IDOK, true, IDC_SAMPLE_RATE, IDC_SAMPLE_RATE},
    };
    for (const auto& c : cases) {
        std::printf("  keys: %s\n", c.name);
        Dialog d;
        HeldJob hold(d.dlg);
        d.SetShortJob(WorkPath("keys1.wav"));
        SendMessageA(d.hwnd, WM_NEXTDLGCTL, WPARAM(d.Item(c.enterIn)), TRUE);
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > 0; }, 5000));
        if (c.tab) PressKey(VK_TAB);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() == d.Item(c.during); }, 2000));
        CHECK(!d.CreateEnabled());
        hold.release = true;
        CHECK(d.WaitForJob(10000));
        CHECK(GetFocus() == d.Item(c.after));

        // The keyboard works after the job: Tab away and back, then Enter
        // starts another.
        PressKey(VK_TAB);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() != d.Item(c.after); }, 2000));
        PressKey(VK_TAB, true);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() == d.Item(c.after); }, 2000));
        const std::string again = WorkPath("keys2.wav");
        DeleteFileA(again.c_str());
        d.SetText(IDC_PATH, again);
        const int written = hold.writes;
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > written; }, 5000));
        CHECK(d.WaitForJob(10000));
        uint32_t blocks = 0;
        CHECK(ValidWholeBlocks(ReadFile(again), 32, blocks));
        CHECK_EQ(blocks, 16u);
    }

    // A dialog left for another window during its job stays behind it when
    // the job ends; back in front, it has its keyboard: Escape closes it.
    {
        Dialog d;
        HeldJob hold(d.dlg);
        d.SetShortJob(WorkPath("keys1.wav"));
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > 0; }, 5000));
        Dialog other;
        CHECK(GetActiveWindow() == other.hwnd);
        hold.release = true;
        CHECK(d.WaitForJob(10000));
        CHECK(GetActiveWindow() == other.hwnd);
        SetActiveWindow(d.hwnd);
        PressKey(VK_ESCAPE);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 5000));
    }

    // Started with Enter, stopped with Escape: the dialog closes and the
    // file holds the blocks made so far, finished.
    Dialog d;
    HeldJob hold(d.dlg);
    const std::string path = WorkPath("escape.wav");
    DeleteFileA(path.c_str());
    d.SetText(IDC_SAMPLE_RATE, "8000");
    d.SetText(IDC_DURATION, "60");  // 938 blocks; held in the first run of 64
    d.SetText(IDC_PATH, path);
    PressKey(VK_RETURN);
    CHECK(PumpUntil(
        d.hwnd, [&] { return hold.writes > 0; }, 5000));
    CHECK(GetFocus() == d.Item(IDCANCEL));
    PressKey(VK_ESCAPE);
    CHECK(PumpUntil(
        d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 5000));
    CHECK(!d.dlg.bBusy);
    CHECK_EQ(WaitForSingleObject(d.dlg.hThread, 0), WAIT_OBJECT_0);
    uint32_t blocks = 0;
    CHECK(ValidWholeBlocks(ReadFile(path), 32, blocks));
    CHECK(blocks >= 64);
    CHECK(blocks < 938);
}

// ---- Enter presses the button with the focus, wherever Tab, Shift+Tab or
// the mouse took it; in a field it presses the designed default, "Create
// file". Both buttons stay owner-drawn as the default moves between them.

namespace {

// The mouse's left button, pressed or released at a point of the dialog.
void MouseButton(HWND dialog, POINT at, bool down)
{
    ClientToScreen(dialog, &at);
    INPUT i{};
    i.type = INPUT_MOUSE;
    i.mi.dx = LONG(at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
    i.mi.dy = LONG(at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
    i.mi.dwFlags =
        MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    SendInput(1, &i, sizeof i);
}

}  // namespace

void TestEnterOnButtons()
{
    const struct {
        const char* name;
        std::vector<bool> tabs;  // from "Create file": true for Shift+Tab
        bool mouse;              // then pressed on "Quit" and released off it
        int focus;               // where Enter is pressed
        bool job;                // Enter starts a job; otherwise it quits
    } cases[] = {
        {"on Create file", {}, false, IDOK, true},
        {"on Quit", {false}, false, IDCANCEL, false},
        {"in the sample rate, after Quit", {false, false}, false, IDC_SAMPLE_RATE, true},
        {"on Create file, after Quit", {false, true}, false, IDOK, true},
        {"on Quit, from the sample rate", {false, false, true}, false, IDCANCEL, false},
        {"on Quit, pressed with the mouse and left", {}, true, IDCANCEL, false},
        {"in the sample rate, after the mouse on Quit", {}, true, IDC_SAMPLE_RATE, true},
    };
    const std::string path = WorkPath("enter.wav");
    for (const auto& c : cases) {
        std::printf("  Enter %s\n", c.name);
        Dialog d;
        HeldJob hold(d.dlg);
        d.SetShortJob(path);
        DeleteFileA(path.c_str());
        for (bool back : c.tabs) {
            const HWND from = GetFocus();
            PressKey(VK_TAB, back);
            CHECK(PumpUntil(
                d.hwnd, [&] { return GetFocus() != from; }, 2000));
        }
        if (c.mouse) {
            const RECT quit = ChildRect(d.hwnd, d.Item(IDCANCEL));
            MouseButton(d.hwnd, {(quit.left + quit.right) / 2, (quit.top + quit.bottom) / 2}, true);
            CHECK(PumpUntil(
                d.hwnd, [&] { return GetFocus() == d.Item(IDCANCEL); }, 2000));
            MouseButton(d.hwnd, {2, 2}, false);
            CHECK(PumpUntil(
                d.hwnd, [&] { return GetCapture() == nullptr; }, 2000));
            if (c.focus != IDCANCEL) {
                PressKey(VK_TAB);
                CHECK(PumpUntil(
                    d.hwnd, [&] { return GetFocus() != d.Item(IDCANCEL); }, 2000));
            }
        }
        CHECK(GetFocus() == d.Item(c.focus));
        CHECK_EQ(GetWindowLongA(d.Item(IDOK), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
        CHECK_EQ(GetWindowLongA(d.Item(IDCANCEL), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > 0 || d.dlg.Result() == IDCANCEL; }, 5000));
        CHECK_EQ(hold.writes > 0, c.job);
        CHECK_EQ(d.dlg.Result() == IDCANCEL, !c.job);
        if (!c.job) CHECK(!FileExists(path));
    }
}

// ---- the arrows move the focus and the choice within the three bit-width
// buttons, round from the last to the first and back, the focus shown; Tab
// enters the group on the chosen one.

void TestBitWidthArrows()
{
    const struct {
        int from;
        WORD key;
        int to;
        int bits;
    } cases[] = {
        {IDC_BITS32, VK_DOWN, IDC_BITS16, 16}, {IDC_BITS32, VK_RIGHT, IDC_BITS16, 16},
        {IDC_BITS16, VK_UP, IDC_BITS32, 32},   {IDC_BITS16, VK_DOWN, IDC_BITS24, 24},
        {IDC_BITS24, VK_LEFT, IDC_BITS16, 16},
    };
    for (const auto& c : cases) {
        Dialog d;
        d.Click(c.from);
        d.Focus(c.from);
        PressKey(c.key);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() == d.Item(c.to); }, 2000));
        CHECK_EQ(IsDlgButtonChecked(d.hwnd, c.to), UINT(BST_CHECKED));
        CHECK_EQ(d.dlg.nBitWidth, c.bits);
        // What the arrow left on screen, its focus rectangle included, is
        // what a whole repaint draws.
        PumpPending(d.hwnd);
        const Grab left = GrabClient(d.hwnd, false);
        const Grab whole = GrabClient(d.hwnd);
        const RECT r = ChildRect(d.hwnd, d.Item(c.to));
        int differ = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                differ += left.At(x, y) != whole.At(x, y);
        CHECK_EQ(differ, 0);
        d.Focus(IDC_PATH);
        PressKey(VK_TAB);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() != d.Item(IDC_PATH); }, 2000));
        CHECK(GetFocus() == d.Item(c.to));
    }
}
