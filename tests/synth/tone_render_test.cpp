#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "synth/tone.h"
#include "synth/tone_fraction.h"

namespace {

using Samples = std::vector<int32_t>;

// Renders blocks until the tone ends, plus `after` blocks of silence.
Samples RenderAll(ToneGenerator& g, uint32_t after = 0)
{
    Samples out;
    int32_t block[BLOCK_FRAMES], copy[BLOCK_FRAMES];
    const uint32_t blocks = g.plan.blockCount + after;
    for (uint32_t b = 0; b < blocks; ++b) {
        std::fill(copy, copy + BLOCK_FRAMES, 0x5A5A5A5A);
        ToneRenderBlock(g, block, copy);
        EXPECT_EQ(0, std::memcmp(block, copy, sizeof block)) << "block " << b;
        out.insert(out.end(), block, block + BLOCK_FRAMES);
    }
    return out;
}

// Where the unit corrections land: render the plan with and without a
// forced number of units and list the samples that moved, as (block, offset).
std::vector<std::pair<uint32_t, uint32_t>> CorrectionPoints(double rate, double freq, double seconds,
                                                            int32_t units)
{
    ToneGenerator plain, corrected;
    TonePlan(plain, 0, 32, rate, freq, seconds);
    TonePlan(corrected, 0, 32, rate, freq, seconds);
    plain.plan.fractionalDc = corrected.plan.fractionalDc = 0;
    plain.plan.dcSteps = 0;
    corrected.plan.dcSteps = units;
    ToneResetRun(plain);
    ToneResetRun(corrected);
    const Samples a = RenderAll(plain), b = RenderAll(corrected);
    EXPECT_EQ(corrected.run.dcSteps, 0) << "every unit is applied";
    std::vector<std::pair<uint32_t, uint32_t>> points;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            EXPECT_EQ(b[i] - a[i], units > 0 ? 1 : -1);
            points.emplace_back(uint32_t(i / 512), uint32_t(i % 512));
        }
    }
    return points;
}

int64_t Sum(const Samples& s)
{
    int64_t sum = 0;
    for (int32_t v : s)
        sum += v;
    return sum;
}

}  // namespace

TEST(ToneRenderBlock, CorrectionPointsOfTheDefaultTone)
{
    const auto points = CorrectionPoints(384000, 1000, 30, 22487);
    ASSERT_EQ(points.size(), 22487u);
    EXPECT_EQ(points.front(), std::make_pair(7u, 254u));  // last ramp-up sample
    for (uint32_t b = 8; b <= 22491; ++b)
        ASSERT_EQ(points[b - 7], std::make_pair(b, 511u));
    EXPECT_EQ(points[22485], std::make_pair(22492u, 256u));  // first ramp-down sample
    EXPECT_EQ(points.back(), std::make_pair(22499u, 510u));  // the tone's last sample
}

TEST(ToneRenderBlock, CorrectionPointsOfOneSecondAt44100)
{
    ToneGenerator g;
    TonePlan(g, 0, 32, 44100, 1000, 1);
    const uint32_t tail = g.plan.tailFrames;  // 139, or 140 when lengthened
    const auto points = CorrectionPoints(44100, 1000, 1, -87);
    ASSERT_EQ(points.size(), 87u);
    EXPECT_EQ(points.front(), std::make_pair(0u, 439u));
    for (uint32_t b = 1; b <= 84; ++b)
        ASSERT_EQ(points[b], std::make_pair(b, 511u));
    EXPECT_EQ(points[85], std::make_pair(85u, tail));
    EXPECT_EQ(points[86], std::make_pair(86u, (tail + 440 - 1) % 512));
}

TEST(ToneRenderBlock, GuardedStepsLeaveTheLastUnitForTheEnd)
{
    // Three units: two guarded steps, then the last sample takes the third.
    const auto points = CorrectionPoints(44100, 1000, 1, 3);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0], std::make_pair(0u, 439u));
    EXPECT_EQ(points[1], std::make_pair(1u, 511u));
    EXPECT_EQ(points[2].first, 86u);
}

