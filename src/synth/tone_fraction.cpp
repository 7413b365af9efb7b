#include "synth/tone_fraction.h"

#include <bit>
#include <cmath>

#include "synth/tone_saturate.h"

namespace {

constexpr int MANTISSA_BITS = 52;
constexpr uint64_t EXPONENT_MASK = 0x7FFull << MANTISSA_BITS;
// A stride is looked for from a fraction this many steps from 0 on.
constexpr double STRIDE_MIN = 16;

// How many more additions of step to `after` (one addition past `before`)
// give `after` + k x (after - before) exactly, k = 1, 2, ...: while the sum
// stays in the binade [2^e, 2^(e+1)) of both, whose doubles are the
// multiples of u = 2^(e-52), adding step rounds it to the same multiple of
// u each time, unless step lies exactly half-way between two (a tie, which
// rounds by the last bit of the sum). The binade's top is at most 1, where
// the unit leaves the fraction. 0 where this does not hold.
uint64_t StepsAlike(double before, double after, double step)
{
    const uint64_t a = std::bit_cast<uint64_t>(before);
    const uint64_t b = std::bit_cast<uint64_t>(after);
    const uint64_t exponent = a & EXPONENT_MASK;
    // Both in one binade (which sets their signs alike), far above the
    // subnormals; step of their sign.
    if ((a ^ b) >> MANTISSA_BITS != 0 || exponent <= uint64_t(MANTISSA_BITS) << MANTISSA_BITS ||
        std::signbit(step) != std::signbit(before))
        return 0;
    const double u = std::bit_cast<double>(exponent - (uint64_t(MANTISSA_BITS) << MANTISSA_BITS));
    const double top = std::bit_cast<double>(exponent + (uint64_t(1) << MANTISSA_BITS));
    // Exact: after and before are within a factor of two; so are step and
    // its rounding, or the rounding is 0.
    const double rounded = std::fabs(after - before);
    if (std::fabs(std::fabs(step) - rounded) == 0.5 * u) return 0;
    if (rounded == 0) return UINT64_MAX;  // step below half a unit of the sum: it stays
    // The sum stays below top for k x s <= m - 1 (m, s: integers, in units u).
    const uint64_t m = uint64_t((top - std::fabs(after)) / u);
    const uint64_t s = uint64_t(rounded / u);
    return (m - 1) / s;
}

}  // namespace

void ToneAddFraction(double& fraction, double step, int32_t* v, uint32_t n)
{
    // One addition at a time would be a chain of n dependent additions; the
    // ones that the rounding makes alike are taken at once, so only the
    // units and the crossings of binades take a step each. A stride is only
    // looked for where it can be long (measured on 480000 samples: at a
    // step of 0.04, 0.75 ms instead of 1.3 ms looking at every sample; the
    // one-by-one sum takes 0.8 ms).
    const double strideFrom = STRIDE_MIN * std::fabs(step);
    double f = fraction;
    for (uint32_t i = 0; i < n; ++i) {
        const double before = f;
        f += step;
        if (std::fabs(f) >= 1.0) {
            // std::modf, inline: the whole part is exact in 64 bits (|f| <
            // 2^32), the rest exact, signed as f (also when 0).
            const int64_t whole = int64_t(f);
            f = std::copysign(f - double(whole), f);
            v[i] = ToneSaturate(int64_t(v[i]) + whole);
            continue;
        }
        if (std::fabs(f) < strideFrom) continue;
        const uint64_t alike = StepsAlike(before, f, step);
        const uint32_t take = alike < n - 1 - i ? uint32_t(alike) : n - 1 - i;
        if (take > 0) {
            f += double(take) * (f - before);  // exact: a multiple of u in the binade
            i += take;
        }
    }
    fraction = f;
}
