// The band delays are the peaks of band envelopes: found on a coarse grid
// from every few bins, then by Newton's steps on the squared envelope with
// every bin. A path's minimum-phase part is taken out first, from its
// magnitude smoothed over a few bins: its own group delay would otherwise
// read as a clock offset.

#include "analyze/response_clock.h"

#include <algorithm>
#include <cmath>

#include "analyze/response_stimulus.h"
#include "analyze/series_log.h"
#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

namespace {

using Complex = std::complex<double>;

// 1/3-octave bands over the top octaves of the sweep, where a path's own
// group delay is flattest.
constexpr int CLOCK_BANDS = 5;
constexpr double CLOCK_BAND_STEP_OCTAVES = 0.5;
constexpr double CLOCK_BAND_OCTAVES = 1.0 / 3;
constexpr double CLOCK_SEARCH_SAMPLES = 1500.0;  // the band delays' spread a few hundred ppm gives
constexpr double COARSE_STEP_SAMPLES = 4.0;      // far finer than a band envelope's peak
constexpr size_t COARSE_PERIOD = 8192;  // the envelope from every few bins repeats after this: > 2 searches
// The minimum phase from the magnitude averaged over this many bins: a
// path's minimum-phase response shorter than n / MIN_PHASE_BINS is kept.
constexpr size_t MIN_PHASE_BINS = 64;
constexpr size_t MIN_PHASE_LENGTH = 4096;
constexpr int NEWTON_STEPS = 6;

// The minimum phase at every MIN_PHASE_BINS-th bin (the folded cepstrum of
// the log magnitude), magnitude held at the band's ends outside it.
std::vector<double> MinimumPhase(AnalyzeRealFft& fft, const std::vector<Complex>& h, size_t n, uint32_t rate,
                                 double low, double high, size_t& step)
{
    step = n % (4 * MIN_PHASE_BINS) == 0 && n / MIN_PHASE_BINS >= MIN_PHASE_LENGTH ? MIN_PHASE_BINS : 1;
    const size_t m = n / step;
    const auto kLow =
        std::max<size_t>(1, size_t(std::ceil(low * std::exp2(ANALYZE_EDGE_OCTAVES) * double(n) / rate)));
    const size_t kHigh = std::min(
        h.size() - 1, size_t(std::floor(high * std::exp2(-ANALYZE_EDGE_OCTAVES) * double(n) / rate)));
    std::vector<Complex> logMagnitude(m / 2 + 1);
    for (size_t c = 0; c <= m / 2; ++c) {
        const size_t from = c * step > step / 2 ? c * step - step / 2 : 0;
        const size_t to = std::min(h.size(), c * step + (step + 1) / 2);
        double power = 0.0;
        for (size_t k = from; k < to; ++k)
            power += std::norm(h[std::clamp(k, kLow, kHigh)]);
        logMagnitude[c] = 0.5 * AnalyzeLog(std::max(power / double(to - from), 1e-300));
    }
    std::vector<double> cepstrum(m);
    fft.Inverse(logMagnitude.data(), cepstrum.data(), m);
    for (size_t j = 1; j < m / 2; ++j)
        cepstrum[j] *= 2.0;
    std::fill(cepstrum.begin() + std::ptrdiff_t(m / 2 + 1), cepstrum.end(), 0.0);
    fft.Forward(cepstrum.data(), logMagnitude.data(), m);
    std::vector<double> phase(m / 2 + 1);
    for (size_t c = 0; c <= m / 2; ++c)
        phase[c] = logMagnitude[c].imag();
    return phase;
}

// A band's bins with the minimum phase taken out, Hann weighted, and its
// envelope's sums at t: A, dA/dt and d2A/dt2 (bins apart by stride).
struct BandSums {
    Complex a, d1, d2;
};
BandSums Sums(const std::vector<Complex>& band, size_t n, double t, size_t stride, bool derivatives)
{
    const double w = ANALYZE_TWO_PI / double(n);
    const double angle = w * t * double(stride);
    const Complex step(ToneCos(angle), ToneSin(angle));
    Complex turn = 1.0;
    BandSums s;
    for (size_t j = 0; j < band.size(); j += stride) {
        const Complex v = band[j] * turn;
        s.a += v;
        if (derivatives) {
            const double theta = w * double(j);
            s.d1 += Complex(0.0, theta) * v;
            s.d2 -= theta * theta * v;
        }
        turn *= step;
    }
    return s;
}

// Where a band's envelope peaks near guess.
double BandDelay(const std::vector<Complex>& h, const std::vector<double>& minimum, size_t minStep, size_t n,
                 uint32_t rate, double centre, double guess)
{
    const double half = CLOCK_BAND_OCTAVES / 2;
    const double fLow = centre * std::exp2(-half), fHigh = centre * std::exp2(half);
    const auto k0 = size_t(std::ceil(fLow * double(n) / rate));
    const auto k1 = std::min(h.size() - 1, size_t(std::floor(fHigh * double(n) / rate)));
    std::vector<Complex> band(k1 - k0 + 1);
    const double mid = (fLow + fHigh) / 2, width = (fHigh - fLow) / 2;
    // The phase is linear between two of the minimum phase's points, and the
    // window's angle linear in k: both are turned from bin to bin, from exact
    // values at each point (three sines a bin took a tenth of a response).
    const double windowStep = ANALYZE_TWO_PI / 4 * rate / double(n) / width;
    const Complex windowTurn(ToneCos(windowStep), ToneSin(windowStep));
    for (size_t k = k0; k <= k1;) {
        const double u = double(k) / double(minStep);
        const auto c = std::min(size_t(u), minimum.size() - 2);
        const double slope = (minimum[c + 1] - minimum[c]) / double(minStep);
        const double phase = minimum[c] + (u - double(c)) * (minimum[c + 1] - minimum[c]);
        const double angle = ANALYZE_TWO_PI / 4 * (double(k) * rate / double(n) - mid) / width;
        Complex turn(ToneCos(phase), -ToneSin(phase)), window(ToneCos(angle), ToneSin(angle));
        const Complex turnStep(ToneCos(slope), -ToneSin(slope));
        const size_t end =
            c + 2 < minimum.size() ? std::min(k1 + 1, std::max(k + 1, (c + 1) * minStep)) : k1 + 1;
        for (; k < end; ++k) {
            band[k - k0] = h[k] * turn * (window.real() * window.real());
            turn *= turnStep;
            window *= windowTurn;
        }
    }
    // Every stride-th bin: the envelope repeating after n / stride samples.
    const size_t stride = std::max<size_t>(1, n / COARSE_PERIOD);
    double best = guess, bestValue = -1.0;
    for (double t = guess - CLOCK_SEARCH_SAMPLES; t <= guess + CLOCK_SEARCH_SAMPLES;
         t += COARSE_STEP_SAMPLES) {
        const double v = std::norm(Sums(band, n, t, stride, false).a);
        if (v > bestValue) {
            bestValue = v;
            best = t;
        }
    }
    // |A|^2 has slope 2 Re(conj A A') and curvature 2 (|A'|^2 + Re(conj A A'')).
    double t = best;
    for (int i = 0; i < NEWTON_STEPS; ++i) {
        const BandSums s = Sums(band, n, t, 1, true);
        const double slope = std::real(std::conj(s.a) * s.d1);
        const double curvature = std::norm(s.d1) + std::real(std::conj(s.a) * s.d2);
        if (!(curvature < 0.0)) break;
        const double move = std::clamp(-slope / curvature, -COARSE_STEP_SAMPLES, COARSE_STEP_SAMPLES);
        t += move;
        if (std::fabs(move) < 1e-9) break;
    }
    return t;
}

}  // namespace

