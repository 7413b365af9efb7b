#include "wave/wave_writer.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "wave/wave_format.h"

namespace {

#ifdef CALYX_BENCH_NO_RUNNING_SIZES  // bench/running_sizes.sh measures what the running sizes cost
constexpr bool RUNNING_SIZES = false;
#else
constexpr bool RUNNING_SIZES = true;
#endif

// The error of the last failed stdio call, never 0 (not every C library sets errno).
int LastError() { return errno != 0 ? errno : EIO; }

int WriteAll(std::FILE* file, const void* bytes, std::size_t size)
{
    errno = 0;
    return std::fwrite(bytes, 1, size, file) == size ? 0 : LastError();
}

uint32_t FactValue(uint32_t dataBytes, const WaveWriter::Format& f)
{
    return dataBytes / (f.bitsPerSample / 8u);
}

// The whole header: "RIFF", the 100-byte "fmt " chunk, "fact" and "data",
// with the sizes of dataBytes of samples, or those of an unfinished file
// (0, 0 and the fact value 0xFFFFFFFF) when there are no sizes yet.
std::array<uint8_t, WAVE_HEADER_BYTES> Header(const WaveWriter::Format& f, const uint32_t* dataBytes)
{
    std::array<uint8_t, WAVE_HEADER_BYTES> h{};  // the format block's last 18 bytes stay zero
    uint8_t* p = h.data();
    std::memcpy(p + WAVE_OFFSET_RIFF_ID, "RIFF", 4);
    WavePut32(p + WAVE_OFFSET_RIFF_SIZE, dataBytes ? *dataBytes + WAVE_RIFF_SIZE_OF_HEADER : 0);
    std::memcpy(p + WAVE_OFFSET_WAVE_ID, "WAVE", 4);
    std::memcpy(p + WAVE_OFFSET_FMT_ID, "fmt ", 4);
    WavePut32(p + WAVE_OFFSET_FMT_SIZE, WAVE_FORMAT_BYTES);
    WavePut16(p + WAVE_OFFSET_FORMAT_TAG, f.formatTag);
    WavePut16(p + WAVE_OFFSET_CHANNELS, f.channels);
    WavePut32(p + WAVE_OFFSET_SAMPLES_PER_SEC, f.samplesPerSec);
    WavePut32(p + WAVE_OFFSET_AVG_BYTES_PER_SEC, f.avgBytesPerSec);
    WavePut16(p + WAVE_OFFSET_BLOCK_ALIGN, f.blockAlign);
    WavePut16(p + WAVE_OFFSET_BITS_PER_SAMPLE, f.bitsPerSample);
    WavePut16(p + WAVE_OFFSET_CB_SIZE, f.cbSize);
    std::memcpy(p + WAVE_OFFSET_NOTICE, WAVE_NOTICE_TEXT, sizeof WAVE_NOTICE_TEXT);
    std::memcpy(p + WAVE_OFFSET_FACT_ID, "fact", 4);
    WavePut32(p + WAVE_OFFSET_FACT_SIZE, WAVE_FACT_BYTES);
    WavePut32(p + WAVE_OFFSET_FACT_VALUE, dataBytes ? FactValue(*dataBytes, f) : WAVE_UNFINISHED_FACT);
    std::memcpy(p + WAVE_OFFSET_DATA_ID, "data", 4);
    WavePut32(p + WAVE_OFFSET_DATA_SIZE, dataBytes ? *dataBytes : 0);
    return h;
}

// A regular file's header with the sizes of the blocks written so far, in
// one write; then back to the end for the next block.
int WriteSizes(WaveWriter& w)
{
    const auto header = Header(w.format, &w.dataBytes);
    errno = 0;
    if (std::fseek(w.file, 0, SEEK_SET) != 0) return LastError();
    if (int error = WriteAll(w.file, header.data(), header.size())) return error;
    return std::fseek(w.file, 0, SEEK_END) == 0 ? 0 : LastError();
}

// The finished file, read back by its path: its length and sizes must agree
// with the blocks written, or something else has had the file meanwhile.
int CheckFinished(const WaveWriter& w)
{
    std::error_code ec;
    const uintmax_t length = std::filesystem::file_size(w.path, ec);
    if (ec || length != WAVE_HEADER_BYTES + uintmax_t{w.dataBytes}) return EIO;
    uint8_t h[WAVE_HEADER_BYTES];
    std::FILE* file = std::fopen(w.path.string().c_str(), "rb");
    if (!file) return EIO;
    const bool got = std::fread(h, 1, sizeof h, file) == sizeof h;
    std::fclose(file);
    return got && std::memcmp(h, Header(w.format, &w.dataBytes).data(), sizeof h) == 0 ? 0 : EIO;
}

// An existing plain file is replaced by a new one rather than emptied:
// emptying a large file frees its pages before the first byte is written,
// and ext4 then flushes the whole new file at close. Only a regular file
// with a single name is removed, and its permissions are given to the new
// file; a link, a device or a file that cannot be removed is opened and
// emptied instead.
std::FILE* OpenReplacing(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    const bool replaced = !ec && fs::is_regular_file(status) && fs::hard_link_count(path, ec) == 1 && !ec &&
                          fs::remove(path, ec) && !ec;
    // "w+b" empties an existing file, so nothing of an older, longer file is left.
    std::FILE* file = std::fopen(path.string().c_str(), "w+b");
    if (file && replaced) fs::permissions(path, status.permissions(), ec);
    return file;
}

}  // namespace

