// The exact phase: each sample's place in its cycle against the exact
// rational truth, its sine against MPFR, and the SINAD a 32-bit tone reaches.

#include "synth/exact_phase.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "synth/tone.h"
#include "ulp_distance.h"

namespace {

struct Case {
    double frequency;
    uint32_t rate;
};

const Case CASES[] = {
    {997.0, 48000},
    {31.5, 44100},
    {1000.0 / 3.0, 48000},
    {0.1, 96000},
    {1000.0, 384000},
    {23999.999, 48000},
    {std::nextafter(22050.0, 0.0), 44100},
    {19999.5, 44100},
};

}  // namespace

TEST(ToneExactPhase, PointAndSineAgainstExactTruth)
{
    mpfr_t truth, point, angle;
    mpfr_inits2(256, truth, point, angle, static_cast<mpfr_ptr>(nullptr));
    std::mt19937_64 rng(11);
    uint64_t worst = 0;
    for (const Case& c : CASES) {
        ToneExactPhase p;
        ASSERT_TRUE(ToneExactPhasePlan(p, c.frequency, c.rate)) << c.frequency;
        std::vector<uint64_t> ns = {0, 1, 2, 3, 12345, 1u << 31, 0xffffffffu, uint64_t(1) << 32};
        for (int i = 0; i < 2000; ++i)
            ns.push_back(rng() >> 32);
        for (uint64_t n : ns) {
            // n f mod rate, exact in 256 bits.
            mpfr_set_d(truth, c.frequency, MPFR_RNDN);
            mpfr_mul_ui(truth, truth, static_cast<unsigned long>(n >> 1), MPFR_RNDN);
            mpfr_mul_2ui(truth, truth, 1, MPFR_RNDN);
            mpfr_set_d(angle, c.frequency, MPFR_RNDN);
            if (n & 1) mpfr_add(truth, truth, angle, MPFR_RNDN);
            mpfr_fmod_ui(truth, truth, c.rate, MPFR_RNDN);
            const ToneCyclePoint at = ToneExactPhaseAt(p, n);
            mpfr_set_ui(point, static_cast<unsigned long>(at.fraction >> 32), MPFR_RNDN);
            mpfr_mul_2ui(point, point, 32, MPFR_RNDN);
            mpfr_add_ui(point, point, static_cast<unsigned long>(at.fraction & 0xffffffffu), MPFR_RNDN);
            mpfr_div_2ui(point, point, 64, MPFR_RNDN);
            mpfr_add_ui(point, point, at.units, MPFR_RNDN);
            ASSERT_EQ(mpfr_cmp(point, truth), 0) << c.frequency << " Hz at " << c.rate << ", n = " << n;
            // sin(2 pi truth / rate), correctly rounded.
            mpfr_const_pi(angle, MPFR_RNDN);
            mpfr_mul(angle, angle, truth, MPFR_RNDN);
            mpfr_mul_2ui(angle, angle, 1, MPFR_RNDN);
            mpfr_div_ui(angle, angle, c.rate, MPFR_RNDN);
            mpfr_sin(angle, angle, MPFR_RNDN);
            // (256 bits of pi leave about 1e-77 where the sine is exactly 0.)
            const double want =
                std::fabs(mpfr_get_d(angle, MPFR_RNDN)) < 1e-60 ? 0.0 : mpfr_get_d(angle, MPFR_RNDN);
            const uint64_t d = UlpDistance(ToneExactPhaseSin(p, at), want);
            worst = std::max(worst, d);
            EXPECT_LE(d, 1u) << c.frequency << " Hz at " << c.rate << ", n = " << n << std::hexfloat << " "
                             << ToneExactPhaseSin(p, at) << " " << want;
        }
    }
    mpfr_clears(truth, point, angle, static_cast<mpfr_ptr>(nullptr));
    std::printf("exact phase: sines within %llu ulp of MPFR's\n", static_cast<unsigned long long>(worst));
}

TEST(ToneExactPhase, ChunksGiveTheValuesOfSingleSamples)
{
    for (const Case& c : CASES) {
        ToneExactPhase p;
        ASSERT_TRUE(ToneExactPhasePlan(p, c.frequency, c.rate));
        const uint32_t start = 0xffffffffu - 3000;
        std::vector<double> whole(3000), parts(3000);
        ToneExactPhaseSines(p, start, 3000, whole.data());
        for (uint32_t at = 0, n = 1; at < 3000; at += n, n = n * 3 % 1025 + 1)
            ToneExactPhaseSines(p, start + at, std::min(n, 3000 - at), parts.data() + at);
        for (uint32_t i = 0; i < 3000; ++i) {
            ASSERT_EQ(whole[i], parts[i]);
            ASSERT_EQ(whole[i], ToneExactPhaseSin(p, ToneExactPhaseAt(p, start + i)));
        }
    }
}

