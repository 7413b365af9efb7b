// A real sequence of n is transformed as a complex one of n/2 (even
// samples real, odd ones imaginary) and the halves separated after; every
// twiddle is the project's sine and cosine, the same bits on every build.
// The separating loops are written on doubles, not std::complex, so that
// they vectorise (a complex product may call the library for infinities).

#include "analyze/real_fft.h"

#include <algorithm>

#include "base/vector_clones.h"

using Complex = std::complex<double>;

namespace {

// Bins k in [from, to) and half - k, whose twiddles are (cr, ci) times
// fine[k - base]: z's halves separated (Forward), or joined into y
// conjugated (Inverse, z being the bins then).
VECTOR_CLONES_512 void Separate(double* z, size_t half, size_t from, size_t to, double cr, double ci,
                                const double* __restrict fine, size_t base)
{
    VECTOR_INDEPENDENT
    for (size_t k = from; k < to; ++k) {
        const size_t j = half - k;
        const double fr = fine[2 * (k - base)], fi = fine[2 * (k - base) + 1];
        const double wr = cr * fr - ci * fi, wi = cr * fi + ci * fr;  // e^(-2 pi i k / n); -i times it:
        const double tr = wi, ti = -wr;
        const double ar = z[2 * k], ai = z[2 * k + 1], br = z[2 * j], bi = -z[2 * j + 1];
        const double sr = ar + br, si = ai + bi, dr = ar - br, di = ai - bi;
        const double ur = dr * tr - di * ti, ui = dr * ti + di * tr;
        z[2 * k] = (sr + ur) * 0.5;
        z[2 * k + 1] = (si + ui) * 0.5;
        z[2 * j] = (sr - ur) * 0.5;
        z[2 * j + 1] = -(si - ui) * 0.5;
    }
}

VECTOR_CLONES_512 void Join(const double* __restrict z, double* __restrict y, size_t half, size_t from,
                            size_t to, double cr, double ci, const double* __restrict fine, size_t base)
{
    VECTOR_INDEPENDENT
    for (size_t k = from; k < to; ++k) {
        const size_t j = half - k;
        const double fr = fine[2 * (k - base)], fi = fine[2 * (k - base) + 1];
        const double wr = cr * fr - ci * fi, wi = cr * fi + ci * fr;  // the conjugate of -i times it:
        const double tr = wi, ti = wr;
        const double ar = z[2 * k], ai = z[2 * k + 1], br = z[2 * j], bi = -z[2 * j + 1];
        const double er = ar + br, ei = ai + bi, dr = ar - br, di = ai - bi;
        const double odr = dr * tr - di * ti, odi = dr * ti + di * tr;
        y[2 * k] = er + odr;
        y[2 * k + 1] = -(ei + odi);
        y[2 * j] = er - odr;
        y[2 * j + 1] = ei - odi;
    }
}

// Calls f(from, to, coarse twiddle, fine table, base) for k = 1 ... quarter,
// a run of one coarse twiddle at a time, and the middle bin k = quarter (its
// own partner) apart, so that no two writes of a loop meet.
template <typename F>
void ForRuns(const AnalyzeTwiddles& split, size_t quarter, F f)
{
    const auto* fine = reinterpret_cast<const double*>(split.Fine());
    const size_t run = split.Run();
    for (size_t base = 0; base <= quarter; base += run) {
        const Complex c = split.Coarse(base / run);
        const size_t to = std::min(base + run, quarter);
        if (to > std::max<size_t>(base, 1)) f(std::max<size_t>(base, 1), to, c.real(), c.imag(), fine, base);
        if (quarter >= base && quarter < base + run) f(quarter, quarter + 1, c.real(), c.imag(), fine, base);
    }
}

}  // namespace

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
    auto* z = reinterpret_cast<double*>(out);
    ForRuns(plan.split, quarter,
            [&](size_t from, size_t to, double cr, double ci, const double* fine, size_t base) {
                Separate(z, half, from, to, cr, ci, fine, base);
            });
    out[0] = dc;
    out[half] = nyquist;
}

void AnalyzeRealFft::Inverse(const Complex* in, double* out, size_t n)
{
    const size_t half = n / 2, quarter = n / 4;
    const Plan& plan = PlanFor(n);
    // The halves joined into out itself (n doubles hold n/2 complex values),
    // conjugated so that a forward transform in place inverts them: no
    // buffer of its own, which was 10 MB a channel to fault in.
    auto* work = reinterpret_cast<Complex*>(out);
    work[0] = {in[0].real() + in[half].real(), -(in[0].real() - in[half].real())};
    const auto* z = reinterpret_cast<const double*>(in);
    ForRuns(plan.split, quarter,
            [&](size_t from, size_t to, double cr, double ci, const double* fine, size_t base) {
                Join(z, out, half, from, to, cr, ci, fine, base);
            });
    plan.complex.Forward(work, work, scratch.values, 1.0 / double(n), true);
}
