#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/pass.h"
#include "analyze/sums.h"

// The residual of a fit over its range: its mean square, and the amplitudes
// of harmonics 2 ... ANALYZE_HARMONICS_LAST below half the rate.
struct AnalyzeResidual {
    double meanSquare = 0.0;
    uint64_t frames = 0;          // the residual's
    uint64_t harmonicFrames = 0;  // those the harmonics are fitted on
    std::vector<double> harmonicAmplitudes;
    // Each harmonic k as fitted: cos and sin coefficients of 2 pi k nu (n - origin).
    std::vector<double> harmonicCos, harmonicSin;
};
struct AnalyzeResidualPass;
std::shared_ptr<AnalyzeResidualPass> AnalyzeResidualPassMake(uint64_t first, uint64_t count,
                                                             const AnalyzeSine& sine, unsigned parts);
AnalyzePassJob AnalyzeResidualPassJob(const std::shared_ptr<AnalyzeResidualPass>& pass, uint32_t channel);
AnalyzeResidual AnalyzeResidualPassFinish(const AnalyzeResidualPass& pass);

// How many harmonics (2, 3, ...) are fitted over `count` frames: those
// clear of half the rate by two cycles over the range. Nearer, a harmonic's
// sine column vanishes and its fit is noise over nothing; at or above half
// the rate it folds onto lower frequencies (the fundamental, DC, other
// harmonics), so it is left out rather than fitted as a separate unknown.
int AnalyzeHarmonicCount(double nu, uint64_t count);

// Each harmonic's amplitude from its five sums (the residual against its
// cosine and sine, then the Gram matrix of the two): a 2x2 least-squares fit.
std::vector<double> AnalyzeHarmonicAmplitudes(const AnalyzeCompensatedSum* sums, size_t harmonics);
// The same fits as coefficients, into residual.harmonicCos and harmonicSin.
void AnalyzeHarmonicCoefficients(const AnalyzeCompensatedSum* sums, size_t harmonics,
                                 AnalyzeResidual& residual);
