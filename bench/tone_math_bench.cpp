// Cost of one sample's sine: the C library's against the synthesis's own, in
// the kernels' pattern (phase += step; v = int32(sin(phase) * gain)).

#include "synth/tone_math.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr uint32_t BLOCK = 512;
constexpr double STEP = 0.016362461737447917;  // 1 kHz at 384 kHz
constexpr double GAIN = 2147483645.0;

// One loop per sample, as a plain kernel is written.
template <double (*Sine)(double)>
void SampleLoop(benchmark::State& state)
{
    alignas(16) int32_t out[BLOCK];
    double phase = 0.0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < BLOCK; ++i) {
            phase += STEP;
            out[i] = static_cast<int32_t>(Sine(phase) * GAIN);
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * BLOCK);
}

// The phases first (their sum is sequential), then the sines over the block,
// which the compiler can vectorise. START is the first phase: 1.4e10 is far
// into a 4 GB file.
template <double (*Sine)(double), int64_t START = 0>
void BlockLoop(benchmark::State& state)
{
    alignas(16) double phases[BLOCK];
    alignas(16) int32_t out[BLOCK];
    double phase = double(START);
    for (auto _ : state) {
        for (uint32_t i = 0; i < BLOCK; ++i)
            phases[i] = (phase += STEP);
        for (uint32_t i = 0; i < BLOCK; ++i)
            out[i] = static_cast<int32_t>(Sine(phases[i]) * GAIN);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * BLOCK);
}

double StdSin(double x) { return std::sin(x); }

}  // namespace

BENCHMARK(SampleLoop<StdSin>)->Name("std::sin/sample_loop");
BENCHMARK(SampleLoop<ToneSin>)->Name("ToneSin/sample_loop");
BENCHMARK(BlockLoop<StdSin>)->Name("std::sin/block_loop");
BENCHMARK(BlockLoop<ToneSin>)->Name("ToneSin/block_loop");
BENCHMARK(BlockLoop<StdSin, 14000000000>)->Name("std::sin/block_loop_phase_1.4e10");
BENCHMARK(BlockLoop<ToneSin, 14000000000>)->Name("ToneSin/block_loop_phase_1.4e10");

BENCHMARK_MAIN();
