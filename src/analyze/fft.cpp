// A radix-2 transform written out: no FFT library is packaged for the
// Windows cross builds.

#include "analyze/fft.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "analyze/sine_phase.h"

namespace {

// In place, decimation in time; n a power of two.
void Transform(double* re, double* im, uint32_t n)
{
    for (uint32_t i = 1, j = 0; i < n; ++i) {
        uint32_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    // Each twiddle from the library's sine, not a recurrence: no drift.
    std::vector<double> cosTable(n / 2), sinTable(n / 2);
    for (uint32_t k = 0; k < n / 2; ++k) {
        cosTable[k] = std::cos(-ANALYZE_TWO_PI * k / n);
        sinTable[k] = std::sin(-ANALYZE_TWO_PI * k / n);
    }
    for (uint32_t len = 2; len <= n; len <<= 1) {
        const uint32_t stride = n / len;
        for (uint32_t k = 0; k < len / 2; ++k) {
            const double wr = cosTable[k * stride], wi = sinTable[k * stride];
            for (uint32_t i = k; i < n; i += len) {
                const uint32_t j = i + len / 2;
                const double tr = re[j] * wr - im[j] * wi;
                const double ti = re[j] * wi + im[j] * wr;
                re[j] = re[i] - tr;
                im[j] = im[i] - ti;
                re[i] += tr;
                im[i] += ti;
            }
        }
    }
}

}  // namespace

std::vector<std::complex<double>> AnalyzeFft(const std::vector<double>& samples)
{
    const auto n = uint32_t(samples.size());
    std::vector<double> re(samples), im(n, 0.0);
    Transform(re.data(), im.data(), n);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    for (uint32_t k = 0; k <= n / 2; ++k)
        bins[k] = {re[k], im[k]};
    return bins;
}
