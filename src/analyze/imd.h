#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "analyze/measure_options.h"
#include "wave/wave_reader.h"

struct AnalyzeChannelResult;

// Two-tone intermodulation of one channel, SMPTE or CCIF, from least-squares
// amplitudes at the exact frequencies of the two tones and their products.
// Figures that cannot be had (a product at or beyond half the rate) are NaN.
struct AnalyzeImd {
    const char* kind = "";  // "smpte" or "ccif"
    double f1Hz = 0.0;      // the lower tone
    double f2Hz = 0.0;
    double percent = 0.0;  // SMPTE
    double db = 0.0;
    double d2Db = 0.0;  // CCIF
    double d3Db = 0.0;
    // The tones and products measured, for the picture: frequency in Hz and
    // amplitude in sample units (NaN where it could not be measured).
    static constexpr int COMPONENTS_MAX = 8;
    int components = 0;
    double componentHz[COMPONENTS_MAX] = {};
    double componentAmplitude[COMPONENTS_MAX] = {};
};

// The channel's two strongest components, measured as `mode` says (Auto: as
// whichever pair they form, if any). False when nothing is measured.
bool AnalyzeMeasureImd(const WaveReader& file, uint32_t channel, const WaveInfo& info,
                       const AnalyzeChannelResult& result, AnalyzeImdMode mode, AnalyzeImd& imd);
