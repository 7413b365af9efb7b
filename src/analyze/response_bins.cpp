// The stretch is placed with its origin at the transform's time 0 so that its
// spectrum turns slowly from bin to bin: with at least 8 bins per turn of
// its far ends (and the window's taper there), cubic interpolation errs by less
// than 1e-4 of the value (0.001 dB) where direct sums took most of the time.

#include "analyze/response_bins.h"

#include <algorithm>
#include <cmath>

#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

using Complex = std::complex<double>;

AnalyzeResponseSpectrum::AnalyzeResponseSpectrum(AnalyzeRealFft& fft, const std::vector<double>& stretch,
                                                 int64_t first, double origin, size_t oversample,
                                                 std::vector<double>& scratch, std::vector<Complex>* storage)
{
    if (storage != nullptr) bins = std::move(*storage);
    // Time 0 at the origin, where a response's main stretch lies.
    const auto centre = int64_t(std::llround(origin));
    const int64_t reach = std::max(centre - first, first + int64_t(stretch.size()) - centre) + 1;
    m = 8;
    while (m < oversample * size_t(std::max<int64_t>(reach, 1)))
        m *= 2;
    std::vector<double>& placed = scratch;
    placed.assign(m, 0.0);
    for (size_t i = 0; i < stretch.size(); ++i) {
        const int64_t t = first + int64_t(i) - centre;
        placed[size_t(t < 0 ? t + int64_t(m) : t)] = stretch[i];
    }
    bins.resize(m / 2 + 1);
    fft.Forward(placed.data(), bins.data(), m);
    shift = double(centre) - origin;
}

Complex AnalyzeResponseSpectrum::At(double f) const
{
    const double u = f * double(m);
    const auto k = int64_t(std::floor(u));
    const double t = u - double(k);
    // Lagrange weights on bins k - 1 ... k + 2; bins below 0 and above m/2
    // are conjugates of those inside.
    const double w[4] = {-t * (t - 1) * (t - 2) / 6, (t + 1) * (t - 1) * (t - 2) / 2,
                         -(t + 1) * t * (t - 2) / 2, (t + 1) * t * (t - 1) / 6};
    Complex sum = 0.0;
    const auto half = int64_t(m / 2);
    for (int j = 0; j < 4; ++j) {
        int64_t b = k - 1 + j;
        bool flip = false;
        if (b < 0) b = -b, flip = true;
        if (b > half) b = int64_t(m) - b, flip = true;
        const Complex v = bins[size_t(b)];
        sum += (flip ? std::conj(v) : v) * w[j];
    }
    const double angle = -ANALYZE_TWO_PI * f * shift;
    return sum * Complex(ToneCos(angle), ToneSin(angle));
}
