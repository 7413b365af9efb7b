#include <cmath>
#include <cstdint>

#include "synth/tone.h"
#include "synth/tone_math.h"

namespace {

constexpr uint64_t COUNT_LIMIT = uint64_t(1) << 32;  // counts are 32-bit

uint32_t BlocksFor(uint32_t samples, uint32_t blockFrames)
{
    return samples / blockFrames + (samples % blockFrames > 0 ? 1 : 0);
}

// The block layout that follows from where the ramp-down starts. False when
// the tone would fill fewer than two blocks or outgrow the 32-bit counts.
bool Layout(ToneGenerator& g, uint32_t rampDownStart)
{
    const uint64_t total = uint64_t(rampDownStart) + g.rampLength;
    if (total >= COUNT_LIMIT)
        return false;
    const uint32_t B = g.blockFrames;
    g.tailFrames = rampDownStart % B;
    g.sustainBlocks = rampDownStart / B;
    g.blockCount = BlocksFor(uint32_t(total), B);
    if (g.blockCount < 2)
        return false;
    const uint32_t rb = g.rampLength / B;
    const uint32_t rr = g.rampLength % B;
    if (g.sustainBlocks < rb) {
        g.fullSustainBlocks = 0;
    } else {
        const uint32_t diff = g.sustainBlocks - rb;
        g.fullSustainBlocks = diff != 0 && rr != 0 ? diff - 1 : diff;
    }
    return true;
}

void DryRun(ToneGenerator& g, uint32_t sustainLength)
{
    ToneRampUp(g, nullptr, g.rampLength);
    ToneSustain(g, nullptr, sustainLength);
    ToneRampDown(g, nullptr, g.rampLength);
}

bool PositiveFinite(double v) { return v > 0.0 && std::isfinite(v); }

}  // namespace

void ToneChooseCorrection(ToneGenerator& g, int64_t dcSum)
{
    const uint64_t m = uint64_t(dcSum < 0 ? -dcSum : dcSum);
    if (m == 0)
        return;
    // Units go one per correction point, and a tone has fullSustainBlocks + 3
    // of them; a larger sum is spread over every sample instead.
    if (m <= uint64_t(g.fullSustainBlocks) + 3) {
        g.dcSteps = int32_t(-dcSum);
    } else {
        const uint64_t total = uint64_t(g.sustainBlocks) * g.blockFrames + g.tailFrames + g.rampLength;
        g.dcPerSample = -(double(dcSum) / double(total));
        g.fractionalDc = 1;
    }
}

void TonePlan(ToneGenerator& g, uint32_t attenuation, int32_t bitWidth,
              double sampleRate, double frequency, double duration)
{
    if (g.planned)
        return;
    if (!PositiveFinite(sampleRate) || !PositiveFinite(frequency) || !PositiveFinite(duration))
        return;

    g.sampleRate = sampleRate;
    const double samplesPerCycle = sampleRate / frequency;
    const double period = 1.0 / frequency;

    double n;
    const double f = std::modf(frequency * duration, &n);
    if (f >= 0.5)
        n += 1;
    if (n < 2)
        return;
    // Fewer than one sample per cycle cannot make a ramp; and every count,
    // the cycles included, must stay below 2^32.
    const double exactTotal = n * samplesPerCycle;
    if (samplesPerCycle < 1.0 || !(exactTotal < double(COUNT_LIMIT)))
        return;
    const uint32_t cycles = uint32_t(n);

    const uint32_t total = uint32_t(std::floor(exactTotal));
    const bool whole = std::fmod(exactTotal, total) == 0.0;
    g.blockCount = BlocksFor(total, g.blockFrames);
    if (g.blockCount < 2)
        return;

    const uint32_t half = cycles / 2;
    uint32_t rampCycles = half;
    if (half * period > 0.01) {
        double r;
        if (std::modf(0.01 * frequency, &r) > 0)
            r += 1;
        if (r < half)
            rampCycles = uint32_t(r);
    }

    g.rampLength = uint32_t(std::floor(rampCycles * samplesPerCycle)) - 1;
    uint64_t rampDownStart = uint64_t(std::floor((cycles - rampCycles) * samplesPerCycle)) + (whole ? 0 : 1);
    if (rampDownStart + g.rampLength < 2 * uint64_t(g.rampLength) + 2)
        rampDownStart += 1;  // the sustain is never shorter than 2 samples
    if (rampDownStart >= COUNT_LIMIT || !Layout(g, uint32_t(rampDownStart)))
        return;
    uint32_t sustainLength = uint32_t(rampDownStart) - g.rampLength;

    g.amplitude = ToneAmplitude(bitWidth, attenuation);
    g.fractionalDc = 0;
    g.dcSteps = 0;
    g.phaseStep = 6.28318530718 / (sampleRate / frequency);

    g.rampCursor = g.rampLength;  // one past the last gain
    ToneResetRun(g);

    if (duration > 10.0) {
        g.planned = 1;
        return;
    }

    if (whole) {
        int32_t last[2];
        ToneRampUp(g, nullptr, g.rampLength);
        ToneSustain(g, nullptr, sustainLength - 2);
        ToneSustain(g, last, 2);
        ToneRampDown(g, nullptr, g.rampLength);
        // End the sustain just after a rising zero crossing, so the fade-out
        // starts where the fade-in did.
        if (!(last[0] <= 0 && last[1] > 0)) {
            rampDownStart += 1;
            if (rampDownStart >= COUNT_LIMIT || !Layout(g, uint32_t(rampDownStart)))
                return;
            sustainLength = uint32_t(rampDownStart) - g.rampLength;
            ToneResetRun(g);
            DryRun(g, sustainLength);
        }
    } else {
        DryRun(g, sustainLength);
    }

    ToneChooseCorrection(g, g.dcSum);
    ToneResetRun(g);
    g.planned = 1;
}
