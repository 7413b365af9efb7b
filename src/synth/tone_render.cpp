#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "synth/tone.h"
#include "synth/tone_saturate.h"

namespace {

// Applies one unit of the pending DC correction to a sample. A guarded step
// always leaves at least one unit for the tone's last sample.
void UnitStep(ToneGenerator& g, int32_t& sample, bool guarded)
{
    if (guarded ? (g.dcSteps > -2 && g.dcSteps < 2) : g.dcSteps == 0)
        return;
    if (g.dcSteps < 0) {
        sample = ToneSaturate(int64_t(sample) - 1);
        ++g.dcSteps;
    } else {
        sample = ToneSaturate(int64_t(sample) + 1);
        --g.dcSteps;
    }
}

void CompleteBlock(ToneGenerator& g, const int32_t* primary, int32_t* secondary)
{
    if (secondary)
        std::memcpy(secondary, primary, g.blockFrames * sizeof *primary);
    ++g.blockIndex;
}

}  // namespace

// Sustain samples from block position start; a whole block of sustain takes a
// unit correction on its last sample.
void ToneRenderSustain(ToneGenerator& g, int32_t* block, uint32_t start, uint32_t count)
{
    if (g.fractionalDc) {
        ToneSustainCorrected(g, block + start, count);
        return;
    }
    ToneSustain(g, block + start, count);
    if (count == g.blockFrames)
        UnitStep(g, block[start + count - 1], true);
}

// Ramp-down samples from block position start; the tone's first ramp-down
// sample takes a unit correction. True while more ramp-down follows.
bool ToneRenderRampDown(ToneGenerator& g, int32_t* block, uint32_t start, uint32_t count)
{
    const bool first = g.rampDownDone == 0;
    if (g.fractionalDc) {
        ToneRampDownCorrected(g, block + start, count);
    } else {
        ToneRampDown(g, block + start, count);
        if (first)
            UnitStep(g, block[start], true);
    }
    return g.rampDownDone != g.rampLength;
}

void ToneRenderBlock(ToneGenerator& g, int32_t* P, int32_t* S)
{
    const uint32_t B = g.blockFrames;
    uint32_t start;  // where this block's ramp-down segment begins
    uint32_t m;      // its length

    if (!g.inSustain) {
        const uint32_t r = g.rampLength - g.rampUpDone;
        uint32_t n = 0;
        if (r > 0) {
            n = std::min(B, r);
            if (g.fractionalDc)
                ToneRampUpCorrected(g, P, n);
            else
                ToneRampUp(g, P, n);
            if (g.rampUpDone != g.rampLength)
                return CompleteBlock(g, P, S);
            UnitStep(g, P[n - 1], true);
            if (n == B)
                return CompleteBlock(g, P, S);
        }
        g.inSustain = 1;
        if (g.blockIndex != g.sustainBlocks) {
            ToneRenderSustain(g, P, n, B - n);
            return CompleteBlock(g, P, S);
        }
        ToneRenderSustain(g, P, n, g.tailFrames - n);
        UnitStep(g, P[g.tailFrames - 1], true);
        g.inRampDown = 1;
        start = g.tailFrames;
        m = std::min(B - g.tailFrames, g.rampLength);
    } else if (!g.inRampDown) {
        if (g.blockIndex < g.sustainBlocks) {
            ToneRenderSustain(g, P, 0, B);
            return CompleteBlock(g, P, S);
        }
        g.inRampDown = 1;
        if (g.tailFrames > 0)
            ToneRenderSustain(g, P, 0, g.tailFrames);
        start = g.tailFrames;
        m = std::min(B - g.tailFrames, g.rampLength);
    } else {
        if (g.rampDownDone == g.rampLength) {
            // The tone has ended: silence.
            std::memset(P, 0, B * sizeof *P);
            return CompleteBlock(g, P, S);
        }
        start = 0;
        m = std::min(B, g.rampLength - g.rampDownDone);
    }

    if (ToneRenderRampDown(g, P, start, m))
        return CompleteBlock(g, P, S);

    // The tone ends in this block: the last correction, then zeros.
    const uint32_t end = start + m - 1;
    if (g.fractionalDc) {
        const double units = std::floor(std::fabs(g.dcFraction) + 0.1);
        const double sign = g.dcFraction < 0 ? -1.0 : 1.0;
        P[end] = ToneSaturate(int64_t(P[end]) + int64_t(sign * units));
    } else {
        UnitStep(g, P[end], false);
    }
    std::fill(P + end + 1, P + B, 0);
    g.planned = 0;
    CompleteBlock(g, P, S);
}
