// The figures of a fitted tone, and the tests that say a fit found one.

#include "analyze/tone_figures.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analyze/fade_fit.h"
#include "analyze/levels.h"

namespace {

// Fewer frames than this leave the four unknowns of the fit too few
// samples to be told from noise (an impulse fits a sine exactly).
constexpr double FIT_FRAMES_MIN = 16;
// The largest of N/2 periodogram values of white noise, in units of their
// mean, exceeds ln(N/2) + L with probability e^-L: a sine fitted to noise
// reaches about ln N. A tone must pass that by this much (p < 1e-6).
constexpr double SIGNIFICANCE_MARGIN = 14;
// A harmonic of noise alone: its two fitted coefficients have variance
// 2 s^2 / N each, so its squared amplitude exceeds 2 ln(1/p) x 2 s^2 / N
// with probability p; p = 1e-3.
constexpr double HARMONIC_NOISE_FACTOR = 4 * 6.907755278982137;
// Where the ends of a tone are edges rather than fades, one cycle must hold
// this much more of the tone than of the noise (20 dB) to place them.
constexpr double EDGE_CYCLE_SNR_MIN = 100;
// The fades' zeros are placed between samples to about this many cycles.
constexpr double WHOLE_CYCLES_SLACK = 0.01;
// A span between two ends, each placed on the sampling grid.
constexpr double GRID_SAMPLES = 2;
// Three standard deviations.
constexpr double SIGMAS = 3;
// The error of rounding to one unit: unit^2 / 12.
constexpr double ROUNDING_SHARE = 1.0 / 12;
// An error this far below rounding's (20 dB) leaves nothing to measure.
constexpr double NOTHING_LEFT_SHARE = 0.01;
constexpr double ENOB_OFFSET_DB = 1.76;
constexpr double DB_PER_BIT = 6.02;

}  // namespace

// One unit of the format at the tone's amplitude: 1 for integers, the
// spacing of floats near the amplitude for float samples.
double AnalyzeFormatUnit(const WaveInfo& info, double amp)
{
    if (info.encoding == WaveEncoding::Pcm) return 1.0;
    const int mantissaBits = info.bits == 64 ? 52 : 23;
    int exponent = 0;
    std::frexp(amp, &exponent);
    return std::ldexp(1.0, exponent - 1 - mantissaBits);
}

