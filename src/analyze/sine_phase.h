#pragma once

#include <cstdint>

#include "analyze/analyze.h"

// The phase of far frames, exact: what lets a fit over 10^9 frames see frame
// 10^9 as precisely as frame 1.

inline constexpr double ANALYZE_TWO_PI = 6.283185307179586;

// A frequency in cycles per sample split so that its product with any frame
// offset below 2^33 has an exact fractional part: the phase of frame 10^9
// is then as precise as that of frame 1.
struct AnalyzeCycleRate {
    double hi = 0.0;   // at most 20 significant bits
    double mid = 0.0;  // the next 20 bits
    double lo = 0.0;   // the rest
};
AnalyzeCycleRate AnalyzeSplitRate(double nu);
// The phase of frame offset t in cycles, reduced to [-0.5, 0.5].
double AnalyzeCycles(const AnalyzeCycleRate& rate, int64_t t);

// The fitted sine's value at frame n (unit amplitude when `unit`).
double AnalyzeSineAt(const AnalyzeSine& sine, const AnalyzeCycleRate& rate, int64_t n, bool unit);
