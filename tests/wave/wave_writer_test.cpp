#include "wave/wave_writer.h"
#include "wave/wave_format.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t Le16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
std::string Tag(const Bytes& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

Bytes ReadFile(const fs::path& path, size_t limit = SIZE_MAX)
{
    std::ifstream in(path, std::ios::binary);
    Bytes bytes;
    char c;
    while (bytes.size() < limit && in.get(c))
        bytes.push_back(uint8_t(c));
    return bytes;
}

// One width at one rate, with the figures the file format gives for it.
struct Format {
    int32_t bits;
    int32_t rate;
    uint16_t blockAlign;
    uint32_t avgBytesPerSec;
    int32_t blockBytes;  // one block of 512 frames
};
void PrintTo(const Format& f, std::ostream* os) { *os << f.bits << " bits at " << f.rate << " Hz"; }
const Format FORMATS[] = {
    {16, 44100, 4, 176400, 2048},
    {24, 48000, 6, 288000, 3072},
    {32, 384000, 8, 3072000, 4096},
};

// Checks every header byte; the sizes and fact value are passed as expected.
void ExpectHeader(const Bytes& b, const Format& f, uint32_t riffSize, uint32_t factValue, uint32_t dataSize)
{
    ASSERT_GE(b.size(), 140u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(Le32(b, 4), riffSize);
    EXPECT_EQ(Tag(b, 8), "WAVE");
    EXPECT_EQ(Tag(b, 12), "fmt ");
    EXPECT_EQ(Le32(b, 16), 100u);
    EXPECT_EQ(Le16(b, 20), 1u);  // PCM
    EXPECT_EQ(Le16(b, 22), 2u);
    EXPECT_EQ(Le32(b, 24), uint32_t(f.rate));
    EXPECT_EQ(Le32(b, 28), f.avgBytesPerSec);
    EXPECT_EQ(Le16(b, 32), f.blockAlign);
    EXPECT_EQ(Le16(b, 34), uint16_t(f.bits));
    EXPECT_EQ(Le16(b, 36), 82u);
    for (size_t i = 38; i < 101; ++i)
        EXPECT_TRUE(b[i] >= 0x20 && b[i] < 0x7F) << "notice byte " << i;
    const std::string notice(b.begin() + 38, b.begin() + 101);
    EXPECT_NE(notice.find("Calyx"), std::string::npos) << notice;
    for (size_t i = 101; i < 120; ++i)
        EXPECT_EQ(b[i], 0) << "byte " << i;
    EXPECT_EQ(Tag(b, 120), "fact");
    EXPECT_EQ(Le32(b, 124), 4u);
    EXPECT_EQ(Le32(b, 128), factValue);
    EXPECT_EQ(Tag(b, 132), "data");
    EXPECT_EQ(Le32(b, 136), dataSize);
}

// A finished file holding exactly these data bytes, in whole blocks.
void ExpectFileOf(const fs::path& path, const Format& f, const Bytes& data)
{
    const Bytes b = ReadFile(path);
    const uint32_t dataSize = uint32_t(data.size());
    ASSERT_EQ(b.size(), 140 + dataSize);
    // fact: frames times the two channels, that is data bytes / bytes per sample.
    ExpectHeader(b, f, 132 + dataSize, dataSize / uint32_t(f.bits / 8), dataSize);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), b.begin() + 140));
}

// A block whose bytes differ from block to block, so misplaced data shows.
Bytes Block(int32_t size, uint32_t index)
{
    Bytes block(static_cast<size_t>(size));
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7 + index * 31 + 1);
    return block;
}

// Writes blocks one at a time, as a job could. Returns the number of blocks
// accepted before the first failure.
uint32_t WriteBlocks(WaveWriter& w, const Format& f, uint32_t count, Bytes* written = nullptr,
                     int* firstError = nullptr)
{
    for (uint32_t k = 0; k < count; ++k) {
        const Bytes block = Block(f.blockBytes, k);
        int32_t n = -1;
        const int error = WaveWriteBlock(w, block.data(), f.blockBytes, &n);
        if (error != 0 || n != f.blockBytes) {
            if (firstError) *firstError = error;
            EXPECT_EQ(n, 0) << "a failed write reports nothing written";
            return k;
        }
        if (written) written->insert(written->end(), block.begin(), block.end());
    }
    return count;
}

class WaveWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/') c = '-';
        dir = fs::temp_directory_path() / ("calyx-" + name + "-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = dir / "tone.wav";
    }
    void TearDown() override
    {
        WaveFinish(w);
        fs::remove_all(dir);
    }
    fs::path dir;
    fs::path path;
    WaveWriter w;
};

