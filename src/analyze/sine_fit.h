#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/fit_kernels.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"
#include "analyze/sums.h"

// The four-parameter sine fit (IEEE 1057): Gauss-Newton passes over a range
// in blocks (fit_kernels.h), each block turned to its exact phase.

// A sine fit over a range, advanced one pass at a time so that the passes
// of several channels can share the reading of the file.
struct AnalyzeFitState {
    uint64_t first = 0;
    uint64_t count = 0;  // frames used: whole blocks of `block`
    uint32_t block = 0;
    int64_t origin = 0;  // the middle of the range
    double scale = 1.0;  // half the range: t is measured in these units
    double nu = 0.0;     // the frequency of the next pass
    int passes = 0;
    bool settled = false;
    bool failed = false;
    AnalyzeSine sine;
};
AnalyzeFitState AnalyzeFitBegin(uint64_t first, uint64_t count, double nu0);

// One Gauss-Newton pass of a fit: its job (for one channel) and, once
// the pass has run, the step it gives.
struct AnalyzeFitPass;
std::shared_ptr<AnalyzeFitPass> AnalyzeFitPassMake(const AnalyzeFitState& fit, unsigned parts);
AnalyzePassJob AnalyzeFitPassJob(const std::shared_ptr<AnalyzeFitPass>& pass, uint32_t channel);
void AnalyzeFitPassFinish(AnalyzeFitState& fit, const AnalyzeFitPass& pass);

// A long range is first fitted on its middle eighth (and that on its own,
// and so on): a frequency settled there needs about one pass over the whole
// range, instead of two or three from a coarse estimate. Returns that
// frequency, or nu0 for a short range.
double AnalyzeFitInner(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu0);

// The whole four-parameter fit of one channel's range, from the frequency
// nu0, with passes of its own (first over ever smaller middle parts, so that
// the whole range needs about one pass). False when it does not settle.
bool AnalyzeFitSine(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu0,
                    AnalyzeSine& sine);

// The normal equations of the basis c, s, 1, t c, t s (t in units of the
// fit's scale from its origin) at one frequency.
struct AnalyzeFitSums {
    AnalyzeCompensatedSum gram[5][5];
    AnalyzeCompensatedSum rhs[5];
    AnalyzeCompensatedSum squares;
};
// Adds one whole block of B frames starting t frames from the origin, given
// its sums d against the tables (AnalyzeBlockSums).
void AnalyzeFitAddBlock(AnalyzeFitSums& sums, const AnalyzeBlockTable& table, const AnalyzeCycleRate& rate,
                        const double* d, int64_t t, uint32_t B, double h);
// The parts' sums, added in order, then one step.
void AnalyzeFitFinishSums(AnalyzeFitState& fit, const std::vector<AnalyzeFitSums>& parts);
// One step from the normal equations g x = r of the basis and the sum of
// the squares of the samples: the three-parameter fit at the fit's
// frequency, then one Gauss-Newton step of all four from it.
void AnalyzeFitStep(AnalyzeFitState& fit, double g[5][5], double r[5], double squareSum);
