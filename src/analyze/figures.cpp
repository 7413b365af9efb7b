// The figures of every channel, as audio analysers define them. Each is
// written once, here, with the standard it follows:
//
// - THD+N (AES17): 10 log10(P_res / P_1), P_res the residual (samples less
//   the fitted fundamental and DC over the sustained part) in the band, as
//   an ideal band-pass passes it, A-weighted when asked; P_1 the
//   fundamental's power, never weighted. As a percentage 100 10^(dB / 20).
// - Noise: the same residual without harmonics 2 to 10, in dBFS, 0 dBFS
//   being the mean square of a full-scale sine, FS^2 / 2 (AES17).
// - Dynamic range (AES17): for a tone of -60 dBFS (+-1 dB), -(level + the
//   A-weighted THD+N in 20 Hz to 20 kHz), whatever weighting was asked.
// - Gain and phase: each channel against channel 1 at the same frequency.
// - Crosstalk: a channel without a tone of its own, at the exact frequency
//   of the strongest tone of another channel, relative to that tone.
// - Clock offset: (fitted frequency / nominal - 1) 10^6 ppm.
// - IMD: imd.cpp.

#include "analyze/figures.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/band.h"
#include "analyze/channels_compare.h"
#include "analyze/weighting.h"
#include "base/run_parts.h"

