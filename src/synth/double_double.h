#pragma once

#include "synth/exact_float.h"

// A value carried as hi + lo, about 106 bits, made from IEEE +, -, *, / alone
// (Dekker, "A floating-point technique for extending the available
// precision", 1971; Knuth's two-sum): each step keeps its rounding error.
struct ToneDoubleDouble {
    double hi;
    double lo;
};

// pi / 2 to 106 bits.
inline constexpr ToneDoubleDouble TONE_HALF_PI = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};

// a * b exactly, by splitting both into 26-bit halves (no fused multiply-add).
inline ToneDoubleDouble ToneTwoProduct(double a, double b)
{
    constexpr double SPLIT = 134217729.0;  // 2^27 + 1
    const double ca = SPLIT * a;
    const double aHi = ca - (ca - a);
    const double aLo = a - aHi;
    const double cb = SPLIT * b;
    const double bHi = cb - (cb - b);
    const double bLo = b - bHi;
    const double p = a * b;
    return {p, (((aHi * bHi - p) + aHi * bLo) + aLo * bHi) + aLo * bLo};
}

// a + b exactly, whatever their magnitudes.
inline ToneDoubleDouble ToneTwoSum(double a, double b)
{
    const double s = a + b;
    const double bv = s - a;
    return {s, (a - (s - bv)) + (b - bv)};
}

// hi + lo renormalised, for |hi| >= |lo| (or hi zero).
inline ToneDoubleDouble ToneQuickTwoSum(double hi, double lo)
{
    const double s = hi + lo;
    return {s, lo - (s - hi)};
}

inline ToneDoubleDouble ToneDoubleDoubleAdd(ToneDoubleDouble a, ToneDoubleDouble b)
{
    const ToneDoubleDouble s = ToneTwoSum(a.hi, b.hi);
    return ToneQuickTwoSum(s.hi, s.lo + (a.lo + b.lo));
}

inline ToneDoubleDouble ToneDoubleDoubleMul(ToneDoubleDouble a, ToneDoubleDouble b)
{
    const ToneDoubleDouble p = ToneTwoProduct(a.hi, b.hi);
    return ToneQuickTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a / b for a double b, with one correction step.
inline ToneDoubleDouble ToneDoubleDoubleDiv(ToneDoubleDouble a, double b)
{
    const double q = a.hi / b;
    const ToneDoubleDouble p = ToneTwoProduct(q, b);
    const double rest = ((a.hi - p.hi) - p.lo) + a.lo;
    return ToneQuickTwoSum(q, rest / b);
}
