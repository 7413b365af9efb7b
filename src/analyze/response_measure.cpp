// Deconvolution by spectral division with the stimulus's own samples: a
// unity path is 0 dB whatever the stimulus, and for a synchronised sweep the
// harmonics' impulse responses fall L ln k before the linear one, where
// windows in time part them.

#include "analyze/response_measure.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "analyze/response_clock.h"
#include "analyze/response_other.h"
#include "analyze/response_bins.h"
#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

namespace {

using Complex = std::complex<double>;

constexpr double HALF_TURN = ANALYZE_TWO_PI / 2;
constexpr double POINTS_PER_OCTAVE = 24.0;
constexpr double HARMONIC_POINTS_PER_OCTAVE = 6.0;
constexpr int HARMONIC_LAST = 5;
constexpr double TAIL_SECONDS = 0.5;   // of the linear response after its peak
constexpr int SINC_HALF = 32;          // taps each side of a windowed-sinc interpolation
constexpr double CLOCK_MIN_PPM = 1.0;  // below it (a path's own delay can read as much) no resampling
// Phases of the stretch's table: between two, the taps are interpolated
// linearly (errs by less than 1e-5 of a tap up to 0.45 of the rate).
constexpr int STRETCH_PHASES = 512;
// The linear part's spectrum is read for gain and phase, a harmonic's for
// its level only (within a dB).
constexpr size_t LINEAR_OVERSAMPLE = 8;
constexpr size_t HARMONIC_OVERSAMPLE = 4;

// The windowed sinc's tap at d samples from the point.
double SincTap(double d)
{
    const double r = d / SINC_HALF;
    if (std::fabs(r) >= 1.0) return 0.0;
    const double window = (1.0 - r * r) * (1.0 - r * r);
    return std::fabs(d) < 1e-12 ? 1.0 : ToneSin(HALF_TURN * d) / (HALF_TURN * d) * window;
}

// Windowed sinc at t over x; samples outside are zero.
double SincAt(const std::vector<double>& x, double t)
{
    const auto base = int64_t(std::floor(t));
    double sum = 0.0;
    for (int j = -SINC_HALF + 1; j <= SINC_HALF; ++j) {
        const int64_t i = base + j;
        if (i >= 0 && i < int64_t(x.size())) sum += x[size_t(i)] * SincTap(t - double(i));
    }
    return sum;
}

// The stimulus as a recorder whose clock runs offset fast takes it: sample
// m is the stimulus at m / (1 + offset). Into out (its length kept, zero
// past the stretch), from a table of the taps at STRETCH_PHASES fractions.
void Stretch(const std::vector<double>& x, double offset, std::vector<double>& out)
{
    constexpr int TAPS = 2 * SINC_HALF;
    std::vector<double> table(size_t(STRETCH_PHASES + 1) * TAPS);
    for (int p = 0; p <= STRETCH_PHASES; ++p)
        for (int j = 0; j < TAPS; ++j)
            table[size_t(p * TAPS + j)] = SincTap(double(p) / STRETCH_PHASES - double(j - SINC_HALF + 1));
    const size_t length = std::min(out.size(), size_t(std::ceil(double(x.size()) * (1.0 + offset))));
    std::fill(out.begin(), out.end(), 0.0);
    const auto size = int64_t(x.size());
    for (size_t m = 0; m < length; ++m) {
        const double t = double(m) / (1.0 + offset);
        const auto base = int64_t(std::floor(t));
        const double u = (t - double(base)) * STRETCH_PHASES;
        const auto p = std::min(int(u), STRETCH_PHASES - 1);
        const double a = u - p;
        const double* lo = &table[size_t(p * TAPS)];
        const double* hi = lo + TAPS;
        const int64_t from = base - SINC_HALF + 1;
        const int j0 = int(std::max<int64_t>(0, -from)), j1 = int(std::min<int64_t>(TAPS, size - from));
        double sumLo = 0.0, sumHi = 0.0;
        for (int j = j0; j < j1; ++j) {
            const double v = x[size_t(from + j)];
            sumLo += v * lo[j];
            sumHi += v * hi[j];
        }
        out[m] = sumLo + a * (sumHi - sumLo);
    }
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
    const double g = 0.6180339887498949;  // (sqrt 5 - 1) / 2
    for (int i = 0; i < 50; ++i) {
        const double c = b - g * (b - a), d = a + g * (b - a);
        if (sign * SincAt(near, c) > sign * SincAt(near, d))
            b = d;
        else
            a = c;
    }
    double at = double(p) + (a + b) / 2 - middle;
    return at > double(n) / 2 ? at - double(n) : at;
}

// The window at t samples from its centre: 1 over the inner half of each
// side, a half Hann over the outer half, 0 beyond.
double WindowWeight(double t, double before, double after)
{
    const double x = t < 0.0 ? -t / before : t / after;  // 0 at the centre, 1 at an end
    return x <= 0.5 ? 1.0 : x >= 1.0 ? 0.0 : 0.5 + 0.5 * ToneCos(HALF_TURN * (2.0 * x - 1.0));
}

// The weights of that window from sample `first` on, into w. Over the outer
// halves the cosine is turned from sample to sample, from an exact value
// every few hundred (a sine a sample took a tenth of a response).
void WindowWeights(int64_t first, double centre, double before, double after, std::vector<double>& w)
{
    constexpr size_t ANCHOR = 256;
    const auto outer = [&](double t) {
        const double x = t < 0.0 ? -t / before : t / after;
        return x > 0.5 && x < 1.0;
    };
    for (size_t i = 0; i < w.size();) {
        const double t = double(first + int64_t(i)) - centre;
        if (!outer(t)) {
            w[i++] = WindowWeight(t, before, after);
            continue;
        }
        const double x = t < 0.0 ? -t / before : t / after;
        const double angle = HALF_TURN * (2.0 * x - 1.0);
        const double step = t < 0.0 ? -2.0 * HALF_TURN / before : 2.0 * HALF_TURN / after;
        Complex turn(ToneCos(angle), ToneSin(angle));
        const Complex rotate(ToneCos(step), ToneSin(step));
        const bool side = t < 0.0;
        for (const size_t end = std::min(w.size(), i + ANCHOR); i < end; ++i) {
            const double u = double(first + int64_t(i)) - centre;
            if ((u < 0.0) != side || !outer(u)) break;
            w[i] = 0.5 + 0.5 * turn.real();
            turn *= rotate;
        }
    }
}

// The circular impulse response from before samples ahead of centre to
// after samples past it, each side's outer half tapered by a half Hann
// window, and the window's weights. Returns where it starts (may be negative).
int64_t Window(const std::vector<double>& ir, double centre, double before, double after,
               std::vector<double>& out, std::vector<double>& weights)
{
    const auto first = int64_t(std::floor(centre - before));
    const auto last = int64_t(std::ceil(centre + after));
    const auto n = int64_t(ir.size());
    weights.resize(size_t(last - first + 1));
    WindowWeights(first, centre, before, after, weights);
    out.resize(weights.size());
    auto at = size_t((first % n + n) % n);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = ir[at] * weights[i];
        if (++at == ir.size()) at = 0;
    }
    return first;
}