TEST(ToneRenderBlock, LayoutsAtBlockBoundaries)
{
    // Search requests for the awkward layouts and check each tone renders
    // whole: right length, zeros after its end, all units applied.
    bool rampOfWholeBlocks = false, sharedBlock = false, tailAtZero = false, endsAtLast = false;
    for (uint32_t rate = 2000;
         rate < 60000 && !(rampOfWholeBlocks && sharedBlock && tailAtZero && endsAtLast); rate += 7) {
        for (double freq : {50.0, 400.0, 97.0}) {
            ToneGenerator g;
            TonePlan(g, 0, 32, rate, freq, 0.05);
            if (!g.planned) continue;
            const ToneGenerator::Plan& p = g.plan;
            const bool a = p.rampLength % 512 == 0;
            const bool b = p.sustainBlocks == p.rampLength / 512;
            const bool c = p.tailFrames == 0;
            const uint32_t total = ToneTotalSamples(p);
            const bool d = total % 512 == 0;
            if (!(a && !rampOfWholeBlocks) && !(b && !sharedBlock) && !(c && !tailAtZero) &&
                !(d && !endsAtLast))
                continue;
            rampOfWholeBlocks |= a;
            sharedBlock |= b;
            tailAtZero |= c;
            endsAtLast |= d;
            g.plan.fractionalDc = 0;
            g.plan.dcSteps = int32_t(g.plan.fullSustainBlocks + 3);
            ToneResetRun(g);
            const Samples s = RenderAll(g, 2);
            EXPECT_EQ(g.run.dcSteps, 0) << rate << " " << freq;
            EXPECT_FALSE(g.planned);
            EXPECT_TRUE(std::all_of(s.begin() + total, s.end(), [](int32_t v) { return v == 0; }));
            EXPECT_NE(s[total - 1], 0);
        }
    }
    EXPECT_TRUE(rampOfWholeBlocks && sharedBlock && tailAtZero && endsAtLast);
}

TEST(ToneRenderBlock, FinalFractionRoundsAtNineTenths)
{
    for (double left : {-0.93, 0.85, 0.95, -0.5}) {
        ToneGenerator g, ref;
        TonePlan(g, 0, 32, 44100, 1000, 1);
        TonePlan(ref, 0, 32, 44100, 1000, 1);
        g.plan.dcSteps = ref.plan.dcSteps = 0;
        g.plan.fractionalDc = 1;
        g.plan.dcPerSample = 0;
        ref.plan.fractionalDc = 0;
        ToneResetRun(g);
        ToneResetRun(ref);
        Samples a(512 * 87), b(512 * 87);
        for (uint32_t blk = 0; blk < 87; ++blk) {
            if (blk == 86) g.run.dcFraction = left;
            ToneRenderBlock(g, &a[blk * 512], nullptr);
            ToneRenderBlock(ref, &b[blk * 512], nullptr);
        }
        const uint32_t last = ToneTotalSamples(g.plan) - 1;
        const int32_t expected = left <= -0.9 ? -1 : left >= 0.9 ? 1 : 0;
        EXPECT_EQ(a[last] - b[last], expected) << left;
        a[last] = b[last];
        EXPECT_EQ(a, b);
    }
}

