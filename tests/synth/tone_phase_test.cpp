#include "synth/tone_phase.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

namespace {

// Every sample's phase from the table, against the sample-by-sample sum.
void ExpectTheSum(double step, uint32_t total)
{
    TonePhaseTable table;
    TonePhaseBuild(table, step, total);
    ASSERT_GT(table.used, 0u) << step;
    double phase = 0.0;
    const TonePhaseSegment* s = nullptr;
    for (uint32_t n = 0; n < total; ++n) {
        phase += step;
        if (!s || n - s->start >= s->count) s = TonePhaseFind(table, n);
        ASSERT_NE(s, nullptr) << n;
        ASSERT_EQ(TonePhaseAt(*s, n), phase) << "step " << step << ", sample " << n;
    }
}

}  // namespace

// The steps of real tones, from 1 Hz at 768 kHz to half the rate, over long
// tones (the default one whole), and random steps.
TEST(TonePhase, EqualsTheRunningSum)
{
    const struct {
        double rate, freq;
        uint32_t total;
    } tones[] = {
        {384000, 1000, 11520000}, {44100, 997, 2000000},   {768000, 1, 4000000},
        {2147483647, 1, 3000000}, {48000, 24000, 1000000}, {44100, 20.3, 1000000},
    };
    for (const auto& t : tones)
        ExpectTheSum(6.28318530718 / (t.rate / t.freq), t.total);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> exponent(-28, 1.6);
    for (int i = 0; i < 40; ++i)
        ExpectTheSum(std::pow(2.0, exponent(rng)), 300000);
}

// Far along, where each stretch covers billions of samples; and at the ends
// of the range, the table has room.
TEST(TonePhase, CoversLongTones)
{
    TonePhaseTable table;
    TonePhaseBuild(table, 6.28318530718 / (2147483647.0 / 1.0), 4294967295u);
    ASSERT_GT(table.used, 0u);
    const TonePhaseSegment& last = table.segments[table.used - 1];
    EXPECT_EQ(uint64_t(last.start) + last.count, 4294967295u);
    EXPECT_NE(TonePhaseFind(table, 4294967294u), nullptr);
}

// A step that is an odd number of half units where the phase goes rounds
// each sum there by the phase's last bit (it can happen in one stretch at
// most): near the start it costs a few single samples; over thousands of
// samples the table would not fit, and none is used.
TEST(TonePhase, TiesAreSummed)
{
    ExpectTheSum(1.0 + std::ldexp(1.0, -52), 1000);  // a tie between 2 and 4
    TonePhaseTable table;
    TonePhaseBuild(table, 1.0 + std::ldexp(1.0, -40), 20000);  // a tie from 8192 to 16384
    EXPECT_EQ(table.used, 0u);
}
