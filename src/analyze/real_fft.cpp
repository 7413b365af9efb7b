// A real sequence of n is transformed as a complex one of n/2 (even
// samples real, odd ones imaginary) and the halves separated after, as
// Eigen's own real transform does; the separating twiddles are the
// project's sine and cosine, the same bits on every build.

#include "analyze/real_fft.h"

#include <bit>

#include "analyze/sine_phase.h"
#include "synth/tone_math.h"

using Complex = std::complex<double>;

size_t AnalyzeRealFft::Twiddles(size_t n)
{
    // A length that divides the table's by a power of two takes every
    // stride-th entry: the response's shorter transforms share the longest's.
    const size_t length = twiddles.size() * 4;
    if (length >= n && length % n == 0 && std::has_single_bit(length / n)) return length / n;
    const size_t half = n / 2, quarter = n / 4;
    twiddles.resize(quarter);
    for (size_t k = 1; k <= quarter; ++k) {
        const double a = ANALYZE_TWO_PI / 2 * double(k) / double(half);
        twiddles[k - 1] = {-ToneSin(a), -ToneCos(a)};
    }
    return 1;
}

void AnalyzeRealFft::Forward(const double* in, Complex* out, size_t n)
{
    const size_t half = n / 2, quarter = n / 4;
    const size_t stride = Twiddles(n);
    fft.fwd(out, reinterpret_cast<const Complex*>(in), Eigen::Index(half));
    const double dc = out[0].real() + out[0].imag(), nyquist = out[0].real() - out[0].imag();
    for (size_t k = 1; k <= quarter; ++k) {
        const Complex a = out[k], b = std::conj(out[half - k]);
        const Complex sum = a + b, turned = (a - b) * twiddles[k * stride - 1];
        out[k] = (sum + turned) * 0.5;
        out[half - k] = std::conj(sum - turned) * 0.5;
    }
    out[0] = dc;
    out[half] = nyquist;
}

void AnalyzeRealFft::Inverse(const Complex* in, double* out, size_t n)
{
    const size_t half = n / 2;
    const size_t stride = Twiddles(n);
    work.resize(half);
    // The halves joined as Eigen's real inverse does, conjugated so that a
    // forward transform inverts them.
    work[0] = {in[0].real() + in[half].real(), -(in[0].real() - in[half].real())};
    for (size_t k = 1; k <= half / 2; ++k) {
        const Complex a = in[k], b = std::conj(in[half - k]);
        const Complex even = a + b, odd = (a - b) * std::conj(twiddles[k * stride - 1]);
        work[k] = std::conj(even + odd);
        work[half - k] = even - odd;
    }
    auto* z = reinterpret_cast<Complex*>(out);
    fft.fwd(z, work.data(), Eigen::Index(half));
    const double scale = 1.0 / double(n);
    for (size_t j = 0; j < half; ++j)
        z[j] = std::conj(z[j]) * scale;
}