TEST(ToneExactPhase, RefusesWhatItCannotMakeExactly)
{
    ToneExactPhase p;
    EXPECT_FALSE(ToneExactPhasePlan(p, 0.0, 48000));
    EXPECT_FALSE(ToneExactPhasePlan(p, -1.0, 48000));
    EXPECT_FALSE(ToneExactPhasePlan(p, NAN, 48000));
    EXPECT_FALSE(ToneExactPhasePlan(p, 1000.0, 0));
    EXPECT_FALSE(ToneExactPhasePlan(p, 1e-9, 48000));  // bits below 2^-64
    EXPECT_TRUE(ToneExactPhasePlan(p, 0x1p-11, 48000));
}

namespace {

// SINAD of a whole tone of integer frequency quantised by truncation: the
// sine of known frequency fitted by least squares (amplitude, phase, DC) in
// long double over every sample, against the residual.
double Sinad(uint32_t frequency, uint32_t rate, double seconds, double amplitude)
{
    ToneExactPhase p;
    EXPECT_TRUE(ToneExactPhasePlan(p, frequency, rate));
    std::vector<long double> sinTable(rate), cosTable(rate);
    const long double twoPi = 6.283185307179586476925286766559L;
    for (uint32_t k = 0; k < rate; ++k) {
        sinTable[k] = sinl(twoPi * k / rate);
        cosTable[k] = cosl(twoPi * k / rate);
    }
    const uint32_t total = uint32_t(seconds * rate);
    std::vector<int32_t> samples(total);
    double sines[BLOCK_FRAMES];
    for (uint32_t at = 0; at < total; at += BLOCK_FRAMES) {
        const uint32_t n = std::min(BLOCK_FRAMES, total - at);
        ToneExactPhaseSines(p, at, n, sines);
        for (uint32_t i = 0; i < n; ++i)
            samples[at + i] = int32_t(sines[i] * amplitude);
    }
    // Normal equations of y ~ a sin + b cos + c.
    long double m[3][4] = {};
    for (uint32_t n = 0; n < total; ++n) {
        const uint32_t k = uint32_t(uint64_t(n) * frequency % rate);
        const long double v[3] = {sinTable[k], cosTable[k], 1.0L};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += v[i] * v[j];
            m[i][3] += v[i] * samples[n];
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int r = 0; r < 3; ++r)
            if (r != i) {
                const long double f = m[r][i] / m[i][i];
                for (int j = 0; j < 4; ++j)
                    m[r][j] -= f * m[i][j];
            }
    const long double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
    long double residual = 0;
    for (uint32_t n = 0; n < total; ++n) {
        const uint32_t k = uint32_t(uint64_t(n) * frequency % rate);
        const long double e = samples[n] - (a * sinTable[k] + b * cosTable[k] + c);
        residual += e * e;
    }
    return double(10.0L * log10l((a * a + b * b) / 2.0L / (residual / total)));
}

}  // namespace

TEST(ToneExactPhase, LongTonesReachTheirWidthsLimit)
{
    // Truncation toward zero errs by u - sign(x)/2, u uniform in +-1/2: a
    // noise of 1/12 and a square wave of 1/4, whose fundamental (power
    // (2/pi)^2 / 2) the fit takes as signal. That limit, less 1 dB, and the
    // 185 dB goal at 32 bits (the running phase: about 103 dB at 384 kHz).
    const auto limit = [](double amplitude) {
        return 10.0 * std::log10(amplitude * amplitude / 2.0 / (1.0 / 12.0 + 0.25 - 2.0 / (M_PI * M_PI)));
    };
    const double atDefault = Sinad(1000, 384000, 30.0, PEAK_0DB_32);
    const double at997 = Sinad(997, 48000, 30.0, PEAK_0DB_32);
    const double at24 = Sinad(997, 48000, 30.0, PEAK_0DB_24);
    std::printf("SINAD: 1 kHz/384 kHz 30 s 32-bit %.2f dB, 997 Hz/48 kHz 32-bit %.2f dB, 24-bit %.2f dB\n",
                atDefault, at997, at24);
    EXPECT_GE(atDefault, 185.0);
    EXPECT_GE(atDefault, limit(PEAK_0DB_32) - 1.0);
    EXPECT_GE(at997, limit(PEAK_0DB_32) - 1.0);
    EXPECT_GE(at24, limit(PEAK_0DB_24) - 1.0);
}
