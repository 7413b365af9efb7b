#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/analyze.h"

// The noise of a channel in a band: the power spectrum of the residual over
// the sustained part, after the fitted fundamental, DC and harmonics 2 to 10
// are taken out, integrated over the band as an ideal band-pass would pass it.

struct AnalyzeNoiseSpectrum {
    double binHz = 0.0;
    uint32_t length = 0;        // samples per transform
    uint32_t segments = 0;      // transforms averaged
    std::vector<double> power;  // mean square per bin, bins 0 ... length / 2, in sample units
};

// Averaged over enough of the sustained part for the power in [lowHz,
// highHz] (A-weighted when asked) to hold to about 0.02 dB where the part
// is long enough. False
// when the channel has no tone with a sustained part to measure.
bool AnalyzeNoiseSpectrumOf(const WaveReader& file, uint32_t channel, uint32_t rate,
                            const AnalyzeChannelResult& result, double lowHz, double highHz, bool aWeighted,
                            AnalyzeNoiseSpectrum& spectrum);

// The power in [lowHz, highHz]: each bin counted for the share of its width
// inside the band, A-weighted (at its centre) when asked.
double AnalyzeBandPower(const AnalyzeNoiseSpectrum& spectrum, double lowHz, double highHz, bool aWeighted);
