#pragma once

#include <string>

#include "analyze/analyze.h"

// One SVG picture of a channel's analysis: the start and the end of the file
// with the fitted fade envelopes over the waveform, and the spectrum of the
// sustained part (fundamental, harmonics, noise floor) on a dB scale.
// Empty when the file was not analysed. Reads the file through file.opened.
std::string AnalyzePlotSvg(const AnalyzeFileResult& file, uint32_t channel);
