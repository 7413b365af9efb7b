// The response's transforms: the analysis's own complex and real FFT
// against Eigen's (kissfft), side by side, for the lengths a response asks
// for. Plans are made before the timing, as a response makes them once.

#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

#include <unsupported/Eigen/FFT>

#include "analyze/real_fft.h"

namespace {

using Complex = std::complex<double>;

std::vector<Complex> Random(size_t n)
{
    std::mt19937_64 random(n);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<Complex> x(n);
    for (Complex& v : x)
        v = {uniform(random), uniform(random)};
    return x;
}

void OwnComplex(benchmark::State& state)
{
    const size_t n = size_t(state.range(0));
    const std::vector<Complex> x = Random(n);
    std::vector<Complex> y(n);
    std::vector<double> scratch;
    const AnalyzeFftPlan plan(n);
    for (auto _ : state) {
        plan.Forward(x.data(), y.data(), scratch);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

void EigenComplex(benchmark::State& state)
{
    const size_t n = size_t(state.range(0));
    const std::vector<Complex> x = Random(n);
    std::vector<Complex> y(n);
    Eigen::FFT<double> fft;
    fft.fwd(y.data(), x.data(), Eigen::Index(n));
    for (auto _ : state) {
        fft.fwd(y.data(), x.data(), Eigen::Index(n));
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// Real transforms of n samples, forward and inverse.
void OwnReal(benchmark::State& state)
{
    const size_t n = size_t(state.range(0));
    const std::vector<Complex> random = Random(n / 2);
    const auto* x = reinterpret_cast<const double*>(random.data());
    std::vector<Complex> bins(n / 2 + 1);
    std::vector<double> back(n);
    AnalyzeRealFft fft;
    fft.Forward(x, bins.data(), n);
    for (auto _ : state) {
        fft.Forward(x, bins.data(), n);
        fft.Inverse(bins.data(), back.data(), n);
        benchmark::DoNotOptimize(back.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

void EigenReal(benchmark::State& state)
{
    const size_t n = size_t(state.range(0));
    const std::vector<Complex> random = Random(n / 2);
    const auto* x = reinterpret_cast<const double*>(random.data());
    std::vector<Complex> bins(n / 2 + 1);
    std::vector<double> back(n);
    Eigen::FFT<double> fft;
    fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
    fft.fwd(bins.data(), x, Eigen::Index(n));
    for (auto _ : state) {
        fft.fwd(bins.data(), x, Eigen::Index(n));
        fft.inv(back.data(), bins.data(), Eigen::Index(n));
        benchmark::DoNotOptimize(back.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// Complex lengths; the real transforms are of twice as many samples.
constexpr int64_t LENGTHS[] = {1 << 16, 1 << 17, 1 << 18, 1 << 19, 1 << 20, 3 << 16, 3 << 18, 5 << 16};

void Lengths(benchmark::internal::Benchmark* b)
{
    for (int64_t n : LENGTHS)
        b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

void RealLengths(benchmark::internal::Benchmark* b)
{
    for (int64_t n : LENGTHS)
        b->Arg(2 * n);
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(OwnComplex)->Name("complex/own")->Apply(Lengths);
BENCHMARK(EigenComplex)->Name("complex/eigen")->Apply(Lengths);
BENCHMARK(OwnReal)->Name("real_fwd_inv/own")->Apply(RealLengths);
BENCHMARK(EigenReal)->Name("real_fwd_inv/eigen")->Apply(RealLengths);

BENCHMARK_MAIN();
