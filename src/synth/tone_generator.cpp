#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/vector_clones.h"
#include "synth/tone.h"
#include "synth/tone_fraction.h"
#include "synth/tone_math.h"
#include "synth/tone_phase.h"

double ToneRampGain(uint32_t length, uint32_t k, double amplitude)
{
    // Exact sums and products of 32-bit integers as doubles: a conversion from
    // a 64-bit integer has no AVX2 instruction and would keep the loop scalar.
    const double x = (double(length) + double(k)) / (double(length) * 2.0);
    const double h = 0.42 - 0.5 * ToneCos(x * 6.28318530718);
    return (0.08 * ToneCos(x * 12.56637061436) + h) * amplitude;
}

namespace {

enum class Gain { Sustain, RampUp, RampDown };

// The loops over a chunk are also built for AVX2 and AVX-512 where the
// system picks a version by the processor: four or eight sines at once
// instead of two, the same values from each.
// Samples of one chunk: gains[i] x sin(phases[i]), truncated toward zero;
// returns their sum. |x| < 2^31 always (gain <= amplitude), so the
// conversion truncates safely.
VECTOR_CLONES_512 int64_t SineChunk(const double* phases, const double* gains, int32_t* v, uint32_t n)
{
    int64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = int32_t(ToneSin(phases[i]) * gains[i]);
        sum += v[i];
    }
    return sum;
}

// The same at one gain, the sustain's.
VECTOR_CLONES_512 int64_t SineChunkAt(const double* phases, double gain, int32_t* v, uint32_t n)
{
    int64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = int32_t(ToneSin(phases[i]) * gain);
        sum += v[i];
    }
    return sum;
}

// Exact-phase samples: gains[i] x sines[i] (or one gain), truncated; their sum.
VECTOR_CLONES int64_t ScaleChunk(const double* sines, const double* gains, int32_t* v, uint32_t n)
{
    int64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = int32_t(sines[i] * gains[i]);
        sum += v[i];
    }
    return sum;
}

VECTOR_CLONES int64_t ScaleChunkAt(const double* sines, double gain, int32_t* v, uint32_t n)
{
    int64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = int32_t(sines[i] * gain);
        sum += v[i];
    }
    return sum;
}

// n values copied; their sum. (Apart, so that it vectorises: measured 8
// instructions a sample inlined into the kernel.)
VECTOR_CLONES int64_t CopySum(const int32_t* __restrict from, int32_t* __restrict to, uint32_t n)
{
    int64_t sum = 0;
    for (uint32_t k = 0; k < n; ++k) {
        to[k] = from[k];
        sum += from[k];
    }
    return sum;
}

// Sustain samples at..at + n - 1 copied from the kept period; their sum.
int64_t CopyPeriod(const ToneGenerator::Plan& p, uint32_t at, int32_t* v, uint32_t n)
{
    int64_t sum = 0;
    uint32_t j = at % p.sustainPeriodLength;
    for (uint32_t i = 0; i < n;) {
        const uint32_t run = std::min(n - i, p.sustainPeriodLength - j);
        sum += CopySum(p.sustainPeriod.get() + j, v + i, run);
        i += run;
        j = 0;
    }
    return sum;
}

// Ramp gains first, first + step, ... of a ramp of `length` samples.
VECTOR_CLONES_512 void RampGains(uint32_t length, uint32_t first, int32_t step, double amplitude,
                                 double* gains, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        gains[i] = ToneRampGain(length, first + uint32_t(step) * i, amplitude);
}

// Phases of n samples of one segment of the phase table, from its j0-th on.
VECTOR_CLONES_512 void SegmentPhases(const TonePhaseSegment& s, double j0, double* phases, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        phases[i] = s.first + (j0 + double(i)) * s.delta;
}