// What a unity path loses to the linear window: the division's taper up
// to the band's low end has a response as long as the inverse of its width
// (0.4 s at 20 Hz), which the window cuts. That response g (lowpass below
// the taper's end) is evaluated every few samples over the window from its
// few bins. Adding it back to the windowed response leaves a short one whose
// spectrum interpolates well; the windowed g's spectrum C is summed, and
// (X - C) / (1 - C) reads 0 dB for a unity path to the band's low end.
class WindowLoss {
public:
    WindowLoss(const AnalyzeResponseStimulus& st, double before, double after)
        : rate(st.rate), step(std::max(1.0, std::floor(st.rate / LOSS_SAMPLES_HZ))), start(-before)
    {
        const double inLow = st.low * std::exp2(ANALYZE_EDGE_OCTAVES);
        const auto bins = size_t(std::ceil(inLow * double(st.n) / st.rate));
        std::vector<double> lost(bins);  // 1 - taper
        for (size_t k = 0; k < bins; ++k)
            lost[k] = 1.0 - AnalyzeBandTaper(double(k) * st.rate / double(st.n), st.low, st.high);
        for (double t = start - step; t <= after + 2 * step; t += step) {
            const double angle = ANALYZE_TWO_PI * t / double(st.n);
            const Complex turnStep(ToneCos(angle), ToneSin(angle));
            Complex turn = turnStep;
            double g = lost.empty() ? 0.0 : lost[0];
            for (size_t k = 1; k < bins; ++k) {
                g += 2.0 * lost[k] * turn.real();
                turn *= turnStep;
            }
            ringing.push_back(g / double(st.n));
            weighted.push_back(WindowWeight(t, before, after) * g * step / double(st.n));
        }
    }
    // g at t samples from the window's centre, by cubic interpolation.
    double At(double t) const
    {
        const double u = (t - start) / step + 1.0;
        const auto j = std::clamp<int64_t>(int64_t(std::floor(u)), 1, int64_t(ringing.size()) - 3);
        const double x = u - double(j);
        const double* g = &ringing[size_t(j - 1)];
        return -x * (x - 1) * (x - 2) / 6 * g[0] + (x + 1) * (x - 1) * (x - 2) / 2 * g[1] -
               (x + 1) * x * (x - 2) / 2 * g[2] + (x + 1) * x * (x - 1) / 6 * g[3];
    }
    // C at f cycles per sample.
    Complex Lost(double f) const
    {
        // The sum repeats every LOSS_SAMPLES_HZ; long before, the loss is nil.
        if (f * rate > LOSS_SAMPLES_HZ / 4) return 0.0;
        // sum of weighted[j] e^(-2 pi i f (start + (j - 1) step)), by
        // Horner's rule in z = e^(-2 pi i f step): two sines a point, not two
        // a term (they were a tenth of a response's instructions).
        const double stepAngle = -ANALYZE_TWO_PI * f * step,
                     firstAngle = -ANALYZE_TWO_PI * f * (start - step);
        const Complex z(ToneCos(stepAngle), ToneSin(stepAngle));
        Complex sum = 0.0;
        for (size_t j = weighted.size(); j-- > 0;)
            sum = sum * z + weighted[j];
        return sum * Complex(ToneCos(firstAngle), ToneSin(firstAngle));
    }

private:
    static constexpr double LOSS_SAMPLES_HZ = 2000.0;  // far above the lost part's few tens of Hz
    double rate, step, start;
    std::vector<double> ringing, weighted;  // from start - step on, every step samples
};

