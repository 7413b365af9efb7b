#include "job/pack.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t FRAMES = 512;
using Block = std::array<int32_t, FRAMES>;
using Out = std::array<uint8_t, 4096>;

int32_t Le(const uint8_t* p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    const int shift = 32 - 8 * bytes;  // sign-extend the top byte
    return int32_t(v << shift) >> shift;
}

struct Width {
    int32_t bits;
    uint32_t blockBytes;
};
const Width WIDTHS[] = {{16, 2048}, {24, 3072}, {32, 4096}};

TEST(PackBlock, SilencePacksToZeroBytesAtEveryWidth)
{
    for (const Width& w : WIDTHS) {
        SCOPED_TRACE(w.bits);
        Block left{}, right{};
        DitherRandom random;
        if (w.bits == 16) DitherBlock(left.data(), right.data(), random);
        Out out;
        out.fill(0xCD);
        ASSERT_EQ(PackBlock(w.bits, left.data(), right.data(), out.data()), w.blockBytes);
        for (uint32_t i = 0; i < w.blockBytes; ++i)
            ASSERT_EQ(out[i], 0) << "byte " << i;
        for (uint32_t i = w.blockBytes; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xCD) << "byte " << i;
    }
}

// Reading the frames back little-endian gives the samples: left, then right
// (the left again at 24 bits), at every width; -1 is all bytes FF.
TEST(PackBlock, FramesAreInterleavedLittleEndian)
{
    for (const Width& w : WIDTHS) {
        SCOPED_TRACE(w.bits);
        const int bytes = w.bits / 8;
        const int32_t top = w.bits == 32 ? INT32_MAX : (1 << (w.bits - 1)) - 1;
        Block left, right;
        for (uint32_t i = 0; i < FRAMES; ++i) {
            left[i] = int32_t(int64_t(top) * int32_t(i % 37) / 36 - (i % 2 ? top / 3 : 0));
            right[i] = -left[i] - 1;
        }
        left[0] = right[0] = -1;
        left[1] = top;
        left[2] = -top - 1;
        Out out;
        ASSERT_EQ(PackBlock(w.bits, left.data(), right.data(), out.data()), w.blockBytes);
        for (uint32_t i = 0; i < FRAMES; ++i) {
            const uint8_t* frame = out.data() + i * 2 * bytes;
            ASSERT_EQ(Le(frame, bytes), left[i]) << "frame " << i;
            ASSERT_EQ(Le(frame + bytes, bytes), right[i]) << "frame " << i;
        }
        // Frame 0 is -1 in both channels: every byte FF.
        for (int i = 0; i < 2 * bytes; ++i)
            EXPECT_EQ(out[i], 0xFF);
    }
}

// A DC-corrected 0 dB tone can step just outside the 24-bit range; it must
// saturate, not wrap to the other sign.
TEST(PackBlock, TwentyFourBitSamplesSaturate)
{
    struct Case {
        int32_t in;
        int32_t out;
    };
    const Case cases[] = {{8388607, 8388607},   {8388608, 8388607},   {8388700, 8388607},
                          {INT32_MAX, 8388607}, {-8388608, -8388608}, {-8388609, -8388608},
                          {INT32_MIN, -8388608}};
    Block left{};
    for (size_t i = 0; i < std::size(cases); ++i)
        left[i] = cases[i].in;
    Out out;
    PackBlock(24, left.data(), nullptr, out.data());
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Le(out.data() + 6 * i, 3), cases[i].out) << cases[i].in;
        EXPECT_EQ(Le(out.data() + 6 * i + 3, 3), cases[i].out) << cases[i].in;
    }
}

TEST(DitherRandom, IsTheClassicGeneratorStartedFromOne)
{
    // The first draws of the classic linear congruential rand() from seed 1.
    const int32_t first[] = {16838, 5758, 10113, 17515, 31051, 5627, 23010, 7419, 16212, 4086};
    DitherRandom random;
    for (int32_t expected : first)
        EXPECT_EQ(random.Next(), expected);
    for (int i = 0; i < 100000; ++i) {
        const int32_t r = random.Next();
        ASSERT_TRUE(r >= 0 && r <= 32767) << r;
    }
}

TEST(DitherSkip, LeavesTheSourceWhereTheDrawsWould)
{
    for (const uint64_t draws : {0ull, 1ull, 2ull, 2048ull, 123457ull, 2048ull * 22500}) {
        DitherRandom drawn, skipped;
        for (uint64_t i = 0; i < draws; ++i)
            drawn.Next();
        DitherSkip(skipped, draws);
        EXPECT_EQ(skipped.state, drawn.state) << draws;
    }
}