// Runs body in a child process and returns its exit status (or -1 if it died).
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class WaveFormats : public WaveWriterTest, public ::testing::WithParamInterface<Format> {};
INSTANTIATE_TEST_SUITE_P(Widths, WaveFormats, ::testing::ValuesIn(FORMATS),
                         [](const auto& info) { return std::to_string(info.param.bits) + "bit"; });

TEST_P(WaveFormats, FinishedFileHasExactHeaderAndTheBlocksInOrder)
{
    const Format f = GetParam();
    ASSERT_EQ(WaveCreate(w, f.bits, path.c_str(), f.rate, 0), 0);
    Bytes data;
    ASSERT_EQ(WriteBlocks(w, f, 3, &data), 3u);
    EXPECT_EQ(WaveFinish(w), 0);
    EXPECT_EQ(w.dataBytes, 3 * uint32_t(f.blockBytes));
    ExpectFileOf(path, f, data);
}

TEST_P(WaveFormats, FinishRightAfterCreateLeavesAnEmptyValidFile)
{
    const Format f = GetParam();
    ASSERT_EQ(WaveCreate(w, f.bits, path.c_str(), f.rate, 0), 0);
    EXPECT_EQ(WaveFinish(w), 0);
    const Bytes b = ReadFile(path);
    EXPECT_EQ(b.size(), 140u);
    ExpectHeader(b, f, 132, 0, 0);
}

// A writer that never finishes (its process killed, say) leaves a file that
// opens: from the first write on, the header counts whole blocks on disk,
// never more, and never a batch or more fewer.
TEST_P(WaveFormats, FileOfAKilledJobCountsItsBlocks)
{
    const Format f = GetParam();
    const uint32_t batch = (WAVE_SIZES_BATCH + uint32_t(f.blockBytes) - 1) / uint32_t(f.blockBytes);
    for (const uint32_t blocks : {1u, 2u, batch + 5}) {
        // The child dies without finishing and without flushing anything.
        const int status = InChild([&] {
            if (WaveCreate(w, f.bits, path.c_str(), f.rate, 0) != 0) return 1;
            return WriteBlocks(w, f, blocks) == blocks ? 0 : 2;
        });
        ASSERT_EQ(status, 0);
        const Bytes b = ReadFile(path, 140);
        const uint32_t data = blocks * uint32_t(f.blockBytes);
        EXPECT_EQ(fs::file_size(path), 140u + data);
        // Which write last brought the sizes up to date depends on the clock.
        const uint32_t counted = Le32(b, 136);
        EXPECT_TRUE(counted >= uint32_t(f.blockBytes) && counted <= data &&
                    data - counted < WAVE_SIZES_BATCH && counted % uint32_t(f.blockBytes) == 0)
            << counted << " of " << data;
        ExpectHeader(b, f, 132 + counted, counted / uint32_t(f.bits / 8), counted);
    }
}

TEST_P(WaveFormats, CreationReplacesALongerExistingFile)
{
    const Format f = GetParam();
    {
        std::ofstream old(path, std::ios::binary);
        const std::string junk(100000, '\xAB');
        old << junk;
    }
    ASSERT_EQ(WaveCreate(w, f.bits, path.c_str(), f.rate, 0), 0);
    ASSERT_EQ(WriteBlocks(w, f, 1), 1u);
    EXPECT_EQ(WaveFinish(w), 0);
    const Bytes b = ReadFile(path);
    ASSERT_EQ(b.size(), 140u + uint32_t(f.blockBytes));
    ExpectHeader(b, f, 132 + uint32_t(f.blockBytes), 512 * 2, uint32_t(f.blockBytes));
}

// However the old file is replaced, what stands at the path afterwards is the
// new file, reached the same way: a plain file keeps its permissions, a
// symbolic link still leads to its target, and every name of a hard-linked
// file shows the new content.
TEST_F(WaveWriterTest, ReplacingKeepsPermissionsAndLinks)
{
    const Format f = FORMATS[2];
    const auto makeOld = [](const fs::path& p) {
        std::ofstream old(p, std::ios::binary);
        old << std::string(50000, '\xAB');
    };
    const auto writeTone = [&](const fs::path& p) {
        ASSERT_EQ(WaveCreate(w, f.bits, p.c_str(), f.rate, 0), 0);
        ASSERT_EQ(WriteBlocks(w, f, 1), 1u);
        EXPECT_EQ(WaveFinish(w), 0);
    };
    const size_t size = 140 + size_t(f.blockBytes);

    makeOld(path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeTone(path);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadFile(path).size(), size);

    const fs::path target = dir / "target.wav", link = dir / "link.wav";
    makeOld(target);
    fs::create_symlink(target, link);
    writeTone(link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target).size(), size);

    const fs::path other = dir / "other-name.wav";
    fs::remove(path);
    makeOld(path);
    fs::create_hard_link(path, other);
    writeTone(path);
    EXPECT_EQ(ReadFile(other), ReadFile(path));
    EXPECT_EQ(ReadFile(other).size(), size);
}

