// Accuracy of the synthesis's own sine, cosine and power against MPFR's
// correctly rounded results: no result may be more than one unit in the last
// place away from it.

#include "synth/tone_math.h"
#include "ulp_distance.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>

namespace {

enum class Fn { Sin, Cos, Exp10, Exp };

// Correctly rounded reference values.
class Reference {
public:
    Reference() { mpfr_inits2(53, arg, val, static_cast<mpfr_ptr>(nullptr)); }
    ~Reference() { mpfr_clears(arg, val, static_cast<mpfr_ptr>(nullptr)); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    double operator()(Fn fn, double x)
    {
        mpfr_set_d(arg, x, MPFR_RNDN);
        switch (fn) {
            case Fn::Sin:
                mpfr_sin(val, arg, MPFR_RNDN);
                break;
            case Fn::Cos:
                mpfr_cos(val, arg, MPFR_RNDN);
                break;
            case Fn::Exp10:
                mpfr_exp10(val, arg, MPFR_RNDN);
                break;
            case Fn::Exp:
                mpfr_exp(val, arg, MPFR_RNDN);
                break;
        }
        return mpfr_get_d(val, MPFR_RNDN);
    }

private:
    mpfr_t arg, val;
};

double Ours(Fn fn, double x)
{
    switch (fn) {
        case Fn::Sin:
            return ToneSin(x);
        case Fn::Cos:
            return ToneCos(x);
        case Fn::Exp10:
            return TonePow10(x);
        case Fn::Exp:
            return ToneExp(x);
    }
    return 0.0;
}

// Compares a run of arguments and reports how many results are not the
// correctly rounded one and how many are more than one unit away.
class Sweep {
public:
    Sweep(const char* name, Fn fn) : name(name), fn(fn) {}

    void Check(double x)
    {
        const uint64_t d = UlpDistance(Ours(fn, x), reference(fn, x));
        ++count;
        if (d != 0) ++notRounded;
        if (d > 1) {
            if (farOff < 5) ADD_FAILURE() << name << ": " << d << " ulp off at x = " << std::hexfloat << x;
            ++farOff;
        }
    }

    ~Sweep()
    {
        std::printf(
            "%-34s %9llu values, %7llu not correctly rounded (%.4f %%), %llu off by more than 1 ulp\n", name,
            static_cast<unsigned long long>(count), static_cast<unsigned long long>(notRounded),
            count ? 100.0 * double(notRounded) / double(count) : 0.0,
            static_cast<unsigned long long>(farOff));
        EXPECT_EQ(farOff, 0u) << name;
    }

private:
    const char* name;
    Fn fn;
    Reference reference;
    uint64_t count = 0, notRounded = 0, farOff = 0;
};

// A double with a random significand and a binary exponent drawn uniformly
// from [minExp, maxExp), so that every magnitude is covered alike.
double RandomDouble(std::mt19937_64& rng, int minExp, int maxExp, bool bothSigns)
{
    const int e = std::uniform_int_distribution<int>(minExp, maxExp - 1)(rng);
    const double m = 1.0 + double(rng() >> 12) * 0x1p-52;
    const double x = std::ldexp(m, e);
    return bothSigns && (rng() & 1) ? -x : x;
}

constexpr double TONE_STEP = 0.016362461737447917;  // 1 kHz at 384 kHz

}  // namespace

TEST(ToneMathExact, SmallCases)
{
    EXPECT_EQ(ToneSin(0.0), 0.0);
    EXPECT_EQ(ToneCos(0.0), 1.0);
    // Odd and even symmetry hold bit for bit: the reduction rounds to the
    // nearest integer with ties to even, and every step is sign-symmetric.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) {
        const double x = RandomDouble(rng, -20, 35, false);
        ASSERT_EQ(ToneSin(-x), -ToneSin(x)) << x;
        ASSERT_EQ(ToneCos(-x), ToneCos(x)) << x;
    }
    // Whole powers of ten up to 10^22 are doubles, so they must come out exactly.
    double power = 1.0;
    for (int n = 0; n <= 22; ++n, power *= 10.0)
        EXPECT_EQ(TonePow10(n), power) << n;
    EXPECT_TRUE(std::isnan(ToneSin(INFINITY)));
    EXPECT_TRUE(std::isnan(ToneCos(-INFINITY)));
    EXPECT_TRUE(std::isnan(ToneSin(NAN)));
}

