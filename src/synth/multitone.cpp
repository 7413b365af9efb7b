#include "synth/multitone.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <numeric>
#include <thread>

#include "base/run_parts.h"

#include "synth/exact_phase.h"
#include "synth/signal_counts.h"
#include "synth/tone.h"
#include "synth/tone_math.h"
#include "synth/tone_saturate.h"

namespace {

// Rounds of clipping that lower the crest factor below Newman's phases
// (the third octaves at 48 kHz: 12.5 dB; after 8 rounds 11.7, after 12
// 11.3, after 20 10.9: each round two passes over the period per tone).
constexpr int CLIP_ROUNDS = 12;
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
    std::unique_ptr<double[]> turns;      // cos, sin of 2 pi t / P, interleaved
    std::unique_ptr<double[]> gridTurns;  // the same on the search's grid
    std::unique_ptr<double[]> wave, clipped;
    double phaseCos[TONE_MULTITONE_MAX];
    double phaseSin[TONE_MULTITONE_MAX];
};

// cos and sin of 2 pi t / period for every t of the period, exact to a unit.
// Where the period is a multiple of 4, the cosine of t is the sine of t +
// period / 4: the same point a quarter turn on, the same value.
void FillTurns(Search& s, uint32_t period)
{
    ToneExactPhase unit;
    ToneExactPhasePlan(unit, 1.0, period);
    if (period % 4 == 0) {
        double* sines = s.wave.get();
        ToneExactPhaseSines(unit, 0, period, sines);
        for (uint32_t t = 0; t < period; ++t) {
            const uint32_t q = t + period / 4;
            s.turns[2 * t] = sines[q < period ? q : q - period];
            s.turns[2 * t + 1] = sines[t];
        }
        return;
    }
    for (uint32_t t = 0; t < period; ++t) {
        const ToneCyclePoint at = ToneExactPhaseAt(unit, t);
        s.turns[2 * t] = ToneExactPhaseSin(unit, at, 1);
        s.turns[2 * t + 1] = ToneExactPhaseSin(unit, at);
    }
}

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
                  const double* scaleIm, Phasors& z, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; ++i) {
        const uint32_t at = uint32_t(uint64_t(p.bins[i]) * t % p.period);
        const double c = s.turns[2 * at], sn = s.turns[2 * at + 1];
        z.re[i] = c * scaleRe[i] - sn * scaleIm[i];
        z.im[i] = sn * scaleRe[i] + c * scaleIm[i];
        z.stepRe[i] = s.turns[2 * p.bins[i]];
        z.stepIm[i] = s.turns[2 * p.bins[i] + 1];
    }
}

void Turn(Phasors& z, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i < to; ++i) {
        const double re = z.re[i] * z.stepRe[i] - z.im[i] * z.stepIm[i];
        z.im[i] = z.re[i] * z.stepIm[i] + z.im[i] * z.stepRe[i];
        z.re[i] = re;
    }
}

// wave[t] = sum of a cos(2 pi k t / P + phase), the tones in a fixed order.
// Parts the search's passes are split into, on threads of their own: by
// stretches of RESTART samples or by tones, so every value is the same
// however many there are.
unsigned SearchParts() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

// The part's share of n things, in pieces of `unit`.
void Share(unsigned part, unsigned parts, uint32_t n, uint32_t unit, uint32_t& from, uint32_t& to)
{
    const uint32_t pieces = (n + unit - 1) / unit;
    from = std::min(n, uint32_t(uint64_t(pieces) * part / parts) * unit);
    to = std::min(n, uint32_t(uint64_t(pieces) * (part + 1) / parts) * unit);
}