// A write that fails part-way: nothing, one byte, half a block, or all but one byte.
struct Tear {
    const char* name;
    int32_t bytesWritten(int32_t size) const { return size * numerator / 4 + extra; }
    int32_t numerator;
    int32_t extra;
};
const Tear TEARS[] = {{"Nothing", 0, 0}, {"OneByte", 0, 1}, {"Half", 2, 0}, {"AllButOne", 4, -1}};

// The writer's block write, failing part-way from its nth call on.
auto TornWrite(int failAt, Tear tear)
{
    return [calls = 0, failAt, tear](const void* bytes, size_t size, std::FILE* file) mutable {
        if (++calls < failAt) return std::fwrite(bytes, 1, size, file);
        const size_t part = size_t(tear.bytesWritten(int32_t(size)));
        const size_t done = std::fwrite(bytes, 1, part, file);
        errno = ENOSPC;
        return done;
    };
}

TEST_P(WaveFormats, ForcedWriteFailureLeavesWholeBlocksOnly)
{
    const Format f = GetParam();
    for (const Tear& tear : TEARS) {
        SCOPED_TRACE(tear.name);
        WaveWriter torn;
        torn.io.write = TornWrite(4, tear);
        ASSERT_EQ(WaveCreate(torn, f.bits, path.c_str(), f.rate, 0), 0);
        Bytes data;
        int error = 0;
        EXPECT_EQ(WriteBlocks(torn, f, 6, &data, &error), 3u);
        EXPECT_NE(error, 0);

        // Nothing more goes in after a failure, or the data would have a hole.
        const Bytes more = Block(f.blockBytes, 9);
        int32_t n = -1;
        EXPECT_NE(WaveWriteBlock(torn, more.data(), f.blockBytes, &n), 0);
        EXPECT_EQ(n, 0);

        EXPECT_EQ(WaveFinish(torn), 0);
        EXPECT_EQ(torn.dataBytes, 3 * uint32_t(f.blockBytes));
        ExpectFileOf(path, f, data);
    }
}

// A real file-size limit inside the fourth block, the blocks written one at
// a time or as one run of five: the blocks that reached the disk whole are
// kept and counted, the torn one is cut off.
TEST_P(WaveFormats, WriteFailureAtTheFileSizeLimitKeepsTheWholeBlocks)
{
    const Format f = GetParam();
    const rlim_t limit = 140 + 3 * rlim_t(f.blockBytes) + rlim_t(f.blockBytes) / 2;
    Bytes run;
    for (uint32_t k = 0; k < 5; ++k) {
        const Bytes block = Block(f.blockBytes, k);
        run.insert(run.end(), block.begin(), block.end());
    }
    for (const bool asOneRun : {false, true}) {
        SCOPED_TRACE(asOneRun ? "one run" : "block by block");
        const int status = InChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 100;
            if (WaveCreate(w, f.bits, path.c_str(), f.rate, 0) != 0) return 101;
            int error = 0;
            int32_t written = 0;
            if (asOneRun)
                error = WaveWriteBlock(w, run.data(), int32_t(run.size()), &written);
            else
                written = int32_t(WriteBlocks(w, f, 8, nullptr, &error)) * f.blockBytes;
            if (error == 0) return 102;
            if (WaveFinish(w) != 0 || w.dataBytes != uint32_t(written)) return 103;
            return written / f.blockBytes;
        });
        ASSERT_EQ(status, 3);
        ExpectFileOf(path, f, Bytes(run.begin(), run.begin() + 3 * f.blockBytes));
    }
}

TEST_F(WaveWriterTest, DefaultRequestFigures)
{
    // 384000 Hz, 30 s, 32 bits: 22500 blocks of 4096 bytes.
    ASSERT_EQ(WaveCreate(w, 32, path.c_str(), 384000, 0), 0);
    const Bytes zeros(4096, 0);
    for (uint32_t k = 0; k < 22500; ++k) {
        int32_t n = 0;
        ASSERT_EQ(WaveWriteBlock(w, zeros.data(), 4096, &n), 0);
        ASSERT_EQ(n, 4096);
    }
    EXPECT_EQ(WaveFinish(w), 0);
    EXPECT_EQ(w.dataBytes, 92160000u);
    EXPECT_EQ(fs::file_size(path), 92160140u);
    const Bytes b = ReadFile(path, 140);
    ExpectHeader(b, FORMATS[2], 92160132, 23040000, 92160000);
}