TEST(ToneMathAccuracy, SineOfTheDefaultTonesPhases)
{
    // The phase as the kernels accumulate it over a 30 s default tone.
    Sweep sweep("sin, 1 kHz/384 kHz phase series", Fn::Sin);
    double phase = 0.0;
    for (uint32_t i = 0; i < 11520000; ++i) {
        phase += TONE_STEP;
        sweep.Check(phase);
    }
}

TEST(ToneMathAccuracy, SineOverTheWholePhaseRange)
{
    std::mt19937_64 rng(1);
    Sweep sweep("sin, random |x| in 2^-30 ... 2^35", Fn::Sin);
    for (int i = 0; i < 1500000; ++i)
        sweep.Check(RandomDouble(rng, -30, 35, true));
    Sweep uniform("sin, random uniform x in 0 ... 2^35", Fn::Sin);
    for (int i = 0; i < 500000; ++i)
        uniform.Check(std::uniform_real_distribution<double>(0.0, 0x1p35)(rng));
}

TEST(ToneMathAccuracy, SineNearMultiplesOfHalfPi)
{
    // Where x nearly cancels against k*pi/2 the result is tiny and every bit
    // of the reduction counts. First the double closest to a multiple of
    // pi/2 in each binade below 2^35 where it is known (continued fractions
    // of 2/pi), with neighbours.
    Sweep sweep("sin, x near multiples of pi/2", Fn::Sin);
    const std::pair<double, int> closest[] = {
        {7074237752028440.0, -52}, {6411027962775774.0, -47}, {6331365068168276.0, -37},
        {5520028710995367.0, -34}, {7295746205504726.0, -32}, {7763785107565477.0, -29},
        {6132322300111610.0, -20}, {8415546123915803.0, -18},
    };
    for (const auto& [m, e] : closest) {
        double x = std::ldexp(m, e);
        for (int i = 0; i < 8; ++i)
            x = std::nextafter(x, 0.0);
        for (int i = 0; i < 17; ++i, x = std::nextafter(x, INFINITY)) {
            sweep.Check(x);
            sweep.Check(-x);
        }
    }
    // Then the doubles around k*pi/2 for random k up to 2^34, and the tone's
    // phase steps across multiples of pi near the end of a 4 GB file.
    Reference reference;
    mpfr_t halfPi, t;
    mpfr_inits2(200, halfPi, t, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(halfPi, MPFR_RNDN);
    mpfr_div_ui(halfPi, halfPi, 2, MPFR_RNDN);
    std::mt19937_64 rng(2);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t k = 1 + (rng() >> (30 + rng() % 31));
        mpfr_mul_ui(t, halfPi, static_cast<unsigned long>(k), MPFR_RNDN);
        double x = mpfr_get_d(t, MPFR_RNDN);
        x = std::nextafter(x, 0.0);
        for (int j = 0; j < 3; ++j, x = std::nextafter(x, INFINITY))
            sweep.Check(x);
    }
    for (uint64_t k : {8913450000ull, 4456725000ull, 1000000007ull}) {  // k*pi up to 2.8e10
        mpfr_mul_ui(t, halfPi, static_cast<unsigned long>(2 * k), MPFR_RNDN);
        double phase = mpfr_get_d(t, MPFR_RNDN) - 5000 * TONE_STEP;
        for (int j = 0; j < 10000; ++j)
            sweep.Check(phase += TONE_STEP);
    }
    mpfr_clears(halfPi, t, static_cast<mpfr_ptr>(nullptr));
}

