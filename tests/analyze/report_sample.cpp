// Writes the HTML report of a made-up recording whose channels hold known
// responses: a sweep's (a 40 Hz high-pass and a +3 dB peak at 2 kHz, with
// harmonics and an impulse response), a multitone's, and none. The report's
// response charts are checked in a browser without the response engine.

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>

#include "analyze/html_report.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RATE = 48000;
constexpr double LATENCY = 480.3;

// The analogue filters at hz, as a complex gain.
std::complex<double> Filters(double hz)
{
    const std::complex<double> s(0.0, hz);
    const double highPass = 40, peak = 2000, q = 0.707, peakQ = 1.4, a = std::pow(10.0, 3.0 / 40);
    const std::complex<double> hp = s * s / (s * s + s * highPass / q + highPass * highPass);
    const std::complex<double> eq =
        (s * s + s * (a * peak / peakQ) + peak * peak) / (s * s + s * (peak / (a * peakQ)) + peak * peak);
    return hp * eq;
}

AnalyzeResponse Sweep()
{
    AnalyzeResponse r;
    r.kind = "sweep";
    r.latencySamples = LATENCY;
    r.clockOffsetPpm = 121.4;
    r.rate = uint32_t(RATE);
    for (double hz = 20; hz <= 20000; hz *= std::pow(2.0, 1.0 / 24)) {
        const std::complex<double> h = Filters(hz);
        r.points.push_back({hz, 20 * std::log10(std::abs(h)), std::arg(h) * 180 / PI});
    }
    for (int order = 2; order <= 5; ++order) {
        AnalyzeHarmonicCurve curve;
        curve.order = order;
        for (double hz = 20; hz * order < 20000; hz *= std::pow(2.0, 1.0 / 6))
            curve.points.push_back({hz, -40.0 - 12 * order + 6 * std::log10(hz / 20)});
        r.harmonics.push_back(curve);
    }
    r.impulseFirst = 0;
    for (int i = 0; i < 4800; ++i) {
        const double t = i - LATENCY;
        r.impulse.push_back(
            float(t < 0 ? 0.02 * std::exp(t / 3) : 0.8 * std::exp(-t / 25) * std::cos(t / 6)));
    }
    return r;
}

AnalyzeResponse Multitone()
{
    AnalyzeResponse r;
    r.kind = "multitone";
    r.latencySamples = 96.0;
    r.rate = uint32_t(RATE);
    r.tdNDb = -84.2;
    for (double hz = 20; hz <= 20000; hz *= std::pow(2.0, 1.0 / 3))
        r.points.push_back({hz, 0.2 * std::sin(hz / 900), -0.001 * hz / 20});
    for (double hz = 20; hz <= 20000; hz += 7)
        r.noiseFloor.push_back({hz, -112 + 4 * std::sin(hz / 300) + 10 * std::log10(1 + hz / 5000)});
    for (int i = 0; i < 960; ++i)
        r.impulse.push_back(float(i == 96 ? 1.0 : 0.0));
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    AnalyzeFileResult file;
    file.path = "rec <b>&\"'\x01.wav";  // every kind of text a name may hold
    file.open = WaveOpenResult::Ok;
    file.info.rate = uint32_t(RATE);
    file.info.bits = 24;
    file.info.channels = 3;
    file.info.frames = 10 * uint64_t(RATE);
    file.measurement.bandLowHz = 20;
    file.measurement.bandHighHz = 20000;
    file.channels.resize(3);
    for (AnalyzeChannelResult& c : file.channels)
        c.noToneReason = "a response, not a tone";
    file.channels[0].response = Sweep();
    file.channels[1].response = Multitone();
    file.channels[2].response.reason = "silent: no response to measure";
    std::ofstream(argv[1], std::ios::binary) << AnalyzeHtmlPage({file}, {AnalyzeHtmlFileSection(file, 0)});
    return 0;
}
