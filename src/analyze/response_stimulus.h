#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "analyze/measure_options.h"
#include "analyze/real_fft.h"
#include "analyze/response_multitone.h"
#include "analyze/sweep_shape.h"

// What a deconvolution needs of the stimulus, made once for every channel
// measured against it: its shape, the band, the transforms' length and the
// tapered inverse of its spectrum.
struct AnalyzeResponseStimulus {
    std::string reason;  // why nothing can be measured against it; empty when it can
    const std::vector<double>* samples = nullptr;
    uint32_t rate = 0;
    AnalyzeSweepShape shape;
    AnalyzeMultitoneShape tones;                // when not a sweep; neither: "other"
    AnalyzeMeasureOptions options;              // the band, for what is not a sweep
    double low = 0.0, high = 0.0;               // the band divided, Hz
    size_t n = 0;                               // the transforms' length
    std::vector<std::complex<double>> inverse;  // taper / S, n/2 + 1 bins
    AnalyzeRealFft fft;                         // its plans made for n
};

// For recordings of recordingFrames; samples must outlive the result. A
// stimulus that is not a sweep keeps its shape only: it is not deconvolved.
AnalyzeResponseStimulus AnalyzeResponseStimulusPrepare(const std::vector<double>& samples,
                                                       size_t recordingFrames, uint32_t rate,
                                                       const AnalyzeMeasureOptions& options);

// Raised-cosine taper of the division from 0 at the band's ends to 1
// ANALYZE_EDGE_OCTAVES inside.
inline constexpr double ANALYZE_EDGE_OCTAVES = 1.0 / 6;
double AnalyzeBandTaper(double f, double low, double high);
// y becomes y times the taper over the band, 0 outside it.
void AnalyzeResponseTaper(std::vector<std::complex<double>>& y, size_t n, uint32_t rate, double low,
                          double high);
// y becomes Y / S over the band, tapered, and 0 outside it; stimulus is
// the stimulus's own spectrum.
void AnalyzeResponseDivide(std::vector<std::complex<double>>& y,
                           const std::vector<std::complex<double>>& stimulus, size_t n, uint32_t rate,
                           double low, double high);
