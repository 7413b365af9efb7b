#pragma once

#include <cstdint>

#include "synth/block_frames.h"

// The job's own source of dither: integers 0 ... 32767, started from the same
// state for every job, so two 16-bit files of one request are identical.
struct DitherRandom {
    uint32_t state = 1;
    int32_t Next();
};

// Moves the source on by `draws` draws at once, as that many calls of Next
// would: so a block's dither can be drawn without the blocks before it.
void DitherSkip(DitherRandom& random, uint64_t draws);

// Draws per block: two for each sample of both channels.
inline constexpr uint32_t DITHER_DRAWS_PER_BLOCK = 4 * BLOCK_FRAMES;

// One sample from the 32-bit scale to 16 bits with the draws r1, r2 (0 ... 32767):
// sign(x) * ((|x| + r1 + r2) >> 16), saturated at -32768 ... 32767.
int32_t DitherSample(int32_t x, int32_t r1, int32_t r2);

// Reduces both blocks (BLOCK_FRAMES samples each) in place from the 32-bit
// scale to 16 bits with triangular dither; draws primary[i] (two),
// secondary[i] (two), ...
void DitherBlock(int32_t* primary, int32_t* secondary, DitherRandom& random);

// Lays one block out as little-endian interleaved frames; returns the bytes
// to write, WaveBytesPerBlock(bitWidth) (0 for a width other than 16, 24 or
// 32). 24-bit samples saturate at -8388608 ... 8388607; a null or the same
// secondary packs primary twice.
uint32_t PackBlock(int32_t bitWidth, const int32_t* primary, const int32_t* secondary, uint8_t* out);