TEST(ToneMathAccuracy, CosineOfTheRampArguments)
{
    // The ramp table takes cos(x * 6.28318530718) and cos(x * 12.56637061436)
    // for x = i / 2N in [0.5, 1).
    Sweep ramp("cos, ramp arguments (N up to 40000)", Fn::Cos);
    for (uint32_t n : {1u, 2u, 3u, 1000u, 3839u, 40000u}) {
        for (uint32_t i = n; i < 2 * n; ++i) {
            const double x = double(i) / double(2 * n);
            ramp.Check(x * 6.28318530718);
            ramp.Check(x * 12.56637061436);
        }
    }
    std::mt19937_64 rng(3);
    Sweep random("cos, random x in 0 ... 13", Fn::Cos);
    for (int i = 0; i < 600000; ++i)
        random.Check(std::uniform_real_distribution<double>(0.0, 13.0)(rng));
    Sweep wide("cos, random |x| in 2^-30 ... 2^35", Fn::Cos);
    for (int i = 0; i < 200000; ++i)
        wide.Check(RandomDouble(rng, -30, 35, true));
}

TEST(ToneMathAccuracy, PowerOfTenOfTheAmplitudes)
{
    // Peaks (2^31 - 1) * 10^(-A/20) and (2^23 - 1) * 10^(-A/20), as computed
    // from the decibel constants; a 24-bit tone below -138 dB takes y < 0.
    Sweep amplitudes("10^y, amplitudes A = 1 ... 255", Fn::Exp10);
    for (uint32_t a = 1; a <= 255; ++a) {
        amplitudes.Check((186.6385973076236 - a) / 20);
        amplitudes.Check((138.4737969699925 - a) / 20);
    }
    std::mt19937_64 rng(4);
    Sweep random("10^y, random y in -20 ... 20", Fn::Exp10);
    for (int i = 0; i < 400000; ++i)
        random.Check(std::uniform_real_distribution<double>(-20.0, 20.0)(rng));
    Sweep wide("10^y, random |y| in 2^-40 ... 2^8", Fn::Exp10);
    for (int i = 0; i < 100000; ++i)
        wide.Check(RandomDouble(rng, -40, 8, true) * (300.0 / 256.0));
}

TEST(ToneMathAccuracy, ExponentialOfTheSweepsArguments)
{
    // The sweep takes e^x for 0 <= x <= ln(f2/f1), about 10 for 1 Hz ... 20 kHz.
    std::mt19937_64 rng(5);
    Sweep sweep("e^x, random x in 0 ... 16", Fn::Exp);
    for (int i = 0; i < 400000; ++i)
        sweep.Check(std::uniform_real_distribution<double>(0.0, 16.0)(rng));
    Sweep small("e^x, random |x| in 2^-40 ... 2^4", Fn::Exp);
    for (int i = 0; i < 100000; ++i)
        small.Check(RandomDouble(rng, -40, 4, true));
    // The logarithm is Newton's steps on it: within two units of the last
    // place of max(|ln x|, 1) (near x = 1 the error is absolute, which is
    // all that the sweep's counts need).
    mpfr_t arg, val;
    mpfr_inits2(53, arg, val, static_cast<mpfr_ptr>(nullptr));
    double worst = 0;
    for (int i = 0; i < 20000; ++i) {
        const double x = std::ldexp(1.0 + double(rng() >> 12) * 0x1p-52, int(rng() % 40) - 20);
        mpfr_set_d(arg, x, MPFR_RNDN);
        mpfr_log(val, arg, MPFR_RNDN);
        const double y = mpfr_get_d(val, MPFR_RNDN);
        worst = std::max(worst, std::fabs(ToneLog(x) - y) / (std::max(std::fabs(y), 1.0) * 0x1p-52));
    }
    mpfr_clears(arg, val, static_cast<mpfr_ptr>(nullptr));
    std::printf("ln x, random x in 2^-20 ... 2^20: worst %.2f units\n", worst);
    EXPECT_LE(worst, 2.0);
}
