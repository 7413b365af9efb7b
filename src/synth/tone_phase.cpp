#include "synth/tone_phase.h"

#include <algorithm>
#include <cmath>

void TonePhaseBuild(TonePhaseTable& table, double step, uint32_t total)
{
    table.used = 0;
    if (!(step > 0.0) || !std::isfinite(step)) return;
    double phase = 0.0;  // after the samples before n
    uint32_t n = 0;
    uint32_t used = 0;
    while (n < total) {
        if (used == TonePhaseTable::MAX_SEGMENTS) return;
        // The next sample's phase, summed as the kernels sum it.
        const double first = phase + step;
        int exponent;
        std::frexp(first, &exponent);  // first lies in [2^(exponent-1), 2^exponent)
        const double u = std::ldexp(1.0, exponent - 53);
        const double q = step / u;  // exact: u is a power of two
        // A tie (the step an odd number of half units) rounds each sum by the
        // phase's last bit: such a segment is summed one sample at a time. It
        // happens in one segment at most (each power of two halves the units
        // of the step), and for the steps of real tones within a few steps
        // of the start.
        const bool tie = q - std::floor(q) == 0.5;
        const double delta = std::nearbyint(q) * u;
        // Further samples keep adding delta while the sum before rounding
        // stays at least one u below the next power of two: in units of u,
        // first + (j - 1) delta + step <= 2^exponent - u. One sample less
        // than that bound, for the rounding of this very computation; the
        // samples left near the power of two are summed one at a time.
        const double room = (std::ldexp(1.0, exponent) - u - first) / u - q;
        const double more = room >= 0 && !tie ? std::floor(room / (delta / u)) : -1.0;
        const uint32_t count = uint32_t(std::min<double>(total - n, std::max(1.0, more + 1.0)));
        table.segments[used++] = {n, count, first, delta};
        phase = first + double(count - 1) * delta;
        n += count;
    }
    table.used = used;
}

const TonePhaseSegment* TonePhaseFind(const TonePhaseTable& table, uint32_t n)
{
    const TonePhaseSegment* begin = table.segments;
    const TonePhaseSegment* end = table.segments + table.used;
    const TonePhaseSegment* s = std::upper_bound(
        begin, end, n, [](uint32_t at, const TonePhaseSegment& seg) { return at < seg.start; });
    if (s == begin) return nullptr;
    --s;
    return n - s->start < s->count ? s : nullptr;
}
