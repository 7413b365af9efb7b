#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "synth/tone.h"
#include "synth/tone_saturate.h"

namespace {

// Applies one unit of the pending DC correction to a sample. A guarded step
// is taken only while two or more units are pending, so at least one is
// always left for the tone's last sample.
void UnitStep(ToneGenerator::Run& run, int32_t& sample, bool guarded)
{
    if (guarded ? (run.dcSteps > -2 && run.dcSteps < 2) : run.dcSteps == 0) return;
    const int32_t unit = run.dcSteps < 0 ? -1 : 1;
    sample = ToneSaturate(int64_t(sample) + unit);
    run.dcSteps -= unit;
}

// The unit corrections that fall in the block of samples first ... first +
// BLOCK_FRAMES - 1, in the order of the tone: the last ramp-up sample; the
// last sample of a block made of sustain alone; the last sustain sample,
// when the ramp-down starts in the block in which the ramp-up ended (or at
// whose start it ended); the first ramp-down sample; and the last sample,
// which takes whatever is left. A tone has at least fullSustainBlocks + 3
// of these points, as many units as planning hands out.
void PlaceUnits(const ToneGenerator::Plan& p, ToneGenerator::Run& run, int32_t* block, uint32_t first)
{
    const uint32_t end = first + BLOCK_FRAMES;
    const uint32_t rampDownStart = ToneRampDownStart(p);
    const uint32_t last = ToneTotalSamples(p) - 1;
    const auto in = [&](uint32_t at) { return at >= first && at < end; };
    const auto step = [&](uint32_t at, bool guarded) { UnitStep(run, block[at - first], guarded); };

    if (p.rampLength > 0 && in(p.rampLength - 1)) step(p.rampLength - 1, true);
    if (first >= p.rampLength && end <= rampDownStart) step(end - 1, true);
    if (in(rampDownStart) && p.rampLength >= first) step(rampDownStart - 1, true);
    if (p.rampLength > 0 && in(rampDownStart)) step(rampDownStart, true);
    if (in(last)) step(last, false);
}

// How many of the points above lie before sample `before`, a block's first
// sample: the guarded ones, and whether the last sample is among them.
uint32_t PointsBefore(const ToneGenerator::Plan& p, uint32_t before, bool& lastDone)
{
    const uint32_t rampDownStart = ToneRampDownStart(p);
    uint32_t n = 0;
    if (p.rampLength > 0 && p.rampLength - 1 < before) ++n;
    // Blocks b of sustain alone: b x B >= rampLength, and (b + 1) x B at most
    // rampDownStart and at most `before`.
    const uint32_t firstWhole = (p.rampLength + BLOCK_FRAMES - 1) / BLOCK_FRAMES;
    const uint32_t endWhole = std::min(rampDownStart, before) / BLOCK_FRAMES;
    if (endWhole > firstWhole) n += endWhole - firstWhole;
    if (rampDownStart / BLOCK_FRAMES * BLOCK_FRAMES <= p.rampLength && rampDownStart - 1 < before) ++n;
    if (p.rampLength > 0 && rampDownStart < before) ++n;
    lastDone = ToneTotalSamples(p) - 1 < before;
    return n;
}

}  // namespace

bool ToneSeek(ToneGenerator& g, uint32_t position)
{
    const ToneGenerator::Plan& p = g.plan;
    if (p.fractionalDc || (p.phases.used == 0 && !p.exactPhase) || position % BLOCK_FRAMES != 0) return false;
    const uint32_t made = std::min(position, ToneTotalSamples(p));
    ToneResetRun(g);
    g.run.position = made;
    if (made > 0 && !p.exactPhase) {
        const TonePhaseSegment* s = TonePhaseFind(p.phases, made - 1);
        if (!s) return false;
        g.run.phase = TonePhaseAt(*s, made - 1);
    }
    // Each guarded point takes a unit while two or more are left; the last
    // sample takes what is left.
    bool lastDone = false;
    const uint32_t points = PointsBefore(p, position, lastDone);
    const int64_t units = p.dcSteps < 0 ? -int64_t(p.dcSteps) : p.dcSteps;
    const int64_t left = units == 0 || lastDone ? 0 : std::max<int64_t>(units - points, 1);
    g.run.dcSteps = int32_t(p.dcSteps < 0 ? -left : left);
    return true;
}

void ToneRenderBlock(ToneGenerator& g, int32_t* P, int32_t* S)
{
    const ToneGenerator::Plan& plan = g.plan;
    ToneGenerator::Run& run = g.run;
    const uint32_t first = run.position;
    const uint32_t total = ToneTotalSamples(plan);
    const uint32_t count = std::min(BLOCK_FRAMES, total - first);  // 0 once the tone has ended

    ToneMake(g, P, count);
    if (count > 0) {
        if (plan.fractionalDc) {
            if (first + count == total) {
                // What the fraction has left at the last sample.
                const double units = std::floor(std::fabs(run.dcFraction) + FINAL_FRACTION_ROUNDING);
                const double sign = run.dcFraction < 0 ? -1.0 : 1.0;
                P[count - 1] = ToneSaturate(int64_t(P[count - 1]) + int64_t(sign * units));
            }
        } else if (run.dcSteps != 0) {
            PlaceUnits(plan, run, P, first);
        }
        // As designed, a tone is rendered once: its last sample clears
        // planned, so the next job must plan again (TonePlan keeps a
        // planned generator as it is) and starts from a fresh run.
        if (first + count == total) g.planned = 0;
    }
    std::fill(P + count, P + BLOCK_FRAMES, 0);
    if (S) std::memcpy(S, P, BLOCK_FRAMES * sizeof *P);
}
