#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wave/wave_reader.h"

// Reading a file's samples: runs of one channel, and passes shared by every
// channel.

// The frames read at a time.
inline constexpr uint32_t ANALYZE_RUN_FRAMES = 16384;

// Reads count frames of one channel from frame first, `chunk` frames at a
// time (the last may be shorter), and hands each run to f(x, n, frame).
template <class F>
bool AnalyzeForEachRun(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                       std::vector<double>& buffer, uint32_t chunk, F&& f)
{
    if (buffer.size() < chunk) buffer.resize(chunk);
    if (!WaveSeekFrame(reader, first)) return false;
    uint64_t done = 0;
    while (done < count) {
        const uint32_t want = uint32_t(std::min<uint64_t>(chunk, count - done));
        const uint32_t got = WaveReadChannel(reader, channel, buffer.data(), want);
        if (got != want) return false;
        f(static_cast<const double*>(buffer.data()), got, first + done);
        done += got;
    }
    return true;
}

// One channel's part in a pass: frames [first, first + count) in blocks of
// `block` frames (the last may be shorter). onBlock(part, x, n, frame, index)
// receives each block once, from the thread of the part that holds it.
struct AnalyzePassJob {
    uint32_t channel = 0;
    uint64_t first = 0;
    uint64_t count = 0;
    uint32_t block = 0;
    std::function<void(unsigned part, const double* x, uint32_t n, uint64_t frame, uint64_t index)> onBlock;
};

// Reads the open file once for all the jobs, split by position into `parts`
// (each run on its own thread, with its own copy of the reader): part p holds the
// blocks [K p / parts, K (p + 1) / parts) of every job with K blocks.
// False when a part could not read its frames.
bool AnalyzeRunPass(const WaveReader& file, const std::vector<AnalyzePassJob>& jobs, unsigned parts);