// The one sample loop behind all six kernels. The plain kernels add every
// value to dcSum, also when only counting; the corrected ones spread the
// fractional DC correction instead.
//
// Samples are made a chunk at a time: first the running phases, from the
// plan's phase table (or as a serial sum where the chunk is not within one
// segment of it), then the sines, which then have no dependency between
// them and vectorise. The values are those of a sample-by-sample loop.
template <Gain G, bool Corrected>
void Kernel(ToneGenerator& g, int32_t* out, uint32_t count)
{
    constexpr uint32_t CHUNK = BLOCK_FRAMES;
    const ToneGenerator::Plan& plan = g.plan;
    ToneGenerator::Run& run = g.run;
    double phases[CHUNK];
    double gains[CHUNK];
    int32_t scratch[CHUNK];
    double phase = run.phase;
    const double step = plan.phaseStep;
    int64_t sum = 0;
    const TonePhaseSegment* segment = nullptr;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(CHUNK, count - done);
        const uint32_t at = run.position + done;
        if (!plan.exactPhase && plan.phases.used && (!segment || at - segment->start >= segment->count))
            segment = TonePhaseFind(plan.phases, at);
        if (plan.exactPhase) {
            // Here `phases` holds the sines themselves; nothing runs on.
            if (G != Gain::Sustain || plan.sustainPeriodLength == 0)
                ToneExactPhaseSines(plan.exact, at + 1, n, phases);
        } else if (segment && at + n - segment->start <= segment->count) {
            SegmentPhases(*segment, double(at - segment->start), phases, n);
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                phase += step;
                phases[i] = phase;
            }
        }
        if (!plan.exactPhase) phase = phases[n - 1];
        // The ramp-up reads the gains from the last to the first, the
        // ramp-down from the first to the last: mirror images.
        if constexpr (G == Gain::RampUp)
            RampGains(plan.rampLength, plan.rampLength - 1 - at, -1, plan.amplitude, gains, n);
        else if constexpr (G == Gain::RampDown)
            RampGains(plan.rampLength, at - ToneRampDownStart(plan), 1, plan.amplitude, gains, n);
        int32_t* v = out ? out + done : scratch;
        int64_t chunkSum;
        if (plan.exactPhase && G == Gain::Sustain && plan.sustainPeriodLength != 0)
            chunkSum = CopyPeriod(plan, at, v, n);
        else if (plan.exactPhase)
            chunkSum = G == Gain::Sustain ? ScaleChunkAt(phases, plan.amplitude, v, n)
                                          : ScaleChunk(phases, gains, v, n);
        else
            chunkSum = G == Gain::Sustain ? SineChunkAt(phases, plan.amplitude, v, n)
                                          : SineChunk(phases, gains, v, n);
        if constexpr (Corrected) {
            ToneAddFraction(run.dcFraction, plan.dcPerSample, v, n);
        } else {
            sum += chunkSum;
        }
        done += n;
    }
    run.phase = phase;
    run.position += count;
    if constexpr (!Corrected) run.dcSum += sum;
}

}  // namespace

double ToneAmplitude(int32_t bitWidth, uint32_t attenuation)
{
    if (bitWidth == 24)
        return attenuation == 0 ? PEAK_0DB_24 : TonePow10((FULL_SCALE_DB_24 - attenuation) / 20);
    if (attenuation == 0) return bitWidth == 16 ? PEAK_0DB_16 : PEAK_0DB_32;
    return TonePow10((FULL_SCALE_DB_32 - attenuation) / 20);
}

void ToneResetRun(ToneGenerator& g) { g.run = {.dcSteps = g.plan.dcSteps}; }

// clang-format off
void ToneSustain(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::Sustain, false>(g, out, count); }
void ToneRampUp(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampUp, false>(g, out, count); }
void ToneRampDown(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampDown, false>(g, out, count); }
void ToneSustainCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::Sustain, true>(g, out, count); }
void ToneRampUpCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampUp, true>(g, out, count); }
void ToneRampDownCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampDown, true>(g, out, count); }
// clang-format on

void ToneMake(ToneGenerator& g, int32_t* out, uint32_t count)
{
    const ToneGenerator::Plan& plan = g.plan;
    const bool corrected = plan.fractionalDc != 0;
    const uint32_t rampDownStart = ToneRampDownStart(plan);
    while (count > 0) {
        const uint32_t at = g.run.position;
        uint32_t n;
        if (at < plan.rampLength) {
            n = std::min(count, plan.rampLength - at);
            (corrected ? ToneRampUpCorrected : ToneRampUp)(g, out, n);
        } else if (at < rampDownStart) {
            n = std::min(count, rampDownStart - at);
            (corrected ? ToneSustainCorrected : ToneSustain)(g, out, n);
        } else {
            n = count;  // the caller stops at the end of the tone
            (corrected ? ToneRampDownCorrected : ToneRampDown)(g, out, n);
        }
        if (out) out += n;
        count -= n;
    }
}
