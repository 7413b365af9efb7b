#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "synth/tone.h"
#include "synth/tone_math.h"

namespace {

// A generator with a small hand-made plan, ready for the kernels.
struct TestTone {
    ToneGenerator g;
    std::vector<double> table;  // the gains the kernels must use
    explicit TestTone(uint32_t rampLength, double amplitude = 2147483645.0, double phaseStep = 0.3)
        : table(rampLength)
    {
        g.rampLength = rampLength;
        g.amplitude = amplitude;
        g.phaseStep = phaseStep;
        ToneBuildRampTable(table.data(), rampLength, amplitude);
        g.rampCursor = rampLength;
        ToneResetRun(g);
    }
};

}  // namespace

TEST(ToneAmplitude, FullLevelPeaksSitJustBelowFullScale)
{
    EXPECT_EQ(ToneAmplitude(32, 0), 2147483645.0);
    EXPECT_EQ(ToneAmplitude(24, 0), 8388605.0);
    EXPECT_EQ(ToneAmplitude(16, 0), 32766.0 * 65536 - 2);
    EXPECT_EQ(ToneAmplitude(8, 0), 2147483645.0);  // any other width counts as 32
}

TEST(ToneAmplitude, AttenuatedPeaksFollowTheDecibelScale)
{
    EXPECT_NEAR(ToneAmplitude(32, 1), 1913946815.0156, 1e-3);
    EXPECT_NEAR(ToneAmplitude(24, 6), 4204262.7363, 1e-3);
    EXPECT_NEAR(ToneAmplitude(16, 90), 67909.395, 1e-3);
    for (uint32_t a = 1; a <= 186; ++a) {
        EXPECT_EQ(ToneAmplitude(16, a), ToneAmplitude(32, a)) << a;
        // (2^31 - 1) x 10^(-a/20), to the precision the constants carry
        EXPECT_NEAR(ToneAmplitude(32, a) / (2147483647.0 * std::pow(10.0, -double(a) / 20)), 1.0, 1e-12);
        if (a <= 138) {
            EXPECT_NEAR(ToneAmplitude(24, a) / (8388607.0 * std::pow(10.0, -double(a) / 20)), 1.0, 1e-12);
        }
    }
}

TEST(ToneBuildRampTable, IsTheFallingHalfOfABlackmanWindow)
{
    double sentinel = -1.0;
    ToneBuildRampTable(&sentinel, 0, 1000.0);
    EXPECT_EQ(sentinel, -1.0);

    double one[1];
    ToneBuildRampTable(one, 1, 1000.0);
    EXPECT_NEAR(one[0], 1000.0, 1e-6);

    double two[2];
    ToneBuildRampTable(two, 2, 1000.0);
    EXPECT_NEAR(two[0], 1000.0, 1e-6);
    EXPECT_NEAR(two[1], 340.0, 1e-6);

    std::vector<double> t(3839);
    ToneBuildRampTable(t.data(), 3839, 1.0);
    EXPECT_NEAR(t[3837], 2.41e-7, 0.01e-7);
    EXPECT_NEAR(t[3838], 6.03e-8, 0.01e-8);
    for (size_t k = 1; k < t.size(); ++k)
        ASSERT_LT(t[k], t[k - 1]) << k;
    EXPECT_GT(t.back(), 0.0);
}

TEST(ToneKernels, RampsMirrorEachOtherAndReturnTheCursor)
{
    TestTone t(700);
    const uint32_t end = t.g.rampCursor;
    std::vector<int32_t> up(700), down(700);
    ToneRampUp(t.g, up.data(), 300);
    ToneRampUp(t.g, up.data() + 300, 400);
    EXPECT_EQ(t.g.rampCursor, 0u);
    ToneRampDown(t.g, down.data(), 700);
    EXPECT_EQ(t.g.rampCursor, end);
    EXPECT_EQ(t.g.rampUpDone, 700u);
    EXPECT_EQ(t.g.rampDownDone, 700u);
    // The ramp-up reads the table backwards, the ramp-down forwards.
    for (size_t i = 0; i < 700; ++i) {
        ASSERT_LE(std::abs(double(up[i])), t.table[699 - i]) << i;
        ASSERT_LE(std::abs(double(down[i])), t.table[i]) << i;
    }
}

