#pragma once

#include <cmath>

// Counts of a signal's frames are 32-bit: every file stays below this.
inline constexpr double TONE_FRAMES_LIMIT = 0x1p32;

// The nearest whole number, halves away from zero, for v >= 0 (floor(v +
// 0.5) would round 0.49999999999999994 up).
inline double ToneRoundHalfAway(double v)
{
    const double f = std::floor(v);
    return v - f >= 0.5 ? f + 1.0 : f;
}
