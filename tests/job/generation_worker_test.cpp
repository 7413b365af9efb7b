#include "job/block_runs.h"
#include "job/create_check.h"
#include "job/generation_worker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct Message {
    std::string text, caption;
};

// Records every call the job makes to its starter.
class RecordingHost final : public JobHost {
public:
    std::vector<uint32_t> ranges;
    std::vector<uint32_t> positions;
    std::vector<Message> messages;
    int ended = 0;
    std::function<void(uint32_t)> onPos;  // runs after a position is recorded

    void SetProgressRange(uint32_t upper) override { ranges.push_back(upper); }
    void SetProgressPos(uint32_t pos) override
    {
        positions.push_back(pos);
        if (onPos) onPos(pos);
    }
    void ShowMessage(const char* text, const char* caption) override { messages.push_back({text, caption}); }
    void JobEnded() override { ++ended; }
};

std::vector<uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A finished file: sizes agree with its length and the fact value with the
// whole blocks it holds.
void ExpectFinished(const std::vector<uint8_t>& file, int32_t bits, uint32_t blocks)
{
    const uint32_t data = blocks * 512 * 2 * uint32_t(bits / 8);
    ASSERT_EQ(file.size(), 140u + data);
    EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(file, 4), 132u + data);
    EXPECT_EQ(std::memcmp(file.data() + 132, "data", 4), 0);
    EXPECT_EQ(Le32(file, 136), data);
    EXPECT_EQ(Le32(file, 128), data / uint32_t(bits / 8));
}

// One channel of a 24- or 32-bit file.
std::vector<int32_t> Channel(const std::vector<uint8_t>& file, int32_t bits, size_t channel)
{
    const size_t bytes = size_t(bits / 8);
    std::vector<int32_t> out;
    for (size_t at = 140 + channel * bytes; at + bytes <= file.size(); at += 2 * bytes) {
        uint32_t u = 0;
        for (size_t i = 0; i < bytes; ++i)
            u |= uint32_t(file[at + i]) << (8 * i);
        out.push_back(bits == 24 ? int32_t(u << 8) >> 8 : int32_t(u));
    }
    return out;
}

class JobGenerateTest : public ::testing::Test {
protected:
    fs::path dir;
    Stop stop;
    RecordingHost host;

