#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>

// How a writer reaches its file. Each member left empty uses plain ISO C++.
struct WaveIo {
    // When set, the file goes to this open stream (standard output, say) as a
    // stream, and the path only names it.
    std::FILE* stream = nullptr;
    // Opens a regular file for writing in place of whatever is at the path:
    // front ends keep the old file's owner and attributes where the system
    // lets them. Empty: the old file is removed and a new one made with its
    // permissions; a file that cannot be removed is emptied.
    std::function<std::FILE*(const std::filesystem::path& path)> replace;
    // The one write of a run of blocks, as std::fwrite: returns the bytes
    // written. Tests make a write fail or fall short, or hold a job, with it.
    std::function<std::size_t(const void* bytes, std::size_t size, std::FILE* file)> write;
};

// The header's sizes are brought up to date after the first write of
// blocks, then once this many bytes of samples or this much time have gone
// by since they last were, whichever comes first.
inline constexpr uint32_t WAVE_SIZES_BATCH = 4u << 20;
inline constexpr std::chrono::milliseconds WAVE_SIZES_INTERVAL{250};

// A run written with WaveWriteRun ends on a multiple of this many bytes of
// the file, and its buffer has this many bytes of room before it.
inline constexpr uint32_t WAVE_PAGE_BYTES = 4096;

// One output file: a two-channel PCM RIFF/WAVE file with a 140-byte header
// ("fmt " of 100 bytes with a notice, "fact", "data"). Owned by whoever
// writes the file, used on one thread at a time; any number can be open.
//
// A regular file gets the header with its sizes 0 (and the fact value
// 0xFFFFFFFF) at creation, and the sizes of the blocks written so far after
// its first write and then every WAVE_SIZES_BATCH bytes or
// WAVE_SIZES_INTERVAL, so that a file whose writer never finished still
// opens in every reader, with all but its last few blocks; the finish
// writes them one last time. A pipe, a FIFO or a
// device cannot be patched: it gets the planned sizes first, and ends short
// of them if the job does.
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
    WaveIo io;
    std::FILE* file = nullptr;  // null when no file is open
    std::filesystem::path path;
    Format format;
    uint32_t dataBytes = 0;                         // sample bytes written, in whole blocks
    uint32_t fileBytes = 0;                         // sample bytes in the file, a block may be part-written
    uint32_t heldBytes = 0;                         // sample bytes held back for the next run's write
    uint8_t held[WAVE_PAGE_BYTES];                  // the bytes themselves
    uint32_t sizedBytes = 0;                        // the data bytes the header on disk counts
    std::chrono::steady_clock::time_point sizedAt;  // when it last counted them
    uint32_t plannedBytes = 0;                      // what a stream's header announces
    bool stream = false;                            // written once, front to back: never patched
    bool torn = false;                              // a write failed: bytes past dataBytes may be on disk
    bool regular = false;                           // a regular file, whose finish can be read back
    int error = 0;                                  // the first error of a write, kept for the job's report
    uint8_t isOpen = 0;
};

// Creates the file at path (replacing a regular file there), or writes to
// io.stream, with its header written and its data chunk begun; a stream's
// header announces plannedBytes of data. Returns 0 or the platform's
// non-zero error code (EINVAL for a width, rate or path it cannot write,
// EBUSY when the writer already has a file open). A regular file whose
// header could not be written whole is removed: no file is better than one
// no reader opens.
int WaveCreate(WaveWriter& writer, int32_t bitWidth, const char* path, int32_t sampleRate,
               uint32_t plannedBytes);

// Appends size bytes (one or more whole blocks of BLOCK_FRAMES frames) to the data chunk.
// Returns 0 or the platform's non-zero error code; written is size on
// success and, on failure, the bytes of the whole blocks that reached the
// file (0 for a single block). Either way dataBytes counts them.
int WaveWriteBlock(WaveWriter& writer, const void* buffer, int32_t size, int32_t* written);

// The same for a run of blocks in a buffer with WAVE_PAGE_BYTES bytes of
// room before it, which the writer may overwrite: a regular file's write
// then starts with the bytes held back from the run before and ends at a
// multiple of WAVE_PAGE_BYTES of the file, holding back the bytes past it
// for the next run or the finish (whole pages per write cost the system
// less: dd writing 1 MiB blocks from an offset of 140 bytes takes about 15 %
// more system time). dataBytes counts the whole
// blocks in the file; written is what that count grew by. A stream is
// written as by WaveWriteBlock.
int WaveWriteRun(WaveWriter& writer, uint8_t* buffer, int32_t size, int32_t* written);

// Writes the bytes held back and the sizes of the blocks on disk into a
// regular file's header, closes the file and reads its header back. Returns 0 or the first error
// (a stream that ended short of its header is not one: see WaveStreamShort);
// does nothing and returns 0 when no file is open.
int WaveFinish(WaveWriter& writer);

// A stream whose data ends before what its header announces.
inline bool WaveStreamShort(const WaveWriter& w) { return w.stream && w.dataBytes < w.plannedBytes; }
