#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>

#include "synth/tone.h"
#include "synth/signal_counts.h"
#include "synth/tone_math.h"

namespace {

constexpr uint64_t COUNT_LIMIT = uint64_t(1) << 32;  // counts are 32-bit

uint32_t BlocksFor(uint32_t samples) { return samples / BLOCK_FRAMES + (samples % BLOCK_FRAMES > 0 ? 1 : 0); }

// The block layout that follows from where the ramp-down starts. False when
// the tone would fill fewer than two blocks or outgrow the 32-bit counts.
bool PlaceBlocks(ToneGenerator::Plan& p, uint64_t rampDownStart)
{
    const uint64_t total = rampDownStart + p.rampLength;
    if (total >= COUNT_LIMIT) return false;
    p.tailFrames = uint32_t(rampDownStart % BLOCK_FRAMES);
    p.sustainBlocks = uint32_t(rampDownStart / BLOCK_FRAMES);
    p.blockCount = BlocksFor(uint32_t(total));
    if (p.blockCount < 2) return false;
    const uint32_t rb = p.rampLength / BLOCK_FRAMES;
    const uint32_t rr = p.rampLength % BLOCK_FRAMES;
    if (p.sustainBlocks < rb) {
        p.fullSustainBlocks = 0;
    } else {
        const uint32_t diff = p.sustainBlocks - rb;
        p.fullSustainBlocks = diff != 0 && rr != 0 ? diff - 1 : diff;
    }
    return true;
}

// Samples counted between looks at the stop request: about a millisecond.
constexpr uint32_t DRY_RUN_SLICE = 1u << 16;

// Counts count samples of the tone, looking at the stop request between
// slices; false when it was made.
bool Count(ToneGenerator& g, uint32_t count, const Stop* stop)
{
    while (count > 0) {
        if (stop && stop->Requested()) return false;
        const uint32_t n = std::min(count, DRY_RUN_SLICE);
        ToneMake(g, nullptr, n);
        count -= n;
    }
    return true;
}

// The sum of the whole tone, counted from the start; when lastTwo is given,
// it also receives the last two sustain samples. False when stopped.
bool DrySum(ToneGenerator& g, int32_t* lastTwo, const Stop* stop, int64_t& sum)
{
    ToneResetRun(g);
    const uint32_t total = ToneTotalSamples(g.plan);
    if (lastTwo) {
        const uint32_t beforeThem = ToneRampDownStart(g.plan) - 2;
        if (!Count(g, beforeThem, stop)) return false;
        ToneMake(g, lastTwo, 2);
        if (!Count(g, total - beforeThem - 2, stop)) return false;
    } else if (!Count(g, total, stop)) {
        return false;
    }
    sum = g.run.dcSum;
    return true;
}

bool PositiveFinite(double v) { return v > 0.0 && std::isfinite(v); }

}  // namespace

void ToneChooseCorrection(ToneGenerator::Plan& p, int64_t dcSum)
{
    const uint64_t m = uint64_t(dcSum < 0 ? -dcSum : dcSum);
    if (m == 0) return;
    // Units go one per correction point, and a tone has fullSustainBlocks + 3
    // of them; a larger sum is spread over every sample instead.
    if (m <= uint64_t(p.fullSustainBlocks) + 3) {
        p.dcSteps = int32_t(-dcSum);
    } else {
        p.dcPerSample = -(double(dcSum) / double(ToneTotalSamples(p)));
        p.fractionalDc = 1;
    }
}

