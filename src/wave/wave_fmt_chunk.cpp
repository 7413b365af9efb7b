// The fmt chunk: plain PCM and float, or WAVE_FORMAT_EXTENSIBLE naming either.

#include "wave/wave_fmt_chunk.h"

#include <cstring>
#include <string>

#include "wave/wave_format.h"

namespace {

constexpr uint16_t FORMAT_FLOAT = 3;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;
// The GUID of an extensible format's sub-format after its first two bytes.
constexpr unsigned char GUID_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

WaveOpenResult WaveParseFormat(const unsigned char* f, uint32_t size, WaveInfo& info)
{
    if (size < 16) {
        info.problems.push_back("the fmt chunk has " + std::to_string(size) + " bytes, fewer than 16");
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
            info.problems.push_back("the extensible fmt chunk is too short (" + std::to_string(size) +
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
        info.problems.push_back("format " + std::to_string(tag) + " with " + std::to_string(info.bits) +
                                " bits per sample is not read: only 16-, 24- and 32-bit "
                                "integer PCM and 32- and 64-bit float are");
        return WaveOpenResult::Unsupported;
    }
    info.encoding = pcm ? WaveEncoding::Pcm : WaveEncoding::Float;
    if (info.channels < 1 || info.channels > WAVE_MAX_CHANNELS) {
        info.problems.push_back(std::to_string(info.channels) + " channels: only 1 to 8 are read");
        return WaveOpenResult::Unsupported;
    }
    if (info.rate == 0) {
        info.problems.push_back("the sample rate is 0");
        return WaveOpenResult::Unsupported;
    }
    const uint32_t align = uint32_t(info.channels) * (info.bits / 8u);
    if (info.blockAlign != align) {
        info.problems.push_back("the block align is " + std::to_string(info.blockAlign) + ", not " +
                                std::to_string(align) + " (channels x bytes per sample); " +
                                std::to_string(align) + " is used");
        info.blockAlign = uint16_t(align);
    }
    return WaveOpenResult::Ok;
}
