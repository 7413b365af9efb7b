#include "job/tone_blocks.h"

bool ToneBlocksPlan(ToneBlocks& t, const ToneRequest& r, const Stop* stop)
{
    t = {};
    t.bitWidth = r.bitWidth;
    TonePlan(t.tone, r.attenuation, r.bitWidth, double(r.sampleRate), r.frequency, double(r.seconds), stop);
    // A tone that planning made longer than the request must not lose its
    // ramp-down: that would leave a click and a non-zero sum.
    const uint32_t requested = RequestBlocks(r);
    t.blocks = t.tone.plan.blockCount > requested ? t.tone.plan.blockCount : requested;
    return t.tone.planned != 0;
}

bool ToneBlocksSeek(ToneBlocks& t, uint32_t block)
{
    if (!ToneSeek(t.tone, block * BLOCK_FRAMES)) return false;
    t.random = {};
    DitherSkip(t.random, uint64_t(block) * DITHER_DRAWS_PER_BLOCK);
    return true;
}

uint32_t ToneBlocksNext(ToneBlocks& t, uint8_t* out)
{
    // Only 16 bits needs a second channel of its own, for its own dither; 24
    // and 32 bits pack the first channel twice.
    const bool dithered = t.bitWidth == 16;
    ToneRenderBlock(t.tone, t.primary, dithered ? t.secondary : nullptr);
    if (dithered) DitherBlock(t.primary, t.secondary, t.random);
    return PackBlock(t.bitWidth, t.primary, dithered ? t.secondary : t.primary, out);
}
