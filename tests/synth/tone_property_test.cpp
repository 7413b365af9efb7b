#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "synth/tone.h"

namespace {

struct Outcome {
    bool planned = false;
    bool saturated = false;
    int64_t sum = 0;
};

// Plans and renders one whole tone; notes whether a corrected sample had to
// stop at the end of the 32-bit range.
Outcome RenderWhole(ToneGenerator& g, double rate, double freq, double seconds, int32_t bits, uint32_t atten)
{
    Outcome o;
    TonePlan(g, atten, bits, rate, freq, seconds);
    if (!g.planned) return o;
    o.planned = true;
    int32_t block[BLOCK_FRAMES];
    for (uint32_t b = 0; b < g.plan.blockCount; ++b) {
        ToneRenderBlock(g, block, nullptr);
        for (int32_t v : block) {
            o.sum += v;
            o.saturated |=
                v == std::numeric_limits<int32_t>::max() || v == std::numeric_limits<int32_t>::min();
        }
    }
    EXPECT_FALSE(g.planned) << "the tone ends in its last block";
    return o;
}

}  // namespace

TEST(ToneProperty, EveryShortToneSumsToZero)
{
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int32_t widths[] = {16, 24, 32};
    uint32_t tried = 0, refused = 0, none = 0, units = 0, fractional = 0, saturated = 0;
    uint64_t samples = 0;
    while (tried < 400) {
        const double rate = std::floor(300.0 * std::pow(768000.0 / 300.0, unit(rng)));
        double seconds = 1 + std::floor(unit(rng) * 10);  // 1 ... 10
        if (rate * seconds > 4e6) seconds = std::max(1.0, std::floor(4e6 / rate));
        const double nyquist = std::floor(rate / 2);
        double freq = std::pow(nyquist, unit(rng));
        if (tried % 2 == 0) freq = std::floor(freq);  // integer and fractional frequencies alike
        if (freq < 1 || std::floor(freq + 0.5) > nyquist) continue;
        const int32_t bits = widths[tried % 3];
        const uint32_t atten = tried % 5 == 0 ? uint32_t(unit(rng) * 80) : 0;
        ++tried;

        ToneGenerator g;
        TonePlan(g, atten, bits, rate, freq, seconds);
        if (!g.planned) {
            ++refused;
            continue;
        }
        const bool frac = g.plan.fractionalDc, unit_mode = g.plan.dcSteps != 0;
        const double perSample = g.plan.dcPerSample;
        g = ToneGenerator{};
        const Outcome o = RenderWhole(g, rate, freq, seconds, bits, atten);
        samples += uint64_t(g.plan.blockCount) * BLOCK_FRAMES;
        if (o.saturated && o.sum != 0) {
            // Only a large fraction on a full-level tone reaches past the range.
            EXPECT_TRUE(frac && atten == 0 && std::fabs(perSample) > 1) << rate << " Hz, " << freq << " Hz";
            ++saturated;
            continue;
        }
        EXPECT_EQ(o.sum, 0) << rate << " Hz, " << freq << " Hz, " << seconds << " s, " << bits << " bits, "
                            << atten << " dB";
        frac ? ++fractional : unit_mode ? ++units : ++none;
    }
    std::printf(
        "tried %u: refused %u, no correction %u, unit %u, fractional %u, saturated %u; %llu samples\n", tried,
        refused, none, units, fractional, saturated, (unsigned long long)samples);
    EXPECT_GT(units, 20u);
    EXPECT_GT(fractional, 20u);
}

TEST(ToneProperty, FullLevelCorrectionSaturatesInsteadOfWrapping)
{
    // About -210 per sample: the negative peaks would wrap to +2^31.
    ToneGenerator g;
    TonePlan(g, 0, 32, 8000, 112.9, 1);
    ASSERT_TRUE(g.plan.fractionalDc);
    EXPECT_LT(g.plan.dcPerSample, -100);
    int32_t block[BLOCK_FRAMES];
    int32_t peak = 0;
    for (uint32_t b = 0; b < g.plan.blockCount; ++b) {
        ToneRenderBlock(g, block, nullptr);
        for (int32_t v : block)
            peak = std::max(peak, v);
    }
    EXPECT_LE(peak, 2147483645);  // no sample near the positive end but the tone's own
}
