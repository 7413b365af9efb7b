#pragma once

#include <cstdint>

#include "wave/wave_reader.h"

// The walk over a RIFF/WAVE file's chunks.

// "RIFF", its size and "WAVE": where the chunks begin.
inline constexpr uint64_t WAVE_RIFF_HEADER_BYTES = 12;
// A size field of a stream or an unfinished file, as 0 is.
inline constexpr uint32_t WAVE_SIZE_UNKNOWN = 0xFFFFFFFFu;

// What the walk found.
struct WaveChunks {
    bool haveFormat = false;
    bool haveData = false;
    bool dataToEnd = false;  // the data's size is 0 or unknown: read to the end of the file
    uint64_t dataStart = 0;
    uint64_t dataLength = 0;
    WaveOpenResult formatResult = WaveOpenResult::NotWave;  // of the fmt chunk
};

// Walks the chunks after the 12-byte RIFF header of a file of
// reader.info.fileBytes bytes, whose RIFF chunk ends at riffEnd: the fmt
// chunk is parsed into reader.info, the fact value and the data's place
// kept, and whatever is odd said in reader.info.problems. The headers are
// read through a buffer, front to back, once.
WaveChunks WaveWalkChunks(WaveReader& reader, uint64_t riffEnd);
