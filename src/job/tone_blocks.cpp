#include "job/tone_blocks.h"

bool ToneBlocksPlan(ToneBlocks& t, const ToneRequest& r, const std::atomic<bool>* going)
{
    t = {};
    t.bitWidth = r.nBitWidth;
    TonePlan(t.tone, r.nAttenuation, r.nBitWidth, double(r.nSampleRate), r.Frequency, double(r.nSeconds), going);
    // A tone that planning made longer than the request must not lose its
    // fade-out: that would leave a click and a non-zero sum.
    const uint32_t requested = RequestBlocks(r);
    t.blocks = t.tone.plan.blockCount > requested ? t.tone.plan.blockCount : requested;
    return t.tone.planned != 0;
}

uint32_t ToneBlocksNext(ToneBlocks& t, uint8_t* out)
{
    // The second channel is a copy at 16 and 32 bits; 24 bits packs the first twice.
    ToneRenderBlock(t.tone, t.primary, t.bitWidth == 24 ? nullptr : t.secondary);
    if (t.bitWidth == 16) DitherBlock(t.primary, t.secondary, t.random);
    return PackBlock(t.bitWidth, t.primary, t.secondary, out);
}
