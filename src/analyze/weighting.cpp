// The A-weighting curve of IEC 61672-1, from its analytic poles.

#include "analyze/weighting.h"

#include <cmath>

namespace {

constexpr double POLE_1_HZ = 20.6;
constexpr double POLE_2_HZ = 107.7;
constexpr double POLE_3_HZ = 737.9;
constexpr double POLE_4_HZ = 12194.0;
constexpr double REFERENCE_HZ = 1000.0;

// R_A(f) squared: only sums, products and one division, the same on every build.
double ResponsePower(double hz)
{
    const double f2 = hz * hz;
    const double p1 = POLE_1_HZ * POLE_1_HZ, p2 = POLE_2_HZ * POLE_2_HZ, p3 = POLE_3_HZ * POLE_3_HZ,
                 p4 = POLE_4_HZ * POLE_4_HZ;
    const double numerator = p4 * (f2 * f2);
    const double outer = (f2 + p1) * (f2 + p4);
    return (numerator * numerator) / ((outer * outer) * ((f2 + p2) * (f2 + p3)));
}

}  // namespace

double AnalyzeAWeightingPower(double hz)
{
    if (!(hz > 0) || !std::isfinite(hz)) return 0.0;
    return ResponsePower(hz) / ResponsePower(REFERENCE_HZ);
}
