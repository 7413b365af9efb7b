#include "wave/wave_reader.h"

#include "wave/wave_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

constexpr uint16_t FORMAT_FLOAT = 3;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;
constexpr uint32_t SIZE_UNKNOWN = 0xFFFFFFFFu;
constexpr size_t HEADER_KEPT = 4096;
// The GUID of an extensible format's sub-format after its first two bytes.
constexpr unsigned char GUID_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string Num(uint64_t v) { return std::to_string(v); }

// A chunk id is four printable ASCII characters.
bool PlausibleId(const unsigned char* id)
{
    for (int i = 0; i < 4; ++i)
        if (id[i] < 32 || id[i] > 126) return false;
    return true;
}

std::string IdText(const unsigned char* id)
{
    if (!PlausibleId(id)) return "(not text)";
    std::string text(6, '\'');
    text.replace(1, 4, reinterpret_cast<const char*>(id), 4);
    return text;
}

bool ReadAt(std::ifstream& file, uint64_t offset, unsigned char* out, size_t size)
{
    file.clear();
    file.seekg(std::streamoff(offset));
    if (!file) return false;
    file.read(reinterpret_cast<char*>(out), std::streamsize(size));
    return size_t(file.gcount()) == size;
}

// Chunks read and skipped without a word: the usual metadata of WAVE writers.
bool KnownChunk(const unsigned char* id)
{
    static const char* const known[] = {"LIST", "JUNK", "PAD ", "PEAK", "bext", "cue ",
                                        "smpl", "inst", "iXML", "id3 ", "ID3 ", "acid",
                                        "cart", "plst", "labl", "note", "ltxt", "fake"};
    for (const char* k : known)
        if (std::memcmp(id, k, 4) == 0) return true;
    return false;
}

// Reads and checks the fmt chunk's fields into info; a problem text when the
// encoding is not one this reader decodes.
WaveOpenResult ParseFormat(const unsigned char* f, uint32_t size, WaveInfo& info)
{
    if (size < 16) {
        info.problems.push_back("the fmt chunk has " + Num(size) + " bytes, fewer than 16");
        return WaveOpenResult::NotWave;
    }
    info.formatTag = WaveGet16(f);
    info.channels = WaveGet16(f + 2);
    info.rate = WaveGet32(f + 4);
    info.blockAlign = WaveGet16(f + 12);
    info.bits = WaveGet16(f + 14);
    uint16_t tag = info.formatTag;
    if (tag == FORMAT_EXTENSIBLE) {
        if (size < 40 || WaveGet16(f + 16) < 22) {
            info.problems.push_back("the extensible fmt chunk is too short (" + Num(size) +
                                    " bytes) to name its sub-format");
            return WaveOpenResult::Unsupported;
        }
        info.extensible = true;
        if (std::memcmp(f + 26, GUID_TAIL, sizeof GUID_TAIL) != 0) {
            info.problems.push_back("the extensible sub-format is not PCM or float");
            return WaveOpenResult::Unsupported;
        }
        tag = WaveGet16(f + 24);
    }
    const bool pcm = tag == WAVE_FORMAT_PCM && (info.bits == 16 || info.bits == 24 || info.bits == 32);
    const bool flt = tag == FORMAT_FLOAT && (info.bits == 32 || info.bits == 64);
    if (!pcm && !flt) {
        info.problems.push_back("format " + Num(tag) + " with " + Num(info.bits) +
                                " bits per sample is not read: only 16-, 24- and 32-bit "
                                "integer PCM and 32- and 64-bit float are");
        return WaveOpenResult::Unsupported;
    }
    info.encoding = pcm ? WaveEncoding::Pcm : WaveEncoding::Float;
    if (info.channels < 1 || info.channels > WAVE_MAX_CHANNELS) {
        info.problems.push_back(Num(info.channels) + " channels: only 1 to 8 are read");
        return WaveOpenResult::Unsupported;
    }
    if (info.rate == 0) {
        info.problems.push_back("the sample rate is 0");
        return WaveOpenResult::Unsupported;
    }
    const uint32_t align = uint32_t(info.channels) * (info.bits / 8u);
    if (info.blockAlign != align) {
        info.problems.push_back("the block align is " + Num(info.blockAlign) + ", not " + Num(align) +
                                " (channels x bytes per sample); " + Num(align) + " is used");
        info.blockAlign = uint16_t(align);
    }
    return WaveOpenResult::Ok;
}

}  // namespace

double WaveFullScale(const WaveInfo& info)
{
    if (info.encoding == WaveEncoding::Float) return 1.0;
    return double(uint64_t(1) << (info.bits - 1));
}