int WaveCreate(WaveWriter& w, int32_t bitWidth, const char* path, int32_t sampleRate, uint32_t plannedBytes)
{
    if (w.isOpen) return EBUSY;
    if (!path || !*path) return EINVAL;
    if (bitWidth != 16 && bitWidth != 24 && bitWidth != 32) return EINVAL;
    if (sampleRate <= 0) return EINVAL;

    WaveWriter::Format& f = w.format;
    f.formatTag = WAVE_FORMAT_PCM;
    f.channels = WAVE_CHANNELS;
    f.samplesPerSec = uint32_t(sampleRate);
    f.blockAlign = uint16_t(WaveBytesPerFrame(bitWidth));
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    f.bitsPerSample = uint16_t(bitWidth);
    f.cbSize = WAVE_FORMAT_EXTRA_BYTES;

    namespace fs = std::filesystem;
    w.path = path;
    w.dataBytes = 0;
    w.fileBytes = 0;
    w.heldBytes = 0;
    w.sizedBytes = 0;
    w.plannedBytes = plannedBytes;
    w.torn = false;
    w.error = 0;
    std::error_code ec;
    const fs::file_type type = fs::status(w.path, ec).type();
    w.stream = w.io.stream || (type != fs::file_type::regular && type != fs::file_type::not_found);
    errno = 0;
    if (w.io.stream)
        w.file = w.io.stream;
    else if (w.stream)
        w.file = std::fopen(path, "wb");  // write only: a FIFO waits for its reader
    else
        w.file = w.io.replace ? w.io.replace(w.path) : OpenReplacing(w.path);
    if (!w.file) return LastError();
    w.regular = !w.io.stream && fs::is_regular_file(w.path, ec);
    // Unbuffered: each write goes to the file straight from the caller's
    // buffer, and a failure shows at the write that caused it.
    std::setvbuf(w.file, nullptr, _IONBF, 0);

    const auto header = Header(f, w.stream ? &plannedBytes : nullptr);
    if (const int error = WriteAll(w.file, header.data(), header.size())) {
        if (!w.io.stream) std::fclose(w.file);
        w.file = nullptr;
        // The file itself, not a link to it that may stand at the path.
        if (!w.stream) fs::remove(fs::weakly_canonical(w.path, ec), ec);
        return error;
    }
    w.isOpen = 1;
    return 0;
}

