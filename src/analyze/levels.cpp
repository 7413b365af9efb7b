// Levels, the exact sum and the envelope of every channel, in one pass.

#include "analyze/levels.h"

#include <algorithm>
#include <cstring>

#include "base/vector_clones.h"

namespace {

constexpr uint64_t ENVELOPE_BLOCKS_MAX = 32768;
constexpr uint64_t ENVELOPE_BLOCK_MIN = 64;

// The lowest and highest sample of a block, its sum and its sum of squares;
// the sums in four parts (AnalyzeLanes), exact for integers: |sum| < 2^31 x
// 2^13 per part.
VECTOR_CLONES void BlockLevels(const double* x, uint32_t n, double& low, double& high, double& sum,
                               double& squares)
{
    double lo[4] = {x[0], x[0], x[0], x[0]}, hi[4] = {x[0], x[0], x[0], x[0]};
    AnalyzeLanes s = {}, q = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes v;
        std::memcpy(&v, x + i, sizeof v);
        s += v;
        q += v * v;
        for (int k = 0; k < 4; ++k) {
            lo[k] = x[i + k] < lo[k] ? x[i + k] : lo[k];
            hi[k] = x[i + k] > hi[k] ? x[i + k] : hi[k];
        }
    }
    for (uint32_t i = whole; i < n; ++i) {
        lo[0] = std::min(lo[0], x[i]);
        hi[0] = std::max(hi[0], x[i]);
        s[0] += x[i];
        q[0] += x[i] * x[i];
    }
    low = std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3]));
    high = std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]));
    sum = AnalyzeLaneSum(s);
    squares = AnalyzeLaneSum(q);
}

// The same levels over the finite samples of a block (0 when there are none).
void FiniteLevels(const double* x, uint32_t n, double& low, double& high, double& squares)
{
    low = high = squares = 0;
    bool any = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!std::isfinite(x[i])) continue;
        low = any ? std::min(low, x[i]) : x[i];
        high = any ? std::max(high, x[i]) : x[i];
        squares += x[i] * x[i];
        any = true;
    }
}

}  // namespace

AnalyzePassJob AnalyzeLevelsJob(const WaveInfo& info, uint32_t channel, AnalyzeChannelWork& w, unsigned parts)
{
    w.env.block = std::max(ENVELOPE_BLOCK_MIN, (info.frames + ENVELOPE_BLOCKS_MAX - 1) / ENVELOPE_BLOCKS_MAX);
    const size_t blocks = size_t((info.frames + w.env.block - 1) / w.env.block);
    if (w.probeNu > 0) w.blockFit = AnalyzeBlockFitMake(w.probeNu, uint32_t(w.env.block), blocks);
    w.env.low.assign(blocks, 0.0);
    w.env.high.assign(blocks, 0.0);
    w.levelParts.assign(parts, AnalyzeLevelSums{});
    const bool integer = info.encoding == WaveEncoding::Pcm;
    AnalyzePassJob job;
    job.channel = channel;
    job.first = 0;
    job.count = info.frames;
    job.block = uint32_t(w.env.block);
    AnalyzeChannelWork* work = &w;
    job.onBlock = [work, integer](unsigned part, const double* x, uint32_t n, uint64_t, uint64_t index) {
        double lo, hi, blockSum, blockSquares;
        BlockLevels(x, n, lo, hi, blockSum, blockSquares);
        AnalyzeLevelSums& sums = work->levelParts[part];
        if (integer) {
            sums.sum += int64_t(blockSum);
        } else {
            uint64_t nonFinite = 0;
            for (uint32_t k = 0; k < n; ++k) {
                sums.floatSum.Add(x[k]);
                nonFinite += !std::isfinite(x[k]);
            }
            // Levels of the finite samples only: NaN compares as neither
            // low nor high, and one infinity would be every level.
            if (nonFinite > 0) FiniteLevels(x, n, lo, hi, blockSquares);
            sums.nonFinite += nonFinite;
        }
        work->env.low[index] = lo;
        work->env.high[index] = hi;
        sums.squares.Add(blockSquares);
        if (work->blockFit) AnalyzeBlockFitAdd(*work->blockFit, x, n, index);
    };
    return job;
}

void AnalyzeLevelsFinish(const WaveInfo& info, AnalyzeChannelWork& w)
{
    AnalyzeChannelResult& out = *w.out;
    int64_t sum = 0;
    uint64_t nonFinite = 0;
    AnalyzeCompensatedSum floatSum, squares;
    for (const AnalyzeLevelSums& p : w.levelParts) {
        sum += p.sum;
        nonFinite += p.nonFinite;
        floatSum.Add(p.floatSum.Value());
        squares.Add(p.squares.Value());
    }
    double low = 0, high = 0;
    for (size_t b = 0; b < w.env.low.size(); ++b) {
        low = b == 0 ? w.env.low[b] : std::min(low, w.env.low[b]);
        high = b == 0 ? w.env.high[b] : std::max(high, w.env.high[b]);
    }
    const double fs = WaveFullScale(info);
    out.nonFiniteSamples = nonFinite;
    const uint64_t finite = info.frames - std::min(info.frames, nonFinite);
    out.integerSum = info.encoding == WaveEncoding::Pcm;
    out.sum = sum;
    out.sumFloat = out.integerSum ? double(sum) : floatSum.Value();
    out.peakDbfs = finite == 0 ? std::nan("") : AnalyzeDb20(std::max(std::fabs(low), std::fabs(high)) / fs);
    out.rmsDbfs = finite > 0 ? AnalyzeDb20(std::sqrt(std::max(0.0, squares.Value()) / double(finite)) / fs)
                             : std::nan("");
}