WaveOpenResult WaveOpen(WaveReader& reader, const char* path)
{
    WaveInfo& info = reader.info;
    info = WaveInfo{};
    reader.nextFrame = 0;
    std::error_code ec;
    if (!path || !std::filesystem::is_regular_file(path, ec)) {
        info.problems.push_back("not a regular file that can be opened");
        return WaveOpenResult::CannotOpen;
    }
    info.fileBytes = std::filesystem::file_size(path, ec);
    if (ec) {
        info.problems.push_back("its size cannot be read");
        return WaveOpenResult::CannotOpen;
    }
    reader.file.close();
    reader.file.open(path, std::ios::binary);
    if (!reader.file) {
        info.problems.push_back("it cannot be opened for reading");
        return WaveOpenResult::CannotOpen;
    }

    unsigned char head[12];
    if (info.fileBytes < 12 || !ReadAt(reader.file, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        info.problems.push_back(info.fileBytes < 12 ? "it has " + Num(info.fileBytes) +
                                                          " bytes, too few for a RIFF/WAVE header"
                                                    : "it does not start with a RIFF/WAVE header");
        return WaveOpenResult::NotWave;
    }
    info.riffSize = WaveGet32(head + 4);
    const uint64_t riffEnd = uint64_t(info.riffSize) + 8;
    if (info.riffSize == 0 || info.riffSize == SIZE_UNKNOWN)
        info.problems.push_back("the RIFF size is " + std::string(info.riffSize ? "0xFFFFFFFF" : "0") +
                                ", as a stream or an unfinished file leaves it");
    else if (riffEnd < info.fileBytes)
        info.problems.push_back("the RIFF size covers " + Num(riffEnd) + " bytes, but the file has " +
                                Num(info.fileBytes));
    else if (riffEnd > info.fileBytes)
        info.problems.push_back("the file is " + Num(riffEnd - info.fileBytes) +
                                " bytes shorter than its RIFF size says: it was cut short");

    bool haveFormat = false;
    bool haveData = false;
    bool dataToEnd = false;
    uint64_t dataStart = 0;
    uint64_t dataLength = 0;
    WaveOpenResult formatResult = WaveOpenResult::NotWave;
    uint64_t pos = 12;
    while (pos + 8 <= info.fileBytes) {
        unsigned char ch[8];
        if (!ReadAt(reader.file, pos, ch, 8)) break;
        const uint32_t size = WaveGet32(ch + 4);
        if (!PlausibleId(ch)) {
            info.problems.push_back(Num(info.fileBytes - pos) + " bytes at offset " + Num(pos) +
                                    " are not a chunk and are left out");
            break;
        }
        const uint64_t body = pos + 8;
        const uint64_t left = info.fileBytes - body;
        if (std::memcmp(ch, "data", 4) == 0) {
            if (haveData) {
                info.problems.push_back("a second data chunk at offset " + Num(pos) + " is left out");
            } else {
                haveData = true;
                info.dataSizeField = size;
                dataStart = body;
                if ((size == 0 && left > 0) || size == SIZE_UNKNOWN) {
                    dataToEnd = true;
                    dataLength = left;
                    info.problems.push_back("the data size is " + std::string(size ? "0xFFFFFFFF" : "0") +
                                            ", as a stream or an unfinished file leaves it: the " +
                                            Num(left) + " bytes to the end of the file are read");
                } else if (size > left) {
                    dataLength = left;
                    info.problems.push_back("the data chunk says " + Num(size) + " bytes but " + Num(left) +
                                            " are there: the file was cut short");
                } else {
                    dataLength = size;
                }
            }
            if (dataToEnd || size >= left) break;
        } else if (std::memcmp(ch, "fmt ", 4) == 0 && !haveFormat) {
            unsigned char f[40] = {};
            const uint32_t take = uint32_t(std::min<uint64_t>({size, sizeof f, left}));
            if (!ReadAt(reader.file, body, f, take)) break;
            haveFormat = true;
            formatResult = ParseFormat(f, std::min<uint32_t>(size, take), info);
        } else if (std::memcmp(ch, "fact", 4) == 0 && size >= 4 && left >= 4) {
            unsigned char v[4];
            if (ReadAt(reader.file, body, v, 4)) {
                info.hasFact = true;
                info.factValue = WaveGet32(v);
            }
        } else if (!KnownChunk(ch)) {
            info.problems.push_back("an unknown chunk " + IdText(ch) + " of " + Num(size) +
                                    " bytes at offset " + Num(pos) + " is skipped");
        }
        if (size > left) {
            if (std::memcmp(ch, "data", 4) != 0)
                info.problems.push_back("the chunk " + IdText(ch) + " at offset " + Num(pos) + " runs " +
                                        Num(size - left) + " bytes past the end of the file");
            break;
        }
        uint64_t next = body + size;
        if (size % 2 == 1) {
            // RIFF pads odd chunks to an even length; some writers forget.
            unsigned char id[4];
            const bool padded =
                next + 4 < info.fileBytes && ReadAt(reader.file, next + 1, id, 4) && PlausibleId(id);
            const bool unpadded =
                next + 4 <= info.fileBytes && ReadAt(reader.file, next, id, 4) && PlausibleId(id);
            if (!padded && unpadded)
                info.problems.push_back("the chunk " + IdText(ch) + " of odd size " + Num(size) +
                                        " has no pad byte");
            else
                next += 1;
        }
        pos = next;
        if (haveData && pos >= riffEnd && riffEnd >= 12 && pos < info.fileBytes && info.riffSize != 0 &&
            info.riffSize != SIZE_UNKNOWN) {
            info.problems.push_back(Num(info.fileBytes - pos) +
                                    " bytes follow the RIFF chunk and are left out");
            break;
        }
    }
    if (pos + 8 > info.fileBytes && pos < info.fileBytes && !dataToEnd &&
        !(haveData && dataStart + dataLength >= info.fileBytes))
        info.problems.push_back(Num(info.fileBytes - pos) +
                                " bytes at the end are too few for a chunk and are left out");

    if (!haveFormat) {
        info.problems.push_back("there is no fmt chunk");
        return WaveOpenResult::NotWave;
    }
    if (formatResult != WaveOpenResult::Ok) return formatResult;
    if (!haveData) {
        info.problems.push_back("there is no data chunk");
        return WaveOpenResult::NotWave;
    }
    info.dataOffset = dataStart;
    info.frames = dataLength / info.blockAlign;
    info.dataBytes = info.frames * info.blockAlign;
    if (dataLength != info.dataBytes)
        info.problems.push_back("the data ends with " + Num(dataLength - info.dataBytes) +
                                " bytes of an incomplete frame, which are left out");
    info.header.resize(size_t(std::min<uint64_t>(dataStart, HEADER_KEPT)));
    if (!ReadAt(reader.file, 0, info.header.data(), info.header.size())) info.header.clear();
    reader.file.clear();
    reader.file.seekg(std::streamoff(info.dataOffset));
    return WaveOpenResult::Ok;
}

bool WaveSeekFrame(WaveReader& reader, uint64_t frame)
{
    if (frame > reader.info.frames) return false;
    reader.file.clear();
    reader.file.seekg(std::streamoff(reader.info.dataOffset + frame * reader.info.blockAlign));
    if (!reader.file) return false;
    reader.nextFrame = frame;
    return true;
}

namespace {

// Puts one channel of got frames from the bytes into out.
void Decode(const WaveInfo& info, const unsigned char* bytes, uint32_t channel, uint32_t got, double* out)
{
    const unsigned char* p = bytes + channel * (info.bits / 8u);
    const uint32_t stride = info.blockAlign;
    if (info.encoding == WaveEncoding::Pcm) {
        switch (info.bits) {
            case 16:
                for (uint32_t i = 0; i < got; ++i, p += stride)
                    out[i] = double(int16_t(WaveGet16(p)));
                break;
            case 24:
                for (uint32_t i = 0; i < got; ++i, p += stride)
                    out[i] = double(
                        int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8);
                break;
            default:
                for (uint32_t i = 0; i < got; ++i, p += stride)
                    out[i] = double(int32_t(WaveGet32(p)));
                break;
        }
    } else if (info.bits == 32) {
        for (uint32_t i = 0; i < got; ++i, p += stride)
            out[i] = double(std::bit_cast<float>(WaveGet32(p)));
    } else {
        for (uint32_t i = 0; i < got; ++i, p += stride)
            out[i] = std::bit_cast<double>(uint64_t(WaveGet32(p)) | uint64_t(WaveGet32(p + 4)) << 32);
    }
}

}  // namespace

uint32_t WaveReadChannels(WaveReader& reader, double* const* out, uint32_t maxFrames)
{
    const WaveInfo& info = reader.info;
    if (reader.nextFrame >= info.frames) return 0;
    const uint32_t frames = uint32_t(std::min<uint64_t>(maxFrames, info.frames - reader.nextFrame));
    const size_t size = size_t(frames) * info.blockAlign;
    if (reader.bytes.size() < size) reader.bytes.resize(size);
    reader.file.read(reinterpret_cast<char*>(reader.bytes.data()), std::streamsize(size));
    const uint32_t got = uint32_t(size_t(reader.file.gcount()) / info.blockAlign);
    reader.nextFrame += got;
    const unsigned char* bytes = reader.bytes.data();
    if (info.channels == 2 && out[0] && out[1] && info.encoding == WaveEncoding::Pcm && info.bits == 32) {
        // The default file's layout, in one sweep over the bytes.
        double* left = out[0];
        double* right = out[1];
        for (uint32_t i = 0; i < got; ++i, bytes += 8) {
            left[i] = double(int32_t(WaveGet32(bytes)));
            right[i] = double(int32_t(WaveGet32(bytes + 4)));
        }
        return got;
    }
    for (uint32_t c = 0; c < info.channels; ++c)
        if (out[c]) Decode(info, bytes, c, got, out[c]);
    return got;
}

uint32_t WaveReadChannel(WaveReader& reader, uint32_t channel, double* out, uint32_t maxFrames)
{
    if (channel >= reader.info.channels) return 0;
    double* planes[WAVE_MAX_CHANNELS] = {};
    planes[channel] = out;
    return WaveReadChannels(reader, planes, maxFrames);
}
