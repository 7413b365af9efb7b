// The stimulus's spectrum once for all channels: on a stereo recording it
// was a third of the transforms.

#include "analyze/response_stimulus.h"

#include <algorithm>
#include <cmath>

#include "analyze/series_log.h"
#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

namespace {

using Complex = std::complex<double>;

// The recording's stretch by a clock a few hundred ppm off, at most.
constexpr size_t STRETCH_ROOM = 1000;
// Room after the longer of the two for the linear response's tail, so that
// a harmonic wrapped from before time 0 does not meet it.
constexpr double TAIL_ROOM_SECONDS = 0.5;

// The smallest of 2^a, 3 2^a and 5 2^a (a >= 2) at least need: the
// radices AnalyzeFftPlan has butterflies for, and a length within a quarter
// of need rather than a half.
size_t TransformLength(size_t need)
{
    size_t best = 0;
    for (size_t factor : {1, 3, 5}) {
        size_t n = 4 * factor;
        while (n < need)
            n *= 2;
        if (best == 0 || n < best) best = n;
    }
    return best;
}

constexpr double LN2 = 0.6931471805599453;

}  // namespace

double AnalyzeBandTaper(double f, double low, double high)
{
    if (f <= low || f >= high) return 0.0;
    // Octaves into the band from its nearer end, where within the taper.
    const double edge = ToneExp(ANALYZE_EDGE_OCTAVES * LN2);
    double octaves = ANALYZE_EDGE_OCTAVES;
    if (f < low * edge) octaves = std::min(octaves, AnalyzeLog(f / low) / LN2);
    if (f * edge > high) octaves = std::min(octaves, AnalyzeLog(high / f) / LN2);
    const double in = octaves / ANALYZE_EDGE_OCTAVES;
    return in >= 1.0 ? 1.0 : 0.5 - 0.5 * ToneCos(ANALYZE_TWO_PI / 2 * in);
}

void AnalyzeResponseTaper(std::vector<Complex>& y, size_t n, uint32_t rate, double low, double high)
{
    // Only the bins of the band's tapers need the taper computed.
    const auto first = size_t(std::ceil(low * double(n) / rate));
    const size_t last = std::min(y.size() - 1, size_t(std::floor(high * double(n) / rate)));
    const double inLow = low * std::exp2(ANALYZE_EDGE_OCTAVES),
                 inHigh = high * std::exp2(-ANALYZE_EDGE_OCTAVES);
    for (size_t k = 0; k < y.size(); ++k) {
        const double f = double(k) * rate / double(n);
        if (k < first || k > last)
            y[k] = Complex();
        else if (f < inLow || f > inHigh)
            y[k] *= AnalyzeBandTaper(f, low, high);
    }
}

void AnalyzeResponseDivide(std::vector<Complex>& y, const std::vector<Complex>& stimulus, size_t n,
                           uint32_t rate, double low, double high)
{
    for (size_t k = 0; k < y.size(); ++k)
        y[k] = std::norm(stimulus[k]) > 0.0 ? y[k] / stimulus[k] : Complex();
    AnalyzeResponseTaper(y, n, rate, low, high);
}

AnalyzeResponseStimulus AnalyzeResponseStimulusPrepare(const std::vector<double>& samples,
                                                       size_t recordingFrames, uint32_t rate,
                                                       const AnalyzeMeasureOptions& options)
{
    AnalyzeResponseStimulus st;
    st.samples = &samples;
    st.rate = rate;
    if (samples.empty() || recordingFrames == 0 || rate == 0) {
        st.reason = "the stimulus or the recording holds no samples";
        return st;
    }
    st.shape = AnalyzeSweepRecognise(samples, rate);
    st.options = options;
    if (!st.shape.found) {
        st.tones = AnalyzeMultitoneRecognise(samples);
        return st;
    }
    st.low = st.shape.f1;
    st.high = st.shape.f2;
    if (!(st.high > st.low) || st.high <= 0.0) {
        st.reason = "the band holds no frequency below half the rate";
        return st;
    }
    st.low = std::max(st.low, double(rate) / double(recordingFrames));
    // Circular deconvolution is exact once the recording fits: the stimulus
    // (stretched) convolved with the path lies inside it.
    st.n = TransformLength(std::max(recordingFrames, samples.size() + samples.size() / STRETCH_ROOM) +
                           size_t(TAIL_ROOM_SECONDS * rate));
    std::vector<double> padded(st.n, 0.0);
    std::copy(samples.begin(), samples.begin() + std::min(samples.size(), st.n), padded.begin());
    std::vector<Complex>& s = st.inverse;
    s.resize(st.n / 2 + 1);
    st.fft.Forward(padded.data(), s.data(), st.n);
    padded = {};
    if (std::all_of(s.begin(), s.end(), [](const Complex& v) { return std::norm(v) == 0.0; })) {
        st.reason = "the stimulus is silent";
        return st;
    }
    // taper / S in place of S.
    // (Not 1.0 / v: libgcc's complex division, scaled against overflow that
    // no spectrum of samples reaches, took 3 % of a response.)
    for (Complex& v : s) {
        const double norm = std::norm(v);
        v = norm > 0.0 ? std::conj(v) * (1.0 / norm) : Complex();
    }
    AnalyzeResponseTaper(s, st.n, rate, st.low, st.high);
    st.fft.Release();  // the channels' copies bring their own
    return st;
}
