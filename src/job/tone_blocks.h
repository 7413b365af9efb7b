#pragma once

#include <cstdint>

#include "job/pack.h"
#include "job/tone_request.h"
#include "synth/tone.h"

// The packed blocks of one request, made one after another: the planned
// tone's samples, dithered at 16 bits, as the file's frames. The job writes
// them; anything that needs a file's bytes without the file can make them.
struct ToneBlocks {
    ToneGenerator tone;
    DitherRandom random;  // every job draws the same dither sequence
    int32_t bitWidth = 0;
    uint32_t blocks = 0;  // the request's blocks, or the plan's when they are more
    int32_t primary[BLOCK_FRAMES];
    int32_t secondary[BLOCK_FRAMES];
};

// Plans the request's tone; false when planning refuses it, or when the
// stop (when given) is requested meanwhile.
bool ToneBlocksPlan(ToneBlocks& t, const ToneRequest& request, const Stop* stop = nullptr);

// Moves on (or back) to the given block, as if the blocks before it had been
// made, where the tone allows it (see ToneSeek); false where it does not.
bool ToneBlocksSeek(ToneBlocks& t, uint32_t block);

// Makes the next block into out (room for WaveBytesPerBlock(32) bytes); returns its bytes.
uint32_t ToneBlocksNext(ToneBlocks& t, uint8_t* out);
