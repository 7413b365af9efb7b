#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/stop.h"
#include "wave/wave_source.h"

// A streamed reader of RIFF/WAVE files: integer PCM of 16, 24 and 32 bits and
// float of 32 and 64 bits, plain or WAVE_FORMAT_EXTENSIBLE, 1 to 8 channels,
// any size up to 4 GiB. Memory stays fixed: a file is read a block at a time,
// and can be re-read from any frame for another pass. The file is opened
// once: a copy of a reader reads the same open file from a place of its own,
// so passes on several threads all read what was opened. Sizes that disagree with
// the file, truncated data, trailing bytes, odd chunks and the 0 or 0xFFFFFFFF
// sizes of a stream or an unfinished file are described in `problems`, and the
// samples are read as far as they go.

enum class WaveEncoding : uint8_t { Pcm, Float };

enum class WaveOpenResult : uint8_t {
    Ok,
    CannotOpen,   // no such file, no permission, not a regular file
    NotWave,      // no RIFF/WAVE header, or no usable fmt and data chunks
    Unsupported,  // a WAVE file of an encoding this reader does not decode
};

inline constexpr uint32_t WAVE_MAX_CHANNELS = 8;

struct WaveInfo {
    WaveEncoding encoding = WaveEncoding::Pcm;
    uint16_t formatTag = 0;  // as written: 1, 3 or 0xFFFE (extensible)
    uint16_t bits = 0;       // container bits per sample
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;  // bytes per frame
    bool extensible = false;
    uint64_t fileBytes = 0;
    uint64_t dataOffset = 0;  // where the first sample is: the header's length
    uint64_t dataBytes = 0;   // the bytes of the whole frames that are read
    uint64_t frames = 0;
    // The fields as written, for checks of one writer's layout.
    uint32_t riffSize = 0;
    uint32_t dataSizeField = 0;
    bool hasFact = false;
    uint32_t factValue = 0;
    std::vector<unsigned char> header;  // the bytes before the samples (at most 4096)
    std::vector<std::string> problems;  // plain sentences, in the order found (a few of each kind)
};

// Problem lines kept of each kind that can repeat without bound; the rest
// are counted in one line.
inline constexpr uint64_t WAVE_PROBLEMS_KEPT = 10;

struct WaveReader {
    std::shared_ptr<WaveSource> source;  // the open file, shared by the reader's copies
    WaveInfo info;
    uint64_t nextFrame = 0;
    std::vector<unsigned char> bytes;  // one read's worth of frames
};

// Opens the file and reads its chunk layout. On anything but Ok, info.problems
// says what was found. Once stop (if given) is requested, reads end as at the
// end of the data.
WaveOpenResult WaveOpen(WaveReader& reader, const char* path, const Stop* stop = nullptr);

// Whether a read found the file shorter than it was at opening: it was cut
// short meanwhile.
inline bool WaveShrank(const WaveReader& reader) { return reader.source && reader.source->Shrank(); }

// Moves to a frame for the next read. False past the end or on a seek error.
bool WaveSeekFrame(WaveReader& reader, uint64_t frame);

// Reads up to maxFrames frames from the current frame and puts one channel's
// samples in out: integer PCM as its integer values (exact in a double), float
// as it is. Returns the frames read; 0 at the end of the data or on an error.
uint32_t WaveReadChannel(WaveReader& reader, uint32_t channel, double* out, uint32_t maxFrames);

// The same for several channels at once: out[c] receives channel c, or is
// null for a channel not wanted.
uint32_t WaveReadChannels(WaveReader& reader, double* const* out, uint32_t maxFrames);

// 2^(bits-1) for integer PCM, 1 for float.
double WaveFullScale(const WaveInfo& info);
