#include "synth/sweep.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "base/vector_clones.h"
#include "synth/signal_counts.h"
#include "synth/tone.h"
#include "synth/tone_math.h"

namespace {

constexpr double ROUND = 0x1.8p52;  // added, rounds a double below 2^51 to an integer

ToneDoubleDouble Dd(double v) { return {v, 0.0}; }

// e^u for 0 <= u < 700 to about 100 bits: u = k ln2 + r, then e^(r/1024) - 1
// by its Taylor series, squared back ten times as m <- m (m + 2) (which keeps
// the relative precision of e^s - 1), times 2^k.
ToneDoubleDouble ExpDoubleDouble(ToneDoubleDouble u)
{
    // ln 2 in three pieces; the first two have 40 bits, so k times them is exact.
    constexpr double LN2_A = 0x1.62e42fefa4000p-1;
    constexpr double LN2_B = -0x1.8432a1b0e2000p-43;
    constexpr double LN2_C = -0x1.8cff81a12a17ep-85;
    const double k = (u.hi * 0x1.71547652b82fep+0 + ROUND) - ROUND;
    ToneDoubleDouble r = ToneDoubleDoubleAdd({u.hi - k * LN2_A, u.lo}, Dd(-k * LN2_B));
    const ToneDoubleDouble kc = ToneTwoProduct(k, LN2_C);
    r = ToneDoubleDoubleAdd(r, {-kc.hi, -kc.lo});
    const ToneDoubleDouble s = {r.hi * 0x1p-10, r.lo * 0x1p-10};  // |s| < 2^-11
    ToneDoubleDouble m = Dd(1.0);
    for (int i = 12; i >= 2; --i)
        m = ToneDoubleDoubleAdd(Dd(1.0), ToneDoubleDoubleDiv(ToneDoubleDoubleMul(s, m), double(i)));
    m = ToneDoubleDoubleMul(s, m);
    for (int i = 0; i < 10; ++i)
        m = ToneDoubleDoubleMul(m, ToneDoubleDoubleAdd(m, Dd(2.0)));
    const ToneDoubleDouble e = ToneDoubleDoubleAdd(Dd(1.0), m);
    const double scale = std::bit_cast<double>(uint64_t(int64_t(k) + 1023) << 52);
    return {e.hi * scale, e.lo * scale};
}

// K e^(g BLOCK_FRAMES / (rate L)): the phase of a group of samples, less K.
ToneDoubleDouble GroupScale(const ToneSweep& p, uint32_t group)
{
    const ToneDoubleDouble u = ToneDoubleDoubleMul(Dd(double(group) * BLOCK_FRAMES), p.perSample);
    return ToneDoubleDoubleMul(Dd(p.wholeK), ExpDoubleDouble(u));
}

// K e^(n / (rate L)) - K from the group's scale and the step within it.
inline ToneDoubleDouble Cycles(ToneDoubleDouble groupScale, ToneDoubleDouble step, double wholeK)
{
    const ToneDoubleDouble e = ToneDoubleDoubleMul(groupScale, step);
    const ToneDoubleDouble d = ToneTwoSum(e.hi, -wholeK);
    return ToneQuickTwoSum(d.hi, d.lo + e.lo);
}

// sin(2 pi c) for c >= 0 below 2^49 cycles: the nearest quarter turn is
// taken off exactly, the rest (at most an eighth of a turn) becomes the angle.
inline double SinOfCycles(ToneDoubleDouble c)
{
    const double four = c.hi * 4.0;
    const double rounded = four + ROUND;
    const double t = (four - (rounded - ROUND)) + c.lo * 4.0;
    const double angle = t * TONE_HALF_PI.hi + t * TONE_HALF_PI.lo;
    return ToneSinQuarterShifted(angle, std::bit_cast<uint64_t>(rounded));
}

// Samples of a stretch of one group: no dependency between them.
VECTOR_CLONES_512 void Samples(const ToneDoubleDouble* steps, ToneDoubleDouble groupScale, double wholeK,
                               const double* gains, int32_t* out, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        out[i] = int32_t(SinOfCycles(Cycles(groupScale, steps[i], wholeK)) * gains[i]);
}

bool AtLeast(ToneDoubleDouble c, double whole) { return c.hi > whole || (c.hi == whole && c.lo >= 0.0); }

// The first sample whose phase reaches `whole` cycles, from an estimate by
// the inverse ln(1 + c/K) rate L, corrected by the phase itself.
uint32_t FirstReaching(const ToneSweep& p, double whole)
{
    const double estimate = std::ceil(ToneLog(1.0 + whole / p.wholeK) / p.perSample.hi);
    uint32_t n = uint32_t(std::min(std::max(estimate, 0.0), TONE_FRAMES_LIMIT - 1.0));
    while (n > 0 && AtLeast(ToneSweepCycles(p, n - 1), whole))
        --n;
    while (n < 0xffffffffu && !AtLeast(ToneSweepCycles(p, n), whole))
        ++n;
    return n;
}

double Floor(ToneDoubleDouble c)
{
    const double f = std::floor(c.hi);
    return f == c.hi && c.lo < 0.0 ? f - 1.0 : f;
}

double Ceil(ToneDoubleDouble c)
{
    const double f = std::ceil(c.hi);
    return f == c.hi && c.lo > 0.0 ? f + 1.0 : f;
}

}  // namespace

