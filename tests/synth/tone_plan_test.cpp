#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "synth/tone.h"

namespace {

struct Plan {
    uint32_t rampLength, rampDownStart, totalSamples, tailFrames, sustainBlocks, blockCount,
        fullSustainBlocks;
};

Plan Observed(const ToneGenerator& g)
{
    const ToneGenerator::Plan& p = g.plan;
    return {p.rampLength,    ToneRampDownStart(p), ToneTotalSamples(p), p.tailFrames,
            p.sustainBlocks, p.blockCount,         p.fullSustainBlocks};
}

void ExpectPlan(const ToneGenerator& g, const Plan& want)
{
    ASSERT_TRUE(g.planned);
    const Plan got = Observed(g);
    EXPECT_EQ(got.rampLength, want.rampLength);
    EXPECT_EQ(got.rampDownStart, want.rampDownStart);
    EXPECT_EQ(got.totalSamples, want.totalSamples);
    EXPECT_EQ(got.tailFrames, want.tailFrames);
    EXPECT_EQ(got.sustainBlocks, want.sustainBlocks);
    EXPECT_EQ(got.blockCount, want.blockCount);
    EXPECT_EQ(got.fullSustainBlocks, want.fullSustainBlocks);
}

void ExpectReadyToRender(const ToneGenerator& g)
{
    EXPECT_EQ(g.run.position, 0u);
    EXPECT_EQ(g.run.phase, 0.0);
    EXPECT_EQ(g.run.dcSum, 0);
    EXPECT_EQ(g.run.dcFraction, 0.0);
    EXPECT_EQ(g.run.dcSteps, g.plan.dcSteps);
    EXPECT_TRUE(g.plan.dcSteps == 0 || !g.plan.fractionalDc);
}

}  // namespace

TEST(TonePlan, DefaultRequest)
{
    ToneGenerator g;
    TonePlan(g, 0, 32, 384000.0, 1000.0, 30.0);
    ExpectPlan(g, {3839, 11516160, 11519999, 256, 22492, 22500, 22484});
    EXPECT_EQ(g.plan.amplitude, 2147483645.0);
    EXPECT_EQ(g.plan.phaseStep, 0.016362461737447917);
    EXPECT_EQ(g.plan.dcSteps, 0);  // longer than 10 s: no dry run, no correction
    EXPECT_FALSE(g.plan.fractionalDc);
    ExpectReadyToRender(g);
}

TEST(TonePlan, OneSecondAt44100WithDryRun)
{
    ToneGenerator g;
    TonePlan(g, 0, 32, 44100.0, 1000.0, 1.0);
    // Either the sustain already ended after a rising zero crossing, or it
    // was lengthened by one sample.
    const uint32_t extra = Observed(g).rampDownStart - 43659;
    ASSERT_LE(extra, 1u);
    ExpectPlan(g, {440, 43659 + extra, 44099 + extra, 139 + extra, 85, 87, 84});
    const uint32_t m = uint32_t(std::abs(g.plan.dcSteps));
    if (!g.plan.fractionalDc) {
        EXPECT_LE(m, 87u);
    }
    ExpectReadyToRender(g);
}

TEST(TonePlan, WorkedEdgeCases)
{
    struct Case {
        double rate, freq, seconds;
        Plan want;
        bool allowLengthening;
    } cases[] = {
        // 2.5 cycles round up to 3; one-cycle ramps.
        {44100, 2.5, 1, {17639, 35280, 52919, 464, 68, 104, 33}, true},
        // A 1-sample sustain becomes 2.
        {1026, 2, 1, {512, 514, 1026, 2, 1, 3, 0}, true},
        // Not a whole number of samples: one sample added, no zero-crossing test.
        {44100, 1000.3, 1, {483, 43602, 44085, 82, 85, 87, 84}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq);
        ToneGenerator g;
        TonePlan(g, 0, 32, c.rate, c.freq, c.seconds);
        Plan want = c.want;
        if (c.allowLengthening && Observed(g).rampDownStart == want.rampDownStart + 1) {
            // The zero-crossing test moved the ramp-down one sample later.
            want.rampDownStart += 1;
            want.totalSamples += 1;
            want.tailFrames = want.rampDownStart % 512;
            want.sustainBlocks = want.rampDownStart / 512;
            want.blockCount = (want.totalSamples + 511) / 512;
        }
        ExpectPlan(g, want);
        ExpectReadyToRender(g);
    }
}

