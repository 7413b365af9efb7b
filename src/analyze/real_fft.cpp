// A real sequence of n is transformed as a complex one of n/2 (even
// samples real, odd ones imaginary) and the halves separated after; every
// twiddle is the project's sine and cosine, the same bits on every build.

#include "analyze/real_fft.h"

using Complex = std::complex<double>;

const AnalyzeRealFft::Plan& AnalyzeRealFft::PlanFor(size_t n)
{
    for (const auto& plan : plans)
        if (plan->n == n) return *plan;
    plans.push_back(std::make_shared<const Plan>(n));
    return *plans.back();
}

void AnalyzeRealFft::Forward(const double* in, Complex* out, size_t n)
{
    const size_t half = n / 2, quarter = n / 4;
    const Plan& plan = PlanFor(n);
    plan.complex.Forward(reinterpret_cast<const Complex*>(in), out, scratch.values);
    const double dc = out[0].real() + out[0].imag(), nyquist = out[0].real() - out[0].imag();
    for (size_t k = 1; k <= quarter; ++k) {
        const Complex w = plan.split(k), turn = {w.imag(), -w.real()};  // -i e^(-2 pi i k / n)
        const Complex a = out[k], b = std::conj(out[half - k]);
        const Complex sum = a + b, turned = (a - b) * turn;
        out[k] = (sum + turned) * 0.5;
        out[half - k] = std::conj(sum - turned) * 0.5;
    }
    out[0] = dc;
    out[half] = nyquist;
}

void AnalyzeRealFft::Inverse(const Complex* in, double* out, size_t n)
{
    const size_t half = n / 2;
    const Plan& plan = PlanFor(n);
    std::vector<Complex>& work = scratch.work;
    work.resize(half);
    // The halves joined, conjugated so that a forward transform inverts them.
    work[0] = {in[0].real() + in[half].real(), -(in[0].real() - in[half].real())};
    for (size_t k = 1; k <= half / 2; ++k) {
        const Complex w = plan.split(k), turn = {w.imag(), w.real()};  // the conjugate of -i w
        const Complex a = in[k], b = std::conj(in[half - k]);
        const Complex even = a + b, odd = (a - b) * turn;
        work[k] = std::conj(even + odd);
        work[half - k] = even - odd;
    }
    auto* z = reinterpret_cast<Complex*>(out);
    plan.complex.Forward(work.data(), z, scratch.values);
    const double scale = 1.0 / double(n);
    for (size_t j = 0; j < half; ++j)
        z[j] = std::conj(z[j]) * scale;
}