void Synthesize(const ToneMultitone& p, const Search& s, double* wave)
{
    double scaleRe[TONE_MULTITONE_MAX], scaleIm[TONE_MULTITONE_MAX];
    for (uint32_t i = 0; i < p.count; ++i) {
        scaleRe[i] = s.phaseCos[i] * p.amplitudes[i];
        scaleIm[i] = s.phaseSin[i] * p.amplitudes[i];
    }
    const unsigned parts = SearchParts();
    RunParts(parts, [&](unsigned part) {
        uint32_t from, to;
        Share(part, parts, p.period, RESTART, from, to);
        Phasors z;
        for (uint32_t t = from; t < to; ++t) {
            if (t % RESTART == 0) StartPhasors(p, s, t, scaleRe, scaleIm, z, 0, p.count);
            double sum = 0.0;
            for (uint32_t i = 0; i < p.count; ++i)
                sum += z.re[i];
            wave[t] = sum;
            Turn(z, 0, p.count);
        }
    });
}

// The same from the exact table at every sample, tone by tone: the period
// that is kept.
// wave[u] += tone[u]: apart, so that the loop vectorises (the same sums).
void AddTo(double* __restrict wave, const double* __restrict tone, uint32_t n)
{
    for (uint32_t u = 0; u < n; ++u)
        wave[u] += tone[u];
}

