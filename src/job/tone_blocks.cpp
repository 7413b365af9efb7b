#include "job/tone_blocks.h"

#include <algorithm>
#include <new>

#include "job/signal_check.h"

namespace {

uint32_t BlocksOf(uint32_t frames) { return frames / BLOCK_FRAMES + (frames % BLOCK_FRAMES > 0 ? 1 : 0); }

bool PlanSweep(ToneBlocks& t, const ToneRequest& r, double amplitude)
{
    std::shared_ptr<ToneSweep> sweep(new (std::nothrow) ToneSweep);
    if (!sweep || ToneSweepPlan(*sweep, r.sweepFrom, r.sweepTo, double(r.seconds), r.silence,
                                uint32_t(r.sampleRate), amplitude) != nullptr)
        return false;
    t.blocks = BlocksOf(sweep->totalFrames);
    t.sweep = std::move(sweep);
    return true;
}

bool PlanMultitone(ToneBlocks& t, const ToneRequest& r, double amplitude)
{
    std::shared_ptr<ToneMultitone> multitone(new (std::nothrow) ToneMultitone);
    const SignalTones tones = SignalTonesOf(r);
    if (!multitone ||
        !ToneMultitonePlan(*multitone, tones.frequencies, tones.amplitudes, tones.count,
                           uint32_t(r.sampleRate), SignalPeriod(r), double(r.seconds), amplitude))
        return false;
    t.blocks = BlocksOf(ToneMultitoneFrames(*multitone));
    t.multitone = std::move(multitone);
    return true;
}

}  // namespace

bool ToneBlocksPlan(ToneBlocks& t, const ToneRequest& r, const Stop* stop)
{
    t = {};
    t.bitWidth = r.bitWidth;
    t.signal = r.signal;
    t.channels = r.channels;
    const double amplitude = ToneAmplitude(r.bitWidth, r.attenuation);
    if (r.signal == SignalKind::Sweep) return PlanSweep(t, r, amplitude);
    if (SignalIsPeriodic(r.signal)) return PlanMultitone(t, r, amplitude) && !(stop && stop->Requested());
    TonePlan(t.tone, r.attenuation, r.bitWidth, double(r.sampleRate), r.frequency, double(r.seconds), stop,
             r.exactPhase);
    // A tone that planning made longer than the request must not lose its
    // ramp-down: that would leave a click and a non-zero sum.
    const uint32_t requested = RequestBlocks(r);
    t.blocks = t.tone.plan.blockCount > requested ? t.tone.plan.blockCount : requested;
    return t.tone.planned != 0;
}

bool ToneBlocksSeek(ToneBlocks& t, uint32_t block)
{
    if (t.signal == SignalKind::Sine && !ToneSeek(t.tone, block * BLOCK_FRAMES)) return false;
    t.position = block * BLOCK_FRAMES;
    t.random = {};
    DitherSkip(t.random, uint64_t(block) * DITHER_DRAWS_PER_BLOCK);
    return true;
}

uint32_t ToneBlocksNext(ToneBlocks& t, uint8_t* out)
{
    // Only 16 bits needs a second channel of its own, for its own dither; 24
    // and 32 bits pack the first channel twice when both carry the signal.
    const bool dithered = t.bitWidth == 16;
    if (t.signal == SignalKind::Sweep)
        ToneSweepMake(*t.sweep, t.position, BLOCK_FRAMES, t.primary);
    else if (t.multitone)
        ToneMultitoneMake(*t.multitone, t.position, BLOCK_FRAMES, t.primary);
    else
        ToneRenderBlock(t.tone, t.primary, nullptr);
    t.position += BLOCK_FRAMES;
    if (dithered) {
        std::copy(t.primary, t.primary + BLOCK_FRAMES, t.secondary);
        DitherBlock(t.primary, t.secondary, t.random);
    }
    int32_t* left = t.primary;
    int32_t* right = dithered ? t.secondary : t.primary;
    switch (t.channels) {
        case SignalChannels::Both:
            break;
        case SignalChannels::Left:  // the other channel exact silence: its dither too
            std::fill(t.secondary, t.secondary + BLOCK_FRAMES, 0);
            right = t.secondary;
            break;
        case SignalChannels::Right:
            std::copy(right, right + BLOCK_FRAMES, t.secondary);
            std::fill(t.primary, t.primary + BLOCK_FRAMES, 0);
            right = t.secondary;
            break;
        case SignalChannels::Inverted:  // |left| stays below 2^31 (and 2^15 dithered)
            for (uint32_t i = 0; i < BLOCK_FRAMES; ++i)
                t.secondary[i] = -left[i];
            right = t.secondary;
            break;
    }
    return PackBlock(t.bitWidth, left, right, out);
}