namespace {

// Why a write of size bytes from buffer is refused, or 0.
int Refusal(const WaveWriter& w, const void* buffer, int32_t size, int32_t* written)
{
    if (written) *written = 0;
    if (!buffer || size <= 0 || !written) return EINVAL;
    if (!w.isOpen) return EBADF;
    if (uint32_t(size) > WAVE_MAX_DATA_BYTES - w.fileBytes - w.heldBytes) return EFBIG;
    // After a failed write the data would have a gap or a torn frame: refuse.
    return w.torn ? EIO : 0;
}

// Writes the bytes to the file; fileBytes counts those that got there. A
// stream gets one write per block: a pipe passes a write of at most 4096
// bytes whole, so its reader only ever sees whole blocks.
int Put(WaveWriter& w, const uint8_t* from, uint32_t bytes)
{
    const uint32_t step = w.stream ? WaveBytesPerBlock(w.format.bitsPerSample) : bytes;
    uint32_t done = 0;
    int error = 0;
    while (done < bytes && error == 0) {
        errno = 0;
        const std::size_t wrote =
            w.io.write ? w.io.write(from + done, step, w.file) : std::fwrite(from + done, 1, step, w.file);
        if (wrote != step) error = LastError();
        done += uint32_t(wrote);
    }
    w.fileBytes += done;
    return error;
}

void CountWholeBlocks(WaveWriter& w)
{
    const uint32_t blockBytes = WaveBytesPerBlock(w.format.bitsPerSample);
    w.dataBytes = w.fileBytes / blockBytes * blockBytes;
}

// After a write: dataBytes counts the whole blocks in the file (a torn one
// is cut off at the finish), and the header's sizes are brought up to date
// after the first write, so that a file killed early already shows its
// samples, then after a batch of bytes or an interval, not after every
// write (a run of blocks), which would add a seek and a header to each. The
// clock is read once a write.
int Written(WaveWriter& w, int error, int32_t* written)
{
    const uint32_t before = w.dataBytes;
    CountWholeBlocks(w);
    *written = int32_t(w.dataBytes - before);
    if (error == 0 && RUNNING_SIZES && !w.stream && w.dataBytes > w.sizedBytes) {
        const auto now = std::chrono::steady_clock::now();
        if (w.sizedBytes == 0 || w.dataBytes - w.sizedBytes >= WAVE_SIZES_BATCH ||
            now - w.sizedAt >= WAVE_SIZES_INTERVAL) {
            error = WriteSizes(w);
            w.sizedBytes = w.dataBytes;
            w.sizedAt = now;
        }
    }
    if (error != 0) w.torn = true;
    if (w.error == 0) w.error = error;
    return error;
}

// The bytes held back, written on their own.
int PutHeld(WaveWriter& w)
{
    const uint32_t held = w.heldBytes;
    w.heldBytes = 0;
    return held ? Put(w, w.held, held) : 0;
}

}  // namespace

int WaveWriteBlock(WaveWriter& w, const void* buffer, int32_t size, int32_t* written)
{
    if (const int refused = Refusal(w, buffer, size, written)) return refused;
    int error = PutHeld(w);
    if (error == 0) error = Put(w, static_cast<const uint8_t*>(buffer), uint32_t(size));
    return Written(w, error, written);
}

int WaveWriteRun(WaveWriter& w, uint8_t* buffer, int32_t size, int32_t* written)
{
    if (w.stream) return WaveWriteBlock(w, buffer, size, written);
    if (const int refused = Refusal(w, buffer, size, written)) return refused;
    uint8_t* from = buffer - w.heldBytes;
    std::memcpy(from, w.held, w.heldBytes);
    const uint32_t bytes = w.heldBytes + uint32_t(size);
    const uint32_t end = (WAVE_HEADER_BYTES + w.fileBytes + bytes) % WAVE_PAGE_BYTES;
    const uint32_t keep = end < bytes ? end : bytes;
    w.heldBytes = 0;
    const int error = Put(w, from, bytes - keep);
    if (error == 0) {
        std::memcpy(w.held, from + bytes - keep, keep);
        w.heldBytes = keep;
    }
    return Written(w, error, written);
}

int WaveFinish(WaveWriter& w)
{
    if (!w.isOpen) return 0;
    w.isOpen = 0;
    int result = 0;
    if (!w.stream) {
        if (!w.torn) {
            result = PutHeld(w);
            CountWholeBlocks(w);
            w.torn = result != 0;
            if (w.error == 0) w.error = result;
        }
        std::clearerr(w.file);  // a failed block write must not stop the sizes
        const int sized = WriteSizes(w);
        if (result == 0) result = sized;
    }
    errno = 0;
    const bool closed = w.io.stream ? std::fflush(w.file) == 0 : std::fclose(w.file) == 0;
    if (!closed && result == 0) result = LastError();
    w.file = nullptr;
    if (w.torn && !w.stream) {
        // ISO C++ has no truncate for an open FILE, so the cut is made by path once
        // the file is closed; the header already counts only the whole blocks.
        std::error_code ec;
        std::filesystem::resize_file(w.path, WAVE_HEADER_BYTES + uintmax_t{w.dataBytes}, ec);
        if (ec && result == 0) result = ec.value() != 0 ? ec.value() : EIO;
    }
    if (result == 0 && w.regular) result = CheckFinished(w);
    return result;
}
