// The residual's noise in a band.
//
// An ideal band-pass has no time-domain form, so the band is cut in the
// frequency domain: the residual (samples less the fitted fundamental, DC
// and harmonics, which are exact least-squares fits and known analytically)
// is Blackman-Harris windowed, transformed, and its periodograms averaged
// (Welch). Power per bin is normalised by the window's sum of squares, so a
// bin holds the mean square that falls in it whatever the window; the
// window's side lobes (-92 dB) spread nothing of a noise floor that matters.
// Taking the harmonics out in the time domain first is what makes the noise
// exact under strong harmonics: their leakage would otherwise sit on it.
// The segments are spread evenly over the sustained part: BAND_FRAMES_FIRST
// frames, a small part of the time of the other passes, or more (up to
// BAND_FRAMES_MAX) where the band's figure from those would still wander by
// more than 0.02 dB, as white noise does in the audio band of a 384 kHz
// file, a tenth of its spectrum. They give the spectrum's shape; its total is the exact power of
// the residual less the harmonics over the whole sustained part (the
// residual pass's mean square less the fitted harmonics' powers, a least-
// squares projection), so a residual that changes along the file is
// weighed as a whole and the full band gives SINAD's residual exactly.
// Where the harmonics carry most of the residual, the difference would be
// lost in their fits' own uncertainty: there the segments' total stands,
// and the few bins around the fundamental and each harmonic take the level
// of their neighbours, as a notch would: the fits leave traces there (the
// strong harmonics pull the fundamental's fit, and their own fits, by
// parts in 10^4) that are not noise and can still outweigh it.

#include "analyze/band.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "analyze/fft.h"
#include "synth/tone_math.h"
#include "analyze/fit_kernels.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"
#include "analyze/weighting.h"

namespace {

constexpr double BIN_HZ_MAX = 1.5;  // the band's edges fall within a bin of this width
constexpr uint32_t LENGTH_MIN = 256;
constexpr uint32_t LENGTH_MAX = uint32_t(1) << 16;
constexpr uint64_t BAND_FRAMES_FIRST = uint64_t(1) << 16;
constexpr uint64_t BAND_FRAMES_MAX = uint64_t(1) << 19;
constexpr double BAND_ERROR_GOAL = 0.005;  // relative: 0.02 dB
constexpr double WINDOW_BINS = 2.0;        // the window's equivalent noise bandwidth
constexpr uint32_t SEGMENTS_MAX = 64;
constexpr uint32_t BLOCK_MAX = 1024;
// The share of the residual's power that must be left without the
// harmonics for the difference to be trusted.
constexpr double EXACT_TOTAL_MIN_SHARE = 0.5;
// Harmonics weaker than this share of the residual's power are left in it.
constexpr double HARMONIC_SHARE_MIN = 1e-6;
constexpr int NOTCH_BINS = 6;      // beyond the window's main lobe
constexpr int NEIGHBOUR_BINS = 8;  // on each side, whose mean fills the notch

// 4-term Blackman-Harris.
double Window(uint32_t j, uint32_t n)
{
    // cos 2u and cos 3u from cos u: one cosine per sample.
    const double c = ToneCos(ANALYZE_TWO_PI * double(j) / double(n));
    return 0.35875 - 0.48829 * c + 0.14128 * (2 * c * c - 1) - 0.01168 * ((4 * c * c - 3) * c);
}

// One sinusoid to take out of the blocks: cos and sin of 2 pi nu j over a
// block, and its coefficients.
struct Component {
    std::vector<double> c, s;
    AnalyzeCycleRate rate;
    double a = 0.0, b = 0.0, offset = 0.0;
};

Component MakeComponent(double nu, uint32_t block, double a, double b)
{
    Component p;
    p.rate = AnalyzeSplitRate(nu);
    p.a = a;
    p.b = b;
    p.c.resize(block);
    p.s.resize(block);
    for (uint32_t j = 0; j < block; ++j) {
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(p.rate, j);
        p.c[j] = ToneCos(angle);
        p.s[j] = ToneSin(angle);
    }
    return p;
}

// The bins around frequency nu (cycles per sample) set to the mean of their
// neighbours on both sides.
void Notch(std::vector<double>& power, uint32_t n, double nu)
{
    const int last = int(power.size()) - 1;
    const int centre = int(std::lround(nu * n));
    double sum = 0.0;
    int count = 0;
    for (int k = centre - NOTCH_BINS - NEIGHBOUR_BINS; k <= centre + NOTCH_BINS + NEIGHBOUR_BINS; ++k)
        if (k >= 0 && k <= last && std::abs(k - centre) > NOTCH_BINS) {
            sum += power[size_t(k)];
            ++count;
        }
    if (count == 0) return;
    for (int k = std::max(0, centre - NOTCH_BINS); k <= std::min(last, centre + NOTCH_BINS); ++k)
        power[size_t(k)] = sum / count;
}

// The relative standard error of the power in [lowHz, highHz] from one
// segment: each bin of a periodogram wanders by its own size, and the window
// ties WINDOW_BINS neighbours together. Scaled to an exact total, only the
// band's share of it wanders, by the errors of the parts in and outside it.
double RelativeError(const AnalyzeNoiseSpectrum& spectrum, double lowHz, double highHz, bool aWeighted,
                     bool scaled)
{
    double in = 0.0, inSquares = 0.0, out = 0.0, outSquares = 0.0;
    for (size_t k = 0; k < spectrum.power.size(); ++k) {
        const double centre = double(k) * spectrum.binHz;
        double p = spectrum.power[k];
        if (centre >= lowHz && centre <= highHz) {
            p *= aWeighted ? AnalyzeAWeightingPower(centre) : 1.0;
            in += p;
            inSquares += p * p;
        } else {
            out += p;
            outSquares += p * p;
        }
    }
    if (!(in > 0)) return 0.0;
    if (!scaled) return std::sqrt(WINDOW_BINS * inSquares) / in;
    const double outShare = out / (in + out);
    const double outPart = out > 0 ? outSquares / (out * out) : 0.0;
    return outShare * std::sqrt(WINDOW_BINS * (inSquares / (in * in) + outPart));
}

}  // namespace

