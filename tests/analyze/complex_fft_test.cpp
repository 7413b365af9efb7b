// The transforms against a DFT summed in long double at some bins, on random
// data: the largest error relative to the outputs' RMS.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "analyze/real_fft.h"

namespace {

using Complex = std::complex<double>;
using Exact = std::complex<long double>;

// The largest error at bins spread over the transform, over the RMS of the
// whole output. x has n points; y is its transform, of n or n/2 + 1 bins.
double RelativeError(const std::vector<Complex>& x, const std::vector<Complex>& y)
{
    const size_t n = x.size();
    std::vector<Exact> turn(n);
    for (size_t e = 0; e < n; ++e) {
        const long double a = -2 * 3.141592653589793238462643383279502884L * (long double)e / (long double)n;
        turn[e] = {std::cos(a), std::sin(a)};
    }
    long double power = 0;  // Parseval: the outputs' mean power is n times the inputs'
    for (const Complex& v : x)
        power += std::norm(Exact(v));
    double worst = 0;
    const size_t step = std::max<size_t>(1, y.size() / 24);
    for (size_t k = 0; k < y.size(); k += step) {
        Exact sum = 0;
        for (size_t j = 0, e = 0; j < n; ++j, e = (e + k) % n)
            sum += Exact(x[j]) * turn[e];
        worst = std::max(worst, double(std::abs(Exact(y[k]) - sum)));
    }
    return worst / double(std::sqrt(power));
}

TEST(AnalyzeFft, MatchesTheDftOnRandomData)
{
    // Complex lengths: powers of two and 3 or 5 times them, short and long
    // (the real transforms are of twice as many); 7 * 16 takes the slow way.
    for (size_t n : {2, 8, 12, 20, 64, 96, 112, 160, 4096, 12288, 20480, 65536, 98304, 163840, 524288}) {
        std::mt19937_64 random(n);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        std::vector<Complex> x(n), y(n);
        for (Complex& v : x)
            v = {uniform(random), uniform(random)};
        std::vector<double> scratch;
        AnalyzeFftPlan(n).Forward(x.data(), y.data(), scratch);
        EXPECT_LT(RelativeError(x, y), 1e-15) << n;

        std::vector<double> real(2 * n), back(2 * n);
        std::vector<Complex> asComplex(2 * n), bins(n + 1);
        for (size_t j = 0; j < 2 * n; ++j)
            asComplex[j] = real[j] = uniform(random);
        AnalyzeRealFft fft;
        fft.Forward(real.data(), bins.data(), 2 * n);
        EXPECT_LT(RelativeError(asComplex, bins), 1e-15) << 2 * n;
        AnalyzeRealFft(fft).Inverse(bins.data(), back.data(), 2 * n);
        for (size_t j = 0; j < 2 * n; ++j)
            ASSERT_NEAR(back[j], real[j], 1e-14) << 2 * n << " " << j;
    }
}

}  // namespace
