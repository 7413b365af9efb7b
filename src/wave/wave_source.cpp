#include "wave/wave_source.h"

bool WaveSource::Open(const char* path, const Stop* outer)
{
    stop = outer;
    file.open(path, std::ios::binary);
    if (!file) return false;
    // The size of what was opened, not of whatever the path names by now.
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (!file || end < 0) return false;
    bytes = uint64_t(end);
    return true;
}

size_t WaveSource::ReadAt(uint64_t offset, unsigned char* out, size_t size)
{
    if (Stopped() || size == 0) return 0;
    std::lock_guard hold(lock);
    file.clear();
    file.seekg(std::streamoff(offset));
    if (!file) return 0;
    file.read(reinterpret_cast<char*>(out), std::streamsize(size));
    const size_t got = size_t(file.gcount());
    if (got < size && offset + got < bytes) shrank.store(true, std::memory_order_relaxed);
    return got;
}
