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
    // Long enough that no lag from -stimulus to +recording wraps onto another.
    const size_t n = AnalyzeResponseFftSize(stimulus.size() + recording.size());
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    std::vector<Complex> y = Spectrum(fft, recording, n);
    const std::vector<Complex> s = Spectrum(fft, stimulus, n);
    for (size_t k = 0; k < y.size(); ++k)
        y[k] *= std::conj(s[k]);
    std::vector<double> c;
    fft.inv(c, y, int(n));
    size_t best = 0;
    for (size_t i = 1; i < c.size(); ++i)
        if (std::fabs(c[i]) > std::fabs(c[best])) best = i;
    return best > n - stimulus.size() ? int64_t(best) - int64_t(n) : int64_t(best);
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
