#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>

// The one write of a run of blocks, as std::fwrite: returns the bytes written.
// Tests set it to make a write fail or fall short, or to hold a job at a block.
using WaveBlockWrite = std::function<std::size_t(const void* bytes, std::size_t size, std::FILE* file)>;

// One output file: a two-channel PCM RIFF/WAVE file with a 140-byte header
// ("fmt " of 100 bytes with a notice, "fact", "data"). Owned by whoever
// writes the file, used on one thread at a time; any number can be open.
struct WaveWriter {
    struct Format {
        uint16_t formatTag = 0;
        uint16_t channels = 0;
        uint32_t samplesPerSec = 0;
        uint32_t avgBytesPerSec = 0;
        uint16_t blockAlign = 0;
        uint16_t bitsPerSample = 0;
        uint16_t cbSize = 0;
    };
    std::FILE* file = nullptr;  // null when no file is open
    std::filesystem::path path;
    Format format;
    uint32_t dataBytes = 0;  // sample bytes on disk, in whole blocks
    bool torn = false;       // a write failed: bytes past dataBytes may be on disk
    bool regular = false;    // a regular file, whose finish can be read back
    uint8_t isOpen = 0;
    WaveBlockWrite writeBlock;  // empty: std::fwrite
};

// Creates the file (replacing any file at the path) with its header written
// and its data chunk begun. False when it cannot.
bool WaveCreate(WaveWriter& writer, int32_t bitWidth, const char* path, int32_t sampleRate);

// Appends size bytes (one or more whole 512-frame blocks) to the data chunk
// with one write. Returns 0 or the platform's non-zero error code; written is
// size on success and, on failure, the bytes of the whole blocks that reached
// the file (0 for a single block). Either way dataBytes counts them.
int WaveWriteBlock(WaveWriter& writer, const void* buffer, int32_t size, int32_t* written);

// Patches the data size, RIFF size and fact value from the blocks on disk,
// closes the file and, for a regular file, reads its header back. Returns 0
// or the first error; does nothing and returns 0 when no file is open.
int WaveFinish(WaveWriter& writer);
