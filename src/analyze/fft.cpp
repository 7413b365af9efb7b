// A radix-2 transform written out: no FFT library is packaged for the
// Windows cross builds. Real samples are transformed as a complex sequence
// of half the length (even samples real, odd ones imaginary) and the halves
// separated after: half the work of a complex transform of the samples.

#include "analyze/fft.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

namespace {

// e^(-2 pi i k / n) for k < n / 2: the library's sine for the first quarter
// (no recurrence, no drift), the second a quarter turn of it, exactly.
void Twiddles(uint32_t n, std::vector<double>& cosTable, std::vector<double>& sinTable)
{
    cosTable.resize(n / 2);
    sinTable.resize(n / 2);
    const uint32_t quarter = n / 4;
    for (uint32_t k = 0; k < quarter; ++k) {
        cosTable[k] = ToneCos(-ANALYZE_TWO_PI * k / n);
        sinTable[k] = ToneSin(-ANALYZE_TWO_PI * k / n);
    }
    for (uint32_t k = quarter; k < n / 2; ++k) {
        cosTable[k] = sinTable[k - quarter];
        sinTable[k] = -cosTable[k - quarter];
    }
    if (n == 2) {
        cosTable[0] = 1.0;
        sinTable[0] = 0.0;
    }
}

// In place, decimation in time, m a power of two; the twiddle of index k is
// the table's entry k * step.
void Transform(double* re, double* im, uint32_t m, const std::vector<double>& cosTable,
               const std::vector<double>& sinTable, uint32_t step)
{
    for (uint32_t i = 1, j = 0; i < m; ++i) {
        uint32_t bit = m >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (uint32_t len = 2; len <= m; len <<= 1) {
        const uint32_t stride = m / len * step;
        const uint32_t half = len / 2;
        for (uint32_t i = 0; i < m; i += len) {
            for (uint32_t k = 0; k < half; ++k) {
                const double wr = cosTable[k * stride], wi = sinTable[k * stride];
                const uint32_t a = i + k, b = a + half;
                const double tr = re[b] * wr - im[b] * wi;
                const double ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

}  // namespace

std::vector<std::complex<double>> AnalyzeFft(const std::vector<double>& samples)
{
    const auto n = uint32_t(samples.size());
    const uint32_t m = n / 2;
    std::vector<double> cosTable, sinTable, re(m), im(m);
    Twiddles(n, cosTable, sinTable);
    for (uint32_t j = 0; j < m; ++j) {
        re[j] = samples[2 * j];
        im[j] = samples[2 * j + 1];
    }
    Transform(re.data(), im.data(), m, cosTable, sinTable, 2);
    // X[k] = E[k] + w^k O[k], with E and O the transforms of the even and
    // odd samples: E[k] = (Z[k] + conj Z[m - k]) / 2, O[k] = (Z[k] - conj Z[m - k]) / 2i.
    std::vector<std::complex<double>> bins(m + 1);
    for (uint32_t k = 0; k <= m; ++k) {
        const uint32_t a = k % m, b = (m - k) % m;
        const double er = (re[a] + re[b]) / 2, ei = (im[a] - im[b]) / 2;
        const double or_ = (im[a] + im[b]) / 2, oi = (re[b] - re[a]) / 2;
        const double wr = k < m ? cosTable[k] : -1.0, wi = k < m ? sinTable[k] : 0.0;
        bins[k] = {er + (wr * or_ - wi * oi), ei + (wr * oi + wi * or_)};
    }
    return bins;
}