TEST(ToneRenderBlock, SilenceAfterTheEnd)
{
    ToneGenerator g;
    TonePlan(g, 0, 24, 44100, 1000, 1);
    RenderAll(g);
    const int32_t steps = g.run.dcSteps;
    const double fraction = g.run.dcFraction;
    int32_t p[BLOCK_FRAMES], s[BLOCK_FRAMES];
    std::fill(p, p + BLOCK_FRAMES, 7);
    std::fill(s, s + BLOCK_FRAMES, 7);
    ToneRenderBlock(g, p, s);
    EXPECT_TRUE(std::all_of(p, p + BLOCK_FRAMES, [](int32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(s, s + BLOCK_FRAMES, [](int32_t v) { return v == 0; }));
    EXPECT_EQ(g.run.position, ToneTotalSamples(g.plan));
    EXPECT_EQ(g.run.dcSteps, steps);
    EXPECT_EQ(g.run.dcFraction, fraction);
}

TEST(ToneRenderBlock, RendersWhatTheDryRunCounted)
{
    // With the correction switched off, the rendered tone sums to what a
    // count-only pass over the same plan sums.
    for (double freq : {1000.0, 1000.3, 31.7}) {
        ToneGenerator g;
        TonePlan(g, 0, 32, 48000, freq, 2);
        g.plan.dcSteps = 0;
        g.plan.fractionalDc = 0;
        ToneResetRun(g);
        ToneMake(g, nullptr, ToneTotalSamples(g.plan));
        const int64_t counted = g.run.dcSum;
        ToneResetRun(g);
        EXPECT_EQ(Sum(RenderAll(g)), counted) << freq;
    }
}

// Any block made after a seek to its start equals the block made in turn:
// the phase from the table, the unit corrections counted, across the
// layouts of the tone and with no, few and all the units it can take.
TEST(ToneSeek, EveryBlockAsMadeInTurn)
{
    const struct {
        double rate, freq, seconds;
    } tones[] = {{44100, 1000, 1}, {1026, 2, 1},       {5120, 2.5, 1},
                 {8000, 440, 1.5}, {48000, 1000.3, 1}, {384000, 1000, 30}};
    for (const auto& t : tones) {
        ToneGenerator planned;
        TonePlan(planned, 0, 32, t.rate, t.freq, t.seconds);
        ASSERT_TRUE(planned.planned);
        for (const int32_t units : {0, 3, -int32_t(planned.plan.fullSustainBlocks + 3)}) {
            SCOPED_TRACE(testing::Message() << t.rate << " Hz, " << t.freq << " Hz, " << units << " units");
            ToneGenerator g = planned;
            g.plan.fractionalDc = 0;
            g.plan.dcSteps = units;
            ToneResetRun(g);
            const Samples inTurn = RenderAll(g, 1);
            int32_t block[BLOCK_FRAMES];
            for (uint32_t b = 0; b < g.plan.blockCount + 1; ++b) {
                ToneGenerator seeking = g;
                ASSERT_TRUE(ToneSeek(seeking, b * BLOCK_FRAMES));
                ToneRenderBlock(seeking, block, nullptr);
                ASSERT_TRUE(std::equal(block, block + BLOCK_FRAMES, inTurn.begin() + b * BLOCK_FRAMES))
                    << "block " << b;
            }
        }
    }
    ToneGenerator fractional;
    TonePlan(fractional, 0, 32, 8000, 112.9, 1);
    ASSERT_TRUE(fractional.plan.fractionalDc);
    EXPECT_FALSE(ToneSeek(fractional, BLOCK_FRAMES)) << "a fraction is summed sample by sample";
}

// The fractional correction, taken in strides where the rounding repeats,
// ends where one addition at a time ends, in every bit and every sample:
// steps of either sign, too small to move the sum, a unit or more a sample,
// one reaching 1 exactly, one half-way between two doubles of a binade
// (from an odd one, which rounds to even once differently); starts of
// either sign; uneven chunks.
TEST(ToneAddFraction, IsTheOneByOneSum)
{
    std::vector<std::pair<double, double>> cases{{0x1p-10, 0.0}, {0x1.8p-60, 0x1.01p-8 + 0x1p-60}};
    for (const double step : {1.0 / 3 * 1e-3, -1e-5 / 7, 2.5e-7, -0x1.8p-30, 1e-17, 0.75, -1.25})
        for (const double start : {0.0, 0.3, -0.9999})
            cases.emplace_back(step, start);
    for (const auto& [step, start] : cases) {
        SCOPED_TRACE(testing::Message() << step << " from " << start);
        Samples serial(100000), strided;
        for (size_t i = 0; i < serial.size(); ++i)
            serial[i] = int32_t(i * 7919 % 2001) - 1000 + (i % 5000 == 0 ? INT32_MAX - 1000 : 0);
        strided = serial;
        double f = start;
        for (int32_t& v : serial) {
            f += step;
            if (std::floor(std::fabs(f)) >= 1.0) {
                double whole;
                f = std::modf(f, &whole);
                v = int32_t(std::clamp<int64_t>(int64_t(v) + int64_t(whole), INT32_MIN, INT32_MAX));
            }
        }
        double g = start;
        for (uint32_t at = 0, n = 0; at < strided.size(); at += n) {
            n = std::min<uint32_t>(at % 3 ? 512 : 333, uint32_t(strided.size()) - at);
            ToneAddFraction(g, step, strided.data() + at, n);
        }
        EXPECT_EQ(std::memcmp(&f, &g, sizeof f), 0) << f << " " << g;
        EXPECT_EQ(serial, strided);
    }
}
