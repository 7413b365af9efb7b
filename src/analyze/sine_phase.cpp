// The phase of far frames from a split frequency, and the fitted sine's value.

#include "analyze/sine_phase.h"

#include <cmath>

AnalyzeCycleRate AnalyzeSplitRate(double nu)
{
    AnalyzeCycleRate r;
    r.hi = std::round(nu * 0x1p20) * 0x1p-20;
    r.mid = std::round((nu - r.hi) * 0x1p40) * 0x1p-40;
    r.lo = (nu - r.hi) - r.mid;
    return r;
}

double AnalyzeCycles(const AnalyzeCycleRate& rate, int64_t t)
{
    const double tt = double(t);  // exact: |t| < 2^53
    double a = rate.hi * tt;
    a -= std::round(a);
    double b = rate.mid * tt;
    b -= std::round(b);
    double v = (a + b) + rate.lo * tt;
    return v - std::round(v);
}

double AnalyzeSineAt(const AnalyzeSine& sine, const AnalyzeCycleRate& rate, int64_t n, bool unit)
{
    const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, n - sine.origin);
    const double v = sine.a * std::cos(angle) + sine.b * std::sin(angle);
    if (unit) return v / std::hypot(sine.a, sine.b);
    return v + sine.offset;
}
