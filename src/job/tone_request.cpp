#include "job/tone_request.h"

#include <cctype>
#include <cmath>
#include <filesystem>

#include "synth/block_frames.h"
#include "wave/wave_format.h"

namespace {

constexpr RequestRefusal Invalid(const char* message) { return {message, CAPTION_INVALID}; }

const char* AttenuationMessage(int32_t bitWidth)
{
    switch (bitWidth) {
        case 16:
            return "At bit width of 16 maximum attenuation is 90 dB";
        case 24:
            return "At bit width of 24 maximum attenuation is 138 dB";
        default:
            return "At bit width of 32 maximum attenuation is 186 dB";
    }
}

// The planned tone can be up to one cycle (and a few samples) longer than the
// request, and the job writes all of it.
bool FitsRiffSizes(const ToneRequest& r)
{
    const double frames =
        double(r.seconds) * double(r.sampleRate) + std::ceil(double(r.sampleRate) / r.frequency) + 3.0;
    const double blocks = std::ceil(frames / BLOCK_FRAMES);
    return blocks * WaveBytesPerBlock(r.bitWidth) <= double(WAVE_MAX_DATA_BYTES);
}

}  // namespace

uint32_t MaxAttenuation(int32_t bitWidth)
{
    switch (bitWidth) {
        case 16:
            return 90;
        case 24:
            return 138;
        default:
            return 186;
    }
}

RequestRefusal RequestCheck(const ToneRequest& r)
{
    if (r.attenuation > MaxAttenuation(r.bitWidth)) return Invalid(AttenuationMessage(r.bitWidth));
    if (r.signal != SignalKind::Sine) {
        if (r.seconds <= 0 || r.sampleRate <= 0)
            return Invalid("Sample rate, frequency and duration must be positive numbers.");
        return {};
    }
    // "Truncates to 0" without converting: a huge or NaN frequency has no int.
    if (r.seconds == 0 || r.sampleRate == 0 || std::fabs(r.frequency) < 1.0)
        return Invalid("nSeconds = 0 or nSampleRate = 0 or Frequency = 0");
    // At or above half the rate: a tone at exactly half the rate has no
    // defined level (its samples fall near the zero crossings). The designed
    // test, the frequency rounded half up above rate / 2 in whole numbers,
    // let half the rate (and up to half a hertz above it) through at even
    // rates and is the same test at odd ones.
    if (r.frequency >= double(r.sampleRate) / 2.0)
        return Invalid("The frequency you requested is greater than the Nyquist rate!");
    if (!std::isfinite(r.frequency) || r.frequency < 0 || r.sampleRate < 0 || r.seconds < 0)
        return Invalid("Sample rate, frequency and duration must be positive numbers.");
    if (int64_t(r.seconds) * r.sampleRate > INT32_MAX || !FitsRiffSizes(r))
        return Invalid(
            "The file would be 4 GB or larger. Choose a shorter duration, "
            "a lower sample rate or a smaller bit width.");
    return {};
}

uint32_t RequestBlocks(const ToneRequest& r)
{
    const uint32_t frames = uint32_t(r.seconds) * uint32_t(r.sampleRate);
    return frames / BLOCK_FRAMES + (frames % BLOCK_FRAMES > 0 ? 1 : 0);
}

std::string RequestDefaultPath(const std::string& currentDir)
{
    if (currentDir.empty()) return DEFAULT_FILE_NAME;
    std::string path = currentDir + char(std::filesystem::path::preferred_separator) + DEFAULT_FILE_NAME;
    path[0] = char(std::toupper(static_cast<unsigned char>(path[0])));
    return path;
}
