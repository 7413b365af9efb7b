#pragma once

#include <bit>
#include <cstdint>

#include "synth/exact_float.h"

// The only transcendental functions the synthesis uses. Every sample, every
// ramp gain and the amplitude go through these, so planning's count-only run
// and rendering compute the same values.
//
// They are the project's own and use only IEEE double +, -, *, / and exact
// operations, so the Linux, Windows i686 (SSE2) and Windows x86-64 builds give
// the same bits, which the C libraries' functions do not. Each result is
// within one unit in the last place of the correctly rounded value.
//
// The sine is inline and branch-free so that a loop over a block of phases
// vectorises.

// sin(x + quarterTurns * pi/2), for |x| < 2^35 (a 4 GB tone's phase stays
// below 1.5e10). Larger arguments give deterministic but inaccurate values;
// infinities and NaN give NaN.
inline double ToneSinQuarterShifted(double x, uint64_t quarterTurns)
{
    // Adding 1.5 * 2^52 rounds a double below 2^51 to an integer, and leaves
    // that integer in the low bits of the sum.
    constexpr double ROUND = 0x1.8p52;
    const double t = x * 0x1.45f306dc9c883p-1 + ROUND;  // x * 2/pi
    const double k = t - ROUND;

    // x - k*pi/2 with pi/2 cut into pieces of at most 18 bits: k has at most
    // 35 bits, so each product k*piece is exact, and the first three
    // subtractions are exact because the pieces end on ever finer grids.
    double s = x - k * 0x1.921f8p+0;
    s = s - k * 0x1.aa22p-19;
    s = s - k * 0x1.68cp-39;
    // The rest of k*pi/2 (below 2^-18) as a double-double: where x is close
    // to a multiple of pi/2 it cancels s to as little as 2^-61, so pi/2 must
    // be known to about 145 bits. Two more exact pieces, then a plain double
    // whose rounded product errs by less than 2^-110.
    const double p4 = k * 0x1.1a62p-54;
    const double p5 = k * 0x1.8cc5p-72;
    const double tailHi = p4 + p5;
    const double tailLo = ((p4 - tailHi) + p5) + k * 0x1.701b839a25205p-92;
    // s - tail with its rounding error (fast two-sum). It is exact even
    // where |s| < |tail|: s then lies on the 2^-53 grid, which is coarser
    // than the tail's last place. The pair (r, rLo) need not be normalised:
    // rLo enters the polynomials only to first order.
    const double r = s - tailHi;  // |r| <= pi/4 (a hair more)
    const double rLo = ((s - r) - tailHi) - tailLo;

    // Quadrant q = k + quarterTurns (mod 4): q odd takes the cosine, q = 2, 3
    // negate.
    const uint64_t q = std::bit_cast<uint64_t>(t) + quarterTurns;
    // All ones where q is odd. The selections below are bitwise: a
    // conditional select made GCC keep a branch, which blocks the AVX2
    // vectoriser (only AVX-512's masks if-converted it).
    const uint64_t cosMask = 0 - (q & 1);

    // Minimax polynomials on |r| <= pi/4: sin r = r + r^3 S(r^2),
    // cos r = 1 - r^2/2 + r^4 C(r^2); the low part enters to first order.
    // S and C have the same form, so each sample evaluates only the one it
    // takes, with the other's coefficients selected in (a third fewer
    // operations); the result is the same in every bit.
    const double z = r * r;
    const auto c = [cosMask](double sinValue, double cosValue) {
        return std::bit_cast<double>((std::bit_cast<uint64_t>(cosValue) & cosMask) |
                                     (std::bit_cast<uint64_t>(sinValue) & ~cosMask));
    };
    // clang-format off
    const double poly =
        c(-0x1.5555555555549p-3, 0x1.555555555554cp-5) + z * (c(0x1.111111110f871p-7, -0x1.6c16c16c15173p-10)
        + z * (c(-0x1.a01a019c105c7p-13, 0x1.a01a019cb0b21p-16) + z * (c(0x1.71de35769816ap-19, -0x1.27e4f80926cdap-22)
        + z * (c(-0x1.ae5e6551b4a56p-26, 0x1.1ee9eb5a901fcp-29) + z * c(0x1.5d92bb2a05afdp-33, -0x1.8fae4ff573086p-37)))));
    // clang-format on
    const double halfZ = 0.5 * z;
    const double w = 1.0 - halfZ;
    const double sinR = r + (rLo * w + (r * z) * poly);
    const double cosR = w + (((1.0 - w) - halfZ) + ((z * z) * poly - r * rLo));
    const double result = c(sinR, cosR);
    return std::bit_cast<double>(std::bit_cast<uint64_t>(result) ^ ((q & 2) << 62));
}

inline double ToneSin(double x) { return ToneSinQuarterShifted(x, 0); }
inline double ToneCos(double x) { return ToneSinQuarterShifted(x, 1); }

// 10^y, for |y| <= 300. The amplitude is computed as TonePow10((C - A) / 20).
double TonePow10(double y);

// e^x, for |x| <= 700: the synchronised sweep's frequency and time constants.
double ToneExp(double x);
// ln x, for normal positive x: Newton's steps on ToneExp, within a unit or
// two in the last place (the sweep's length and fades need no more).
double ToneLog(double x);