ToneDoubleDouble ToneSweepCycles(const ToneSweep& p, uint32_t n)
{
    return Cycles(GroupScale(p, n / BLOCK_FRAMES), p.steps[n % BLOCK_FRAMES], p.wholeK);
}

double ToneSweepSin(const ToneSweep& p, uint32_t n) { return SinOfCycles(ToneSweepCycles(p, n)); }

const char* ToneSweepPlan(ToneSweep& p, double from, double to, double seconds, double silence, uint32_t rate,
                          double amplitude)
{
    if (!(from > 0.0) || !std::isfinite(from)) return "the sweep must start above 0 Hz";
    if (!(to > from)) return "the sweep must rise: its end above its start";
    if (!(to * 2.0 < double(rate))) return "the sweep must end below half the sample rate";
    if (!(seconds > 0.0) || !(silence >= 0.0) || !(seconds + silence < TONE_FRAMES_LIMIT))
        return "the sweep's length and silence must be positive and finite";
    p = {};
    p.rate = rate;
    p.amplitude = amplitude;
    const double lnRatio = ToneLog(to / from);
    p.wholeK = ToneRoundHalfAway(from * seconds / lnRatio);
    if (p.wholeK < 1.0) return "the sweep is too short for one cycle of its start frequency";
    // The sweep's nominal end, rate L ln(f2/f1) samples, must fit the counts.
    const double rateK = double(rate) * p.wholeK;
    const double end = rateK / from * lnRatio;
    const double silenceFrames = ToneRoundHalfAway(silence * rate);
    if (!(end + silenceFrames < TONE_FRAMES_LIMIT - 1.0) || !(rateK < 0x1p53)) return "the sweep is too long";
    p.perSample = ToneDoubleDoubleDiv(Dd(from), rateK);
    for (uint32_t i = 0; i < BLOCK_FRAMES; ++i)
        p.steps[i] = ExpDoubleDouble(ToneDoubleDoubleMul(Dd(double(i)), p.perSample));

    // Whole cycles up to the nominal end; the sweep stops before the first
    // sample that reaches them.
    p.wholeCycles = Floor(ToneSweepCycles(p, uint32_t(end)));
    if (p.wholeCycles < 1.0) return "the sweep is too short for one cycle of its start frequency";
    p.sweepFrames = FirstReaching(p, p.wholeCycles);
    // Fades over the fewest whole cycles covering RAMP_MIN_SECONDS at each end.
    const double minFrames = std::ceil(RAMP_MIN_SECONDS * rate);
    if (!(minFrames * 2.0 < p.sweepFrames)) return "the sweep is too short for its fades";
    p.rampIn = FirstReaching(p, Ceil(ToneSweepCycles(p, uint32_t(minFrames))));
    p.rampOutStart = FirstReaching(p, Floor(ToneSweepCycles(p, p.sweepFrames - uint32_t(minFrames))));
    if (p.rampIn > p.rampOutStart) return "the sweep is too short for its fades";
    p.totalFrames = p.sweepFrames + uint32_t(silenceFrames);
    return nullptr;
}

void ToneSweepMake(const ToneSweep& p, uint32_t first, uint32_t count, int32_t* out)
{
    const uint32_t rampOut = p.sweepFrames - p.rampOutStart;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = first + done;
        const uint32_t group = n / BLOCK_FRAMES;
        const uint32_t within = n % BLOCK_FRAMES;
        const uint32_t run = std::min(BLOCK_FRAMES - within, count - done);
        if (n >= p.sweepFrames) {
            std::fill(out + done, out + done + run, 0);
            done += run;
            continue;
        }
        double gains[BLOCK_FRAMES];
        if (n >= p.rampIn && n + run <= p.rampOutStart)
            std::fill(gains, gains + run, p.amplitude);  // between the fades
        else
            for (uint32_t i = 0; i < run; ++i) {
                const uint32_t at = n + i;
                gains[i] = at >= p.sweepFrames    ? 0.0
                           : at < p.rampIn        ? ToneRampGain(p.rampIn, p.rampIn - 1 - at, p.amplitude)
                           : at >= p.rampOutStart ? ToneRampGain(rampOut, at - p.rampOutStart, p.amplitude)
                                                  : p.amplitude;
            }
        Samples(p.steps + within, GroupScale(p, group), p.wholeK, gains, out + done, run);
        done += run;
    }
}