    void SetUp() override
    {
        dir = fs::path(::testing::TempDir()) /
              ("calyx-worker-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ToneRequest Request(int32_t rate, double freq, int32_t seconds, int32_t bits, const char* name = "t.wav")
    {
        ToneRequest r;
        r.sampleRate = rate;
        r.frequency = freq;
        r.seconds = seconds;
        r.bitWidth = bits;
        r.path = (dir / name).string();
        return r;
    }

    // The ending every job has unless stopped: "Create file" back.
    void ExpectEndedNormally() { EXPECT_EQ(host.ended, 1); }
};

// Range 0 ... blocks + 1, position 0 first, every block k, then blocks + 1;
// the file holds exactly the request's blocks. Swept over the bit widths.
TEST_F(JobGenerateTest, ProgressAndFileFollowTheBlocks)
{
    for (int32_t bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        host = {};
        // 1 s at 44100 Hz: 86 whole blocks and a part, so 87.
        const ToneRequest r = Request(44100, 1000.0, 1, bits);
        ASSERT_EQ(JobGenerate(r, stop, host).end, JobEnd::Done);
        ExpectEndedNormally();
        EXPECT_TRUE(host.messages.empty());
        ASSERT_EQ(host.ranges, std::vector<uint32_t>{88});
        std::vector<uint32_t> expected{0};
        for (uint32_t k = 0; k < 87; ++k)
            expected.push_back(k);
        expected.push_back(88);
        EXPECT_EQ(host.positions, expected);
        ExpectFinished(ReadFile(r.path), bits, 87);
    }
}

// 2.5 cycles round up to 3: at 5120 Hz the tone fills 12 blocks, two more
// than the 10 the request asks for. All of it is written: the two extra
// blocks carry the fade-out, which ends close to zero instead of in a click.
TEST_F(JobGenerateTest, PlanLongerThanRequestIsWrittenWhole)
{
    for (int32_t bits : {24, 32}) {
        SCOPED_TRACE(bits);
        host = {};
        const ToneRequest r = Request(5120, 2.5, 1, bits);
        ASSERT_EQ(JobGenerate(r, stop, host).end, JobEnd::Done);
        ExpectEndedNormally();
        ASSERT_FALSE(host.ranges.empty());
        EXPECT_EQ(host.ranges.back(), 13u);
        EXPECT_EQ(host.positions.back(), 13u);
        const auto file = ReadFile(r.path);
        ExpectFinished(file, bits, 12);
        const std::vector<int32_t> left = Channel(file, bits, 0);
        const double peak = bits == 24 ? 8388605.0 : 2147483645.0;
        int32_t extra = 0;
        for (size_t i = 10 * 512; i < left.size(); ++i)
            extra = std::max(extra, std::abs(left[i]));
        EXPECT_GT(extra, peak / 100);
        EXPECT_LT(std::abs(left.back()), peak / 1000);
    }
}

// Planning refuses fewer than two cycles and a tone of one block: no file,
// the message, and the ending of a failed creation.
TEST_F(JobGenerateTest, RefusedPlanMakesNoFile)
{
    struct Case {
        int32_t rate;
        double freq;
    };
    for (const Case c : {Case{44100, 1.0}, Case{500, 2.0}}) {
        SCOPED_TRACE(c.rate);
        host = {};
        const ToneRequest r = Request(c.rate, c.freq, 1, 32);
        ASSERT_EQ(JobGenerate(r, stop, host).end, JobEnd::PlanRefused);
        ExpectEndedNormally();
        EXPECT_FALSE(fs::exists(r.path));
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text,
                  "The tone is too short: it needs at least two whole cycles and more than one "
                  "block of 512 samples.");
        EXPECT_EQ(host.messages[0].caption, "Create wav file...");
        EXPECT_EQ(host.positions, std::vector<uint32_t>{0});
    }
}

TEST_F(JobGenerateTest, FailedCreationIsReportedAndProgressStaysAtZero)
{
    const ToneRequest r = Request(44100, 1000.0, 1, 32, "missing/t.wav");
    ASSERT_EQ(JobGenerate(r, stop, host).end, JobEnd::CreateFailed);
    ExpectEndedNormally();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Sorry, can't do this. Something's wrong");
    EXPECT_EQ(host.messages[0].caption, "Create wav file...");
    EXPECT_EQ(host.positions, std::vector<uint32_t>{0});
}

// A stop once block 3 is written leaves a finished file with the runs
// under way, and the starter's state alone: no end call, no final position.
// One maker has the first run under way; two at most four (they take up to
// twice their number ahead of the runs reported), and the file is the whole
// job's file as far as it goes.
TEST_F(JobGenerateTest, StopFinishesTheFileWithTheRunsUnderWay)
{
    for (int32_t bits : {16, 24, 32}) {
        host = {};
        const ToneRequest whole = Request(44100, 1000.0, 20, bits, "whole.wav");  // 1723 blocks
        ASSERT_EQ(JobGenerate(whole, stop, host).end, JobEnd::Done);
        const auto all = ReadFile(whole.path);
        for (const unsigned makers : {1u, 2u}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, " << makers << " makers");
            host = {};
            Stop quit;
            host.onPos = [&](uint32_t pos) {
                if (host.positions.size() > 1 && pos == 3) quit.Request();
            };
            const ToneRequest r = Request(44100, 1000.0, 20, bits);
            ASSERT_EQ(JobGenerate(r, quit, host, {}, makers).end, JobEnd::Stopped);
            EXPECT_EQ(host.ended, 0);
            EXPECT_TRUE(host.messages.empty());
            EXPECT_EQ(host.positions.back(), 3u);
            const auto file = ReadFile(r.path);
            const uint32_t blocks = uint32_t(file.size() - 140) / (1024 * uint32_t(bits / 8));
            if (makers == 1) {
                EXPECT_EQ(blocks, BlockRuns::RUN_BLOCKS);
            }
            EXPECT_TRUE(blocks >= BlockRuns::RUN_BLOCKS && blocks <= 2 * makers * BlockRuns::RUN_BLOCKS)
                << blocks;
            ExpectFinished(file, bits, blocks);
            EXPECT_TRUE(std::equal(file.begin() + 140, file.end(), all.begin() + 140));
        }
    }
}

// RLIMIT_FSIZE makes the write of block 5 fail: the file keeps five blocks,
// is finished, and the failure is reported rather than passed over.
TEST_F(JobGenerateTest, WriteFailureIsReportedAndLeavesAFinishedFile)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (int32_t bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        host = {};
        const rlim_t blockBytes = 512 * 2 * rlim_t(bits / 8);
        rlimit limit = saved;
        limit.rlim_cur = 140 + 5 * blockBytes;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const ToneRequest r = Request(44100, 1000.0, 1, bits);
        const JobEnd end = JobGenerate(r, stop, host).end;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        ASSERT_EQ(end, JobEnd::WriteFailed);
        ExpectEndedNormally();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text,
                  "Writing the file failed. It holds only the part written before the failure.");
        EXPECT_EQ(host.messages[0].caption, "Create wav file...");
        EXPECT_EQ(host.positions.back(), 88u);  // full, ready for the next job
        ExpectFinished(ReadFile(r.path), bits, 5);
    }
    std::signal(SIGXFSZ, SIG_DFL);
}

