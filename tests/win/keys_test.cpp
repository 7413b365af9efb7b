// The keyboard: around a job, Enter on the buttons, the arrows in the
// bit-width group.

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
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_DURATION, "1");
        d.SetText(IDC_PATH, WorkPath("keys1.wav"));
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
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_DURATION, "1");
        d.SetText(IDC_PATH, WorkPath("keys1.wav"));
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
