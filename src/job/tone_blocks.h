#pragma once

#include <cstdint>
#include <memory>

#include "job/pack.h"
#include "job/tone_request.h"
#include "synth/multitone.h"
#include "synth/sweep.h"
#include "synth/tone.h"

// The packed blocks of one request, made one after another: the planned
// signal's samples, routed to the channels and dithered at 16 bits, as the
// file's frames. The job writes them; anything that needs a file's bytes
// without the file can make them.
struct ToneBlocks {
    ToneGenerator tone;  // the sine
    // The other signals' plans: read only, shared by every copy.
    std::shared_ptr<const ToneSweep> sweep;
    std::shared_ptr<const ToneMultitone> multitone;
    SignalKind signal = SignalKind::Sine;
    SignalChannels channels = SignalChannels::Both;
    uint32_t position = 0;  // frames made of a sweep or multitone
    DitherRandom random;    // every job draws the same dither sequence
    int32_t bitWidth = 0;
    uint32_t blocks = 0;  // the request's blocks, or the plan's when they are more
    int32_t primary[BLOCK_FRAMES];
    int32_t secondary[BLOCK_FRAMES];
};

// Plans the request's signal; false when planning refuses it, or when the
// stop (when given) is requested meanwhile.
bool ToneBlocksPlan(ToneBlocks& t, const ToneRequest& request, const Stop* stop = nullptr);

// Moves on (or back) to the given block, as if the blocks before it had been
// made, where the signal allows it (see ToneSeek; a sweep or multitone
// always does); false where it does not.
bool ToneBlocksSeek(ToneBlocks& t, uint32_t block);

// Makes the next block into out (room for WaveBytesPerBlock(32) bytes); returns its bytes.
uint32_t ToneBlocksNext(ToneBlocks& t, uint8_t* out);