// A write that falls short (here the first run of blocks, half written and
// the last block of that half torn) ends the job like a failed one:
// reported, and finished with the whole blocks that reached the file.
TEST_F(JobGenerateTest, ShortWriteIsReportedAndLeavesWholeBlocks)
{
    const auto halfFirstRun = [calls = 0](const void* bytes, std::size_t size, std::FILE* file) mutable {
        return std::fwrite(bytes, 1, ++calls == 1 ? size / 2 - 100 : size, file);
    };
    const ToneRequest r = Request(384000, 1000.0, 1, 32);  // 750 blocks: more than a run
    WaveIo io;
    io.write = halfFirstRun;
    ASSERT_EQ(JobGenerate(r, stop, host, io).end, JobEnd::WriteFailed);
    ExpectEndedNormally();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "Writing the file failed. It holds only the part written before the failure.");
    EXPECT_EQ(host.positions.back(), 751u);
    ExpectFinished(ReadFile(r.path), 32, BlockRuns::RUN_BLOCKS / 2 - 1);
}

// A file that is not there as finished after the job is a failure too.
TEST_F(JobGenerateTest, FileLostBeforeFinishIsReported)
{
    const ToneRequest r = Request(44100, 1000.0, 1, 32);
    host.onPos = [&](uint32_t pos) {
        if (pos == 2) fs::remove(r.path);
    };
    ASSERT_EQ(JobGenerate(r, stop, host).end, JobEnd::WriteFailed);
    ExpectEndedNormally();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, "Create wav file...");
}

// Each job starts its dither afresh; and a change to the starter's request
// during a job does not reach that job.
TEST_F(JobGenerateTest, JobsOfOneRequestGiveIdenticalFiles)
{
    ToneRequest shared = Request(44100, 997.0, 1, 16, "a.wav");
    ASSERT_EQ(JobGenerate(shared, stop, host).end, JobEnd::Done);
    const auto first = ReadFile(shared.path);

    shared = Request(44100, 997.0, 1, 16, "b.wav");
    host = {};
    host.onPos = [&](uint32_t) { shared.bitWidth = 32; };
    ASSERT_EQ(JobGenerate(shared, stop, host).end, JobEnd::Done);
    const auto second = ReadFile(shared.path);
    ExpectFinished(first, 16, 87);
    EXPECT_EQ(first, second);
}

