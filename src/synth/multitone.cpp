#include "synth/multitone.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "synth/exact_phase.h"
#include "synth/signal_counts.h"
#include "synth/tone.h"
#include "synth/tone_math.h"
#include "synth/tone_saturate.h"

namespace {

// Rounds of clipping that lower the crest factor below Newman's phases
// (the third octaves at 48 kHz: 12.5 dB; after 20 rounds 10.9, after 40
// 10.3, at twice the planning time: two passes over the period per tone).
constexpr int CLIP_ROUNDS = 20;
// Each round clips the waveform at this many times its RMS (about 3 dB;
// 1.2 ... 1.6 do about as well, clipping at a fraction of the peak worse).
constexpr double CLIP_LEVEL = 1.4;

std::unique_ptr<double[]> Doubles(uint32_t n)
{
    return std::unique_ptr<double[]>(new (std::nothrow) double[n]);
}

// Everything the phase search works on: the period's cosines and sines,
// exact to a unit, and the tones' phases as unit vectors.
struct Search {
    std::unique_ptr<double[]> turns;  // cos, sin of 2 pi t / P, interleaved
    std::unique_ptr<double[]> wave, clipped;
    double phaseCos[TONE_MULTITONE_MAX];
    double phaseSin[TONE_MULTITONE_MAX];
};

// Each tone as a phasor turned a sample at a time, restarted from the
// exact table every RESTART samples so that its rounding stays near 2^-44:
// the tones are independent lanes, so the loops vectorise without changing
// a bit.
constexpr uint32_t RESTART = 256;

struct Phasors {
    double re[TONE_MULTITONE_MAX], im[TONE_MULTITONE_MAX];
    double stepRe[TONE_MULTITONE_MAX], stepIm[TONE_MULTITONE_MAX];
};

// Phasors a e^(i (2 pi k t / P + phase)) at sample t, with their steps.
void StartPhasors(const ToneMultitone& p, const Search& s, uint32_t t, const double* scaleRe,
                  const double* scaleIm, Phasors& z)
{
    for (uint32_t i = 0; i < p.count; ++i) {
        const uint32_t at = uint32_t(uint64_t(p.bins[i]) * t % p.period);
        const double c = s.turns[2 * at], sn = s.turns[2 * at + 1];
        z.re[i] = c * scaleRe[i] - sn * scaleIm[i];
        z.im[i] = sn * scaleRe[i] + c * scaleIm[i];
        z.stepRe[i] = s.turns[2 * p.bins[i]];
        z.stepIm[i] = s.turns[2 * p.bins[i] + 1];
    }
}

void Turn(Phasors& z, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        const double re = z.re[i] * z.stepRe[i] - z.im[i] * z.stepIm[i];
        z.im[i] = z.re[i] * z.stepIm[i] + z.im[i] * z.stepRe[i];
        z.re[i] = re;
    }
}

// wave[t] = sum of a cos(2 pi k t / P + phase), the tones in a fixed order.
void Synthesize(const ToneMultitone& p, const Search& s, double* wave)
{
    double scaleRe[TONE_MULTITONE_MAX], scaleIm[TONE_MULTITONE_MAX];
    for (uint32_t i = 0; i < p.count; ++i) {
        scaleRe[i] = s.phaseCos[i] * p.amplitudes[i];
        scaleIm[i] = s.phaseSin[i] * p.amplitudes[i];
    }
    Phasors z;
    for (uint32_t t = 0; t < p.period; ++t) {
        if (t % RESTART == 0) StartPhasors(p, s, t, scaleRe, scaleIm, z);
        double sum = 0.0;
        for (uint32_t i = 0; i < p.count; ++i)
            sum += z.re[i];
        wave[t] = sum;
        Turn(z, p.count);
    }
}

// The same from the exact table at every sample, tone by tone: the period
// that is kept.
void SynthesizeExactly(const ToneMultitone& p, const Search& s, double* wave)
{
    std::fill(wave, wave + p.period, 0.0);
    for (uint32_t i = 0; i < p.count; ++i) {
        const double pc = s.phaseCos[i] * p.amplitudes[i], ps = s.phaseSin[i] * p.amplitudes[i];
        uint32_t at = 0;
        for (uint32_t t = 0; t < p.period; ++t) {
            wave[t] += s.turns[2 * at] * pc - s.turns[2 * at + 1] * ps;
            at += p.bins[i];
            if (at >= p.period) at -= p.period;
        }
    }
}

