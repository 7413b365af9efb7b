#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "synth/block_frames.h"

// The layout of a Calyx file: a 140-byte header ("RIFF" form "WAVE", a
// "fmt " chunk of 100 bytes with a notice, "fact", "data"), then the
// samples as interleaved little-endian frames of two channels.

inline constexpr uint32_t WAVE_HEADER_BYTES = 140;
inline constexpr uint32_t WAVE_CHANNELS = 2;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_EXTRA_BYTES = 82;  // cbSize: the notice, its NUL and 18 zeros
inline constexpr uint32_t WAVE_FORMAT_BYTES = 18 + WAVE_FORMAT_EXTRA_BYTES;  // the "fmt " chunk's data
inline constexpr char WAVE_NOTICE_TEXT[] = "Test tone: a stereo sine wave in whole cycles, made with Calyx.";
static_assert(sizeof(WAVE_NOTICE_TEXT) - 1 == 63, "the notice fills bytes 38 to 100 of the file");

// Where each field of the header stands. The finish patches the three sizes.
inline constexpr uint32_t WAVE_OFFSET_RIFF_ID = 0;  // "RIFF"
inline constexpr uint32_t WAVE_OFFSET_RIFF_SIZE = 4;
inline constexpr uint32_t WAVE_OFFSET_WAVE_ID = 8;  // "WAVE"
inline constexpr uint32_t WAVE_OFFSET_FMT_ID = 12;  // "fmt "
inline constexpr uint32_t WAVE_OFFSET_FMT_SIZE = 16;
inline constexpr uint32_t WAVE_OFFSET_FORMAT_TAG = 20;
inline constexpr uint32_t WAVE_OFFSET_CHANNELS = 22;
inline constexpr uint32_t WAVE_OFFSET_SAMPLES_PER_SEC = 24;
inline constexpr uint32_t WAVE_OFFSET_AVG_BYTES_PER_SEC = 28;
inline constexpr uint32_t WAVE_OFFSET_BLOCK_ALIGN = 32;
inline constexpr uint32_t WAVE_OFFSET_BITS_PER_SAMPLE = 34;
inline constexpr uint32_t WAVE_OFFSET_CB_SIZE = 36;
inline constexpr uint32_t WAVE_OFFSET_NOTICE = 38;    // then its NUL and 18 zeros
inline constexpr uint32_t WAVE_OFFSET_FACT_ID = 120;  // "fact"
inline constexpr uint32_t WAVE_OFFSET_FACT_SIZE = 124;
inline constexpr uint32_t WAVE_OFFSET_FACT_VALUE = 128;
inline constexpr uint32_t WAVE_OFFSET_DATA_ID = 132;  // "data"
inline constexpr uint32_t WAVE_OFFSET_DATA_SIZE = 136;
inline constexpr uint32_t WAVE_FACT_BYTES = 4;  // the "fact" chunk's data
// The ends of the notice and of the format chunk must meet the fact chunk.
static_assert(WAVE_OFFSET_FMT_SIZE + 4 + WAVE_FORMAT_BYTES == WAVE_OFFSET_FACT_ID);
static_assert(WAVE_OFFSET_DATA_SIZE + 4 == WAVE_HEADER_BYTES);
// The RIFF size counts the file less its first 8 bytes.
inline constexpr uint32_t WAVE_RIFF_SIZE_OF_HEADER = WAVE_HEADER_BYTES - 8;
// The fact value until the file is finished.
inline constexpr uint32_t WAVE_UNFINISHED_FACT = 0xFFFFFFFF;
// Every size is a 32-bit field: the data may not take the RIFF size past it.
inline constexpr uint32_t WAVE_MAX_DATA_BYTES = 0xFFFFFFFFu - WAVE_RIFF_SIZE_OF_HEADER;

inline constexpr uint32_t WaveBytesPerFrame(int32_t bitWidth)
{
    return uint32_t(bitWidth / 8) * WAVE_CHANNELS;
}
inline constexpr uint32_t WaveBytesPerBlock(int32_t bitWidth)
{
    return BLOCK_FRAMES * WaveBytesPerFrame(bitWidth);
}

// Little-endian fields.
inline void WavePut16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void WavePut24(uint8_t* p, uint32_t v)
{
    WavePut16(p, v);
    p[2] = uint8_t(v >> 16);
}
inline void WavePut32(uint8_t* p, uint32_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, 4);  // one store instead of four; the same bytes
    } else {
        WavePut16(p, v);
        WavePut16(p + 2, v >> 16);
    }
}
inline void WavePut64(uint8_t* p, uint64_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, 8);
    } else {
        WavePut32(p, uint32_t(v));
        WavePut32(p + 4, uint32_t(v >> 32));
    }
}
inline uint32_t WaveGet16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t WaveGet32(const uint8_t* p) { return WaveGet16(p) | WaveGet16(p + 2) << 16; }