namespace {

// Everything TonePlan decides before its dry run: cycles, ramps, layout,
// amplitude and phase step. False when the request cannot be a tone;
// whole tells whether its cycles fill a whole number of samples.
bool PlanWithoutDryRun(ToneGenerator::Plan& p, bool& whole, uint32_t attenuation, int32_t bitWidth,
                       double sampleRate, double frequency, double duration)
{
    if (!PositiveFinite(sampleRate) || !PositiveFinite(frequency) || !PositiveFinite(duration)) return false;
    const double samplesPerCycle = sampleRate / frequency;
    const double period = 1.0 / frequency;

    double n;
    const double f = std::modf(frequency * duration, &n);
    if (f >= 0.5) n += 1;
    if (n < 2) return false;
    // Fewer than one sample per cycle cannot make a ramp; and every count,
    // the cycles included, must stay below 2^32.
    const double exactTotal = n * samplesPerCycle;
    if (samplesPerCycle < 1.0 || !(exactTotal < double(COUNT_LIMIT))) return false;
    const uint32_t cycles = uint32_t(n);

    const uint32_t total = uint32_t(std::floor(exactTotal));
    whole = std::fmod(exactTotal, total) == 0.0;
    if (BlocksFor(total) < 2) return false;

    const uint32_t half = cycles / 2;
    uint32_t rampCycles = half;
    if (half * period > RAMP_MIN_SECONDS) {
        double r;
        if (std::modf(RAMP_MIN_SECONDS * frequency, &r) > 0) r += 1;
        if (r < half) rampCycles = uint32_t(r);
    }

    p.rampLength = uint32_t(std::floor(rampCycles * samplesPerCycle)) - 1;
    uint64_t rampDownStart = uint64_t(std::floor((cycles - rampCycles) * samplesPerCycle)) + (whole ? 0 : 1);
    if (rampDownStart < uint64_t(p.rampLength) + 2)
        rampDownStart += 1;  // the sustain is never shorter than 2 samples
    if (!PlaceBlocks(p, rampDownStart)) return false;

    p.amplitude = ToneAmplitude(bitWidth, attenuation);
    p.phaseStep = 6.28318530718 / (sampleRate / frequency);
    return true;
}

// The exact phase, and the sustain's period where it repeats soon enough: a
// whole frequency W repeats every rate / gcd(W, rate) samples.
bool PlanExactPhase(ToneGenerator::Plan& p, double sampleRate, double frequency)
{
    if (sampleRate != std::floor(sampleRate) || !(sampleRate < TONE_FRAMES_LIMIT)) return false;
    const uint32_t rate = uint32_t(sampleRate);
    if (!ToneExactPhasePlan(p.exact, frequency, rate)) return false;
    p.exactPhase = 1;
    if (p.exact.fraction != 0) return true;
    const uint32_t length = rate / std::gcd(p.exact.wholeModRate, rate);
    if (length > EXACT_PERIOD_MAX) return true;
    std::shared_ptr<int32_t[]> values(new (std::nothrow) int32_t[length]);
    std::unique_ptr<double[]> sines(new (std::nothrow) double[length]);
    if (!values || !sines) return true;  // made sample by sample instead
    ToneExactPhaseSines(p.exact, 1, length, sines.get());
    for (uint32_t i = 0; i < length; ++i)
        values[i] = int32_t(sines[i] * p.amplitude);
    p.sustainPeriod = values;
    p.sustainPeriodLength = length;
    return true;
}

}  // namespace

bool TonePlanFits(uint32_t attenuation, int32_t bitWidth, double sampleRate, double frequency,
                  double duration)
{
    ToneGenerator::Plan p;
    bool whole;
    return PlanWithoutDryRun(p, whole, attenuation, bitWidth, sampleRate, frequency, duration);
}

void TonePlan(ToneGenerator& g, uint32_t attenuation, int32_t bitWidth, double sampleRate, double frequency,
              double duration, const Stop* stop, bool exactPhase)
{
    if (g.planned) return;
    ToneGenerator::Plan p;
    bool whole;
    if (!PlanWithoutDryRun(p, whole, attenuation, bitWidth, sampleRate, frequency, duration)) return;
    const uint32_t rampDownStart = ToneRampDownStart(p);
    if (exactPhase) {
        if (!PlanExactPhase(p, sampleRate, frequency)) return;
    } else {
        // One sample more than the layout: the dry run may lengthen the sustain.
        TonePhaseBuild(p.phases, p.phaseStep, ToneTotalSamples(p) + 1);
    }
    g.plan = p;

    if (duration <= DC_CANCEL_MAX_SECONDS) {
        int64_t sum = 0;
        if (whole) {
            // End the sustain just after a rising zero crossing, so the
            // ramp-down starts where the ramp-up did; if it does not, one more
            // sample of sustain, and the zero crossing is not tested again.
            int32_t last[2];
            if (!DrySum(g, last, stop, sum)) return;
            if (!(last[0] <= 0 && last[1] > 0)) {
                if (!PlaceBlocks(g.plan, rampDownStart + 1)) return;
                if (!DrySum(g, nullptr, stop, sum)) return;
            }
        } else if (!DrySum(g, nullptr, stop, sum)) {
            return;
        }
        ToneChooseCorrection(g.plan, sum);
    }
    ToneResetRun(g);
    g.planned = 1;
}
