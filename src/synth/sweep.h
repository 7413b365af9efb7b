#pragma once

#include <cstdint>

#include "synth/block_frames.h"
#include "synth/double_double.h"

// The synchronised exponential sweep (Novak, Lotton and Simon, "Synchronized
// Swept-Sine: Theory, Application, and Implementation", JAES 63(10), 2015):
// sample n is A sin(2 pi K (e^(n / (rate L)) - 1)) with K = f1 L a whole
// number, so that the k-th harmonic's response comes L ln k early in phase.
// The sweep is samples 0 ... sweepFrames - 1: it stops just before its
// phase reaches wholeCycles (the whole cycles it completes while its
// frequency stays at or below f2), so it ends as it began, on a rising zero
// crossing. Blackman half-windows fade it in over its first whole cycles
// lasting at least RAMP_MIN_SECONDS and out over its last; silence follows.
struct ToneSweep {
    uint32_t rate = 0;
    double amplitude = 0.0;
    double wholeK = 0.0;       // K = f1 L
    double wholeCycles = 0.0;  // C
    uint32_t rampIn = 0;       // samples of the fade-in
    uint32_t rampOutStart = 0;
    uint32_t sweepFrames = 0;
    uint32_t totalFrames = 0;                // with the silence
    ToneDoubleDouble perSample{};            // 1 / (rate L), the exponent's step
    ToneDoubleDouble steps[BLOCK_FRAMES]{};  // e^(i / (rate L)) for i < BLOCK_FRAMES
};

// Plans the sweep from f1 = from to f2 = to lasting about seconds (L is
// round(f1 seconds / ln(f2/f1)) / f1, rounded half away from zero), then
// silence seconds of zeros, at amplitude A. Returns null, or why the sweep
// cannot be made.
const char* ToneSweepPlan(ToneSweep& p, double from, double to, double seconds, double silence, uint32_t rate,
                          double amplitude);

// Sample n's phase in cycles, K (e^(n / (rate L)) - 1), to about 100 bits.
ToneDoubleDouble ToneSweepCycles(const ToneSweep& p, uint32_t n);
// Its sine, unfaded.
double ToneSweepSin(const ToneSweep& p, uint32_t n);

// Samples first ... first + count - 1 of the file: faded sweep, then zeros;
// the same values however a range is split.
void ToneSweepMake(const ToneSweep& p, uint32_t first, uint32_t count, int32_t* out);
