// Reads the stimulus and the recording whole (the deconvolution needs every
// sample at once) and writes the impulse response as a float WAVE file.

#include <algorithm>
#include <cstring>

#include "base/run_parts.h"
#include "analyze/name_text.h"
#include "analyze/response_measure.h"
#include "wave/wave_reader.h"

namespace {

constexpr uint32_t READ_FRAMES = 65536;

// Every channel of an open file, as fractions of full scale. The two
// halves are read on two threads, each by its own copy of the reader: the
// conversion and the faulting in of the fresh vectors took 7 ms of a sweep
// bench's response on one.
std::vector<std::vector<double>> ReadAll(const WaveReader& file)
{
    constexpr unsigned HALVES = 2;
    const WaveInfo& info = file.info;
    std::vector<std::vector<double>> channels(info.channels);
    for (auto& c : channels)
        c.resize(size_t(info.frames));
    const double scale = 1.0 / WaveFullScale(info);
    uint64_t got[HALVES] = {};
    RunParts(HALVES, [&](unsigned h) {
        WaveReader reader = file;
        const uint64_t from = info.frames * h / HALVES, to = info.frames * (h + 1) / HALVES;
        if (!WaveSeekFrame(reader, from)) return;
        std::vector<double*> out(info.channels);
        uint64_t done = from;
        while (done < to) {
            for (size_t c = 0; c < channels.size(); ++c)
                out[c] = channels[c].data() + done;
            const uint32_t n =
                WaveReadChannels(reader, out.data(), uint32_t(std::min<uint64_t>(READ_FRAMES, to - done)));
            if (n == 0) break;
            for (double* o : out)
                for (uint32_t i = 0; i < n; ++i)
                    o[i] *= scale;
            done += n;
        }
        got[h] = done - from;
    });
    // The channels end where the reading first fell short.
    uint64_t frames = 0;
    for (unsigned h = 0; h < HALVES; ++h) {
        frames += got[h];
        if (got[h] < info.frames * (h + 1) / HALVES - info.frames * h / HALVES) break;
    }
    for (auto& c : channels)
        c.resize(size_t(frames));
    return channels;
}

void PutLe(std::string& bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(char((value >> (8 * i)) & 0xFF));
}

}  // namespace

void AnalyzeResponseFill(AnalyzeFileResult& file, const std::string& stimulusPath,
                         const AnalyzeMeasureOptions& options)
{
    const auto fail = [&file](const std::string& why) {
        for (AnalyzeChannelResult& c : file.channels)
            c.response.reason = why;
    };
    WaveReader stimulusReader;
    if (WaveOpen(stimulusReader, stimulusPath.c_str()) != WaveOpenResult::Ok)
        return fail("the stimulus " + AnalyzeNameText(stimulusPath) + " cannot be read");
    if (stimulusReader.info.rate != file.info.rate)
        return fail("the stimulus's rate differs from the recording's");
    std::vector<std::vector<double>> stimulus = ReadAll(stimulusReader);
    const size_t channels = file.channels.size();
    if (stimulus.empty() || channels == 0)
        return fail("the stimulus or the recording could not be read whole");
    // The stimulus's transform once for the channels played the same
    // samples (the channels of a Calyx sweep are), then each channel on its
    // own thread.
    std::vector<size_t> played(channels), distinct;
    for (size_t c = 0; c < channels; ++c) {
        const size_t s = stimulus.size() == channels ? c : 0;
        size_t u = 0;
        while (u < distinct.size() && stimulus[distinct[u]] != stimulus[s])
            ++u;
        if (u == distinct.size()) distinct.push_back(s);
        played[c] = u;
    }
    // A channel the same as another (a Calyx sweep's second) is not kept:
    // its memory serves the recording's.
    for (size_t s = 0; s < stimulus.size(); ++s)
        if (std::find(distinct.begin(), distinct.end(), s) == distinct.end()) stimulus[s] = {};
    // The recording is read while the stimulus is transformed: the read is
    // mostly the kernel's faulting in of fresh memory, on the other core
    // (40 of the sweep bench's 230 ms were these two one after the other).
    std::vector<AnalyzeResponseStimulus> prepared(distinct.size());
    std::vector<std::vector<double>> recording;
    const auto count = unsigned(distinct.size());
    RunParts(count + 1, [&](unsigned u) {
        if (u == count)
            recording = ReadAll(file.opened);
        else
            prepared[u] = AnalyzeResponseStimulusPrepare(stimulus[distinct[u]], size_t(file.info.frames),
                                                         file.info.rate, options);
    });
    if (recording.size() != channels) return fail("the stimulus or the recording could not be read whole");
    if (recording[0].size() != file.info.frames)  // read short: transforms for what was read
        for (unsigned u = 0; u < count; ++u)
            prepared[u] = AnalyzeResponseStimulusPrepare(stimulus[distinct[u]], recording[0].size(),
                                                         file.info.rate, options);
    RunParts(unsigned(recording.size()), [&](unsigned c) {
        file.channels[c].response = AnalyzeResponseAgainst(prepared[played[c]], recording[c]);
    });
}

std::string AnalyzeImpulseWave(const AnalyzeResponse& response)
{
    // The file starts at the recording's sample 0; a part before it is left out.
    const int64_t skip = response.impulseFirst < 0 ? -response.impulseFirst : 0;
    const int64_t lead = response.impulseFirst > 0 ? response.impulseFirst : 0;
    const int64_t kept = std::max<int64_t>(0, int64_t(response.impulse.size()) - skip);
    const auto dataBytes = uint32_t((lead + kept) * 4);
    std::string bytes = "RIFF";
    PutLe(bytes, 36 + dataBytes, 4);
    bytes += "WAVEfmt ";
    PutLe(bytes, 16, 4);
    PutLe(bytes, 3, 2);  // IEEE float
    PutLe(bytes, 1, 2);
    PutLe(bytes, response.rate, 4);
    PutLe(bytes, response.rate * 4, 4);
    PutLe(bytes, 4, 2);
    PutLe(bytes, 32, 2);
    bytes += "data";
    PutLe(bytes, dataBytes, 4);
    bytes.append(size_t(lead * 4), '\0');
    for (int64_t i = skip; i < int64_t(response.impulse.size()); ++i) {
        uint32_t word = 0;
        std::memcpy(&word, &response.impulse[size_t(i)], 4);
        PutLe(bytes, word, 4);
    }
    return bytes;
}
