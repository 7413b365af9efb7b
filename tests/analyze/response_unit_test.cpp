// The response of synthetic recordings of a Calyx sweep whose truth is known:
// biquads evaluated from their transfer functions, a fractional delay, a
// polynomial, a clock running fast, noise.

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "analyze/response_measure.h"
#include "synth/sweep.h"

namespace {

using Complex = std::complex<double>;
constexpr double PI = 3.141592653589793;
constexpr uint32_t RATE = 48000;
constexpr double AMPLITUDE = 0.5;
constexpr double FULL = 2147483648.0;

std::vector<double> Sweep()
{
    ToneSweep plan;
    EXPECT_EQ(ToneSweepPlan(plan, 20, 20000, 3, 1, RATE, AMPLITUDE * FULL), nullptr);
    std::vector<int32_t> ints(plan.totalFrames);
    ToneSweepMake(plan, 0, plan.totalFrames, ints.data());
    std::vector<double> x(ints.size());
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = ints[i] / FULL;
    return x;
}

// Blackman-windowed sinc of 128 taps at t: flat to far above 16 kHz at 48 kHz.
double At(const std::vector<double>& x, double t)
{
    const auto base = int64_t(std::floor(t));
    double sum = 0.0;
    for (int64_t i = base - 63; i <= base + 64; ++i) {
        if (i < 0 || i >= int64_t(x.size())) continue;
        const double d = t - double(i), u = (d / 64.0 + 1.0) / 2.0;
        const double w = 0.42 - 0.5 * std::cos(2 * PI * u) + 0.08 * std::cos(4 * PI * u);
        sum += x[size_t(i)] * (d == 0.0 ? 1.0 : std::sin(PI * d) / (PI * d)) * w;
    }
    return sum;
}

struct Biquad {
    double b0, b1, b2, a1, a2;
    Complex At(double f) const
    {
        const Complex z1 = std::polar(1.0, -2 * PI * f / RATE), z2 = z1 * z1;
        return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
    }
    void Run(std::vector<double>& x) const
    {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y, v = y;
        }
    }
};

// The cookbook's high-pass and peaking equaliser, normalised to a0 = 1.
Biquad HighPass(double f, double q)
{
    const double w = 2 * PI * f / RATE, alpha = std::sin(w) / (2 * q), c = std::cos(w), a0 = 1 + alpha;
    return {(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}
Biquad Peaking(double f, double q, double db)
{
    const double a = std::pow(10, db / 40), w = 2 * PI * f / RATE, alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w), a0 = 1 + alpha / a;
    return {(1 + alpha * a) / a0, -2 * c / a0, (1 - alpha * a) / a0, -2 * c / a0, (1 - alpha / a) / a0};
}

struct Case {
    const char* name;
    double gainDb;  // tolerance
    bool filters;
    double delay;  // samples of the played clock
    double a, b;   // y = x + a x^2 + b x^3
    double ppm;    // the recorder's clock
};

TEST(AnalyzeResponse, KnownPathsAreMeasured)
{
    const Biquad hp = HighPass(30, 0.707), eq = Peaking(300, 1.4, 6);
    // A unity path reads 0 dB to within the printed places, at the band's
    // ends too.
    const Case cases[] = {{"unity", 0.001, false, 0, 0, 0, 0},
                          {"filters", 0.1, true, 123.4, 0, 0, 0},
                          {"delay", 0.1, false, 123.4, 0, 0, 0},
                          {"polynomial", 0.1, false, 57.0, 0.02, 0.05, 0},
                          {"clock", 0.1, true, 2000.25, 0, 0, 200}};
    const std::vector<double> stimulus = Sweep();
    for (const Case& c : cases) {
        std::vector<double> played(stimulus.size() + 4000);
        for (size_t i = 0; i < played.size(); ++i) {
            const double x = At(stimulus, double(i) - c.delay);
            played[i] = x + c.a * x * x + c.b * x * x * x;
        }
        if (c.filters) {
            hp.Run(played);
            eq.Run(played);
        }
        const double stretch = 1.0 + c.ppm * 1e-6;
        std::vector<double> recorded(size_t(double(played.size()) * stretch));
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 1e-5);
        for (size_t m = 0; m < recorded.size(); ++m)
            recorded[m] = (c.ppm != 0 ? At(played, double(m) / stretch) : played[m]) + noise(random);
        if (c.delay == 0) recorded = stimulus;

        const AnalyzeResponse r = AnalyzeResponseMeasure(stimulus, recorded, RATE, {});
        ASSERT_EQ(r.kind, "sweep") << c.name;
        EXPECT_NEAR(r.clockOffsetPpm, c.ppm, 2.0) << c.name;
        if (!c.filters) {
            EXPECT_NEAR(r.latencySamples, c.delay * stretch, 0.05) << c.name;
        }
        const double linear = 1 + 0.75 * c.b * AMPLITUDE * AMPLITUDE;
        for (const AnalyzeResponsePoint& p : r.points) {
            if (c.delay != 0 && (p.frequencyHz < 50 || p.frequencyHz > 16000)) continue;
            Complex truth = linear * (c.filters ? hp.At(p.frequencyHz) * eq.At(p.frequencyHz) : 1.0);
            // The delay left after the measured latency, in the played clock.
            truth *= std::polar(1.0, -2 * PI * p.frequencyHz / RATE * (c.delay - r.latencySamples / stretch));
            EXPECT_NEAR(p.gainDb, 20 * std::log10(std::abs(truth)), c.gainDb)
                << c.name << " " << p.frequencyHz;
            const double phase = std::remainder(p.phaseDeg - std::arg(truth) * 180 / PI, 360.0);
            EXPECT_NEAR(phase, 0.0, 1.0) << c.name << " " << p.frequencyHz;
        }
        if (c.a == 0) continue;
        const double orders[] = {20 * std::log10(c.a * AMPLITUDE / 2 / linear),
                                 20 * std::log10(c.b * AMPLITUDE * AMPLITUDE / 4 / linear)};
        for (int k = 2; k <= 3; ++k)
            for (const AnalyzeLevelPoint& p : r.harmonics[size_t(k - 2)].points)
                if (p.frequencyHz >= 50 && k * p.frequencyHz <= 16000) {
                    EXPECT_NEAR(p.levelDb, orders[k - 2], 1.0) << c.name << " " << k << " " << p.frequencyHz;
                }
    }
}

}  // namespace
