#include "synth/tone_math.h"

#include <limits>

#include "synth/double_double.h"

namespace {

using DoubleDouble = ToneDoubleDouble;

// e^(p.hi + p.lo), |p| <= 700: 2^n * e^r with p = n*ln2 + r, |r| <= ln2/2.
double ExpOfDoubleDouble(DoubleDouble p)
{
    constexpr double ROUND = 0x1.8p52;
    const double n = (p.hi * 0x1.71547652b82fep+0 + ROUND) - ROUND;  // * 1/ln2
    // ln2's high part has 41 bits, so n*ln2Hi is exact and so is the
    // subtraction (the difference is below 1/2 on the grid of p.hi).
    const DoubleDouble r = ToneTwoSum(p.hi - n * 0x1.62e42fefa2p-1, p.lo - n * 0x1.9ef35793c7673p-41);

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

}  // namespace

double TonePow10(double y)
{
    // y*ln10 is carried as a double-double: an error of one unit in it
    // would cost up to 23 units in the result.
    DoubleDouble p = ToneTwoProduct(y, 0x1.26bb1bbb55516p+1);  // ln 10, high part
    p.lo += y * -0x1.f48ad494ea3e9p-53;                        // ln 10, low part
    return ExpOfDoubleDouble(p);
}

double ToneExp(double x) { return ExpOfDoubleDouble({x, 0.0}); }

double ToneLog(double x)
{
    if (!(x >= 0x1p-1022) || !(x < 0x1p1023)) return std::numeric_limits<double>::quiet_NaN();
    // x = m * 2^e with m in [1, 2); ln x ~ e ln2 + (m - 1) within 0.31, then
    // Newton's steps y += x e^-y - 1 (quadratic: 0.31 -> 0.05 -> ... below
    // 2^-80 after six), each through ToneExp.
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const double e = double(int64_t(bits >> 52) - 1023);
    const double m = std::bit_cast<double>((bits & 0xfffffffffffffull) | 0x3ff0000000000000ull);
    double y = e * 0x1.62e42fefa39efp-1 + (m - 1.0);
    for (int i = 0; i < 6; ++i)
        y = y + (x / ToneExp(y) - 1.0);
    return y;
}
