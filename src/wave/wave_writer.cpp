#include "wave/wave_writer.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

#include "wave/wave_format.h"

namespace {

// The error of the last failed stdio call, never 0 (not every C library sets errno).
int LastError() { return errno != 0 ? errno : EIO; }

int WriteAll(std::FILE* file, const void* bytes, std::size_t size)
{
    errno = 0;
    return std::fwrite(bytes, 1, size, file) == size ? 0 : LastError();
}

int WriteField(std::FILE* file, uint32_t offset, uint32_t value)
{
    uint8_t bytes[4];
    WavePut32(bytes, value);
    errno = 0;
    if (std::fseek(file, long(offset), SEEK_SET) != 0) return LastError();
    return WriteAll(file, bytes, sizeof bytes);
}

// The whole header as it stands at creation: "RIFF" 0 "WAVE", the 100-byte
// "fmt " chunk, "fact" holding 0xFFFFFFFF and "data" of size 0.
std::array<uint8_t, WAVE_HEADER_BYTES> Header(const WaveWriter::Format& f)
{
    std::array<uint8_t, WAVE_HEADER_BYTES> h{};  // the format block's last 18 bytes stay zero
    uint8_t* p = h.data();
    std::memcpy(p, "RIFF", 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    WavePut32(p + 16, WAVE_FORMAT_BYTES);
    WavePut16(p + 20, f.formatTag);
    WavePut16(p + 22, f.channels);
    WavePut32(p + 24, f.samplesPerSec);
    WavePut32(p + 28, f.avgBytesPerSec);
    WavePut16(p + 32, f.blockAlign);
    WavePut16(p + 34, f.bitsPerSample);
    WavePut16(p + 36, f.cbSize);
    std::memcpy(p + 38, WAVE_NOTICE_TEXT, sizeof WAVE_NOTICE_TEXT);
    std::memcpy(p + 120, "fact", 4);
    WavePut32(p + 124, 4);
    WavePut32(p + WAVE_OFFSET_FACT_VALUE, WAVE_UNFINISHED_FACT);
    std::memcpy(p + 132, "data", 4);
    return h;
}

uint32_t FactValue(const WaveWriter& w) { return w.dataBytes / (w.format.bitsPerSample / 8u); }

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
    const bool agree = got &&
                       WaveGet32(h + WAVE_OFFSET_RIFF_SIZE) == w.dataBytes + WAVE_RIFF_SIZE_OF_HEADER &&
                       WaveGet32(h + WAVE_OFFSET_DATA_SIZE) == w.dataBytes &&
                       WaveGet32(h + WAVE_OFFSET_FACT_VALUE) == FactValue(w);
    return agree ? 0 : EIO;
}

// An existing plain file is replaced by a new one rather than emptied:
// emptying a large file frees its pages before the first byte is written,
// and ext4 then flushes the whole new file at close (17 and 22 ms for a
// 92 MB file, a third of a default job). Only a regular file with a single
// name is removed, and its permissions are given to the new file; a link, a
// device or a file that cannot be removed is opened and emptied as before.
std::optional<std::filesystem::perms> RemoveReplacedFile(const std::filesystem::path& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status) || fs::hard_link_count(path, ec) != 1 || ec) return {};
    if (!fs::remove(path, ec) || ec) return {};
    return status.permissions();
}

}  // namespace

bool WaveCreate(WaveWriter& w, int32_t bitWidth, const char* path, int32_t sampleRate)
{
    if (w.isOpen) return false;
    if (!path || !*path) return false;
    if (bitWidth != 16 && bitWidth != 24 && bitWidth != 32) return false;
    if (sampleRate <= 0) return false;

    WaveWriter::Format& f = w.format;
    f.formatTag = WAVE_FORMAT_PCM;
    f.channels = WAVE_CHANNELS;
    f.samplesPerSec = uint32_t(sampleRate);
    f.blockAlign = uint16_t(WaveBytesPerFrame(bitWidth));
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    f.bitsPerSample = uint16_t(bitWidth);
    f.cbSize = WAVE_FORMAT_EXTRA_BYTES;

    w.path = path;
    w.dataBytes = 0;
    w.torn = false;
    const auto replaced = RemoveReplacedFile(w.path);
    // "w+b" empties an existing file, so nothing of an older, longer file is left.
    w.file = std::fopen(path, "w+b");
    if (!w.file) return false;
    std::error_code ec;
    if (replaced) std::filesystem::permissions(w.path, *replaced, ec);
    w.regular = std::filesystem::is_regular_file(w.path, ec);
    // Unbuffered: each run goes to the file in one write straight from the
    // caller's buffer, and a failure shows at the run that caused it.
    std::setvbuf(w.file, nullptr, _IONBF, 0);

    const auto header = Header(f);
    if (WriteAll(w.file, header.data(), header.size()) != 0) {
        std::fclose(w.file);
        w.file = nullptr;
        return false;
    }
    w.isOpen = 1;
    return true;
}

int WaveWriteBlock(WaveWriter& w, const void* buffer, int32_t size, int32_t* written)
{
    if (written) *written = 0;
    if (!buffer || size <= 0 || !written) return EINVAL;
    if (!w.isOpen) return EBADF;
    const uint32_t bytes = uint32_t(size);
    if (bytes > WAVE_MAX_DATA_BYTES - w.dataBytes) return EFBIG;
    // After a failed write the data would have a gap or a torn frame: refuse.
    if (w.torn) return EIO;

    errno = 0;
    const std::size_t done =
        w.writeBlock ? w.writeBlock(buffer, bytes, w.file) : std::fwrite(buffer, 1, bytes, w.file);
    if (done == bytes) {
        w.dataBytes += bytes;
        *written = size;
        return 0;
    }
    // A run of blocks written at once keeps those that reached the disk
    // whole; only the torn one is cut off at the finish.
    const int error = LastError();
    const uint32_t blockBytes = WaveBytesPerBlock(w.format.bitsPerSample);
    const uint32_t kept = uint32_t(done) / blockBytes * blockBytes;
    w.dataBytes += kept;
    *written = int32_t(kept);
    w.torn = true;
    return error;
}

int WaveFinish(WaveWriter& w)
{
    if (!w.isOpen) return 0;
    w.isOpen = 0;
    std::clearerr(w.file);  // a failed block write must not stop the patch
    int result = WriteField(w.file, WAVE_OFFSET_DATA_SIZE, w.dataBytes);
    if (result == 0)
        result = WriteField(w.file, WAVE_OFFSET_RIFF_SIZE, w.dataBytes + WAVE_RIFF_SIZE_OF_HEADER);
    if (result == 0) result = WriteField(w.file, WAVE_OFFSET_FACT_VALUE, FactValue(w));
    errno = 0;
    if (std::fclose(w.file) != 0 && result == 0) result = LastError();
    w.file = nullptr;
    if (w.torn) {
        // ISO C++ has no truncate for an open FILE, so the cut is made by path once
        // the file is closed; the header already counts only the whole blocks.
        std::error_code ec;
        std::filesystem::resize_file(w.path, WAVE_HEADER_BYTES + uintmax_t{w.dataBytes}, ec);
        if (ec && result == 0) result = ec.value() != 0 ? ec.value() : EIO;
    }
    if (result == 0 && w.regular) result = CheckFinished(w);
    return result;
}
