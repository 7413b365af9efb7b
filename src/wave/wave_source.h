#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>

#include "base/stop.h"

// A file opened once and read by position from any number of threads: every
// pass over it reads the same file, whatever is renamed over its path
// meanwhile. A read that finds fewer bytes than the file had at opening
// notes that it shrank; once the stop is requested, reads return nothing.
class WaveSource {
public:
    // Opens path for reading; false when it cannot be opened.
    bool Open(const char* path, const Stop* stop);

    // Reads up to size bytes at offset into out; returns how many were read.
    size_t ReadAt(uint64_t offset, unsigned char* out, size_t size);

    bool Stopped() const { return stop && stop->Requested(); }
    bool Shrank() const { return shrank.load(std::memory_order_relaxed); }
    // The size when it was opened.
    uint64_t Bytes() const { return bytes; }

private:
    std::mutex lock;  // one position for every thread's reads
    std::ifstream file;
    uint64_t bytes = 0;
    const Stop* stop = nullptr;
    std::atomic<bool> shrank{false};
};