TEST(TonePlan, RefusesWhatCannotBeATone)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double rate, freq, seconds;
    } cases[] = {
        {44100, 1, 1},     // one cycle
        {44100, 1.49, 1},  // rounds to one cycle
        {500, 2, 1},       // one block
        {0, 1000, 1},       {-44100, 1000, 1},  {nan, 1000, 1},       {inf, 1000, 1},   {44100, 0, 1},
        {44100, -1000, 1},  {44100, nan, 1},    {44100, inf, 1},      {44100, 1000, 0}, {44100, 1000, -1},
        {44100, 1000, nan}, {44100, 1000, inf}, {768000, 1000, 5600},  // 2^32 samples or more
        {1000, 2000, 10},                                              // fewer than one sample per cycle
    };
    for (const Case& c : cases) {
        ToneGenerator g;
        TonePlan(g, 0, 32, c.rate, c.freq, c.seconds);
        EXPECT_FALSE(g.planned) << c.rate << " " << c.freq << " " << c.seconds;
    }
    // Just below the count limit still plans.
    ToneGenerator g;
    TonePlan(g, 0, 32, 384000, 1000, 11000);
    EXPECT_TRUE(g.planned);
    EXPECT_EQ(g.plan.blockCount, 8250000u);
}

TEST(TonePlan, DryRunOnlyUpToTenSeconds)
{
    // 1000.3 Hz never lands on whole samples, so a dry run always finds a sum.
    ToneGenerator ten, eleven;
    TonePlan(ten, 0, 24, 44100, 1000.3, 10.0);
    TonePlan(eleven, 0, 24, 44100, 1000.3, 11.0);
    EXPECT_TRUE(ten.plan.dcSteps != 0 || ten.plan.fractionalDc);
    EXPECT_TRUE(eleven.plan.dcSteps == 0 && !eleven.plan.fractionalDc);
}

TEST(TonePlan, DoesNothingOnAPlannedGenerator)
{
    ToneGenerator g;
    TonePlan(g, 0, 32, 44100, 1000, 1);
    const Plan before = Observed(g);
    TonePlan(g, 20, 16, 48000, 440, 3);
    const Plan after = Observed(g);
    EXPECT_EQ(before.totalSamples, after.totalSamples);
    EXPECT_EQ(before.rampLength, after.rampLength);
    EXPECT_EQ(g.plan.amplitude, 2147483645.0);
}

TEST(ToneChooseCorrection, UnitsUpToThePointsAvailableThenAFraction)
{
    ToneGenerator plan;
    TonePlan(plan, 0, 32, 44100, 1000.3, 11);  // no dry run: no correction yet
    const uint32_t points = plan.plan.fullSustainBlocks + 3;
    const double total = plan.plan.sustainBlocks * 512.0 + plan.plan.tailFrames + plan.plan.rampLength;
    struct Case {
        int64_t sum;
        int32_t steps;
        bool fractional;
    } cases[] = {
        {0, 0, false},
        {1, -1, false},
        {-int64_t(points), int32_t(points), false},
        {int64_t(points) + 1, 0, true},
        {-int64_t(points) - 1, 0, true},
        // A sum past 32 bits is cancelled as it is, never wrapped.
        {int64_t(3) << 31, 0, true},
        {-(int64_t(5) << 31), 0, true},
    };
    for (const Case& c : cases) {
        ToneGenerator::Plan p = plan.plan;
        ToneChooseCorrection(p, c.sum);
        EXPECT_EQ(p.dcSteps, c.steps) << c.sum;
        EXPECT_EQ(bool(p.fractionalDc), c.fractional) << c.sum;
        if (c.fractional) {
            EXPECT_DOUBLE_EQ(p.dcPerSample * total, -double(c.sum));
        }
    }
}