void AnalyzeToneFigures(const WaveInfo& info, AnalyzeChannelWork& w, const AnalyzeResidual& residual)
{
    AnalyzeChannelResult& out = *w.out;
    const AnalyzeSine& sine = w.sine;
    const double amp = std::hypot(sine.a, sine.b);
    const double fundamental = amp * amp / 2;
    const double frames = double(residual.frames);
    const double noise = std::max(residual.meanSquare, 1e-300);
    if (!(w.end > w.start) || !(frames >= FIT_FRAMES_MIN) || !(frames * sine.nu >= 1)) {
        out.noToneReason = residual.frames == 0
                               ? "no tone was found: too short (no part of it could be fitted)"
                               : "no tone was found: too short (a sine fitted over " +
                                     std::to_string(residual.frames) + " frames cannot be told from noise)";
        return;
    }
    out.sinadDb = 10 * std::log10(fundamental / noise);
    out.residualMeanSquare = residual.meanSquare;
    // The fitted sine's energy against the residual's, as a periodogram
    // value in units of its mean for noise.
    if (!(frames * fundamental / (2 * noise) >= std::log(frames) + SIGNIFICANCE_MARGIN)) {
        out.noToneReason =
            "no tone was found: the sine fitted is not significant (it is as large as noise "
            "alone makes over " +
            std::to_string(residual.frames) + " frames)";
        return;
    }
    out.toneFound = true;
    out.sine = sine;
    out.frequencyHz = sine.nu * info.rate;
    out.levelDbfs = AnalyzeDb20(amp / WaveFullScale(info));
    out.toneStart = w.start;
    out.toneEnd = w.end;
    out.sustainFirst = w.fitFirst;
    out.sustainFrames = w.fitCount;

    // SINAD against what the format carries.
    const double unit = AnalyzeFormatUnit(info, amp);
    out.quantisationLimitDb = 10 * std::log10(fundamental / (unit * unit * ROUNDING_SHARE));
    out.errorBelowOneUnit = out.sinadDb > out.quantisationLimitDb;
    if (residual.meanSquare < NOTHING_LEFT_SHARE * ROUNDING_SHARE * unit * unit)
        out.sinadDb = out.quantisationLimitDb;
    out.enobBits = (out.sinadDb - ENOB_OFFSET_DB) / DB_PER_BIT;

    // Harmonics, against what noise alone would give them.
    double harmonicPower = 0;
    for (double h : residual.harmonicAmplitudes)
        harmonicPower += h * h / 2;
    const double noiseOnly = std::max(residual.meanSquare - harmonicPower, 1e-300);
    const double limit =
        std::sqrt(HARMONIC_NOISE_FACTOR * noiseOnly / double(std::max<uint64_t>(residual.harmonicFrames, 1)));
    out.noiseLimitDb = AnalyzeDb20(limit / amp);
    double above = 0;
    bool anyAbove = false;
    for (double h : residual.harmonicAmplitudes) {
        if (h > limit) {
            out.harmonicsDb.push_back(AnalyzeDb20(h / amp));
            above += h * h;
            anyAbove = true;
        } else {
            out.harmonicsDb.push_back(std::nan(""));
        }
    }
    out.hasThd = !residual.harmonicAmplitudes.empty();
    out.residualSustained = !w.enveloped;
    out.harmonicCos = residual.harmonicCos;
    out.harmonicSin = residual.harmonicSin;
    if (out.hasThd) out.thdDb = anyAbove ? 10 * std::log10(above / (amp * amp)) : std::nan("");

    // Cycles, and whether they are whole: the fit's frequency known to its
    // standard deviation (Cramer-Rao for a sine in white noise, 12 s^2 /
    // (A^2 N (N^2 - 1)) in radians per sample), the ends to within a sample.
    out.cycles = (w.end - w.start) * sine.nu;
    const double sigmaNu =
        std::sqrt(12 * noise / (amp * amp * frames * (frames * frames - 1))) / (2 * 3.141592653589793);
    // The ends of fades to their fits' deviations, and to the part of each
    // fade that rounding to one unit hides.
    const double ends =
        (w.inIsEdge ? 0.0 : w.fadeIn.startVariance) + (w.outIsEdge ? 0.0 : w.fadeOut.startVariance);
    const double share = std::min(1.0, unit / amp);
    const double hiddenIn =
        out.fadeInFrames > 0 ? AnalyzeFadeReach(out.fadeInShape, share) * out.fadeInFrames : 0;
    const double hiddenOut =
        out.fadeOutFrames > 0 ? AnalyzeFadeReach(out.fadeOutShape, share) * out.fadeOutFrames : 0;
    // Each end lies within a sample; a zero rounding hides lies in the
    // hidden part, placed by the fit to within half of it.
    out.cyclesUncertainty = sine.nu * (GRID_SAMPLES + SIGMAS * std::sqrt(ends) + (hiddenIn + hiddenOut) / 2) +
                            WHOLE_CYCLES_SLACK + SIGMAS * sigmaNu * (w.end - w.start);
    const double fades = std::max(w.fadeIn.startVariance + w.fadeIn.fullVariance,
                                  w.fadeOut.startVariance + w.fadeOut.fullVariance);
    out.fadeUncertainty =
        sine.nu * (GRID_SAMPLES + SIGMAS * std::sqrt(fades) + std::max(hiddenIn, hiddenOut) / 2) +
        WHOLE_CYCLES_SLACK;
    const double cycleSnr = fundamental / noise / sine.nu;
    if (w.inIsEdge && cycleSnr < EDGE_CYCLE_SNR_MIN) w.inFound = false;
    if (w.outIsEdge && cycleSnr < EDGE_CYCLE_SNR_MIN) w.outFound = false;
    out.fadeInFound = w.inFound;
    out.fadeOutFound = w.outFound;
    out.wholeCycles = out.fadeInFound && out.fadeOutFound &&
                      std::fabs(out.cycles - std::round(out.cycles)) <= out.cyclesUncertainty;
}
