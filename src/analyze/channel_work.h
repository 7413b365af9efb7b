#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/block_fit.h"
#include "analyze/fade_fit.h"
#include "analyze/residual.h"
#include "analyze/sine_fit.h"
#include "analyze/sums.h"

// What the analysis of one channel has found so far, passed from stage to
// stage of the pipeline (analyze.cpp).

// The lowest and highest sample of each block of a channel.
struct AnalyzeEnvelope {
    uint64_t block = 0;
    std::vector<double> low, high;
    double Amp(size_t i) const { return (high[i] - low[i]) / 2; }
};

// Per channel: levels, the exact sum and the envelope, gathered per part
// of the pass and added in order.
struct AnalyzeLevelSums {
    int64_t sum = 0;
    AnalyzeCompensatedSum floatSum;
    AnalyzeCompensatedSum squares;
    uint64_t nonFinite = 0;
};

struct AnalyzeChannelWork {
    AnalyzeChannelResult* out = nullptr;
    AnalyzeEnvelope env;
    std::vector<AnalyzeLevelSums> levelParts;
    bool go = false;          // still has a tone to measure
    uint64_t r0 = 0, r1 = 0;  // where the tone is roughly level
    size_t toneFirst = 0, toneLast = 0, levelFirst = 0, levelLast = 0;
    double level = 0, mid = 0, nu = 0;
    AnalyzeFitState fit;
    AnalyzeSine sine;
    uint64_t fitFirst = 0, fitCount = 0;
    double start = 0, end = 0;
    bool enveloped = false;                    // no sustained part: fitted with its fades
    bool fadeOnly = false;                     // not even a few cycles at the tone's level
    AnalyzeFade fadeIn, fadeOut;               // as last found, for refining
    bool inIsEdge = false, outIsEdge = false;  // the tone starts (ends) at full level
    bool inFound = true, outFound = true;      // false: neither a fade nor an edge could be placed
    bool refineFades = false;                  // refine those in their shapes rather than try every shape
    AnalyzeResidual residual;
    std::string notOneTone;                     // "not one tone: a sweep ...": not fitted
    double probeNu = 0;                         // from the middle of the file, before the first pass
    std::shared_ptr<AnalyzeBlockFit> blockFit;  // the first pass's fit sums at probeNu
    size_t roughFirst = 0, roughLast = 0;
};
