#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/measure_options.h"
#include "analyze/response.h"
#include "analyze/response_stimulus.h"

// The response of one recorded channel to the stimulus that was played, both
// at the same nominal rate: a sweep is deconvolved (its harmonics apart),
// anything else divided spectrally. The recording's clock offset is found
// and corrected first.
AnalyzeResponse AnalyzeResponseMeasure(const std::vector<double>& stimulus,
                                       const std::vector<double>& recording, uint32_t rate,
                                       const AnalyzeMeasureOptions& options);

// The same against a stimulus prepared once for every channel.
AnalyzeResponse AnalyzeResponseAgainst(const AnalyzeResponseStimulus& stimulus,
                                       const std::vector<double>& recording);

// Fills every channel's response of an analysed file against the stimulus
// file; a channel says why when it cannot be measured.
void AnalyzeResponseFill(AnalyzeFileResult& file, const std::string& stimulusPath,
                         const AnalyzeMeasureOptions& options);

// The linear impulse response as a 32-bit float WAVE file's bytes, sample
// 0 at the recording's sample 0 so that the peak stays at the latency.
std::string AnalyzeImpulseWave(const AnalyzeResponse& response);
