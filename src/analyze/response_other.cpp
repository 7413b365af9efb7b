#include "analyze/response_other.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include <unsupported/Eigen/FFT>

#include "analyze/response_align.h"
#include "analyze/sine_phase.h"

namespace {

using Complex = std::complex<double>;

constexpr double POINTS_PER_OCTAVE = 24.0;
constexpr double SEGMENT_SECONDS = 0.1;  // about: a power of two, 10 Hz bins
constexpr size_t SEGMENT_MIN = 64, SEGMENT_MAX = 1u << 16;
// Points whose stimulus lies this far below its strongest bin are left out.
constexpr double STIMULUS_FLOOR = 1e-10;

}  // namespace

AnalyzeResponse AnalyzeOtherResponse(const std::vector<double>& x, const std::vector<double>& y,
                                     uint32_t rate, const AnalyzeMeasureOptions& options)
{
    AnalyzeResponse r;
    r.rate = rate;
    r.tdNDb = std::numeric_limits<double>::quiet_NaN();
    r.clockOffsetPpm = std::numeric_limits<double>::quiet_NaN();
    const double nyquist = rate / 2.0;
    const double low = options.bandFull ? 0.0 : options.bandLowHz;
    const double high = options.bandFull ? nyquist : std::min(options.bandHighHz, nyquist);
    if (!(high > low)) {
        r.reason = "the band holds no frequency below half the rate";
        return r;
    }
    Eigen::FFT<double> fft;
    const int64_t lag = AnalyzeResponseLag(fft, x, y);
    // Stimulus samples i with i + lag inside the recording.
    const int64_t begin = std::max<int64_t>(0, -lag);
    const int64_t end = std::min<int64_t>(int64_t(x.size()), int64_t(y.size()) - lag);
    size_t segment = std::min(SEGMENT_MAX, AnalyzeResponseFftSize(size_t(SEGMENT_SECONDS * rate)));
    while (segment > SEGMENT_MIN && int64_t(segment) > end - begin)
        segment /= 2;
    if (end - begin < int64_t(segment)) {
        r.reason = "the recording and the stimulus overlap too little";
        return r;
    }
    std::vector<double> window(segment), xs(segment), ys(segment);
    for (size_t i = 0; i < segment; ++i)
        window[i] = 0.5 - 0.5 * std::cos(ANALYZE_TWO_PI * double(i) / double(segment));
    const size_t bins = segment / 2 + 1;
    std::vector<double> sxx(bins, 0.0), syy(bins, 0.0);
    std::vector<Complex> sxy(bins, 0.0), fx, fy;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    for (int64_t i = begin; i + int64_t(segment) <= end; i += int64_t(segment / 2)) {
        for (size_t j = 0; j < segment; ++j) {
            xs[j] = x[size_t(i) + j] * window[j];
            ys[j] = y[size_t(i + lag) + j] * window[j];
        }
        fft.fwd(fx, xs);
        fft.fwd(fy, ys);
        for (size_t k = 0; k < bins; ++k) {
            sxx[k] += std::norm(fx[k]);
            syy[k] += std::norm(fy[k]);
            sxy[k] += fy[k] * std::conj(fx[k]);
        }
    }
    const double top = *std::max_element(sxx.begin(), sxx.end());
    if (!(top > 0.0)) {
        r.reason = "the stimulus is silent";
        return r;
    }
    if (std::all_of(syy.begin(), syy.end(), [](double v) { return v == 0.0; })) {
        r.reason = "the recording is silent";
        return r;
    }
    r.kind = "other";

    // Each point sums the bins within half a point's width of it; where
    // fewer than two lie there, the spectra are interpolated between the
    // bins either side (the nearest bin alone would be up to half a bin off
    // on a steep slope: 0.13 dB on the side of a 6 dB peak at 300 Hz).
    const double binHz = double(rate) / double(segment);
    const double first = std::max(low, binHz);
    std::vector<double> omega, weight;
    std::vector<Complex> h;
    for (double f = first; f <= high && f / binHz < double(bins - 1);
         f *= std::exp2(1.0 / POINTS_PER_OCTAVE)) {
        const double half = std::exp2(0.5 / POINTS_PER_OCTAVE);
        const auto k0 = size_t(std::ceil(f / half / binHz));
        const size_t k1 = std::min(bins - 1, size_t(std::floor(f * half / binHz)));
        double pxx = 0.0, pyy = 0.0, count = 1.0;
        Complex pxy = 0.0;
        if (k1 >= k0 + 1) {
            for (size_t k = k0; k <= k1; ++k) {
                pxx += sxx[k];
                pyy += syy[k];
                pxy += sxy[k];
            }
            count = double(k1 - k0 + 1);
        } else {
            const auto k = size_t(f / binHz);
            const double u = f / binHz - double(k);
            pxx = (1 - u) * sxx[k] + u * sxx[k + 1];
            pyy = (1 - u) * syy[k] + u * syy[k + 1];
            pxy = (1 - u) * sxy[k] + u * sxy[k + 1];
        }
        if (pxx <= STIMULUS_FLOOR * top * count) continue;
        omega.push_back(ANALYZE_TWO_PI * f / rate);
        h.push_back(pxy / pxx);
        weight.push_back(pxx);
        r.points.push_back({f, 0.0, 0.0, pyy > 0.0 ? std::norm(pxy) / (pxx * pyy) : 0.0});
    }
    const double tau = AnalyzeResponsePhaseDelay(omega, h, weight);
    r.latencySamples = double(lag) + tau;
    for (size_t i = 0; i < h.size(); ++i) {
        const Complex v = h[i] * std::polar(1.0, omega[i] * tau);
        r.points[i].gainDb = 20.0 * std::log10(std::abs(v));
        r.points[i].phaseDeg = AnalyzeResponsePhaseDeg(v);
    }

    // The impulse response of the averaged H over the band, centred on the lag.
    std::vector<Complex> spectrum(bins, 0.0);
    for (size_t k = 0; k < bins; ++k) {
        const double f = double(k) * binHz;
        if (f >= low && f <= high && sxx[k] > STIMULUS_FLOOR * top) spectrum[k] = sxy[k] / sxx[k];
    }
    std::vector<double> ir;
    fft.inv(ir, spectrum, int(segment));
    r.impulse.resize(segment);
    for (size_t i = 0; i < segment; ++i)
        r.impulse[i] = float(ir[(i + segment / 2) % segment]);
    r.impulseFirst = lag - int64_t(segment / 2);
    return r;
}