bool AnalyzeNoiseSpectrumOf(const WaveReader& file, uint32_t channel, uint32_t rate,
                            const AnalyzeChannelResult& result, double lowHz, double highHz, bool aWeighted,
                            AnalyzeNoiseSpectrum& spectrum)
{
    if (!result.toneFound || !result.residualSustained) return false;
    const uint64_t frames = result.sustainFrames;
    uint32_t n = LENGTH_MIN;
    while (n < LENGTH_MAX && (double(rate) / n) > BIN_HZ_MAX)
        n <<= 1;
    while (n > LENGTH_MIN && n > frames)
        n >>= 1;
    if (n > frames) return false;
    const uint32_t block = std::min(n, BLOCK_MAX);
    // Half-overlapping where the part is short, evenly spread where it is long.
    const uint64_t fit = std::max<uint64_t>(1, 2 * (frames / n) - 1);
    const auto segmentsFor = [&](uint64_t budget) {
        return uint32_t(std::clamp<uint64_t>(std::min(fit, budget / n), 1, SEGMENTS_MAX));
    };

    // The fundamental with DC, and the harmonics that weigh anything beside
    // the residual's power (the rest change no figure shown).
    const AnalyzeSine& sine = result.sine;
    const double residual = result.residualMeanSquare;
    std::vector<Component> parts;
    parts.push_back(MakeComponent(sine.nu, block, sine.a, sine.b));
    parts[0].offset = sine.offset;
    double harmonics = 0.0;
    for (size_t k = 0; k < result.harmonicCos.size(); ++k) {
        const double a = result.harmonicCos[k], b = result.harmonicSin[k];
        harmonics += (a * a + b * b) / 2;
        if ((a * a + b * b) / 2 >= HARMONIC_SHARE_MIN * residual)
            parts.push_back(MakeComponent(sine.nu * double(k + 2), block, a, b));
    }
    const double exact = residual - harmonics;
    const bool scaled = exact > EXACT_TOTAL_MIN_SHARE * residual;

    std::vector<double> window(n), samples(n), buffer;
    double windowSquares = 0.0;
    for (uint32_t j = 0; j < n; ++j) {
        window[j] = j <= n / 2 ? Window(j, n) : window[n - j];  // symmetric: w(j) = w(n - j)
        windowSquares += window[j] * window[j];
    }
    spectrum.binHz = double(rate) / n;
    spectrum.length = n;
    WaveReader reader = file;
    const auto average = [&](uint32_t segments) {
        spectrum.segments = segments;
        spectrum.power.assign(n / 2 + 1, 0.0);
        for (uint32_t i = 0; i < segments; ++i) {
            const uint64_t spare = frames - n;
            const uint64_t first =
                result.sustainFirst + (segments > 1 ? spare * i / (segments - 1) : spare / 2);
            const bool ok = AnalyzeForEachRun(
                reader, channel, first, n, buffer, block, [&](const double* x, uint32_t m, uint64_t frame) {
                    double* r = samples.data() + (frame - first);
                    const int64_t t = int64_t(frame) - sine.origin;
                    for (size_t k = 0; k < parts.size(); ++k) {
                        const Component& p = parts[k];
                        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(p.rate, t);
                        const double C = ToneCos(angle), S = ToneSin(angle);
                        double square;
                        AnalyzeResidualBlock(k == 0 ? x : r, p.c.data(), p.s.data(), p.a * C + p.b * S,
                                             p.b * C - p.a * S, p.offset, m, r, &square);
                    }
                });
            if (!ok) return false;
            for (uint32_t j = 0; j < n; ++j)
                samples[j] *= window[j];
            const std::vector<std::complex<double>> bins = AnalyzeFft(samples);
            for (uint32_t k = 0; k <= n / 2; ++k) {
                const double both = k == 0 || k == n / 2 ? 1.0 : 2.0;  // one-sided: the negative half too
                spectrum.power[k] += both * std::norm(bins[k]) / (double(n) * windowSquares);
            }
        }
        for (double& p : spectrum.power)
            p /= segments;
        return true;
    };
    uint32_t segments = segmentsFor(BAND_FRAMES_FIRST);
    if (!average(segments)) return false;
    // More segments where the band's figure would still wander by more than
    // the goal from one noise to another (up to BAND_FRAMES_MAX frames).
    const double error =
        RelativeError(spectrum, lowHz, highHz, aWeighted, scaled) / std::sqrt(double(segments));
    if (error > BAND_ERROR_GOAL) {
        const double wanted = std::ceil(segments * (error / BAND_ERROR_GOAL) * (error / BAND_ERROR_GOAL));
        const uint32_t more = std::min(segmentsFor(BAND_FRAMES_MAX), uint32_t(std::min(wanted, 1e6)));
        if (more > segments && !average(more)) return false;
    }
    double measured = 0.0;
    for (double p : spectrum.power)
        measured += p;
    if (scaled && measured > 0) {
        for (double& p : spectrum.power)
            p *= exact / measured;
    } else {
        for (size_t k = 1; k <= result.harmonicCos.size() + 1; ++k)
            Notch(spectrum.power, n, sine.nu * double(k));
    }
    return true;
}

double AnalyzeBandPower(const AnalyzeNoiseSpectrum& spectrum, double lowHz, double highHz, bool aWeighted)
{
    double total = 0.0;
    const double d = spectrum.binHz;
    for (size_t k = 0; k < spectrum.power.size(); ++k) {
        const double centre = double(k) * d;
        const double share =
            std::max(0.0, std::min(centre + d / 2, highHz) - std::max(centre - d / 2, lowHz));
        if (share <= 0) continue;
        total += spectrum.power[k] * (share / d) * (aWeighted ? AnalyzeAWeightingPower(centre) : 1.0);
    }
    return total;
}
