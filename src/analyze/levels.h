#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "analyze/channel_work.h"
#include "analyze/pass.h"
#include "wave/wave_reader.h"

// A channel's levels, its exact sum and its coarse envelope, from the first
// pass over the file (which also gathers the fit's sums at the probed
// frequency, when there is one).

inline double AnalyzeDb20(double ratio)
{
    return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

// The channel's job in the first pass; `parts` as the pass is split.
AnalyzePassJob AnalyzeLevelsJob(const WaveInfo& info, uint32_t channel, AnalyzeChannelWork& w,
                                unsigned parts);
// The levels and sum from the parts' sums, into the channel's result.
void AnalyzeLevelsFinish(const WaveInfo& info, AnalyzeChannelWork& w);
