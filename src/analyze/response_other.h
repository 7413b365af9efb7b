#pragma once

#include <cstdint>
#include <vector>

#include "analyze/measure_options.h"
#include "analyze/response.h"

// The response to a stimulus that is neither a sweep nor a multitone: the
// recording aligned on its cross-correlation with the stimulus, then Welch's
// averaged spectra of Hann-windowed halves-overlapping segments give
// H = Sxy / Sxx and the coherence |Sxy|^2 / (Sxx Syy) at 1/24-octave points
// of the band; points where the stimulus has no energy are left out. No
// clock offset is measured (null).
AnalyzeResponse AnalyzeOtherResponse(const std::vector<double>& stimulus,
                                     const std::vector<double>& recording, uint32_t rate,
                                     const AnalyzeMeasureOptions& options);
