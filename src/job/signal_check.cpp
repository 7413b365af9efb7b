#include "job/signal_check.h"

#include <cmath>
#include <iterator>
#include <memory>
#include <new>

#include "synth/multitone.h"
#include "synth/sweep.h"
#include "synth/tone.h"
#include "wave/wave_format.h"

namespace {

constexpr const char* TOO_LARGE =
    "The file would be 4 GB or larger. Choose a shorter duration, a lower sample rate or a smaller bit "
    "width.";

bool FitsRiffSizes(double frames, int32_t bitWidth)
{
    return std::ceil(frames / BLOCK_FRAMES) * WaveBytesPerBlock(bitWidth) <= double(WAVE_MAX_DATA_BYTES);
}

std::string Refused(const ToneRequest& r, const char* why)
{
    return std::string("--signal ") + SIGNAL_KIND_NAMES[int(r.signal)] + ": " + why + ".";
}

}  // namespace

SignalTones SignalTonesOf(const ToneRequest& r)
{
    switch (r.signal) {
        case SignalKind::Smpte:
            return {TONE_SMPTE.frequencies, TONE_SMPTE.amplitudes, 2};
        case SignalKind::Ccif:
            return {TONE_CCIF.frequencies, TONE_CCIF.amplitudes, 2};
        case SignalKind::Multitone:
            if (r.tones.empty())
                return {TONE_THIRD_OCTAVES, nullptr, uint32_t(std::size(TONE_THIRD_OCTAVES))};
            return {r.tones.data(), nullptr, uint32_t(r.tones.size())};
        default:
            return {};
    }
}

std::string SignalCheck(const ToneRequest& r)
{
    const double amplitude = ToneAmplitude(r.bitWidth, r.attenuation);
    const auto rate = uint32_t(r.sampleRate);
    if (r.signal == SignalKind::Sweep) {
        std::unique_ptr<ToneSweep> sweep(new (std::nothrow) ToneSweep);
        if (!sweep) return Refused(r, "not enough memory");
        if (const char* why =
                ToneSweepPlan(*sweep, r.sweepFrom, r.sweepTo, double(r.seconds), r.silence, rate, amplitude))
            return Refused(r, why);
        if (!FitsRiffSizes(sweep->totalFrames, r.bitWidth)) return TOO_LARGE;
    } else if (SignalIsPeriodic(r.signal)) {
        if (r.signal == SignalKind::Ccif && r.sampleRate < CCIF_MIN_RATE)
            return Refused(r, "its tones of 19 and 20 kHz need a sample rate of at least 44100 Hz");
        const SignalTones tones = SignalTonesOf(r);
        ToneMultitone layout;
        if (!ToneMultitoneLayout(layout, tones.frequencies, tones.amplitudes, tones.count, rate,
                                 SignalPeriod(r), double(r.seconds), amplitude))
            return Refused(r, layout.refusal);
        if (!FitsRiffSizes(ToneMultitoneFrames(layout), r.bitWidth)) return TOO_LARGE;
    }
    return {};
}