constexpr double LN2 = 0.6931471805599453;
constexpr double LN10 = 2.302585092994046;

double Db(double ratio) { return 20.0 * ToneLog(ratio) / LN10; }

}  // namespace

AnalyzeResponse AnalyzeResponseAgainst(const AnalyzeResponseStimulus& st,
                                       const std::vector<double>& recording)
{
    AnalyzeResponse r;
    r.rate = st.rate;
    r.tdNDb = std::numeric_limits<double>::quiet_NaN();
    if (!st.reason.empty() || recording.empty()) {
        r.reason = st.reason.empty() ? "the stimulus or the recording holds no samples" : st.reason;
        return r;
    }
    if (std::all_of(recording.begin(), recording.end(), [](double v) { return v == 0.0; })) {
        r.reason = "the recording is silent";
        return r;
    }
    if (!st.shape.found)
        return st.tones.found
                   ? AnalyzeMultitoneResponse(*st.samples, st.tones, recording, st.rate, st.options)
                   : AnalyzeOtherResponse(*st.samples, recording, st.rate, st.options);
    const size_t n = st.n;
    const uint32_t rate = st.rate;
    const AnalyzeSweepShape& shape = st.shape;
    AnalyzeRealFft fft = st.fft;  // a copy: the plans are made, the scratch is this thread's
    // The recording, then zeros: only the padding is cleared.
    std::vector<double> ir;
    ir.reserve(n);
    ir.assign(recording.begin(), recording.begin() + std::ptrdiff_t(std::min(recording.size(), n)));
    ir.resize(n, 0.0);
    std::vector<Complex> h(n / 2 + 1);
    fft.Forward(ir.data(), h.data(), n);
    for (size_t k = 0; k < h.size(); ++k)
        h[k] *= st.inverse[k];
    fft.Inverse(h.data(), ir.data(), n);
    double latency = PeakPosition(ir);

    double offset = AnalyzeClockOffset(fft, h, n, rate, shape, st.low, st.high, latency);
    if (std::fabs(offset) * 1e6 >= CLOCK_MIN_PPM) {
        // Against the stimulus as this clock took it; the recording's
        // transform again rather than kept for the rare case.
        std::vector<Complex> y(h.size());
        std::fill(ir.begin(), ir.end(), 0.0);
        std::copy(recording.begin(), recording.begin() + std::ptrdiff_t(std::min(recording.size(), n)),
                  ir.begin());
        fft.Forward(ir.data(), y.data(), n);
        Stretch(*st.samples, offset, ir);
        fft.Forward(ir.data(), h.data(), n);
        AnalyzeResponseDivide(y, h, n, rate, st.low, st.high);
        fft.Inverse(y.data(), ir.data(), n);
        latency = PeakPosition(ir);
    }
    r.kind = "sweep";
    r.clockOffsetPpm = offset * 1e6;
    r.latencySamples = latency;

    // The sweep's L in recorded samples sets where the harmonics lie.
    const double lSamples = shape.lSeconds * rate * (1.0 + offset);
    const double lead = 0.5 * lSamples * LN2;
    const double tail = std::min(TAIL_SECONDS * rate, double(n) / 4);
    std::vector<double> cut, weights;
    const int64_t linFirst = Window(ir, latency, lead, tail, cut, weights);
    r.impulse.assign(cut.begin(), cut.end());
    r.impulseFirst = linFirst;
    const WindowLoss loss(st, lead, tail);
    for (size_t i = 0; i < cut.size(); ++i) {
        const double t = double(linFirst + int64_t(i)) - latency;
        cut[i] += weights[i] * loss.At(t);
    }
    struct Cut {
        std::vector<double> samples;
        int64_t first;
        double origin;
    };
    std::vector<Cut> harmonicCuts;
    for (int k = 2; k <= HARMONIC_LAST; ++k) {
        Cut p;
        p.origin = latency - lSamples * ToneLog(double(k));
        const double before = 0.5 * lSamples * ToneLog((k + 1.0) / k);
        const double after = 0.5 * lSamples * ToneLog(k / (k - 1.0));
        p.first = Window(ir, p.origin, before, after, p.samples, weights);
        harmonicCuts.push_back(std::move(p));
    }
    // The response is cut: its room serves the cuts' transforms (fresh
    // memory costs a page fault every 4 kB, a tenth of the time here).
    std::vector<double>& scratch = ir;
    // (h's memory serves the linear spectrum's bins: 4 MB less to fault in.)
    const AnalyzeResponseSpectrum linear(fft, cut, linFirst, latency, LINEAR_OVERSAMPLE, scratch, &h);
    std::vector<AnalyzeResponseSpectrum> harmonic;
    for (const Cut& p : harmonicCuts)
        harmonic.emplace_back(fft, p.samples, p.first, p.origin, HARMONIC_OVERSAMPLE, scratch);
    ir = {};
    h = {};
    // Frequencies are the played clock's: the recording's f is f (1 + e) played.
    const double perSample = 1.0 / (rate * (1.0 + offset));
    const auto linearAt = [&](double f) {
        const Complex lost = loss.Lost(f * perSample);
        return (linear.At(f * perSample) - lost) / (1.0 - lost);
    };
    // Points where the division's taper has ended: inside the band by ANALYZE_EDGE_OCTAVES.
    const double pointsLow = st.low * ToneExp(ANALYZE_EDGE_OCTAVES * LN2);
    const double pointsHigh = st.high * ToneExp(-ANALYZE_EDGE_OCTAVES * LN2);
    const int count = int(std::floor(ToneLog(pointsHigh / pointsLow) / LN2 * POINTS_PER_OCTAVE + 1e-9)) + 1;
    for (int i = 0; i < count; ++i) {
        const double f = pointsLow * ToneExp(i / POINTS_PER_OCTAVE * LN2);
        const Complex v = linearAt(f);
        double phase = std::arg(v) * 180.0 / HALF_TURN;
        if (phase <= -180.0) phase += 360.0;
        r.points.push_back({f, Db(std::abs(v)), phase});
    }
    for (int k = 2; k <= HARMONIC_LAST; ++k) {
        AnalyzeHarmonicCurve curve;
        curve.order = k;
        for (int i = 0;; ++i) {
            const double f = pointsLow * ToneExp(i / HARMONIC_POINTS_PER_OCTAVE * LN2);
            if (k * f > pointsHigh) break;
            const double made = std::abs(harmonic[size_t(k - 2)].At(k * f * perSample));
            curve.points.push_back({f, Db(made / std::abs(linearAt(f)))});
        }
        r.harmonics.push_back(curve);
    }
    return r;
}

AnalyzeResponse AnalyzeResponseMeasure(const std::vector<double>& stimulus,
                                       const std::vector<double>& recording, uint32_t rate,
                                       const AnalyzeMeasureOptions& options)
{
    return AnalyzeResponseAgainst(AnalyzeResponseStimulusPrepare(stimulus, recording.size(), rate, options),
                                  recording);
}
