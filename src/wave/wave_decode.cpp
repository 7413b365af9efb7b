// Decoding frames: one channel or several from the interleaved bytes.

#include <algorithm>
#include <bit>

#include "wave/wave_format.h"
#include "wave/wave_reader.h"

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
    if (reader.nextFrame >= info.frames || !reader.source) return 0;
    const uint32_t frames = uint32_t(std::min<uint64_t>(maxFrames, info.frames - reader.nextFrame));
    const size_t size = size_t(frames) * info.blockAlign;
    if (reader.bytes.size() < size) reader.bytes.resize(size);
    const size_t read = reader.source->ReadAt(info.dataOffset + reader.nextFrame * info.blockAlign,
                                              reader.bytes.data(), size);
    const uint32_t got = uint32_t(read / info.blockAlign);
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
