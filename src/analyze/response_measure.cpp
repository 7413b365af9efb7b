// Deconvolution by spectral division with the stimulus's own samples: a
// unity path is 0 dB whatever the stimulus, and for a synchronised sweep the
// harmonics' impulse responses fall L ln k before the linear one, where
// windows in time part them.

#include "analyze/response_measure.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include <unsupported/Eigen/FFT>

#include "analyze/response_multitone.h"
#include "analyze/response_other.h"
#include "analyze/sine_phase.h"
#include "analyze/sweep_shape.h"

namespace {

using Complex = std::complex<double>;

constexpr double HALF_TURN = ANALYZE_TWO_PI / 2;
constexpr double POINTS_PER_OCTAVE = 24.0;
constexpr double HARMONIC_POINTS_PER_OCTAVE = 6.0;
constexpr int HARMONIC_LAST = 5;
constexpr double EDGE_OCTAVES = 1.0 / 6;     // the division's taper inside each end of the band
constexpr double TAIL_SECONDS = 0.5;         // of the linear response after its peak
constexpr double OTHER_LEAD_SECONDS = 0.05;  // before it, when no harmonic comes first
constexpr int SINC_HALF = 32;                // taps each side of a windowed-sinc interpolation
// The clock: the group delay of 1/3-octave bands over the top octaves of
// the sweep, where a path's own group delay is flattest.
constexpr int CLOCK_BANDS = 5;
constexpr double CLOCK_BAND_STEP_OCTAVES = 0.5;
constexpr double CLOCK_BAND_OCTAVES = 1.0 / 3;
constexpr double CLOCK_SEARCH_SAMPLES = 1500.0;  // the band delays' spread a few hundred ppm gives
constexpr double CLOCK_MIN_PPM = 1.0;  // below it (a path's own delay can read as much) no resampling

size_t PowerOfTwoAtLeast(size_t n)
{
    size_t p = 2;
    while (p < n)
        p *= 2;
    return p;
}

// Windowed sinc at t over x; samples outside are zero.
double SincAt(const std::vector<double>& x, double t)
{
    const auto base = int64_t(std::floor(t));
    const double frac = t - double(base);
    const double sinFrac = std::sin(HALF_TURN * frac);
    double sum = 0.0;
    for (int j = -SINC_HALF + 1; j <= SINC_HALF; ++j) {
        const int64_t i = base + j;
        if (i < 0 || i >= int64_t(x.size())) continue;
        const double d = frac - j;
        const double r = d / SINC_HALF;
        const double window = (1.0 - r * r) * (1.0 - r * r);
        const double sinc = std::fabs(d) < 1e-12 ? 1.0 : ((j & 1) ? -sinFrac : sinFrac) / (HALF_TURN * d);
        sum += x[size_t(i)] * sinc * window;
    }
    return sum;
}

// The stimulus as a recorder whose clock runs ppm fast takes it: sample m
// is the stimulus at m / (1 + offset).
std::vector<double> Stretch(const std::vector<double>& x, double offset)
{
    std::vector<double> out(size_t(std::ceil(double(x.size()) * (1.0 + offset))));
    for (size_t m = 0; m < out.size(); ++m)
        out[m] = SincAt(x, double(m) / (1.0 + offset));
    return out;
}

std::vector<Complex> Spectrum(Eigen::FFT<double>& fft, const std::vector<double>& x, size_t n)
{
    std::vector<double> padded(n, 0.0);
    std::copy(x.begin(), x.begin() + std::min(x.size(), n), padded.begin());
    std::vector<Complex> bins;
    fft.fwd(bins, padded);
    return bins;
}

// Raised-cosine taper from 0 at the band's ends to 1 EDGE_OCTAVES inside.
double BandTaper(double f, double low, double high)
{
    if (f <= low || f >= high) return 0.0;
    const double in = std::min(std::log2(f / low), std::log2(high / f)) / EDGE_OCTAVES;
    return in >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(HALF_TURN * in);
}

// Y / S over the band, tapered at its ends.
std::vector<Complex> Divide(const std::vector<Complex>& y, const std::vector<Complex>& s, size_t n,
                            uint32_t rate, double low, double high)
{
    std::vector<Complex> h(y.size());
    for (size_t k = 0; k < y.size(); ++k) {
        const double taper = BandTaper(double(k) * rate / double(n), low, high);
        if (taper > 0.0 && std::norm(s[k]) > 0.0) h[k] = y[k] / s[k] * taper;
    }
    return h;
}

// The envelope at t of the band's impulse response: bins from k0 on,
// weighted.
double BandEnvelope(const std::vector<Complex>& h, size_t n, size_t k0, const std::vector<double>& weights,
                    double t)
{
    const Complex step = std::polar(1.0, ANALYZE_TWO_PI * t / double(n));
    Complex turn = std::polar(1.0, ANALYZE_TWO_PI * t * double(k0) / double(n));
    Complex sum = 0.0;
    for (size_t j = 0; j < weights.size(); ++j) {
        sum += h[k0 + j] * turn * weights[j];
        turn *= step;
    }
    return std::abs(sum);
}

// Where a band's envelope peaks near guess: first on the grid a small
// inverse transform of the band's bins gives, then by golden sections.
double BandDelay(Eigen::FFT<double>& fft, const std::vector<Complex>& h, size_t n, uint32_t rate,
                 double centre, double guess)
{
    const double half = CLOCK_BAND_OCTAVES / 2;
    const auto k0 = size_t(std::ceil(centre * std::exp2(-half) * double(n) / rate));
    const auto k1 = std::min(h.size() - 1, size_t(std::floor(centre * std::exp2(half) * double(n) / rate)));
    const size_t m = std::min(n, PowerOfTwoAtLeast(4 * (k1 - k0 + 1)));
    std::vector<Complex> band(m), envelope;
    std::vector<double> weights(k1 - k0 + 1);
    for (size_t k = k0; k <= k1; ++k) {
        const double w = std::cos(HALF_TURN / 2 * std::log2(double(k) * rate / double(n) / centre) / half);
        weights[k - k0] = w * w;
        band[k - k0] = h[k] * weights[k - k0];
    }
    fft.inv(envelope, band);
    const double grid = double(n) / double(m);
    double best = guess, bestValue = -1.0;
    for (double t = guess - CLOCK_SEARCH_SAMPLES; t <= guess + CLOCK_SEARCH_SAMPLES; t += grid) {
        const auto j = int64_t(std::llround(t / grid));
        const double v = std::abs(envelope[size_t((j % int64_t(m) + int64_t(m)) % int64_t(m))]);
        if (v > bestValue) {
            bestValue = v;
            best = double(j) * grid;
        }
    }
    double a = best - grid, b = best + grid;
    const double g = (std::sqrt(5.0) - 1.0) / 2;
    for (int i = 0; i < 40; ++i) {
        const double c = b - g * (b - a), d = a + g * (b - a);
        if (BandEnvelope(h, n, k0, weights, c) > BandEnvelope(h, n, k0, weights, d))
            b = d;
        else
            a = c;
    }
    return (a + b) / 2;
}

// The response with its minimum-phase part taken out (the phase the folded
// cepstrum of its log magnitude gives): a minimum-phase path's own group
// delay would otherwise read as a clock offset. Outside the band the
// magnitude is held at the band's ends.
std::vector<Complex> ExcessPhase(Eigen::FFT<double>& fft, const std::vector<Complex>& h, size_t n,
                                 uint32_t rate, double low, double high)
{
    const auto kLow =
        std::max<size_t>(1, size_t(std::ceil(low * std::exp2(EDGE_OCTAVES) * double(n) / rate)));
    const auto kHigh =
        std::min(h.size() - 1, size_t(std::floor(high * std::exp2(-EDGE_OCTAVES) * double(n) / rate)));
    std::vector<Complex> logMagnitude(h.size());
    for (size_t k = 0; k < h.size(); ++k)
        logMagnitude[k] = std::log(std::max(std::abs(h[std::clamp(k, kLow, kHigh)]), 1e-300));
    std::vector<double> cepstrum;
    fft.inv(cepstrum, logMagnitude, int(n));
    for (size_t j = 1; j < n / 2; ++j)
        cepstrum[j] *= 2.0;
    for (size_t j = n / 2 + 1; j < n; ++j)
        cepstrum[j] = 0.0;
    std::vector<Complex> minimum;
    fft.fwd(minimum, cepstrum);
    std::vector<Complex> out(h.size());
    for (size_t k = 0; k < h.size(); ++k)
        out[k] = h[k] * std::polar(1.0, -minimum[k].imag());
    return out;
}

// The clock offset from how the band delays grow with ln f: a stretch by
// 1 + e delays frequency f by e L ln f more.
double ClockOffset(Eigen::FFT<double>& fft, const std::vector<Complex>& h, size_t n, uint32_t rate,
                   const AnalyzeSweepShape& shape, double latency)
{
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    int count = 0;
    for (int b = 1; b <= CLOCK_BANDS; ++b) {
        const double centre = shape.f2 * std::exp2(-CLOCK_BAND_STEP_OCTAVES * b);
        if (centre * std::exp2(-CLOCK_BAND_OCTAVES) < shape.f1 * std::exp2(EDGE_OCTAVES)) break;
        const double x = std::log(centre), y = BandDelay(fft, h, n, rate, centre, latency);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
        ++count;
    }
    if (count < 2) return 0.0;
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return slope / (shape.lSeconds * rate);
}

// The main peak of the impulse response, interpolated with the windowed sinc.
// The impulse response is circular: its samples around the peak are copied.
double PeakPosition(const std::vector<double>& ir)
{
    size_t p = 0;
    for (size_t i = 1; i < ir.size(); ++i)
        if (std::fabs(ir[i]) > std::fabs(ir[p])) p = i;
    const auto n = int64_t(ir.size());
    std::vector<double> near(4 * SINC_HALF + 1);
    for (int64_t j = 0; j < int64_t(near.size()); ++j)
        near[size_t(j)] = ir[size_t(((int64_t(p) + j - 2 * SINC_HALF) % n + n) % n)];
    const double sign = ir[p] < 0.0 ? -1.0 : 1.0;
    const double middle = 2.0 * SINC_HALF;
    double a = middle - 1.0, b = middle + 1.0;
    const double g = (std::sqrt(5.0) - 1.0) / 2;
    for (int i = 0; i < 50; ++i) {
        const double c = b - g * (b - a), d = a + g * (b - a);
        if (sign * SincAt(near, c) > sign * SincAt(near, d))
            b = d;
        else
            a = c;
    }
    return double(p) + (a + b) / 2 - middle;
}

// The circular impulse response from before samples ahead of centre to
// after samples past it, each side's outer half tapered by a half Hann
// window. Returns where it starts (may be negative).
int64_t Window(const std::vector<double>& ir, double centre, double before, double after,
               std::vector<double>& out)
{
    const auto first = int64_t(std::floor(centre - before));
    const auto last = int64_t(std::ceil(centre + after));
    const auto n = int64_t(ir.size());
    out.assign(size_t(last - first + 1), 0.0);
    for (int64_t i = first; i <= last; ++i) {
        const double t = double(i) - centre;
        const double x = t < 0.0 ? -t / before : t / after;  // 0 at the centre, 1 at an end
        const double w = x <= 0.5 ? 1.0 : x >= 1.0 ? 0.0 : 0.5 + 0.5 * std::cos(HALF_TURN * (2.0 * x - 1.0));
        out[size_t(i - first)] = ir[size_t((i % n + n) % n)] * w;
    }
    return first;
}

// The response of a windowed stretch at f Hz, time measured from origin.
Complex ResponseAt(const std::vector<double>& part, int64_t first, double origin, double f, uint32_t rate)
{
    const double w = ANALYZE_TWO_PI * f / rate;
    const Complex step = std::polar(1.0, -w);
    Complex turn = std::polar(1.0, -w * (double(first) - origin));
    Complex sum = 0.0;
    for (double v : part) {
        sum += v * turn;
        turn *= step;
    }
    return sum;
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

}  // namespace

AnalyzeResponse AnalyzeResponseMeasure(const std::vector<double>& stimulus,
                                       const std::vector<double>& recording, uint32_t rate,
                                       const AnalyzeMeasureOptions& options)
{
    AnalyzeResponse r;
    r.rate = rate;
    r.tdNDb = std::numeric_limits<double>::quiet_NaN();
    if (stimulus.empty() || recording.empty() || rate == 0) {
        r.reason = "the stimulus or the recording holds no samples";
        return r;
    }
    const AnalyzeSweepShape shape = AnalyzeSweepRecognise(stimulus, rate);
    if (!shape.found) {
        const AnalyzeMultitoneShape tones = AnalyzeMultitoneRecognise(stimulus);
        return tones.found ? AnalyzeMultitoneResponse(stimulus, tones, recording, rate, options)
                           : AnalyzeOtherResponse(stimulus, recording, rate, options);
    }
    const double nyquist = rate / 2.0;
    double low = shape.found ? shape.f1 : (options.bandFull ? 0.0 : options.bandLowHz);
    double high =
        shape.found ? shape.f2 : (options.bandFull ? nyquist : std::min(options.bandHighHz, nyquist));
    if (!(high > low) || high <= 0.0) {
        r.reason = "the band holds no frequency below half the rate";
        return r;
    }
    low = std::max(low, double(rate) / double(recording.size()));

    // Long enough for the recording and the stretched stimulus without the
    // latency's wrap meeting either.
    const size_t n =
        PowerOfTwoAtLeast(2 * std::max(recording.size(), stimulus.size() + stimulus.size() / 1000));
    Eigen::FFT<double> fft;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    const std::vector<Complex> y = Spectrum(fft, recording, n);
    std::vector<Complex> s = Spectrum(fft, stimulus, n);
    if (std::all_of(s.begin(), s.end(), [](const Complex& v) { return std::norm(v) == 0.0; })) {
        r.reason = "the stimulus is silent";
        return r;
    }
    std::vector<Complex> h = Divide(y, s, n, rate, low, high);
    std::vector<double> ir;
    fft.inv(ir, h, int(n));
    double latency = PeakPosition(ir);
    if (latency > double(n) / 2) latency -= double(n);

    double offset = 0.0;
    if (shape.found) {
        offset = ClockOffset(fft, ExcessPhase(fft, h, n, rate, low, high), n, rate, shape, latency);
        if (std::fabs(offset) * 1e6 >= CLOCK_MIN_PPM) {
            s = Spectrum(fft, Stretch(stimulus, offset), n);
            h = Divide(y, s, n, rate, low, high);
            fft.inv(ir, h, int(n));
            latency = PeakPosition(ir);
            if (latency > double(n) / 2) latency -= double(n);
        }
    }
    r.kind = shape.found ? "sweep" : "other";
    r.clockOffsetPpm = offset * 1e6;
    r.latencySamples = latency;

    // The sweep's L in recorded samples sets where the harmonics lie.
    const double lSamples = shape.lSeconds * rate * (1.0 + offset);
    const double lead = shape.found ? 0.5 * lSamples * std::log(2.0) : OTHER_LEAD_SECONDS * rate;
    const double tail = std::min(TAIL_SECONDS * rate, double(n) / 4);
    std::vector<double> linear;
    const int64_t linFirst = Window(ir, latency, lead, tail, linear);
    r.impulse.assign(linear.begin(), linear.end());
    r.impulseFirst = linFirst;

    // Frequencies are the played clock's: the recording's f is f (1 + e) played.
    const auto linearAt = [&](double f) {
        return ResponseAt(linear, linFirst, latency, f / (1.0 + offset), rate);
    };
    // Points where the division's taper has ended: inside the band by EDGE_OCTAVES.
    const double pointsLow = low * std::exp2(EDGE_OCTAVES), pointsHigh = high * std::exp2(-EDGE_OCTAVES);
    const int count = int(std::floor(std::log2(pointsHigh / pointsLow) * POINTS_PER_OCTAVE + 1e-9)) + 1;
    for (int i = 0; i < count; ++i) {
        const double f = pointsLow * std::exp2(i / POINTS_PER_OCTAVE);
        const Complex v = linearAt(f);
        double phase = std::arg(v) * 180.0 / HALF_TURN;
        if (phase <= -180.0) phase += 360.0;
        r.points.push_back({f, Db(std::abs(v)), phase});
    }
    if (!shape.found) return r;

    for (int k = 2; k <= HARMONIC_LAST; ++k) {
        const double centre = latency - lSamples * std::log(double(k));
        const double before = 0.5 * lSamples * std::log((k + 1.0) / k);
        const double after = 0.5 * lSamples * std::log(k / (k - 1.0));
        std::vector<double> part;
        const int64_t first = Window(ir, centre, before, after, part);
        AnalyzeHarmonicCurve curve;
        curve.order = k;
        for (double f = pointsLow; k * f <= pointsHigh; f *= std::exp2(1.0 / HARMONIC_POINTS_PER_OCTAVE)) {
            const double made = std::abs(ResponseAt(part, first, centre, k * f / (1.0 + offset), rate));
            curve.points.push_back({f, Db(made / std::abs(linearAt(f)))});
        }
        r.harmonics.push_back(curve);
    }
    return r;
}