void SynthesizeExactly(const ToneMultitone& p, const Search& s, double* wave, double* tone)
{
    std::fill(wave, wave + p.period, 0.0);
    for (uint32_t i = 0; i < p.count; ++i) {
        // A tone on bin k repeats every period / gcd(k, period) samples:
        // its values once, then added along the period.
        const double pc = s.phaseCos[i] * p.amplitudes[i], ps = s.phaseSin[i] * p.amplitudes[i];
        const uint32_t length = p.period / std::gcd(p.bins[i], p.period);
        uint32_t at = 0;
        for (uint32_t t = 0; t < length; ++t) {
            tone[t] = s.turns[2 * at] * pc - s.turns[2 * at + 1] * ps;
            at += p.bins[i];
            if (at >= p.period) at -= p.period;
        }
        for (uint32_t t = 0; t < p.period; t += length)
            AddTo(wave + t, tone, length);
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
    const unsigned parts = SearchParts();
    RunParts(parts, [&](unsigned part) {
        uint32_t from, to;
        Share(part, parts, p.count, 1, from, to);
        Phasors z;
        for (uint32_t t = 0; t < p.period; ++t) {
            if (t % RESTART == 0) StartPhasors(p, s, t, ones, zeros, z, from, to);
            for (uint32_t i = from; i < to; ++i) {
                re[i] += clipped[t] * z.re[i];
                im[i] -= clipped[t] * z.im[i];
            }
            Turn(z, from, to);
        }
    });
    for (uint32_t i = 0; i < p.count; ++i) {
        const double h = std::sqrt(re[i] * re[i] + im[i] * im[i]);  // IEEE sqrt: correctly rounded everywhere
        if (h > 0.0) {
            s.phaseCos[i] = re[i] / h;
            s.phaseSin[i] = im[i] / h;
        }
    }
}

// Frames of the grid the phase search works on: a divisor of the period
// holding at least SEARCH_OVERSAMPLING samples per cycle of the highest
// tone (the third octaves' 20 kHz on a 48000-frame period). The phases do
// not depend on the period's length beyond that, and the search's cost grows
// with the grid: at 384 kHz it is an eighth of the period.
uint32_t SearchGrid(const ToneMultitone& p)
{
    constexpr double SEARCH_OVERSAMPLING = 2.4;
    const uint32_t highest = *std::max_element(p.bins, p.bins + p.count);
    const double least = std::ceil(SEARCH_OVERSAMPLING * highest);
    if (!(least < p.period)) return p.period;
    for (uint32_t d = p.period / uint32_t(least); d > 1; --d)
        if (p.period % d == 0) return p.period / d;
    return p.period;
}

// Newman's phases pi (i - 1)^2 / N (Newman, "An impulse-function generator",
// 1965; Schroeder's low-peak-factor phases for equal tones), then rounds of
// clipping, keeping the phases of the lowest peak. Leaves the wave of those
// in s.wave and returns its peak.
double ChoosePhases(const ToneMultitone& full, Search& s)
{
    // The search itself on every (period / grid)-th sample: the same tones
    // on a shorter period, whose turns are every such entry of the table.
    ToneMultitone p;
    p.count = full.count;
    p.period = SearchGrid(full);
    std::copy(full.bins, full.bins + full.count, p.bins);
    std::copy(full.amplitudes, full.amplitudes + full.count, p.amplitudes);
    const uint32_t every = full.period / p.period;
    for (uint32_t t = 0; t < p.period; ++t) {
        s.gridTurns[2 * t] = s.turns[2 * uint64_t(t) * every];
        s.gridTurns[2 * t + 1] = s.turns[2 * uint64_t(t) * every + 1];
    }
    std::swap(s.turns, s.gridTurns);
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
    std::swap(s.turns, s.gridTurns);
    SynthesizeExactly(full, s, s.wave.get(), s.clipped.get());
    return Peak(s.wave.get(), full.period);
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

bool ToneMultitoneLayout(ToneMultitone& p, const double* frequencies, const double* amplitudes,
                         uint32_t count, uint32_t rate, uint32_t period, double seconds, double amplitude)
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
    return true;
}

bool ToneMultitonePlan(ToneMultitone& p, const double* frequencies, const double* amplitudes, uint32_t count,
                       uint32_t rate, uint32_t period, double seconds, double amplitude)
{
    if (!ToneMultitoneLayout(p, frequencies, amplitudes, count, rate, period, seconds, amplitude))
        return false;
    Search s;
    s.turns = Doubles(2 * period);
    s.gridTurns = Doubles(2 * SearchGrid(p));
    s.wave = Doubles(period);
    s.clipped = Doubles(period);
    p.shape = Doubles(period);
    p.samples.reset(new (std::nothrow) int32_t[period]);
    p.faded.reset(new (std::nothrow) int32_t[2 * uint64_t(period)]);
    if (!s.turns || !s.gridTurns || !s.wave || !s.clipped || !p.shape || !p.samples || !p.faded)
        return Refuse(p, "not enough memory for the period");
    FillTurns(s, period);

    const double peak = ChoosePhases(p, s);
    double power = 0.0;
    for (uint32_t t = 0; t < period; ++t) {
        p.shape[t] = s.wave[t] / peak;  // exactly +-1 at the peak
        p.samples[t] = int32_t(p.shape[t] * amplitude);
        power += s.wave[t] * s.wave[t];
    }
    // 20 log10(peak / rms) = (10 / ln 10) ln(peak^2 / mean square).
    p.crestFactorDb = 4.342944819032518 * ToneLog(peak * peak / (power / period));

    // The faded periods, made once: the first rises, the last falls, with
    // the same gains read the other way.
    double* gains = s.clipped.get();
    const unsigned parts = SearchParts();
    RunParts(parts, [&](unsigned part) {
        uint32_t from, to;
        Share(part, parts, period, 1, from, to);
        for (uint32_t k = from; k < to; ++k)
            gains[k] = ToneRampGain(period, k, amplitude);
    });
    for (uint32_t j = 0; j < period; ++j) {
        p.faded[j] = int32_t(p.shape[j] * gains[period - 1 - j]);
        p.faded[period + j] = int32_t(p.shape[j] * gains[j]);
    }
    if (double(p.periods) * period <= DC_CANCEL_MAX_SECONDS * rate) {
        int64_t middle = 0, faded = 0;
        for (uint32_t j = 0; j < period; ++j) {
            middle += p.samples[j];
            faded += int64_t(p.faded[j]) + p.faded[period + j];
        }
        p.correction = -(faded + middle * int64_t(p.periods - 2));
        for (uint32_t g = 0; g < 2 * period; ++g)
            p.faded[g] = ToneSaturate(int64_t(p.faded[g]) + UnitsAt(p, g));
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
            const int32_t* faded = p.faded.get() + (w == 0 ? 0 : p.period) + j;
            std::copy(faded, faded + run, out + done);
        } else {
            std::copy(p.samples.get() + j, p.samples.get() + j + run, out + done);
        }
        done += run;
        j = 0;
        ++w;
    }
}
