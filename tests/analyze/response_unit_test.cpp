// The response of synthetic recordings of a Calyx sweep whose truth is known:
// biquads evaluated from their transfer functions, a fractional delay, a
// polynomial, a clock running fast, noise.

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "analyze/response_measure.h"
#include "synth/multitone.h"
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
    double noise = 1e-5;
};

// The stimulus delayed, bent, through the high-pass and the equaliser when
// asked, taken by the recorder's clock, with white noise.
std::vector<double> Record(const std::vector<double>& stimulus, const Case& c)
{
    std::vector<double> played(stimulus.size() + 4000);
    for (size_t i = 0; i < played.size(); ++i) {
        const double x = At(stimulus, double(i) - c.delay);
        played[i] = x + c.a * x * x + c.b * x * x * x;
    }
    if (c.filters) {
        HighPass(30, 0.707).Run(played);
        Peaking(300, 1.4, 6).Run(played);
    }
    const double stretch = 1.0 + c.ppm * 1e-6;
    std::vector<double> recorded(size_t(double(played.size()) * stretch));
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, c.noise);
    for (size_t m = 0; m < recorded.size(); ++m)
        recorded[m] = (c.ppm != 0 ? At(played, double(m) / stretch) : played[m]) + noise(random);
    return recorded;
}

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
        // The unity path is the stimulus itself, noiseless.
        const std::vector<double> recorded = c.delay == 0 ? stimulus : Record(stimulus, c);
        const double stretch = 1.0 + c.ppm * 1e-6;

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

// A multitone of third octaves to 16 kHz (where the interpolation above is
// still exact enough) through the same paths, with white noise of known
// density: TD+N is that noise in the bins between the tones over the tones.
std::vector<double> Multitone(std::vector<double>& hz)
{
    for (double f = 20; f < 16500; f *= std::exp2(1.0 / 3))
        hz.push_back(std::round(f));
    ToneMultitone plan;
    EXPECT_TRUE(
        ToneMultitonePlan(plan, hz.data(), nullptr, uint32_t(hz.size()), RATE, RATE, 6, AMPLITUDE * FULL));
    std::vector<int32_t> ints(ToneMultitoneFrames(plan));
    ToneMultitoneMake(plan, 0, uint32_t(ints.size()), ints.data());
    std::vector<double> x(ints.size());
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = ints[i] / FULL;
    return x;
}

TEST(AnalyzeResponse, KnownPathsOfAMultitone)
{
    const Biquad hp = HighPass(30, 0.707), eq = Peaking(300, 1.4, 6);
    const Case cases[] = {{"filters", 0.1, true, 123.4, 0, 0, 0, 1e-4},
                          {"delay", 0.1, false, 0.37, 0, 0, 0, 3e-5},
                          {"clock", 0.1, true, 2000.25, 0, 0, 100, 1e-4},
                          {"slow clock", 0.1, false, 57.3, 0, 0, -250, 3e-5}};
    std::vector<double> hz;
    const std::vector<double> stimulus = Multitone(hz);
    for (const Case& c : cases) {
        const std::vector<double> recorded = Record(stimulus, c);
        const double stretch = 1.0 + c.ppm * 1e-6;

        const AnalyzeResponse r = AnalyzeResponseMeasure(stimulus, recorded, RATE, {});
        ASSERT_EQ(r.kind, "multitone") << c.name;
        ASSERT_EQ(r.points.size(), hz.size()) << c.name;
        EXPECT_NEAR(r.clockOffsetPpm, c.ppm, 2.0) << c.name;
        if (!c.filters) {
            EXPECT_NEAR(r.latencySamples, c.delay * stretch, 0.05) << c.name;
        }
        double tonePower = 0.0;
        for (size_t k = 0; k < hz.size(); ++k) {
            const AnalyzeResponsePoint& p = r.points[k];
            EXPECT_DOUBLE_EQ(p.frequencyHz, hz[k]) << c.name;
            const Complex path = c.filters ? hp.At(hz[k]) * eq.At(hz[k]) : 1.0;
            const Complex truth =
                path * std::polar(1.0, -2 * PI * hz[k] / RATE * (c.delay - r.latencySamples / stretch));
            EXPECT_NEAR(p.gainDb, 20 * std::log10(std::abs(truth)), 0.1) << c.name << " " << hz[k];
            EXPECT_NEAR(std::remainder(p.phaseDeg - std::arg(truth) * 180 / PI, 360.0), 0.0, 1.0)
                << c.name << " " << hz[k];
            // The tone's power in the middle period, through the path.
            Complex sum = 0.0;
            for (uint32_t t = 0; t < RATE; ++t)
                sum += stimulus[2 * RATE + t] * std::polar(1.0, -2 * PI * hz[k] * t / RATE);
            tonePower += std::norm(2.0 * sum / double(RATE) * std::abs(path)) / 2;
        }
        // One-sided noise power per 1 Hz bin is 2 sigma^2 / rate; the band's
        // bins from 20 to 20000 Hz less the tones'.
        const double between = 19981.0 - double(hz.size());
        const double truthTdN = 10 * std::log10(between * 2 * c.noise * c.noise / RATE / tonePower);
        EXPECT_NEAR(r.tdNDb, truthTdN, 0.5) << c.name;
        EXPECT_FALSE(r.noiseFloor.empty()) << c.name;
    }
}

// Noise as the stimulus, through the equaliser or a fractional delay, with
// noise of known level added: the coherence is |H|^2 Sx / (|H|^2 Sx + Sn).
TEST(AnalyzeResponse, OtherStimulusHasItsCoherence)
{
    const Biquad eq = Peaking(300, 1.4, 6);
    const struct {
        bool filter;
        double delay, noise;
    } cases[] = {{false, 10.6, 0.002}, {true, 10.6, 0.002}};
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> stimulus(4 * RATE);
    for (double& v : stimulus)
        v = 0.1 * gauss(random);
    for (const auto& c : cases) {
        std::vector<double> recorded(stimulus.size() + 100);
        for (size_t i = 0; i < recorded.size(); ++i)
            recorded[i] = At(stimulus, double(i) - c.delay);
        if (c.filter) eq.Run(recorded);
        for (double& v : recorded)
            v += c.noise * gauss(random);
        const AnalyzeResponse r = AnalyzeResponseMeasure(stimulus, recorded, RATE, {});
        ASSERT_EQ(r.kind, "other");
        if (!c.filter) {
            EXPECT_NEAR(r.latencySamples, c.delay, 0.05);
        }
        for (const AnalyzeResponsePoint& p : r.points) {
            if (p.frequencyHz < 50 || p.frequencyHz > 16000) continue;
            const Complex path = c.filter ? eq.At(p.frequencyHz) : 1.0;
            const Complex truth =
                path * std::polar(1.0, -2 * PI * p.frequencyHz / RATE * (c.delay - r.latencySamples));
            const double signal = std::norm(path) * 0.01;
            EXPECT_NEAR(p.gainDb, 20 * std::log10(std::abs(truth)), 0.1) << p.frequencyHz;
            EXPECT_NEAR(std::remainder(p.phaseDeg - std::arg(truth) * 180 / PI, 360.0), 0.0, 1.0)
                << p.frequencyHz;
            EXPECT_NEAR(p.coherence, signal / (signal + c.noise * c.noise), 0.01) << p.frequencyHz;
        }
    }
}
