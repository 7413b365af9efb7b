#pragma once

#include <cstdint>

// The running phase in closed form. The kernels add phaseStep once per
// sample and round every sum. Between two powers of two every phase is a
// multiple of one unit in the last place u, and every rounded sum adds the
// same multiple of u (the step rounded to a multiple of u) as long as the
// sum stays clear of the next power of two. So, within such a segment, the
// phase after j more samples is first + j x delta, exactly, computed in two
// exact operations. A table of these segments gives the phase of any
// sample without the sums before it: phases can be made a chunk at a time
// without a chain of additions, and blocks in any order, on any thread, with
// the values of the sample-by-sample sum.
struct TonePhaseSegment {
    uint32_t start = 0;  // the first sample of the segment
    uint32_t count = 0;  // its samples
    double first = 0.0;  // the phase of its first sample
    double delta = 0.0;  // added by each further sample
};

struct TonePhaseTable {
    static constexpr uint32_t MAX_SEGMENTS = 512;  // about 3 a power of two, from the step up to 2^34
    TonePhaseSegment segments[MAX_SEGMENTS];
    uint32_t used = 0;  // 0: no table (the phase must be summed sample by sample)
};

// Builds the table for samples 0 ... total - 1 of a tone whose phase starts
// at 0 and grows by step; where the rounding of a segment depends on the
// phase's last bit (a tie), its samples get a segment each. Leaves the table
// unused when it would not fit.
void TonePhaseBuild(TonePhaseTable& table, double step, uint32_t total);

// The segment that holds sample n, or null.
const TonePhaseSegment* TonePhaseFind(const TonePhaseTable& table, uint32_t n);

// The phase of sample n: the sum of n + 1 steps, as the kernels make it.
inline double TonePhaseAt(const TonePhaseSegment& s, uint32_t n)
{
    return s.first + double(n - s.start) * s.delta;
}
