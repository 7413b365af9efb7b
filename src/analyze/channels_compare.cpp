// Gain, phase and crosstalk between channels.

#include "analyze/channels_compare.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analyze/pass.h"
#include "analyze/sine_fit.h"
#include "analyze/sine_phase.h"

namespace {

// Fits this many cycles apart over the shared frames are not one frequency.
constexpr double SAME_FREQUENCY_CYCLES = 0.5;
constexpr double DEGREES_PER_CYCLE = 360.0;

// The fitted sine's phasor at frame n: a cos(theta) + b sin(theta) is
// Re((a - i b) e^(i theta)), theta = 2 pi nu (n - origin); the angle in cycles.
double PhaseCycles(const AnalyzeChannelResult& c, int64_t n)
{
    const double turned = AnalyzeCycles(AnalyzeSplitRate(c.sine.nu), n - c.sine.origin);
    return turned + std::atan2(-c.sine.b, c.sine.a) / ANALYZE_TWO_PI;
}

}  // namespace

bool AnalyzeGainPhase(const AnalyzeChannelResult& reference, const AnalyzeChannelResult& other,
                      double& gainDb, double& phaseDeg)
{
    if (!reference.toneFound || !other.toneFound) return false;
    const uint64_t first = std::max(reference.sustainFirst, other.sustainFirst);
    const uint64_t end =
        std::min(reference.sustainFirst + reference.sustainFrames, other.sustainFirst + other.sustainFrames);
    if (end <= first) return false;
    if (std::fabs(reference.sine.nu - other.sine.nu) * double(end - first) > SAME_FREQUENCY_CYCLES)
        return false;
    const double ampRef = std::hypot(reference.sine.a, reference.sine.b);
    const double amp = std::hypot(other.sine.a, other.sine.b);
    if (!(ampRef > 0) || !(amp > 0)) return false;
    gainDb = 20 * std::log10(amp / ampRef);
    const int64_t middle = int64_t(first + (end - first) / 2);
    double cycles = PhaseCycles(other, middle) - PhaseCycles(reference, middle);
    cycles -= std::floor(cycles);     // [0, 1)
    if (cycles > 0.5) cycles -= 1.0;  // (-0.5, 0.5]
    phaseDeg = cycles * DEGREES_PER_CYCLE;
    return true;
}

bool AnalyzeAmplitudeAt(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu,
                        double& amplitude)
{
    // The fit's own sums (a cos, b sin, offset and the t-weighted columns,
    // unused here) at a frequency that stays put.
    AnalyzeFitState fit = AnalyzeFitBegin(first, count, nu);
    if (fit.failed) return false;
    AnalyzeBlockTable table;
    AnalyzeBuildTable(table, nu, fit.block);
    const AnalyzeCycleRate rate = AnalyzeSplitRate(nu);
    AnalyzeFitSums sums;
    WaveReader reader = file;
    std::vector<double> buffer;
    const bool ok = AnalyzeForEachRun(
        reader, channel, fit.first, fit.count, buffer, fit.block,
        [&](const double* x, uint32_t, uint64_t frame) {
            double d[6];
            AnalyzeBlockSums(x, table.c.data(), table.s.data(), table.index.data(), fit.block, d);
            AnalyzeFitAddBlock(sums, table, rate, d, int64_t(frame) - fit.origin, fit.block, fit.scale);
        });
    if (!ok) return false;
    double g[5][5], r[5], p[5];
    for (int i = 0; i < 3; ++i) {
        r[i] = sums.rhs[i].Value();
        for (int k = i; k < 3; ++k)
            g[i][k] = g[k][i] = sums.gram[i][k].Value();
    }
    if (!AnalyzeSolve(3, g, r, p)) return false;
    amplitude = std::hypot(p[0], p[1]);
    return true;
}
