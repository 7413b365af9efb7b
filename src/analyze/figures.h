#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "analyze/imd.h"
#include "analyze/measure_options.h"

// The figures audio analysers give, per channel, with the fitted
// fundamental as the reference. NaN where a figure does not apply or cannot
// be had (null in the JSON).
struct AnalyzeChannelFigures {
    double thdNDb = NAN;
    double thdNPercent = NAN;
    double noiseDbfs = NAN;
    double dynamicRangeDb = NAN;
    double gainDb = NAN;
    double phaseDeg = NAN;
    double crosstalkDb = NAN;
    uint32_t crosstalkFrom = 0;  // the channel (from 0) whose tone crosstalkDb is measured against
    double clockOffsetPpm = NAN;
    bool hasImd = false;
    AnalyzeImd imd;
};

// The band and weighting the figures were measured with.
struct AnalyzeMeasurement {
    double bandLowHz = 0.0;
    double bandHighHz = 0.0;
    bool bandClipped = false;  // the band asked for reached beyond half the rate
    bool weightingA = false;
    double nominalHz = 0.0;
};

struct AnalyzeFileResult;
// Every channel's figures, after the tone analysis.
void AnalyzeMeasure(AnalyzeFileResult& file, const AnalyzeMeasureOptions& options, unsigned threads);
