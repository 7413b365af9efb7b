// The fit from sums kept per block while a pass reads the file for
// something else.

#include "analyze/block_fit.h"

#include <algorithm>
#include <vector>

// Sums of every block of a pass kept, so that the fit over any run of whole
// blocks follows without reading the file again.
struct AnalyzeBlockFit {
    double nu = 0.0;
    uint32_t block = 0;
    AnalyzeBlockTable table;
    AnalyzeCycleRate rate;
    std::vector<double> sums;  // 6 per block
    std::vector<uint8_t> whole;
};

std::shared_ptr<AnalyzeBlockFit> AnalyzeBlockFitMake(double nu, uint32_t block, size_t blocks)
{
    auto fit = std::make_shared<AnalyzeBlockFit>();
    fit->nu = nu;
    fit->block = block;
    AnalyzeBuildTable(fit->table, nu, block);
    fit->rate = AnalyzeSplitRate(nu);
    fit->sums.assign(blocks * 6, 0.0);
    fit->whole.assign(blocks, 0);
    return fit;
}

void AnalyzeBlockFitAdd(AnalyzeBlockFit& fit, const double* x, uint32_t n, uint64_t index)
{
    if (n != fit.block || index >= fit.whole.size()) return;
    AnalyzeBlockSums(x, fit.table.c.data(), fit.table.s.data(), fit.table.index.data(), n,
                     &fit.sums[index * 6]);
    fit.whole[index] = 1;
}

AnalyzeFitState AnalyzeBlockFitSolve(const AnalyzeBlockFit& fit, uint64_t firstBlock, uint64_t endBlock)
{
    AnalyzeFitState state;
    state.nu = fit.nu;
    state.block = fit.block;
    state.first = firstBlock * fit.block;
    state.count = (endBlock - std::min(firstBlock, endBlock)) * fit.block;
    state.origin = int64_t(state.first + state.count / 2);
    state.scale = std::max(1.0, double(state.count) / 2);
    if (state.count == 0 || endBlock > fit.whole.size()) {
        state.failed = true;
        return state;
    }
    std::vector<AnalyzeFitSums> sums(1);
    for (uint64_t b = firstBlock; b < endBlock; ++b) {
        if (!fit.whole[b]) {
            state.failed = true;
            return state;
        }
        AnalyzeFitAddBlock(sums[0], fit.table, fit.rate, &fit.sums[b * 6],
                           int64_t(b * fit.block) - state.origin, fit.block, state.scale);
    }
    AnalyzeFitFinishSums(state, sums);
    return state;
}
