#include "synth/exact_phase.h"

#include <algorithm>
#include <bit>

#include "base/vector_clones.h"
#include "synth/block_frames.h"
#include "synth/tone_math.h"

namespace {

// The high 64 bits of a * b, from 32-bit halves: portable to the 32-bit
// builds, which have no 128-bit integers.
uint64_t MulHigh(uint64_t a, uint64_t b)
{
    const uint64_t aLo = a & 0xffffffffu, aHi = a >> 32;
    const uint64_t bLo = b & 0xffffffffu, bHi = b >> 32;
    const uint64_t lolo = aLo * bLo;
    const uint64_t hilo = aHi * bLo;
    const uint64_t lohi = aLo * bHi;
    const uint64_t middle = (lolo >> 32) + (hilo & 0xffffffffu) + (lohi & 0xffffffffu);
    return aHi * bHi + (hilo >> 32) + (lohi >> 32) + (middle >> 32);
}

// The next sample's point: one step of f / rate, in integers.
ToneCyclePoint Step(const ToneExactPhase& p, ToneCyclePoint point)
{
    const uint64_t fraction = point.fraction + p.fraction;
    uint64_t units = uint64_t(point.units) + p.wholeModRate + (fraction < point.fraction ? 1 : 0);
    if (units >= p.rate) units -= p.rate;
    return {uint32_t(units), fraction};
}

// The point as whole quarter turns and the rest, rest + high / 2^32 + low /
// 2^64 units, the rest in [-rate/2, rate/2]: integers only, so that the
// chunk's serial loop is short.
struct QuarterParts {
    uint64_t quarters;
    int32_t rest;
    uint32_t high, low;
};

QuarterParts Split(const ToneExactPhase& p, ToneCyclePoint point)
{
    // 4 x point = quarters x rate + rest + the fraction's quarter4 / 2^64.
    const uint64_t rate = p.rate;
    const uint64_t four = 4 * uint64_t(point.units) + (point.fraction >> 62);
    const uint64_t quarter4 = point.fraction << 2;
    uint64_t quarters = (four >= rate ? 1 : 0) + (four >= 2 * rate ? 1 : 0) + (four >= 3 * rate ? 1 : 0);
    int64_t rest = int64_t(four - quarters * rate);
    if (2 * uint64_t(rest) + (quarter4 >> 63) >= rate) {
        quarters += 1;
        rest -= int64_t(rate);
    }
    return {quarters, int32_t(rest), uint32_t(quarter4 >> 32), uint32_t(quarter4)};
}

// A 32-bit integer as a double, exactly, in operations that vectorise.
inline double FromUnsigned(uint32_t u) { return std::bit_cast<double>(0x4330000000000000ull | u) - 0x1p52; }

// The angle of the parts, (rest + high / 2^32 + low / 2^64) (pi/2) / rate:
// the sum as a normalised double-double (each part is an exact double),
// times the constant as one.
inline double Angle(int32_t rest, uint32_t high, uint32_t low, double radiansHi, double radiansLo)
{
    const ToneDoubleDouble part = ToneTwoSum(FromUnsigned(high) * 0x1p-32, FromUnsigned(low) * 0x1p-64);
    const ToneDoubleDouble sum = ToneTwoSum(double(rest), part.hi);
    const ToneDoubleDouble v = ToneQuickTwoSum(sum.hi, sum.lo + part.lo);
    return ToneDoubleDoubleMul(v, {radiansHi, radiansLo}).hi;
}

// The sines of a chunk's parts: no dependency between samples.
VECTOR_CLONES_512 void Sines(const uint64_t* quarters, const int32_t* rests, const uint32_t* highs,
                             const uint32_t* lows, double radiansHi, double radiansLo, double* sines,
                             uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        sines[i] =
            ToneSinQuarterShifted(Angle(rests[i], highs[i], lows[i], radiansHi, radiansLo), quarters[i]);
}

}  // namespace

bool ToneExactPhasePlan(ToneExactPhase& p, double frequency, uint32_t rate)
{
    if (rate == 0 || !(frequency > 0.0) || !(frequency < 0x1p32)) return false;
    const double whole = double(uint64_t(frequency));    // exact: below 2^32
    const double scaled = (frequency - whole) * 0x1p64;  // exact: a power of two
    const double high = double(uint64_t(scaled * 0x1p-32));
    const double low = scaled - high * 0x1p32;
    if (low != double(uint64_t(low))) return false;  // bits below 2^-64
    p.rate = rate;
    p.wholeModRate = uint32_t(uint64_t(whole) % rate);
    p.fraction = (uint64_t(high) << 32) + uint64_t(low);
    p.radiansPerUnit = ToneDoubleDoubleDiv(TONE_HALF_PI, double(rate));
    return true;
}

ToneCyclePoint ToneExactPhaseAt(const ToneExactPhase& p, uint64_t n)
{
    // n f = n whole + n fraction / 2^64: the carry into the units is the high
    // half of n x fraction, the rest its low half. n x wholeModRate + carry
    // stays below 2^64 for n <= 2^32.
    const uint64_t carry = MulHigh(n, p.fraction);
    return {uint32_t((n * p.wholeModRate + carry) % p.rate), n * p.fraction};
}

double ToneExactPhaseSin(const ToneExactPhase& p, ToneCyclePoint point, uint64_t quarterTurns)
{
    const QuarterParts q = Split(p, point);
    const double angle = Angle(q.rest, q.high, q.low, p.radiansPerUnit.hi, p.radiansPerUnit.lo);
    return ToneSinQuarterShifted(angle, q.quarters + quarterTurns);
}

void ToneExactPhaseSines(const ToneExactPhase& p, uint32_t first, uint32_t count, double* sines)
{
    uint64_t quarters[BLOCK_FRAMES];
    int32_t rests[BLOCK_FRAMES];
    uint32_t highs[BLOCK_FRAMES], lows[BLOCK_FRAMES];
    ToneCyclePoint point = ToneExactPhaseAt(p, first);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min<uint32_t>(BLOCK_FRAMES, count - done);
        for (uint32_t i = 0; i < n; ++i) {
            const QuarterParts q = Split(p, point);
            quarters[i] = q.quarters;
            rests[i] = q.rest;
            highs[i] = q.high;
            lows[i] = q.low;
            point = Step(p, point);
        }
        Sines(quarters, rests, highs, lows, p.radiansPerUnit.hi, p.radiansPerUnit.lo, sines + done, n);
        done += n;
    }
}