TEST(DitherSample, ControlledDraws)
{
    struct Case {
        int32_t x, r1, r2, y;
    };
    const Case cases[] = {
        // Exact multiples of 65536 never reach the next step.
        {0, 32767, 32767, 0},
        {65536, 32767, 32767, 1},
        {-65536, 32767, 32767, -1},
        {100 * 65536, 0, 0, 100},
        {-32767 * 65536, 32767, 32767, -32767},
        {32767 * 65536, 32767, 32767, 32767},
        {INT32_MIN, 32767, 32767, -32768},
        // 65535 rounds up unless both draws are 0.
        {65535, 0, 0, 0},
        {65535, 0, 1, 1},
        {65535, 1, 0, 1},
        {-65535, 0, 0, 0},
        {-65535, 32767, 0, -1},
        // 32768 becomes 1 exactly when r1 + r2 >= 32768.
        {32768, 16383, 16384, 0},
        {32768, 16384, 16384, 1},
        {-32768, 32767, 0, 0},
        {-32768, 32767, 1, -1},
        // The 0 dB 16-bit amplitude stays at 32766.
        {2147352574, 32767, 32767, 32766},
        {-2147352574, 32767, 32767, -32766},
        // Beyond it the sum needs more than 31 bits and the result saturates.
        {INT32_MAX, 32767, 32767, 32767},
        {INT32_MAX - 1000, 32767, 32767, 32767},
        {INT32_MIN + 1, 32767, 32767, -32768},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DitherSample(c.x, c.r1, c.r2), c.y) << c.x << " with " << c.r1 << ", " << c.r2;
}

// Draws go primary[i] (two), secondary[i] (two), primary[i + 1] ...: both blocks
// come out as the sample rule with the draws taken in that order, and the
// block uses exactly 2048 draws.
TEST(DitherBlock, DrawOrder)
{
    Block left, right;
    for (uint32_t i = 0; i < FRAMES; ++i) {
        left[i] = int32_t(i * 40000u) - 10000000;
        right[i] = 32768 + int32_t(i * 128u);
    }
    DitherRandom random, draws;
    Block outLeft = left, outRight = right;
    DitherBlock(outLeft.data(), outRight.data(), random);
    for (uint32_t i = 0; i < FRAMES; ++i) {
        const int32_t a = draws.Next(), b = draws.Next(), c = draws.Next(), d = draws.Next();
        ASSERT_EQ(outLeft[i], DitherSample(left[i], a, b)) << "frame " << i;
        ASSERT_EQ(outRight[i], DitherSample(right[i], c, d)) << "frame " << i;
    }
    EXPECT_EQ(random.state, draws.state);
}

// Every dithered value is sign(x) * (|x| >> 16) or one step further from zero,
// both occur for a value between steps, and two channels of one tone differ by
// at most one step.
TEST(DitherBlock, EveryValueIsOneOfTheTwoTheRuleAllows)
{
    const int32_t values[] = {0,         1,          -1,          32767,   32768,
                              -32768,    65535,      -65535,      65537,   12345678,
                              -12345678, 2147352574, -2147352574, 1 << 30, -(1 << 30) - 5};
    DitherRandom random;
    for (int32_t x : values) {
        SCOPED_TRACE(x);
        Block left, right;
        left.fill(x);
        right.fill(x);
        DitherBlock(left.data(), right.data(), random);
        const int64_t magnitude = x >= 0 ? int64_t{x} : -int64_t{x};
        const int32_t low = int32_t(magnitude >> 16) * (x >= 0 ? 1 : -1);
        const int32_t high = low + (x >= 0 ? 1 : -1);
        uint32_t highs = 0;
        for (uint32_t i = 0; i < FRAMES; ++i) {
            for (int32_t y : {left[i], right[i]}) {
                ASSERT_TRUE(y == low || y == high) << y;
                highs += y == high;
            }
            ASSERT_LE(std::abs(left[i] - right[i]), 1);
        }
        const int64_t step = magnitude % 65536;
        if (step == 0) {
            EXPECT_EQ(highs, 0u);
        }
        if (step >= 32768) {
            EXPECT_GT(highs, 0u);
        }
        if (step >= 4096 && step <= 61440) {
            EXPECT_LT(highs, 2 * FRAMES);
        }
    }
}

TEST(PackBlock, SixteenBitsTakeTheDitheredValues)
{
    Block left, right;
    left.fill(INT32_MIN);
    right.fill(2147352574);
    DitherRandom random;
    DitherBlock(left.data(), right.data(), random);
    Out out;
    ASSERT_EQ(PackBlock(16, left.data(), right.data(), out.data()), 2048u);
    for (uint32_t i = 0; i < FRAMES; ++i) {
        ASSERT_EQ(Le(out.data() + 4 * i, 2), -32768);
        const int32_t r = Le(out.data() + 4 * i + 2, 2);
        ASSERT_TRUE(r == 32765 || r == 32766) << r;
    }
}

}  // namespace
