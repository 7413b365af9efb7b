#include "analyze/response_align.h"

#include <algorithm>
#include <cmath>

#include "analyze/sine_phase.h"

namespace {

using Complex = std::complex<double>;

constexpr double HALF_TURN = ANALYZE_TWO_PI / 2;
// The first pass of the phase delay: frequencies below this many radians per
// sample, where a residual delay of up to 4 samples stays within a half turn.
constexpr double UNWRAPPED_OMEGA = HALF_TURN / 4;
constexpr size_t LAG_STEP = 8;
constexpr size_t LAG_DIRECT = 1u << 16;  // samples of both below which the lag is found at full rate

std::vector<Complex> Spectrum(Eigen::FFT<double>& fft, const std::vector<double>& x, size_t n)
{
    std::vector<double> padded(n, 0.0);
    std::copy(x.begin(), x.begin() + ptrdiff_t(std::min(x.size(), n)), padded.begin());
    std::vector<Complex> bins;
    fft.fwd(bins, padded);
    return bins;
}

}  // namespace

size_t AnalyzeResponseFftSize(size_t n)
{
    size_t p = 2;
    while (p < n)
        p *= 2;
    return p;
}

int64_t AnalyzeResponseLag(Eigen::FFT<double>& fft, const std::vector<double>& stimulus,
                           const std::vector<double>& recording)
{
    // Both summed over LAG_STEP samples first (a 10 s recording at 96 kHz
    // then needs transforms of 2^18 points rather than 2^21: a sixth of the
    // time), then every lag within a step of the best tried at full rate.
    const size_t step = stimulus.size() + recording.size() >= LAG_DIRECT ? LAG_STEP : 1;
    const auto sums = [step](const std::vector<double>& x) {
        std::vector<double> out((x.size() + step - 1) / step, 0.0);
        for (size_t i = 0; i < x.size(); ++i)
            out[i / step] += x[i];
        return out;
    };
    const std::vector<double> s = sums(stimulus), y = sums(recording);
    // Long enough that no lag from -stimulus to +recording wraps onto another.
    const size_t n = AnalyzeResponseFftSize(s.size() + y.size());
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    std::vector<Complex> ys = Spectrum(fft, y, n);
    const std::vector<Complex> ss = Spectrum(fft, s, n);
    for (size_t k = 0; k < ys.size(); ++k)
        ys[k] *= std::conj(ss[k]);
    std::vector<double> c;
    fft.inv(c, ys, int(n));
    size_t best = 0;
    for (size_t i = 1; i < c.size(); ++i)
        if (std::fabs(c[i]) > std::fabs(c[best])) best = i;
    const int64_t coarse = (best > n - s.size() ? int64_t(best) - int64_t(n) : int64_t(best)) * int64_t(step);
    if (step == 1) return coarse;
    int64_t lag = coarse;
    double bestValue = -1.0;
    for (int64_t l = coarse - int64_t(step); l <= coarse + int64_t(step); ++l) {
        const int64_t from = std::max<int64_t>(0, -l);
        const int64_t to = std::min<int64_t>(int64_t(stimulus.size()), int64_t(recording.size()) - l);
        double sum = 0.0;
        for (int64_t i = from; i < to; ++i)
            sum += stimulus[size_t(i)] * recording[size_t(i + l)];
        if (std::fabs(sum) > bestValue) {
            bestValue = std::fabs(sum);
            lag = l;
        }
    }
    return lag;
}

double AnalyzeResponsePhaseDelay(const std::vector<double>& omega, const std::vector<Complex>& h,
                                 const std::vector<double>& weight)
{
    double tau = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
        double num = 0.0, den = 0.0;
        for (size_t k = 0; k < h.size(); ++k) {
            if (pass == 0 && omega[k] > UNWRAPPED_OMEGA) continue;
            if (!(std::norm(h[k]) > 0.0) || !(weight[k] > 0.0)) continue;
            // The phase left after the delay found so far, within a half turn.
            const double left = std::arg(h[k] * std::polar(1.0, omega[k] * tau));
            const double phase = left - omega[k] * tau;
            num -= weight[k] * omega[k] * phase;
            den += weight[k] * omega[k] * omega[k];
        }
        if (den > 0.0) tau = num / den;
    }
    return tau;
}

double AnalyzeResponsePhaseDeg(Complex v)
{
    double phase = std::arg(v) * 180.0 / HALF_TURN;
    if (phase <= -180.0) phase += 360.0;
    return phase;
}
