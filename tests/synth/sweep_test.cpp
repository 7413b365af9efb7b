// The synchronised sweep against its formula in MPFR: samples, length, the
// zero crossing it ends on, its fades and what it refuses.

#include "synth/sweep.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "synth/tone.h"

namespace {

struct Case {
    double from, to, seconds, silence;
    uint32_t rate;
    double amplitude;
};

const Case CASES[] = {
    {20.0, 20000.0, 10.0, 1.0, 48000, PEAK_0DB_32},  {1.0, 20000.0, 30.0, 0.5, 384000, PEAK_0DB_32},
    {100.0, 10000.0, 2.0, 0.0, 44100, PEAK_0DB_24},  {31.5, 21000.0, 5.0, 1.0, 44100, PEAK_0DB_16},
    {10.0, 40000.0, 300.0, 1.0, 96000, PEAK_0DB_32}, {1000.0, 1001.0, 1.0, 0.1, 48000, PEAK_0DB_32},
};

// K (e^(n f1 / (rate K)) - 1) in cycles, to 256 bits.
class Formula {
public:
    explicit Formula(const ToneSweep& p, double from) : p(p), from(from)
    {
        mpfr_inits2(256, t, c, static_cast<mpfr_ptr>(nullptr));
    }
    ~Formula() { mpfr_clears(t, c, static_cast<mpfr_ptr>(nullptr)); }
    Formula(const Formula&) = delete;
    Formula& operator=(const Formula&) = delete;

    mpfr_ptr Cycles(uint32_t n)
    {
        mpfr_set_d(t, from, MPFR_RNDN);
        mpfr_mul_ui(t, t, n, MPFR_RNDN);
        mpfr_div_ui(t, t, p.rate, MPFR_RNDN);
        mpfr_div_d(t, t, p.wholeK, MPFR_RNDN);
        mpfr_expm1(c, t, MPFR_RNDN);
        mpfr_mul_d(c, c, p.wholeK, MPFR_RNDN);
        return c;
    }
    double Sin(uint32_t n)
    {
        Cycles(n);
        mpfr_const_pi(t, MPFR_RNDN);
        mpfr_mul(t, t, c, MPFR_RNDN);
        mpfr_mul_2ui(t, t, 1, MPFR_RNDN);
        mpfr_sin(t, t, MPFR_RNDN);
        return mpfr_get_d(t, MPFR_RNDN);
    }
    bool Reaches(uint32_t n, double cycles) { return mpfr_cmp_d(Cycles(n), cycles) >= 0; }

private:
    const ToneSweep& p;
    double from;
    mpfr_t t, c;
};

}  // namespace

TEST(ToneSweep, SamplesFollowTheFormula)
{
    std::mt19937_64 rng(13);
    double worst = 0.0;
    for (const Case& c : CASES) {
        ToneSweep p;
        ASSERT_EQ(ToneSweepPlan(p, c.from, c.to, c.seconds, c.silence, c.rate, c.amplitude), nullptr);
        Formula formula(p, c.from);
        // L = round(f1 T / ln(f2/f1)) / f1, so K = f1 L is that whole number.
        EXPECT_EQ(p.wholeK, std::round(c.from * c.seconds / std::log(c.to / c.from))) << c.from;
        // Between the fades every sample is the formula at the amplitude,
        // truncated: a few thousand of them, random and at the fades' edges.
        std::vector<uint32_t> ns = {p.rampIn, p.rampIn + 1, p.rampOutStart - 1};
        for (int i = 0; i < 3000; ++i)
            ns.push_back(p.rampIn + uint32_t(rng() % (p.rampOutStart - p.rampIn)));
        for (uint32_t n : ns) {
            const double want = formula.Sin(n) * c.amplitude;
            worst = std::max(worst, std::fabs(ToneSweepSin(p, n) * c.amplitude - want));
            int32_t got;
            ToneSweepMake(p, n, 1, &got);
            // (Where the formula is within 1e-4 of a whole number either side may be right.)
            const double part = std::fabs(want - std::trunc(want));
            if (part > 1e-4 && part < 1 - 1e-4) {
                ASSERT_EQ(got, int32_t(want)) << c.from << " Hz, sample " << n;
            }
        }
    }
    std::printf("sweep: worst distance to the formula %.3g of a 32-bit unit\n", worst);
    EXPECT_LT(worst, 1e-3);
}

