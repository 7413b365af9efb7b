// Opening a RIFF/WAVE file: the file itself, its RIFF header, its chunks
// (wave_chunks.cpp), and where its frames are.

#include "wave/wave_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "wave/wave_chunks.h"
#include "wave/wave_format.h"

namespace {

constexpr size_t HEADER_KEPT = 4096;

// Opens a regular file once, for every pass, and notes its size.
WaveOpenResult OpenFile(WaveReader& reader, const char* path, const Stop* stop)
{
    WaveInfo& info = reader.info;
    std::error_code ec;
    if (!path || !std::filesystem::is_regular_file(path, ec)) {
        info.problems.push_back("not a regular file that can be opened");
        return WaveOpenResult::CannotOpen;
    }
    reader.source = std::make_shared<WaveSource>();
    if (!reader.source->Open(path, stop)) {
        info.problems.push_back("it cannot be opened for reading");
        return WaveOpenResult::CannotOpen;
    }
    info.fileBytes = reader.source->Bytes();
    return WaveOpenResult::Ok;
}

// The RIFF header, and how its size agrees with the file's; the end of the
// RIFF chunk it gives.
WaveOpenResult ReadRiffHeader(WaveReader& reader, uint64_t& riffEnd)
{
    WaveInfo& info = reader.info;
    unsigned char head[WAVE_RIFF_HEADER_BYTES];
    if (info.fileBytes < WAVE_RIFF_HEADER_BYTES ||
        reader.source->ReadAt(0, head, WAVE_RIFF_HEADER_BYTES) != WAVE_RIFF_HEADER_BYTES ||
        std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
        info.problems.push_back(info.fileBytes < WAVE_RIFF_HEADER_BYTES
                                    ? "it has " + std::to_string(info.fileBytes) +
                                          " bytes, too few for a RIFF/WAVE header"
                                    : "it does not start with a RIFF/WAVE header");
        return WaveOpenResult::NotWave;
    }
    info.riffSize = WaveGet32(head + 4);
    riffEnd = uint64_t(info.riffSize) + 8;
    if (info.riffSize == 0 || info.riffSize == WAVE_SIZE_UNKNOWN)
        info.problems.push_back("the RIFF size is " + std::string(info.riffSize ? "0xFFFFFFFF" : "0") +
                                ", as a stream or an unfinished file leaves it");
    else if (riffEnd < info.fileBytes)
        info.problems.push_back("the RIFF size covers " + std::to_string(riffEnd) +
                                " bytes, but the file has " + std::to_string(info.fileBytes));
    else if (riffEnd > info.fileBytes)
        info.problems.push_back("the file is " + std::to_string(riffEnd - info.fileBytes) +
                                " bytes shorter than its RIFF size says: it was cut short");
    return WaveOpenResult::Ok;
}

}  // namespace

double WaveFullScale(const WaveInfo& info)
{
    if (info.encoding == WaveEncoding::Float) return 1.0;
    return double(uint64_t(1) << (info.bits - 1));
}

WaveOpenResult WaveOpen(WaveReader& reader, const char* path, const Stop* stop)
{
    WaveInfo& info = reader.info;
    info = WaveInfo{};
    reader.nextFrame = 0;
    reader.source.reset();
    const WaveOpenResult opened = OpenFile(reader, path, stop);
    if (opened != WaveOpenResult::Ok) return opened;
    uint64_t riffEnd = 0;
    const WaveOpenResult riff = ReadRiffHeader(reader, riffEnd);
    if (riff != WaveOpenResult::Ok) return riff;
    const WaveChunks found = WaveWalkChunks(reader, riffEnd);
    if (!found.haveFormat) {
        info.problems.push_back("there is no fmt chunk");
        return WaveOpenResult::NotWave;
    }
    if (found.formatResult != WaveOpenResult::Ok) return found.formatResult;
    if (!found.haveData) {
        info.problems.push_back("there is no data chunk");
        return WaveOpenResult::NotWave;
    }
    info.dataOffset = found.dataStart;
    info.frames = found.dataLength / info.blockAlign;
    info.dataBytes = info.frames * info.blockAlign;
    if (found.dataLength != info.dataBytes)
        info.problems.push_back("the data ends with " + std::to_string(found.dataLength - info.dataBytes) +
                                " bytes of an incomplete frame, which are left out");
    info.header.resize(size_t(std::min<uint64_t>(found.dataStart, HEADER_KEPT)));
    if (reader.source->ReadAt(0, info.header.data(), info.header.size()) != info.header.size())
        info.header.clear();
    return WaveOpenResult::Ok;
}

bool WaveSeekFrame(WaveReader& reader, uint64_t frame)
{
    if (frame > reader.info.frames || !reader.source) return false;
    reader.nextFrame = frame;
    return true;
}
