#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "synth/tone.h"
#include "synth/tone_math.h"

namespace {

// A generator with a small hand-made plan, ready for the kernels: a ramp-up
// of rampLength samples followed at once by the ramp-down.
struct TestTone {
    ToneGenerator g;
    std::vector<double> gains;  // the fade's gains the kernels must use
    explicit TestTone(uint32_t rampLength, double amplitude = 2147483645.0, double phaseStep = 0.3)
    {
        g.plan.rampLength = rampLength;
        g.plan.sustainBlocks = rampLength / BLOCK_FRAMES;
        g.plan.tailFrames = rampLength % BLOCK_FRAMES;
        g.plan.amplitude = amplitude;
        g.plan.phaseStep = phaseStep;
        for (uint32_t k = 0; k < rampLength; ++k)
            gains.push_back(ToneRampGain(rampLength, k, amplitude));
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

TEST(ToneRampGain, IsTheFallingHalfOfABlackmanWindow)
{
    EXPECT_NEAR(ToneRampGain(1, 0, 1000.0), 1000.0, 1e-6);
    EXPECT_NEAR(ToneRampGain(2, 0, 1000.0), 1000.0, 1e-6);
    EXPECT_NEAR(ToneRampGain(2, 1, 1000.0), 340.0, 1e-6);
    EXPECT_NEAR(ToneRampGain(3839, 3837, 1.0), 2.41e-7, 0.01e-7);
    EXPECT_NEAR(ToneRampGain(3839, 3838, 1.0), 6.03e-8, 0.01e-8);
    for (uint32_t k = 1; k < 3839; ++k)
        ASSERT_LT(ToneRampGain(3839, k, 1.0), ToneRampGain(3839, k - 1, 1.0)) << k;
    EXPECT_GT(ToneRampGain(3839, 3838, 1.0), 0.0);
}

TEST(ToneKernels, RampsMirrorEachOther)
{
    TestTone t(700);
    std::vector<int32_t> up(700), down(700);
    ToneRampUp(t.g, up.data(), 300);
    ToneRampUp(t.g, up.data() + 300, 400);
    ToneRampDown(t.g, down.data(), 700);
    EXPECT_EQ(t.g.run.position, 1400u);
    // The ramp-up takes the gains from the last to the first, the ramp-down
    // from the first to the last.
    for (size_t i = 0; i < 700; ++i) {
        ASSERT_LE(std::abs(double(up[i])), t.gains[699 - i]) << i;
        ASSERT_LE(std::abs(double(down[i])), t.gains[i]) << i;
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
    EXPECT_EQ(t.g.run.dcSum, 0);
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
        EXPECT_EQ(counting.g.run.phase, writing.g.run.phase);
        EXPECT_EQ(counting.g.run.dcSum, writing.g.run.dcSum);
        int64_t sum = 0;
        for (int32_t v : out)
            sum += v;
        EXPECT_EQ(sum, writing.g.run.dcSum);
    }
}

TEST(ToneKernels, CorrectedKernelsSpreadTheFraction)
{
    TestTone plain(600), zero(600), quarter(600);
    std::vector<int32_t> a(600), b(600), c(600);
    ToneRampUp(plain.g, a.data(), 600);
    ToneRampUpCorrected(zero.g, b.data(), 600);
    EXPECT_EQ(a, b);
    EXPECT_EQ(zero.g.run.dcFraction, 0.0);
    EXPECT_EQ(zero.g.run.dcSum, 0);  // corrected kernels leave the sum alone

    quarter.g.plan.dcPerSample = -0.25;
    ToneRampUpCorrected(quarter.g, c.data(), 600);
    for (size_t i = 0; i < 600; ++i)
        EXPECT_EQ(c[i], a[i] - ((i + 1) % 4 == 0 ? 1 : 0)) << i;
}

TEST(ToneKernels, CorrectedSamplesSaturateInsteadOfWrapping)
{
    // A negative peak pushed further down must not wrap to a positive spike.
    TestTone t(4, 2147483645.0, 3 * 3.14159265358979 / 2);
    t.g.plan.dcPerSample = -210.5;
    int32_t v;
    ToneSustainCorrected(t.g, &v, 1);
    EXPECT_EQ(v, INT32_MIN);
    TestTone u(4, 2147483645.0, 3.14159265358979 / 2);
    u.g.plan.dcPerSample = 300.0;
    ToneSustainCorrected(u.g, &v, 1);
    EXPECT_EQ(v, INT32_MAX);
}

TEST(ToneResetRun, StartsTheToneAgain)
{
    ToneGenerator g;
    TonePlan(g, 0, 32, 8000, 112.9, 1);  // fractional correction
    ASSERT_TRUE(g.planned && g.plan.fractionalDc);
    std::vector<int32_t> first(3000), again(3000);
    ToneMake(g, first.data(), 3000);
    ToneResetRun(g);
    ToneMake(g, again.data(), 3000);
    EXPECT_EQ(first, again);
}
