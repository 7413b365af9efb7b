#include "synth/tone_math.h"

namespace {

struct DoubleDouble {
    double hi;
    double lo;
};

// a * b exactly, by splitting both into 26-bit halves (no fused multiply-add).
DoubleDouble TwoProduct(double a, double b)
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

DoubleDouble TwoSum(double a, double b)
{
    const double s = a + b;
    const double bv = s - a;
    return {s, (a - (s - bv)) + (b - bv)};
}

}  // namespace

double TonePow10(double y)
{
    // 10^y = 2^n * e^r with y*ln10 = n*ln2 + r, |r| <= ln2/2. y*ln10 is
    // carried as a double-double: an error of one unit in it would cost up
    // to 23 units in the result.
    DoubleDouble p = TwoProduct(y, 0x1.26bb1bbb55516p+1);  // ln 10, high part
    p.lo += y * -0x1.f48ad494ea3e9p-53;                    // ln 10, low part

    constexpr double ROUND = 0x1.8p52;
    const double n = (p.hi * 0x1.71547652b82fep+0 + ROUND) - ROUND;  // * 1/ln2
    // ln2's high part has 41 bits, so n*ln2Hi is exact and so is the
    // subtraction (the difference is below 1/2 on the grid of p.hi).
    const DoubleDouble r = TwoSum(p.hi - n * 0x1.62e42fefa2p-1, p.lo - n * 0x1.9ef35793c7673p-41);

    // e^r = 1 + r + r^2 E(r), E from the Taylor series to r^14 (its error is
    // below 2^-62 here); 1 + r is kept exactly as a double-double.
    const double x = r.hi;
    // clang-format off
    const double e =
        0x1p-1 + x * (0x1.5555555555555p-3 + x * (0x1.5555555555555p-5 + x * (0x1.1111111111111p-7
        + x * (0x1.6c16c16c16c17p-10 + x * (0x1.a01a01a01a01ap-13 + x * (0x1.a01a01a01a01ap-16
        + x * (0x1.71de3a556c734p-19 + x * (0x1.27e4fb7789f5cp-22 + x * (0x1.ae64567f544e4p-26
        + x * (0x1.1eed8eff8d898p-29 + x * (0x1.6124613a86d09p-33 + x * 0x1.93974a8c07c9dp-37)))))))))));
    // clang-format on
    const double oneHi = 1.0 + x;
    const double oneLo = (1.0 - oneHi) + x;
    const double expR = oneHi + (oneLo + (r.lo * (1.0 + x) + (x * x) * e));

    const uint64_t biased = static_cast<uint64_t>(static_cast<int64_t>(n) + 1023);
    return expR * std::bit_cast<double>(biased << 52);
}
