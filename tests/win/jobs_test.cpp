// Jobs made through the dialog against the same requests made without it,
// the progress bar, and "Quit" and the other ways to close.

#include "dialog_fixture.h"
#include "job/generation_worker.h"

using namespace harness;

// ---- jobs

namespace {

// Records what a job tells its host, for the reference files.
struct RecordingHost final : JobHost {
    uint32_t upper = 0, pos = 0;
    int ended = 0;
    void SetProgressRange(uint32_t u) override { upper = u; }
    void SetProgressPos(uint32_t p) override { pos = p; }
    void ShowMessage(const char*, const char*) override {}
    void JobEnded() override { ++ended; }
};

struct JobCase {
    int bits;
    int radio;
    const char* rate;
    const char* frequency;
    const char* attenuation;
    const char* seconds;
};

const JobCase JOBS[] = {
    {16, IDC_BITS16, "8000", "440", "3", "1"},
    {24, IDC_BITS24, "11025", "1234.5", "20", "1"},
    {32, IDC_BITS32, "48000", "1000", "0", "1"},
};

}  // namespace

void TestJobs()
{
    Dialog d;
    for (const JobCase& job : JOBS) {
        const std::string path = WorkPath("dlg" + std::to_string(job.bits) + ".wav");
        DeleteFileA(path.c_str());
        d.SetText(IDC_SAMPLE_RATE, job.rate);
        d.SetText(IDC_FREQUENCY, job.frequency);
        d.SetText(IDC_ATTENUATION, job.attenuation);
        d.SetText(IDC_DURATION, job.seconds);
        d.SetText(IDC_PATH, path);
        d.Click(job.radio);
        CHECK_EQ(d.dlg.nBitWidth, job.bits);
        ModalWatcher boxes(d.hwnd);
        HANDLE previous = d.dlg.hThread;
        d.Click(IDOK);
        CHECK(!d.CreateEnabled());
        CHECK(d.dlg.bBusy);
        CHECK(d.dlg.hThread != nullptr);
        // The finished job's thread handle was let go (its value may have
        // been given to the new thread: it cannot be while still open).
        DWORD flags = 0;
        if (previous) CHECK(d.dlg.hThread == previous || !GetHandleInformation(previous, &flags));
        CHECK(d.WaitForJob(20000));
        CHECK(boxes.seen.empty());

        ToneRequest request;
        request.sampleRate = std::atoi(job.rate);
        request.frequency = std::atof(job.frequency);
        request.attenuation = uint32_t(std::atoi(job.attenuation));
        request.seconds = std::atoi(job.seconds);
        request.bitWidth = job.bits;
        const uint32_t blocks = RequestBlocks(request);
        CHECK_EQ(d.ProgressLow(), 0);
        CHECK_EQ(d.ProgressHigh(), blocks + 1);
        CHECK_EQ(d.ProgressPos(), blocks + 1);

        // The same request without the dialog: the file must be the same.
        const std::string direct = WorkPath("direct" + std::to_string(job.bits) + ".wav");
        request.path = direct;
        Stop stop;
        RecordingHost host;
        JobGenerate(request, stop, host);
        const std::string made = ReadFile(path);
        CHECK(made.size() > 140);
        CHECK(made == ReadFile(direct));
        CHECK_EQ(made.size(), size_t(140) + blocks * 512u * 2u * uint32_t(job.bits / 8));
        if (!refDir.empty()) {
            const std::string cli = ReadFile(refDir + "\\cli" + std::to_string(job.bits) + ".wav");
            CHECK(cli.size() > 140);
            CHECK(made == cli);
        }
    }
}

// ---- progress: a position reaches the bar only when it changes the
// filled length, so a long job sends at most one per pixel, not one per block.

void TestProgressMessages()
{
    Dialog d;
    const HWND bar = d.Item(IDC_PROGRESS);
    RECT area{};
    GetClientRect(bar, &area);
    MessageCounter positions(bar, PBM_SETPOS);
    d.SetText(IDC_DURATION, "4");  // 3000 blocks at 384000 Hz
    d.SetText(IDC_PATH, WorkPath("progress.wav"));
    d.Click(IDOK);
    CHECK(d.WaitForJob(20000));
    CHECK(positions.count >= 2);
    CHECK(positions.count <= unsigned(area.right - area.left) + 2);
    CHECK_EQ(d.ProgressPos(), 3001u);
    std::printf("progress: %u positions for 3000 blocks on a bar of %ld px\n", positions.count,
                long(area.right - area.left));
}

// ---- Quit

void TestQuitDuringJob()
{
    Dialog d;
    const std::string path = WorkPath("quit.wav");
    DeleteFileA(path.c_str());
    d.SetText(IDC_SAMPLE_RATE, "384000");
    d.SetText(IDC_DURATION, "60");
    d.SetText(IDC_PATH, path);
    d.Click(IDOK);
    CHECK(PumpUntil(
        d.hwnd, [&] { return d.ProgressPos() >= 20; }, 20000));
    HANDLE job = d.dlg.hThread;

    // While the job runs, "Create file" re-reads the fields and does nothing
    // else; a bit-width click changes the member, not the job.
    ModalWatcher boxes(d.hwnd);
    d.SetText(IDC_SAMPLE_RATE, "44100");
    SendMessageA(d.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(d.Item(IDOK)));
    CHECK_EQ(d.dlg.nSampleRate, 44100);
    CHECK(d.dlg.hThread == job);
    CHECK(d.dlg.bBusy);
    d.Click(IDC_BITS16);
    CHECK_EQ(d.dlg.nBitWidth, 16);

    // A "Create file" that arrives while Quit waits starts nothing.
    PostMessageA(d.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(d.Item(IDOK)));
    d.Click(IDCANCEL);
    CHECK_EQ(WaitForSingleObject(job, 0), WAIT_OBJECT_0);
    CHECK(d.dlg.hThread == job);
    CHECK_EQ(int(d.dlg.Result()), IDCANCEL);
    CHECK(!d.CreateEnabled());
    CHECK(!d.dlg.bBusy);
    CHECK(boxes.seen.empty());
    uint32_t blocks = 0;
    CHECK(ValidWholeBlocks(ReadFile(path), 32, blocks));
    CHECK(blocks >= 20);
    CHECK(blocks < 45000);
}

// Escape and the close box end the same way as "Quit", with no job running.
void TestCloseWays()
{
    {
        Dialog d;
        SendMessageA(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 3000));
    }
    {
        Dialog d;
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 3000));
    }
    {
        // "Quit" after a finished job closes at once.
        Dialog d;
        d.SetShortJob(WorkPath("after.wav"));
        d.Click(IDOK);
        CHECK(d.WaitForJob(10000));
        d.Click(IDCANCEL);
        CHECK_EQ(int(d.dlg.Result()), IDCANCEL);
    }
}
