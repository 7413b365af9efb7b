// Calyx's checks: the designed header, whole cycles, fades over whole
// cycles, a sum of exactly zero.

#include "analyze/calyx_checks.h"

#include <cmath>
#include <cstring>
#include <string>

#include "wave/wave_format.h"

namespace {

constexpr size_t CALYX_NOTICE_CHARS = sizeof WAVE_NOTICE_TEXT - 1;

// The header Calyx writes: RIFF, a 100-byte "fmt " with the notice, "fact"
// holding data bytes / bytes per sample, "data"; every size agreeing with
// the file.
std::string CalyxHeaderDifference(const WaveInfo& info)
{
    const std::vector<unsigned char>& h = info.header;
    if (info.encoding != WaveEncoding::Pcm || info.channels != 2 ||
        (info.bits != 16 && info.bits != 24 && info.bits != 32))
        return "not 2-channel integer PCM of 16, 24 or 32 bits";
    if (info.extensible) return "an extensible fmt chunk, not the plain PCM one";
    if (h.size() != WAVE_HEADER_BYTES)
        return "the header has " + std::to_string(info.dataOffset) + " bytes, not " +
               std::to_string(WAVE_HEADER_BYTES);
    if (std::memcmp(&h[WAVE_OFFSET_FMT_ID], "fmt ", 4) != 0 ||
        WaveGet32(&h[WAVE_OFFSET_FMT_SIZE]) != WAVE_FORMAT_BYTES)
        return "the fmt chunk is not the " + std::to_string(WAVE_FORMAT_BYTES) + "-byte one";
    if (WaveGet16(&h[WAVE_OFFSET_FORMAT_TAG]) != WAVE_FORMAT_PCM ||
        WaveGet16(&h[WAVE_OFFSET_CB_SIZE]) != WAVE_FORMAT_EXTRA_BYTES)
        return "the format is not PCM with " + std::to_string(WAVE_FORMAT_EXTRA_BYTES) + " extra bytes";
    for (size_t i = 0; i < CALYX_NOTICE_CHARS; ++i)
        if (h[WAVE_OFFSET_NOTICE + i] < 32 || h[WAVE_OFFSET_NOTICE + i] > 126)
            return "the notice is not " + std::to_string(CALYX_NOTICE_CHARS) + " printable characters";
    for (size_t i = WAVE_OFFSET_NOTICE + CALYX_NOTICE_CHARS; i < WAVE_OFFSET_FACT_ID; ++i)
        if (h[i] != 0) return "the bytes after the notice are not zero";
    if (std::memcmp(&h[WAVE_OFFSET_FACT_ID], "fact", 4) != 0 ||
        WaveGet32(&h[WAVE_OFFSET_FACT_SIZE]) != WAVE_FACT_BYTES)
        return "there is no fact chunk at offset " + std::to_string(WAVE_OFFSET_FACT_ID);
    if (std::memcmp(&h[WAVE_OFFSET_DATA_ID], "data", 4) != 0)
        return "the data chunk does not start at offset " + std::to_string(WAVE_OFFSET_DATA_ID);
    if (info.dataSizeField != info.dataBytes || info.fileBytes != WAVE_HEADER_BYTES + info.dataBytes)
        return "the data size does not match the file";
    if (info.riffSize != info.fileBytes - 8) return "the RIFF size does not match the file";
    if (WaveGet32(&h[WAVE_OFFSET_FACT_VALUE]) != info.dataBytes / (info.bits / 8u))
        return "the fact value is not data bytes / bytes per sample";
    return {};
}

}  // namespace

AnalyzeCalyxChecks AnalyzeCalyxCheck(const AnalyzeFileResult& file)
{
    AnalyzeCalyxChecks calyx;
    calyx.headerWhy = CalyxHeaderDifference(file.info);
    calyx.header = calyx.headerWhy.empty();
    calyx.wholeCycles = calyx.fadesWholeCycles = calyx.zeroSum = !file.channels.empty();
    const double rate = file.info.rate;
    for (const AnalyzeChannelResult& c : file.channels) {
        calyx.zeroSum = calyx.zeroSum && c.integerSum && c.sum == 0;
        calyx.wholeCycles = calyx.wholeCycles && c.toneFound && c.wholeCycles;
        // A fade is whole to what its ends can be known to: the same
        // allowance as the tone's span (a sample, and the fit's deviation).
        const auto whole = [&](double frames) {
            const double cycles = frames * c.frequencyHz / rate;
            return frames > 0 && std::fabs(cycles - std::round(cycles)) <= c.fadeUncertainty;
        };
        calyx.fadesWholeCycles = calyx.fadesWholeCycles && c.toneFound && c.fadeInFound && c.fadeOutFound &&
                                 whole(c.fadeInFrames) && whole(c.fadeOutFrames);
    }
    return calyx;
}