TEST(ToneKernels, FirstSampleIsTakenOnePhaseStepIn)
{
    TestTone t(4, 1000.0, 0.5);
    int32_t v;
    ToneSustain(t.g, &v, 1);
    EXPECT_EQ(v, int32_t(ToneSin(0.5) * 1000.0));
    EXPECT_NE(v, 0);
}

TEST(ToneKernels, TruncateTowardZero)
{
    // Steps that put the sine just below and above zero: -0.7 becomes 0.
    TestTone t(4, 1.0, 3.14159 + 0.7);  // sin(pi + 0.7) ~ -0.64
    int32_t v = 99;
    ToneSustain(t.g, &v, 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(t.g.dcSum, 0);
    TestTone u(4, 3.0, 1.2);  // 3 sin(1.2) = 2.796...
    ToneSustain(u.g, &v, 1);
    EXPECT_EQ(v, 2);
    TestTone w(4, -3.0, 1.2);
    ToneSustain(w.g, &v, 1);
    EXPECT_EQ(v, -2);
}

TEST(ToneKernels, CountingAndWritingMakeTheSameValues)
{
    using Kernel = void (*)(ToneGenerator&, int32_t*, uint32_t);
    for (Kernel k : {Kernel(ToneSustain), Kernel(ToneRampUp)}) {
        TestTone counting(2000, 2147483645.0, 0.0163), writing(2000, 2147483645.0, 0.0163);
        std::vector<int32_t> out(2000);
        k(counting.g, nullptr, 2000);
        k(writing.g, out.data(), 2000);
        EXPECT_EQ(counting.g.phase, writing.g.phase);
        EXPECT_EQ(counting.g.rampCursor, writing.g.rampCursor);
        EXPECT_EQ(counting.g.dcSum, writing.g.dcSum);
        int64_t sum = 0;
        for (int32_t v : out) sum += v;
        EXPECT_EQ(sum, writing.g.dcSum);
    }
}

TEST(ToneKernels, CorrectedKernelsSpreadTheFraction)
{
    TestTone plain(600), zero(600), quarter(600);
    std::vector<int32_t> a(600), b(600), c(600);
    ToneRampUp(plain.g, a.data(), 600);
    ToneRampUpCorrected(zero.g, b.data(), 600);
    EXPECT_EQ(a, b);
    EXPECT_EQ(zero.g.dcFraction, 0.0);
    EXPECT_EQ(zero.g.dcSum, 0);  // corrected kernels leave the sum alone

    quarter.g.dcPerSample = -0.25;
    ToneRampUpCorrected(quarter.g, c.data(), 600);
    for (size_t i = 0; i < 600; ++i)
        EXPECT_EQ(c[i], a[i] - ((i + 1) % 4 == 0 ? 1 : 0)) << i;
}

TEST(ToneKernels, CorrectedSamplesSaturateInsteadOfWrapping)
{
    // A negative peak pushed further down must not wrap to a positive spike.
    TestTone t(4, 2147483645.0, 3 * 3.14159265358979 / 2);
    t.g.dcPerSample = -210.5;
    int32_t v;
    ToneSustainCorrected(t.g, &v, 1);
    EXPECT_EQ(v, INT32_MIN);
    TestTone u(4, 2147483645.0, 3.14159265358979 / 2);
    u.g.dcPerSample = 300.0;
    ToneSustainCorrected(u.g, &v, 1);
    EXPECT_EQ(v, INT32_MAX);
}

TEST(ToneResetRun, ClearsTheRunningStateOnly)
{
    TestTone t(10);
    t.g.dcSteps = 5;
    t.g.fractionalDc = 1;
    ToneRampUp(t.g, nullptr, 10);
    t.g.inSustain = t.g.inRampDown = 1;
    t.g.blockIndex = 3;
    t.g.dcFraction = 0.5;
    const uint32_t cursor = t.g.rampCursor;
    ToneResetRun(t.g);
    EXPECT_EQ(t.g.phase, 0.0);
    EXPECT_EQ(t.g.dcSum, 0);
    EXPECT_EQ(t.g.dcFraction, 0.0);
    EXPECT_EQ(t.g.rampUpDone + t.g.rampDownDone + t.g.blockIndex, 0u);
    EXPECT_FALSE(t.g.inSustain || t.g.inRampDown);
    EXPECT_EQ(t.g.dcSteps, 5);
    EXPECT_TRUE(t.g.fractionalDc);
    EXPECT_EQ(t.g.rampCursor, cursor);
}
