#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "analyze/measure_options.h"
#include "analyze/response.h"

// A multitone as its own samples show it: a stretch of whole periods that
// repeat exactly (a faded first or last period, or any lead or tail, left
// out), and the bins of one period that hold its tones.
struct AnalyzeMultitoneShape {
    bool found = false;
    uint32_t period = 0;   // samples
    size_t first = 0;      // the first sample of the repeating periods
    uint32_t periods = 0;  // how many whole periods repeat
    std::vector<uint32_t> bins;
    std::vector<std::complex<double>> tones;  // each tone's DFT over one period
};

// Finds the shortest period that repeats sample by sample, and its tones.
AnalyzeMultitoneShape AnalyzeMultitoneRecognise(const std::vector<double>& stimulus);

// The response at each tone, latency, clock offset, TD+N and the noise floor
// between the tones of a recording of the multitone `shape` describes.
AnalyzeResponse AnalyzeMultitoneResponse(const std::vector<double>& stimulus,
                                         const AnalyzeMultitoneShape& shape,
                                         const std::vector<double>& recording, uint32_t rate,
                                         const AnalyzeMeasureOptions& options);