double Peak(const double* wave, uint32_t n)
{
    double peak = 0.0;
    for (uint32_t t = 0; t < n; ++t)
        peak = std::max(peak, std::fabs(wave[t]));
    return peak;
}

// The phases of the clipped wave at each tone's bin, by direct DFT
// (van der Ouderaa, Schoukens and Renneboog, "Peak factor minimization
// using a time-frequency domain swapping algorithm", IEEE TIM 37(1), 1988):
// the amplitudes stay, the phases follow the clipped wave.
void ProjectPhases(const ToneMultitone& p, Search& s, const double* clipped)
{
    double ones[TONE_MULTITONE_MAX], zeros[TONE_MULTITONE_MAX];
    double re[TONE_MULTITONE_MAX] = {}, im[TONE_MULTITONE_MAX] = {};
    std::fill(ones, ones + p.count, 1.0);
    std::fill(zeros, zeros + p.count, 0.0);
    Phasors z;
    for (uint32_t t = 0; t < p.period; ++t) {
        if (t % RESTART == 0) StartPhasors(p, s, t, ones, zeros, z);
        for (uint32_t i = 0; i < p.count; ++i) {
            re[i] += clipped[t] * z.re[i];
            im[i] -= clipped[t] * z.im[i];
        }
        Turn(z, p.count);
    }
    for (uint32_t i = 0; i < p.count; ++i) {
        const double h = std::sqrt(re[i] * re[i] + im[i] * im[i]);  // IEEE sqrt: correctly rounded everywhere
        if (h > 0.0) {
            s.phaseCos[i] = re[i] / h;
            s.phaseSin[i] = im[i] / h;
        }
    }
}

// Newman's phases pi (i - 1)^2 / N (Newman, "An impulse-function generator",
// 1965; Schroeder's low-peak-factor phases for equal tones), then rounds of
// clipping, keeping the phases of the lowest peak. Leaves the wave of those
// in s.wave and returns its peak.
double ChoosePhases(const ToneMultitone& p, Search& s)
{
    const uint64_t twice = 2 * uint64_t(p.count);
    for (uint32_t i = 0; i < p.count; ++i) {
        const double angle = double(uint64_t(i) * i % twice) * (2.0 * TONE_HALF_PI.hi) / double(p.count);
        s.phaseCos[i] = ToneCos(angle);
        s.phaseSin[i] = ToneSin(angle);
    }
    double bestCos[TONE_MULTITONE_MAX], bestSin[TONE_MULTITONE_MAX];
    std::copy(s.phaseCos, s.phaseCos + p.count, bestCos);
    std::copy(s.phaseSin, s.phaseSin + p.count, bestSin);
    Synthesize(p, s, s.wave.get());
    double best = Peak(s.wave.get(), p.period);
    double power = 0.0;
    for (uint32_t i = 0; i < p.count; ++i)
        power += p.amplitudes[i] * p.amplitudes[i] / 2.0;
    const double rms = std::sqrt(power);
    for (int round = 0; round < CLIP_ROUNDS; ++round) {
        const double level = CLIP_LEVEL * rms;
        for (uint32_t t = 0; t < p.period; ++t)
            s.clipped[t] = std::min(level, std::max(-level, s.wave[t]));
        ProjectPhases(p, s, s.clipped.get());
        Synthesize(p, s, s.wave.get());
        const double peak = Peak(s.wave.get(), p.period);
        if (peak < best) {
            best = peak;
            std::copy(s.phaseCos, s.phaseCos + p.count, bestCos);
            std::copy(s.phaseSin, s.phaseSin + p.count, bestSin);
        }
    }
    std::copy(bestCos, bestCos + p.count, s.phaseCos);
    std::copy(bestSin, bestSin + p.count, s.phaseSin);
    SynthesizeExactly(p, s, s.wave.get());
    return Peak(s.wave.get(), p.period);
}

// A faded period's sample j: the first period rises, the last falls.
int32_t Faded(const ToneMultitone& p, bool rising, uint32_t j)
{
    const uint32_t k = rising ? p.period - 1 - j : j;
    return int32_t(p.shape[j] * ToneRampGain(p.period, k, p.amplitude));
}

// The correction's units at faded sample g (0 ... 2 period - 1, the first
// period then the last): |correction| spread as evenly as integers allow.
int64_t UnitsAt(const ToneMultitone& p, uint32_t g)
{
    if (p.correction == 0) return 0;
    const uint64_t span = 2 * uint64_t(p.period);
    const uint64_t size = uint64_t(p.correction < 0 ? -p.correction : p.correction);
    const uint64_t rest = size % span;
    const uint64_t units = size / span + ((g + 1) * rest / span - g * rest / span);
    return p.correction < 0 ? -int64_t(units) : int64_t(units);
}