namespace {

constexpr double AES17_LOW_HZ = 20.0;
constexpr double AES17_HIGH_HZ = 20000.0;
constexpr double DYNAMIC_RANGE_LEVEL_DBFS = -60.0;
constexpr double DYNAMIC_RANGE_LEVEL_SPAN_DB = 1.0;
// A tone this far below another channel's at its frequency is that tone's
// crosstalk, not a tone of its own.
constexpr double CROSSTALK_BELOW_DB = 40.0;
constexpr double SAME_FREQUENCY_CYCLES = 0.5;
// A residual with no bin this close to the fundamental's power holds no
// second tone for an IMD pair.
constexpr double SECOND_TONE_MIN_SHARE = 1e-3;
constexpr double PPM = 1e6;

double Db10(double ratio) { return ratio > 0 && std::isfinite(ratio) ? 10 * std::log10(ratio) : NAN; }

double Power(const AnalyzeChannelResult& c) { return (c.sine.a * c.sine.a + c.sine.b * c.sine.b) / 2; }

// Harmonics 2 to 10 as fitted whose frequencies fall in [low, high].
double HarmonicsInBand(const AnalyzeChannelResult& c, double low, double high, bool aWeighted)
{
    double total = 0.0;
    for (size_t k = 0; k < c.harmonicCos.size(); ++k) {
        const double hz = c.frequencyHz * double(k + 2);
        if (hz < low || hz > high) continue;
        const double power = (c.harmonicCos[k] * c.harmonicCos[k] + c.harmonicSin[k] * c.harmonicSin[k]) / 2;
        total += power * (aWeighted ? AnalyzeAWeightingPower(hz) : 1.0);
    }
    return total;
}

// The strongest tone of a channel other than `channel`, or -1.
int StrongestOther(const AnalyzeFileResult& file, size_t channel)
{
    int best = -1;
    for (size_t c = 0; c < file.channels.size(); ++c)
        if (c != channel && file.channels[c].toneFound &&
            (best < 0 || Power(file.channels[c]) > Power(file.channels[size_t(best)])))
            best = int(c);
    return best;
}

bool IsCrosstalk(const AnalyzeChannelResult& c, const AnalyzeChannelResult& source)
{
    if (!c.toneFound) return true;
    return std::fabs(c.sine.nu - source.sine.nu) * double(source.sustainFrames) <= SAME_FREQUENCY_CYCLES &&
           c.levelDbfs < source.levelDbfs - CROSSTALK_BELOW_DB;
}

// Whether a channel holds only another channel's tone; `source` that channel.
bool CrosstalkOnly(const AnalyzeFileResult& file, size_t channel, int& source)
{
    source = StrongestOther(file, channel);
    return source >= 0 && IsCrosstalk(file.channels[channel], file.channels[size_t(source)]);
}

void ChannelFigures(const AnalyzeFileResult& file, size_t channel, const AnalyzeMeasurement& m,
                    const AnalyzeMeasureOptions& options, AnalyzeChannelFigures& out)
{
    const AnalyzeChannelResult& c = file.channels[channel];
    const uint32_t rate = file.info.rate;
    int source = -1, referenceSource = -1;
    const bool crosstalk = CrosstalkOnly(file, channel, source);
    if (crosstalk) {
        const AnalyzeChannelResult& s = file.channels[size_t(source)];
        double amplitude = 0.0;
        if (AnalyzeAmplitudeAt(file.opened, uint32_t(channel), s.sustainFirst, s.sustainFrames, s.sine.nu,
                               amplitude))
            out.crosstalkDb = Db10(amplitude * amplitude / (2 * Power(s)));
        out.crosstalkFrom = uint32_t(source);
    }
    AnalyzeNoiseSpectrum spectrum;
    const bool noise = AnalyzeNoiseSpectrumOf(file.opened, uint32_t(channel), rate, c, m.bandLowHz,
                                              m.bandHighHz, m.weightingA, spectrum);
    if (noise && m.bandHighHz > m.bandLowHz) {
        const double p1 = Power(c);
        const double band = AnalyzeBandPower(spectrum, m.bandLowHz, m.bandHighHz, m.weightingA);
        const double ratio = (band + HarmonicsInBand(c, m.bandLowHz, m.bandHighHz, m.weightingA)) / p1;
        out.thdNDb = Db10(ratio);
        // 100 10^(dB / 20), as a square root: correctly rounded on every
        // build, where a library's power is not (its last digit differed).
        out.thdNPercent = 100 * std::sqrt(ratio);
        const double fullScale = WaveFullScale(file.info);
        out.noiseDbfs = Db10(band / (fullScale * fullScale / 2));
        if (std::fabs(c.levelDbfs - DYNAMIC_RANGE_LEVEL_DBFS) <= DYNAMIC_RANGE_LEVEL_SPAN_DB) {
            const double high = std::min(AES17_HIGH_HZ, rate / 2.0);
            const double weighted = AnalyzeBandPower(spectrum, AES17_LOW_HZ, high, true) +
                                    HarmonicsInBand(c, AES17_LOW_HZ, high, true);
            out.dynamicRangeDb = -(c.levelDbfs + Db10(weighted / p1));
        }
    }
    if (c.toneFound && options.nominalHz > 0)
        out.clockOffsetPpm = (c.frequencyHz / options.nominalHz - 1) * PPM;
    if (channel > 0 && !crosstalk && !CrosstalkOnly(file, 0, referenceSource)) {
        double gain = 0.0, phase = 0.0;
        if (AnalyzeGainPhase(file.channels[0], c, gain, phase)) {
            out.gainDb = gain;
            out.phaseDeg = phase;
        }
    }
    // Only where a second tone can be: no residual to look at, or one with
    // a strong component left; never in a sweep or a multitone (the search
    // took a quarter of a sweep's analysis).
    bool second = options.imd != AnalyzeImdMode::Auto || !noise;
    for (double p : spectrum.power)
        second = second || p >= SECOND_TONE_MIN_SHARE * Power(c);
    if (options.imd == AnalyzeImdMode::Auto && c.notOneTone) second = false;
    if (second)
        out.hasImd = AnalyzeMeasureImd(file.opened, uint32_t(channel), file.info, c, options.imd, out.imd);
}

}  // namespace

void AnalyzeMeasure(AnalyzeFileResult& file, const AnalyzeMeasureOptions& options, unsigned threads)
{
    AnalyzeMeasurement& m = file.measurement;
    const double half = file.info.rate / 2.0;
    m.bandLowHz = options.bandFull ? 0.0 : std::min(options.bandLowHz, half);
    m.bandHighHz = options.bandFull ? half : std::min(options.bandHighHz, half);
    m.bandClipped = !options.bandFull && options.bandHighHz > half;
    m.weightingA = options.weightingA;
    m.nominalHz = options.nominalHz;
    if (file.open != WaveOpenResult::Ok || file.channels.empty()) return;
    const size_t channels = file.channels.size();
    const unsigned workers = std::max(1u, std::min<unsigned>(threads, unsigned(channels)));
    RunParts(workers, [&](unsigned w) {
        for (size_t c = w; c < channels; c += workers)
            ChannelFigures(file, c, m, options, file.channels[c].figures);
    });
}