double AnalyzeClockOffset(AnalyzeRealFft& fft, const std::vector<Complex>& h, size_t n, uint32_t rate,
                          const AnalyzeSweepShape& shape, double low, double high, double latency)
{
    size_t minStep = 1;
    const std::vector<double> minimum = MinimumPhase(fft, h, n, rate, low, high, minStep);
    // Band delay = a + b ln f + c / f^2: a low end's roll-off below the
    // band, which the minimum phase cannot see, still delays the top
    // octaves as 1 / f^2 (a 30 Hz high-pass read as half a ppm without it).
    double normal[3][4] = {};
    int count = 0;
    for (int b = 1; b <= CLOCK_BANDS; ++b) {
        const double centre = shape.f2 * std::exp2(-CLOCK_BAND_STEP_OCTAVES * b);
        if (centre * std::exp2(-CLOCK_BAND_OCTAVES) < shape.f1 * std::exp2(ANALYZE_EDGE_OCTAVES)) break;
        const double row[4] = {1.0, ToneLog(centre / shape.f2), shape.f2 * shape.f2 / (centre * centre),
                               BandDelay(h, minimum, minStep, n, rate, centre, latency)};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j)
                normal[i][j] += row[i] * row[j];
        ++count;
    }
    if (count < 2) return 0.0;
    // Gaussian elimination of the normal equations; a sweep too short for
    // four bands fits a straight line in ln f alone.
    const int unknowns = count < 4 ? 2 : 3;
    if (unknowns == 2)
        for (int i = 0; i < 2; ++i)
            normal[i][2] = normal[i][3];
    for (int i = 0; i < unknowns; ++i)
        for (int r = i + 1; r < unknowns; ++r) {
            const double factor = normal[r][i] / normal[i][i];
            for (int j = i; j <= unknowns; ++j)
                normal[r][j] -= factor * normal[i][j];
        }
    double solution[3] = {};
    for (int i = unknowns - 1; i >= 0; --i) {
        double v = normal[i][unknowns];
        for (int j = i + 1; j < unknowns; ++j)
            v -= normal[i][j] * solution[j];
        solution[i] = v / normal[i][i];
    }
    const double slope = solution[1];
    return slope / (shape.lSeconds * rate);
}
