#include "wave/wave_writer.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

constexpr char NOTICE_TEXT[] = "Test tone: a stereo sine wave in whole cycles, made with Calyx.";
static_assert(sizeof(NOTICE_TEXT) - 1 == 63, "the notice fills bytes 38 to 100 of the file");

constexpr uint32_t HEADER_BYTES = 140;
constexpr uint16_t FORMAT_EXTRA_BYTES = 82;  // cbSize: the notice, its NUL and 18 zeros
constexpr uint32_t FORMAT_BLOCK_BYTES = 18 + FORMAT_EXTRA_BYTES;
constexpr long OFFSET_RIFF_SIZE = 4;
constexpr long OFFSET_FACT_VALUE = 128;
constexpr long OFFSET_DATA_SIZE = 136;
// The RIFF size (132 plus the data) must fit its 32-bit field.
constexpr uint32_t MAX_DATA_BYTES = 0xFFFFFFFFu - (HEADER_BYTES - 8);

struct WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t cbSize;
};

struct WaveWriter {
    std::FILE* file = nullptr;  // null when no file is open
    std::filesystem::path path;  // kept to cut a torn block off after closing
    WaveFormat format{};
    uint32_t dataBytes = 0;   // accepted by the caller; gives the fact value
    uint32_t fileBytes = 0;   // sample bytes on disk in whole blocks
    bool torn = false;        // a write failed; bytes past fileBytes may be on disk
    uint8_t isOpen = 0;
    WaveBlockWrite writeBlock = nullptr;  // null: std::fwrite
};

WaveWriter writer;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// The error of the last failed stdio call, never 0 (not every C library sets errno).
int LastError() { return errno != 0 ? errno : EIO; }

int WriteAll(const void* bytes, std::size_t size) {
    errno = 0;
    return std::fwrite(bytes, 1, size, writer.file) == size ? 0 : LastError();
}

int WriteField(long offset, uint32_t value) {
    uint8_t bytes[4];
    Put32(bytes, value);
    errno = 0;
    if (std::fseek(writer.file, offset, SEEK_SET) != 0) return LastError();
    return WriteAll(bytes, sizeof bytes);
}

// "RIFF" 0 "WAVE", the 100-byte "fmt " chunk and the "fact" chunk holding 0xFFFFFFFF.
int WaveWriteHeader(const uint8_t* formatBlock) {
    uint8_t head[20];
    std::memcpy(head, "RIFF", 4);
    Put32(head + 4, 0);
    std::memcpy(head + 8, "WAVEfmt ", 8);
    Put32(head + 16, FORMAT_BLOCK_BYTES);
    if (int error = WriteAll(head, sizeof head)) return error;
    if (int error = WriteAll(formatBlock, FORMAT_BLOCK_BYTES)) return error;
    uint8_t fact[12];
    std::memcpy(fact, "fact", 4);
    Put32(fact + 4, 4);
    Put32(fact + 8, 0xFFFFFFFFu);
    return WriteAll(fact, sizeof fact);
}

// The "data" chunk header with size 0; the samples follow at offset 140.
int WaveBeginData() {
    uint8_t head[8];
    std::memcpy(head, "data", 4);
    Put32(head + 4, 0);
    return WriteAll(head, sizeof head);
}

// Patches the sizes from the whole blocks on disk and the fact value, closes
// the file whatever happened, then cuts off any torn block. Returns the first
// error of patching, closing or cutting.
int WaveClose(uint32_t factValue) {
    if (!writer.file) return 0;
    std::clearerr(writer.file);  // a failed block write must not stop the patch
    int result = WriteField(OFFSET_DATA_SIZE, writer.fileBytes);
    if (result == 0) result = WriteField(OFFSET_RIFF_SIZE, writer.fileBytes + (HEADER_BYTES - 8));
    if (result == 0) result = WriteField(OFFSET_FACT_VALUE, factValue);
    errno = 0;
    if (std::fclose(writer.file) != 0 && result == 0) result = LastError();
    writer.file = nullptr;
    if (writer.torn) {
        // ISO C++ has no truncate for an open FILE, so the cut is made by path once
        // the file is closed; the header already counts only the whole blocks.
        std::error_code ec;
        std::filesystem::resize_file(writer.path, HEADER_BYTES + uintmax_t{writer.fileBytes}, ec);
        if (ec && result == 0) result = ec.value() != 0 ? ec.value() : EIO;
        writer.torn = false;
    }
    return result;
}