TEST(ToneSweep, LengthFadesAndSilence)
{
    for (const Case& c : CASES) {
        ToneSweep p;
        ASSERT_EQ(ToneSweepPlan(p, c.from, c.to, c.seconds, c.silence, c.rate, c.amplitude), nullptr);
        Formula formula(p, c.from);
        // It stops just before its phase reaches a whole number of cycles,
        // at a frequency at most f2, about L ln(f2/f1) from its start.
        const double end = c.rate * p.wholeK / c.from * std::log(c.to / c.from);
        EXPECT_EQ(p.wholeCycles, std::floor(p.wholeCycles));
        EXPECT_FALSE(formula.Reaches(p.sweepFrames - 1, p.wholeCycles)) << c.from;
        EXPECT_TRUE(formula.Reaches(p.sweepFrames, p.wholeCycles)) << c.from;
        EXPECT_LE(p.sweepFrames, end + 1) << c.from;
        EXPECT_GE(p.sweepFrames, end - c.rate / c.to - 2) << c.from;
        // So its last sample is just below zero, the next would rise through it.
        EXPECT_LE(ToneSweepSin(p, p.sweepFrames - 1), 0.0);
        EXPECT_GE(ToneSweepSin(p, p.sweepFrames), 0.0);
        // Fades start and end on whole cycles and last at least 10 ms,
        // less than a cycle more.
        const uint32_t tenMs = uint32_t(std::ceil(RAMP_MIN_SECONDS * c.rate));
        const uint32_t rampOut = p.sweepFrames - p.rampOutStart;
        for (uint32_t edge : {p.rampIn, p.rampOutStart})
            EXPECT_GT(std::floor(mpfr_get_d(formula.Cycles(edge), MPFR_RNDD)),
                      std::floor(mpfr_get_d(formula.Cycles(edge - 1), MPFR_RNDD)));
        EXPECT_GE(p.rampIn, tenMs);
        EXPECT_GE(rampOut, tenMs);
        EXPECT_LE(p.rampIn, tenMs + c.rate / c.from + 1);
        EXPECT_LE(rampOut, tenMs + c.rate / (c.from * p.wholeCycles / p.wholeK + c.from) * 1.01 + 1);
        EXPECT_EQ(p.totalFrames - p.sweepFrames, uint32_t(std::round(c.silence * c.rate)));
        // Faded to nothing at both ends, then zeros: made in pieces or whole.
        std::vector<int32_t> whole(p.rampIn + 2048), parts(whole.size());
        const uint32_t from = p.totalFrames - uint32_t(whole.size());
        ToneSweepMake(p, from, uint32_t(whole.size()), whole.data());
        for (uint32_t at = 0, n = 7; at < whole.size(); at += n, n = n * 5 % 997 + 1)
            ToneSweepMake(p, from + at, std::min<uint32_t>(n, uint32_t(whole.size()) - at),
                          parts.data() + at);
        EXPECT_EQ(whole, parts);
        for (uint32_t i = 0; i < whole.size(); ++i)
            if (from + i >= p.sweepFrames) {
                ASSERT_EQ(whole[i], 0);
            }
        int32_t edges[2];
        ToneSweepMake(p, 0, 1, edges);
        ToneSweepMake(p, p.sweepFrames - 1, 1, edges + 1);
        EXPECT_EQ(edges[0], 0);
        EXPECT_LE(edges[1], 0);
    }
}

TEST(ToneSweep, RefusesWhatCannotBeMade)
{
    const struct {
        double from, to, seconds;
        uint32_t rate;
    } refused[] = {
        {20.0, 24000.0, 10.0, 48000},    // to half the rate
        {1000.0, 1000.0, 10.0, 48000},   // not rising
        {0.0, 1000.0, 10.0, 48000},      // from 0
        {1.0, 20000.0, 0.001, 48000},    // L rounds to 0
        {1.0, 20000.0, 1e6, 48000},      // beyond 32-bit counts
        {100.0, 20000.0, 0.002, 48000},  // shorter than its fades
    };
    for (const auto& r : refused) {
        ToneSweep p;
        EXPECT_NE(ToneSweepPlan(p, r.from, r.to, r.seconds, 1.0, r.rate, PEAK_0DB_32), nullptr) << r.from;
    }
}
