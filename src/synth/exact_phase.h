#pragma once

#include <cstdint>

#include "synth/double_double.h"

// A tone's phase computed from each sample's index, exactly. The frequency f
// is a double, so f = whole + fraction / 2^64 exactly for every f >= 2^-11
// (its lowest bit is at most 64 places below the point). Sample n's phase in
// cycles, n f / rate, is then an exact fraction of the integer rate, reduced
// modulo one cycle in integers; only the angle within a quarter turn around
// the nearest multiple of pi/2 is rounded, to about 106 bits, before its sine.
// The phase neither drifts nor loses precision however long the tone.
struct ToneExactPhase {
    uint32_t rate = 0;
    uint32_t wholeModRate = 0;          // floor(f) mod rate
    uint64_t fraction = 0;              // (f - floor(f)) * 2^64
    ToneDoubleDouble radiansPerUnit{};  // (pi/2) / rate
};

// A point of the cycle: (units + fraction / 2^64) / rate of a cycle.
struct ToneCyclePoint {
    uint32_t units = 0;  // below rate
    uint64_t fraction = 0;
};

// False when the frequency is not positive, not below 2^32 or not a whole
// number of 2^-64 (below 2^-11 Hz), or the rate is 0.
bool ToneExactPhasePlan(ToneExactPhase& p, double frequency, uint32_t rate);

// Where sample n (up to 2^32) stands in its cycle.
ToneCyclePoint ToneExactPhaseAt(const ToneExactPhase& p, uint64_t n);

// The sine of 2 pi times that point plus quarterTurns quarter turns (1: its
// cosine), within one unit in the last place.
double ToneExactPhaseSin(const ToneExactPhase& p, ToneCyclePoint point, uint64_t quarterTurns = 0);

// The sines of samples first ... first + count - 1: the values of
// ToneExactPhaseSin for each, however a range is split.
void ToneExactPhaseSines(const ToneExactPhase& p, uint32_t first, uint32_t count, double* sines);