// An existing plain file is replaced by a new one rather than emptied:
// emptying a large file frees its pages before the first byte is written,
// and ext4 then flushes the whole new file at close (17 and 22 ms for a
// 92 MB file, a third of a default job). Only a regular file with a single
// name is removed, and its permissions are given to the new file; a link, a
// device or a file that cannot be removed is opened and emptied as before.
std::optional<std::filesystem::perms> RemoveReplacedFile(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status) || fs::hard_link_count(path, ec) != 1 || ec) return {};
    if (!fs::remove(path, ec) || ec) return {};
    return status.permissions();
}

}  // namespace

bool WaveCreate(int32_t bitWidth, const char* path, int32_t sampleRate) {
    if (writer.isOpen) return false;
    if (!path || !*path) return false;
    if (bitWidth != 16 && bitWidth != 24 && bitWidth != 32) return false;
    if (sampleRate <= 0) return false;

    WaveFormat& format = writer.format;
    format.formatTag = 1;
    format.channels = 2;
    format.samplesPerSec = static_cast<uint32_t>(sampleRate);
    format.blockAlign = static_cast<uint16_t>(bitWidth / 8 * 2);
    format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;
    format.bitsPerSample = static_cast<uint16_t>(bitWidth);
    format.cbSize = FORMAT_EXTRA_BYTES;

    std::array<uint8_t, FORMAT_BLOCK_BYTES> block{};  // bytes 82 to 99 stay zero
    Put16(&block[0], format.formatTag);
    Put16(&block[2], format.channels);
    Put32(&block[4], format.samplesPerSec);
    Put32(&block[8], format.avgBytesPerSec);
    Put16(&block[12], format.blockAlign);
    Put16(&block[14], format.bitsPerSample);
    Put16(&block[16], format.cbSize);
    std::memcpy(&block[18], NOTICE_TEXT, sizeof NOTICE_TEXT);

    writer.file = nullptr;
    writer.fileBytes = 0;
    writer.torn = false;
    writer.path = path;
    const auto replaced = RemoveReplacedFile(writer.path);
    // "w+b" empties an existing file, so nothing of an older, longer file is left.
    writer.file = std::fopen(path, "w+b");
    if (writer.file && replaced) {
        std::error_code ec;
        std::filesystem::permissions(writer.path, *replaced, ec);
    }
    if (!writer.file) return false;
    // Unbuffered: each block goes to the file in one write straight from the
    // caller's buffer, and a failure shows at the block that caused it.
    std::setvbuf(writer.file, nullptr, _IONBF, 0);

    if (WaveWriteHeader(block.data()) != 0 || WaveBeginData() != 0) {
        WaveClose(0);
        return false;
    }
    writer.dataBytes = 0;
    writer.isOpen = 1;
    return true;
}

int WaveWriteBlock(const void* buffer, int32_t size, int32_t* written) {
    if (written) *written = 0;
    if (!buffer || size <= 0 || !written) return EINVAL;
    if (!writer.isOpen || !writer.file) return EBADF;
    const uint32_t bytes = static_cast<uint32_t>(size);
    if (bytes > MAX_DATA_BYTES - writer.fileBytes) return EFBIG;

    // After a failed write the data would have a gap or a torn frame: refuse.
    if (writer.torn) return EIO;
    errno = 0;
    const std::size_t done = writer.writeBlock
                                 ? writer.writeBlock(buffer, bytes, writer.file)
                                 : std::fwrite(buffer, 1, bytes, writer.file);
    if (done != bytes) {
        // A run of blocks written at once keeps those that reached the disk
        // whole; only the torn one is cut off at the finish.
        const uint32_t blockBytes = 512u * writer.format.blockAlign;
        const uint32_t kept = static_cast<uint32_t>(done) / blockBytes * blockBytes;
        writer.fileBytes += kept;
        *written = static_cast<int32_t>(kept);
        writer.torn = true;
        return LastError();
    }
    writer.fileBytes += bytes;
    *written = size;
    return 0;
}

void WaveAddDataBytes(uint32_t bytes) {
    if (writer.isOpen) writer.dataBytes += bytes;
}

uint32_t WaveFinish() {
    if (!writer.isOpen) return 0;
    if (writer.file) WaveClose(writer.dataBytes / (writer.format.bitsPerSample / 8u));
    writer.isOpen = 0;
    return writer.dataBytes;
}

void WaveSetBlockWrite(WaveBlockWrite write) { writer.writeBlock = write; }
