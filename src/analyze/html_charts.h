#pragma once

#include <string>
#include <vector>

#include "analyze/analyze.h"

// The report's charts built from measured figures only (no file is read).

// A channel's response to the stimulus: magnitude and phase against log
// frequency, the harmonics against frequency, the impulse response around
// its peak; a multitone's noise between the tones. Empty without a response.
std::string AnalyzeHtmlResponseCharts(const AnalyzeResponse& response, uint32_t channel);

// Across tone files: for each frequency set (about the same level, several
// frequencies) level and THD+N against frequency; for each attenuation set
// (one frequency, several levels) THD+N against level. Empty when the files
// make no set.
std::string AnalyzeHtmlSetCharts(const std::vector<AnalyzeFileResult>& files);
