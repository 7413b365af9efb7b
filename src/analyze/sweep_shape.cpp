#include "analyze/sweep_shape.h"

#include <cmath>
#include <algorithm>
#include <cstddef>

namespace {

constexpr size_t SWEEP_GROUPS = 16;  // stretches of equal time whose rate of crossings is measured
constexpr size_t SWEEP_MIN_CROSSINGS = 64;
constexpr double SWEEP_MAX_LOG_ERROR = 0.02;  // ln f off its straight line: not a sweep

}  // namespace

AnalyzeSweepShape AnalyzeSweepRecognise(const std::vector<double>& samples, uint32_t rate)
{
    AnalyzeSweepShape shape;
    size_t first = 0, last = samples.size();
    while (first < samples.size() && samples[first] == 0.0)
        ++first;
    while (last > first && samples[last - 1] == 0.0)
        --last;
    if (last - first < 4 || rate == 0) return shape;
    std::vector<double> crossings;
    for (size_t i = first + 1; i < last; ++i)
        if (samples[i - 1] < 0.0 && samples[i] >= 0.0)
            crossings.push_back(double(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]));
    if (crossings.size() < SWEEP_MIN_CROSSINGS) return shape;

    // ln f against t, one point per stretch of equal time, and its straight
    // line. A stretch's mean frequency is its middle's times sinh(x) / x,
    // x half its length over L: refined as L becomes known.
    std::vector<double> times, logs, spans;
    const double span = (crossings.back() - crossings.front()) / SWEEP_GROUPS;
    size_t at = 0;
    for (size_t g = 0; g < SWEEP_GROUPS; ++g) {
        const double end = crossings.front() + span * double(g + 1);
        const size_t from = at;
        while (at < crossings.size() && (crossings[at] < end || g + 1 == SWEEP_GROUPS))
            ++at;
        if (at - from < 3) continue;
        const double a = crossings[from], b = crossings[at - 1];
        times.push_back((a + b) / 2 / rate);
        spans.push_back((b - a) / rate);
        logs.push_back(std::log(double(at - from - 1) / spans.back()));
    }
    const size_t count = times.size();
    if (count < SWEEP_GROUPS / 2) return shape;
    double slope = 0.0, intercept = 0.0;
    std::vector<double> fitted(count);
    for (int round = 0; round < 3; ++round) {
        for (size_t g = 0; g < count; ++g) {
            const double x = spans[g] * slope / 2;
            fitted[g] = logs[g] - (x > 0.0 ? std::log(std::sinh(x) / x) : 0.0);
        }
        double mt = 0.0, ml = 0.0;
        for (size_t g = 0; g < count; ++g) {
            mt += times[g] / double(count);
            ml += fitted[g] / double(count);
        }
        double stt = 0.0, stl = 0.0;
        for (size_t g = 0; g < count; ++g) {
            stt += (times[g] - mt) * (times[g] - mt);
            stl += (times[g] - mt) * (fitted[g] - ml);
        }
        if (stt <= 0.0) return shape;
        slope = stl / stt;
        intercept = ml - slope * mt;
        if (!(slope > 0.0)) return shape;
    }
    if (fitted.back() - fitted.front() < std::log(2.0)) return shape;
    for (size_t g = 0; g < count; ++g)
        if (std::fabs(intercept + slope * times[g] - fitted[g]) > SWEEP_MAX_LOG_ERROR) return shape;

    // The phase is zero on the sample before the first that is not: f1 L
    // rounds to its whole number there, which places the start exactly.
    shape.lSeconds = 1.0 / slope;
    const double start = first > 0 ? double(first - 1) : 0.0;
    const double k = std::max(1.0, std::round(std::exp(intercept + slope * start / rate) * shape.lSeconds));
    shape.f1 = k / shape.lSeconds;
    shape.startFrame = (std::log(shape.f1) - intercept) / slope * rate;
    shape.f2 = std::exp(intercept + slope * double(last) / rate);
    shape.found = true;
    return shape;
}
