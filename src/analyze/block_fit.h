#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "analyze/sine_fit.h"

// Every block's sums against the tables of one frequency, kept from a pass
// that reads the file for something else: the fit over any run of whole
// blocks then needs no pass of its own. A block of `block` frames at index
// i starts at frame i x block.
struct AnalyzeBlockFit;
std::shared_ptr<AnalyzeBlockFit> AnalyzeBlockFitMake(double nu, uint32_t block, size_t blocks);
void AnalyzeBlockFitAdd(AnalyzeBlockFit& fit, const double* x, uint32_t n, uint64_t index);
// The fit over blocks [firstBlock, endBlock) after the step the kept
// sums give: settled, or ready for passes of its own.
AnalyzeFitState AnalyzeBlockFitSolve(const AnalyzeBlockFit& fit, uint64_t firstBlock, uint64_t endBlock);