bool Refuse(ToneMultitone& p, const char* text, double a = 0.0, double b = 0.0)
{
    std::snprintf(p.refusal, sizeof p.refusal, text, a, b);
    return false;
}

}  // namespace

bool ToneMultitonePlan(ToneMultitone& p, const double* frequencies, const double* amplitudes, uint32_t count,
                       uint32_t rate, uint32_t period, double seconds, double amplitude)
{
    p = {};
    if (count == 0 || count > TONE_MULTITONE_MAX) return Refuse(p, "between 1 and 64 tones");
    if (rate == 0 || period < 4) return Refuse(p, "the period must be at least 4 frames");
    p.rate = rate;
    p.period = period;
    p.count = count;
    p.amplitude = amplitude;
    for (uint32_t i = 0; i < count; ++i) {
        const double bin = ToneRoundHalfAway(frequencies[i] * period / rate);
        if (!(bin >= 1.0) || !(2.0 * bin < period))
            return Refuse(p, "%g Hz is outside the bins above 0 Hz and below half the rate", frequencies[i]);
        p.bins[i] = uint32_t(bin);
        p.amplitudes[i] = amplitudes ? amplitudes[i] : 1.0;
        for (uint32_t j = 0; j < i; ++j)
            if (p.bins[j] == p.bins[i])
                return Refuse(p, "%g Hz and %g Hz fall in the same bin", frequencies[j], frequencies[i]);
    }
    const double frames = std::ceil(seconds * rate);
    p.periods = uint32_t(std::max(4.0, std::ceil(frames / period)));
    if (!(seconds > 0.0) || !(double(p.periods) * period < TONE_FRAMES_LIMIT))
        return Refuse(p, "the file is too long");

    Search s;
    s.turns = Doubles(2 * period);
    s.wave = Doubles(period);
    s.clipped = Doubles(period);
    p.shape = Doubles(period);
    p.samples.reset(new (std::nothrow) int32_t[period]);
    if (!s.turns || !s.wave || !s.clipped || !p.shape || !p.samples)
        return Refuse(p, "not enough memory for the period");
    ToneExactPhase unit;
    ToneExactPhasePlan(unit, 1.0, period);
    for (uint32_t t = 0; t < period; ++t) {
        const ToneCyclePoint at = ToneExactPhaseAt(unit, t);
        s.turns[2 * t] = ToneExactPhaseSin(unit, at, 1);
        s.turns[2 * t + 1] = ToneExactPhaseSin(unit, at);
    }

    const double peak = ChoosePhases(p, s);
    double power = 0.0;
    for (uint32_t t = 0; t < period; ++t) {
        p.shape[t] = s.wave[t] / peak;  // exactly +-1 at the peak
        p.samples[t] = int32_t(p.shape[t] * amplitude);
        power += s.wave[t] * s.wave[t];
    }
    // 20 log10(peak / rms) = (10 / ln 10) ln(peak^2 / mean square).
    p.crestFactorDb = 4.342944819032518 * ToneLog(peak * peak / (power / period));

    if (double(p.periods) * period <= DC_CANCEL_MAX_SECONDS * rate) {
        int64_t middle = 0, faded = 0;
        for (uint32_t j = 0; j < period; ++j) {
            middle += p.samples[j];
            faded += int64_t(Faded(p, true, j)) + Faded(p, false, j);
        }
        p.correction = -(faded + middle * int64_t(p.periods - 2));
    }
    return true;
}

void ToneMultitoneMake(const ToneMultitone& p, uint32_t first, uint32_t count, int32_t* out)
{
    uint32_t w = first / p.period, j = first % p.period;
    for (uint32_t done = 0; done < count;) {
        const uint32_t run = std::min(p.period - j, count - done);
        if (w >= p.periods) {
            std::fill(out + done, out + count, 0);
            return;
        }
        if (w == 0 || w == p.periods - 1) {
            const bool rising = w == 0;
            for (uint32_t i = 0; i < run; ++i) {
                const uint32_t g = (rising ? 0 : p.period) + j + i;
                out[done + i] = ToneSaturate(int64_t(Faded(p, rising, j + i)) + UnitsAt(p, g));
            }
        } else {
            std::copy(p.samples.get() + j, p.samples.get() + j + run, out + done);
        }
        done += run;
        j = 0;
        ++w;
    }
}