TEST_F(WaveWriterTest, FinishTwiceClosesOnce)
{
    ASSERT_EQ(WaveCreate(w, 16, path.c_str(), 44100, 0), 0);
    ASSERT_EQ(WriteBlocks(w, FORMATS[0], 2), 2u);
    EXPECT_EQ(WaveFinish(w), 0);
    // Whatever happens to the file now is no business of the writer's.
    fs::remove(path);
    std::ofstream(path, std::ios::binary) << "someone else's";
    EXPECT_EQ(WaveFinish(w), 0);
    EXPECT_EQ(fs::file_size(path), 14u);
    // And a new file can be created after it.
    ASSERT_EQ(WaveCreate(w, 16, path.c_str(), 44100, 0), 0);
    EXPECT_EQ(WaveFinish(w), 0);
    EXPECT_EQ(fs::file_size(path), 140u);
}

// A file that is no longer the writer's by the finish (here removed) is a
// failure, not a finished file.
TEST_F(WaveWriterTest, FinishReportsAFileLostMeanwhile)
{
    ASSERT_EQ(WaveCreate(w, 24, path.c_str(), 48000, 0), 0);
    ASSERT_EQ(WriteBlocks(w, FORMATS[1], 2), 2u);
    fs::remove(path);
    EXPECT_NE(WaveFinish(w), 0);
}

TEST_F(WaveWriterTest, RefusesWhatItCannotWrite)
{
    EXPECT_NE(WaveCreate(w, 20, path.c_str(), 44100, 0), 0);
    EXPECT_NE(WaveCreate(w, 16, path.c_str(), 0, 0), 0);
    EXPECT_NE(WaveCreate(w, 16, nullptr, 44100, 0), 0);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_NE(WaveCreate(w, 16, (dir / "no-such-dir" / "x.wav").c_str(), 44100, 0), 0);

    const Bytes block(2048, 1);
    int32_t n = -1;
    EXPECT_NE(WaveWriteBlock(w, block.data(), 2048, &n), 0) << "no file is open";
    EXPECT_EQ(n, 0);
    EXPECT_EQ(WaveFinish(w), 0);

    ASSERT_EQ(WaveCreate(w, 16, path.c_str(), 44100, 0), 0);
    EXPECT_NE(WaveCreate(w, 16, (dir / "second.wav").c_str(), 44100, 0), 0) << "one file per writer";
    n = -1;
    EXPECT_NE(WaveWriteBlock(w, block.data(), 0, &n), 0);
    EXPECT_EQ(n, 0);
}

// Writers are independent: files written at once, blocks interleaved, each
// finished with its own sizes.
TEST_F(WaveWriterTest, TwoFilesAtOnce)
{
    WaveWriter other;
    const fs::path second = dir / "second.wav";
    ASSERT_EQ(WaveCreate(w, 16, path.c_str(), 44100, 0), 0);
    ASSERT_EQ(WaveCreate(other, 32, second.c_str(), 384000, 0), 0);
    Bytes a, b;
    for (uint32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(WriteBlocks(w, FORMATS[0], 1, &a), 1u);
        ASSERT_EQ(WriteBlocks(other, FORMATS[2], 2, &b), 2u);
    }
    EXPECT_EQ(WaveFinish(other), 0);
    EXPECT_EQ(WaveFinish(w), 0);
    ExpectHeader(ReadFile(path, 140), FORMATS[0], 132 + 3 * 2048, 3 * 1024, 3 * 2048);
    ExpectHeader(ReadFile(second, 140), FORMATS[2], 132 + 6 * 4096, 6 * 1024, 6 * 4096);
    EXPECT_EQ(ReadFile(second).size(), 140 + b.size());
}

// The data size counts whole blocks and its RIFF size must fit 32 bits: the
// writer stops accepting blocks before either would wrap.
TEST_F(WaveWriterTest, StopsBeforeTheSizesWrap)
{
    w.io.write = [](const void*, size_t size, std::FILE*) { return size; };
    ASSERT_EQ(WaveCreate(w, 32, path.c_str(), 384000, 0), 0);
    const Bytes block(4096, 0);
    const uint32_t fits = (0xFFFFFFFFu - 132) / 4096;
    uint32_t accepted = 0;
    int32_t n = 0;
    int error = 0;
    while (accepted <= fits && (error = WaveWriteBlock(w, block.data(), 4096, &n)) == 0)
        ++accepted;
    EXPECT_EQ(accepted, fits);
    EXPECT_NE(error, 0);
    EXPECT_EQ(n, 0);
    // The seam wrote nothing, so the read-back finds a file short of its sizes.
    EXPECT_NE(WaveFinish(w), 0);
    EXPECT_EQ(w.dataBytes, fits * 4096);
    const Bytes b = ReadFile(path, 140);
    ExpectHeader(b, FORMATS[2], fits * 4096 + 132, fits * 1024, fits * 4096);
}

}  // namespace