TEST(JobStartFailed, ReportsAndLeavesTheStarterReady)
{
    RecordingHost host;
    JobStartFailed(host);
    EXPECT_EQ(host.ended, 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Sorry, can't do this. Something's wrong");
    EXPECT_EQ(host.messages[0].caption, "Create wav file...");
}

class RequestBeginCreateTest : public JobGenerateTest {};

// The path test never changes what is already there, and never leaves a
// file where there was none.
TEST_F(RequestBeginCreateTest, PathTestLeavesFilesAsTheyWere)
{
    const fs::path existing = dir / "keep.wav";
    {
        std::ofstream(existing, std::ios::binary) << "precious";
    }
    const auto before = fs::last_write_time(existing);

    ToneRequest r;
    r.attenuation = 500;  // fails after the path test
    std::atomic<bool> flag{false};
    CreateCheck check = RequestBeginCreate(r, existing.string(), flag);
    EXPECT_STREQ(check.refusal.message, "At bit width of 32 maximum attenuation is 186 dB");
    EXPECT_FALSE(flag.load());
    EXPECT_EQ(ReadFile(existing), (std::vector<uint8_t>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_EQ(fs::last_write_time(existing), before);

    r = ToneRequest{};
    const fs::path fresh = dir / "fresh.wav";
    check = RequestBeginCreate(r, fresh.string(), flag);
    EXPECT_FALSE(check.refusal);
    EXPECT_TRUE(flag.load());  // stays set for the job
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(r.path, fresh.string());
}

// Paths that cannot be written, and paths too long for the dialog's field,
// get the path message before any number is looked at; longer paths are
// the system's to judge elsewhere.
TEST_F(RequestBeginCreateTest, PathProblemsComeFirst)
{
    std::string deep = (dir / "d").string();
    fs::create_directories(deep);
    std::string tooLong = deep + "/" + std::string(250, 'x');  // a real, writable name
    ASSERT_GT(tooLong.size(), 255u);
    std::string justFits = deep + "/" + std::string(255 - deep.size() - 1, 'y');
    ASSERT_EQ(justFits.size(), 255u);
    PathRules dialog;
    dialog.maxChars = PATH_FIELD_CHARS;

    const std::string paths[] = {(dir / "no/such/dir/t.wav").string(), dir.string(), tooLong, ""};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        ToneRequest r;
        r.sampleRate = 0;  // would fail the numbers
        std::atomic<bool> flag{false};
        const CreateCheck check = RequestBeginCreate(r, path, flag, dialog);
        EXPECT_FALSE(check.alreadyBusy);
        EXPECT_STREQ(check.refusal.message,
                     "Something wrong with the path or filename, or maybe you don't have "
                     "permission to put it there.");
        EXPECT_STREQ(check.refusal.caption, "Can't create that file...");
        EXPECT_FALSE(flag.load());
    }
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_FALSE(fs::exists(tooLong.substr(0, 255)));

    ToneRequest r;
    std::atomic<bool> flag{false};
    EXPECT_FALSE(RequestBeginCreate(r, justFits, flag, dialog).refusal);
    flag = false;
    EXPECT_FALSE(RequestBeginCreate(r, tooLong, flag).refusal);
    EXPECT_FALSE(fs::exists(tooLong));
}

// A link to nowhere: the test makes (and removes again) the file it leads to,
// and leaves the link.
TEST_F(RequestBeginCreateTest, DanglingLinkKeepsItsLink)
{
    const fs::path link = dir / "link.wav", target = dir / "target.wav";
    fs::create_symlink("target.wav", link);
    ToneRequest r;
    std::atomic<bool> flag{false};
    EXPECT_FALSE(RequestBeginCreate(r, link.string(), flag).refusal);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(RequestBeginCreateTest, ReadOnlyFileFailsThePathTest)
{
    if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    const fs::path locked = dir / "locked.wav";
    {
        std::ofstream(locked) << "x";
    }
    fs::permissions(locked, fs::perms::owner_read);
    ToneRequest r;
    std::atomic<bool> flag{false};
    EXPECT_STREQ(RequestBeginCreate(r, locked.string(), flag).refusal.caption, "Can't create that file...");
}

TEST_F(RequestBeginCreateTest, BusyRequestDoesNothing)
{
    ToneRequest r;
    std::atomic<bool> flag{true};
    const CreateCheck check = RequestBeginCreate(r, "/no/such/dir/t.wav", flag);
    EXPECT_TRUE(check.alreadyBusy);
    EXPECT_FALSE(check.refusal);
    EXPECT_TRUE(flag.load());
}

}  // namespace
