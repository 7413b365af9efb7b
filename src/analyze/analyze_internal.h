#pragma once

// Pieces of the analysis shared between its files; not for callers.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "wave/wave_reader.h"

inline constexpr double ANALYZE_TWO_PI = 6.283185307179586;

// Neumaier's compensated sum: the error of each addition is kept and added
// back at the end, so long sums of block totals lose nothing that matters.
struct CompensatedSum {
    double sum = 0.0;
    double carry = 0.0;
    void Add(double v)
    {
        const double t = sum + v;
        if ((sum < 0 ? -sum : sum) >= (v < 0 ? -v : v))
            carry += (sum - t) + v;
        else
            carry += (v - t) + sum;
        sum = t;
    }
    double Value() const { return sum + carry; }
};

// Four doubles as one value: GCC's generic vectors, lowered to whatever the
// target has (two SSE2 registers or one AVX2 one, the same sums either way).
// Long sums are kept in four interleaved parts this way: without
// reassociation (no fast-math) one running sum is a chain of dependent
// additions that neither pipelines nor vectorises. A compiler extension,
// not a platform header.
typedef double AnalyzeLanes __attribute__((vector_size(32)));

inline double AnalyzeLaneSum(const AnalyzeLanes& v) { return (v[0] + v[1]) + (v[2] + v[3]); }

// A frequency in cycles per sample split so that its product with any frame
// offset below 2^33 has an exact fractional part: the phase of frame 10^9
// is then as precise as that of frame 1.
struct CycleRate {
    double hi = 0.0;   // at most 20 significant bits
    double mid = 0.0;  // the next 20 bits
    double lo = 0.0;   // the rest
};
CycleRate AnalyzeSplitRate(double nu);
// The phase of frame offset t in cycles, reduced to [-0.5, 0.5].
double AnalyzeCycles(const CycleRate& rate, int64_t t);

// Reads count frames of one channel from frame first, `chunk` frames at a
// time (the last may be shorter), and hands each run to f(x, n, frame).
template <class F>
bool AnalyzeForEachRun(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                       std::vector<double>& buffer, uint32_t chunk, F&& f)
{
    if (buffer.size() < chunk) buffer.resize(chunk);
    if (!WaveSeekFrame(reader, first)) return false;
    uint64_t done = 0;
    while (done < count) {
        const uint32_t want = uint32_t(std::min<uint64_t>(chunk, count - done));
        const uint32_t got = WaveReadChannel(reader, channel, buffer.data(), want);
        if (got != want) return false;
        f(static_cast<const double*>(buffer.data()), got, first + done);
        done += got;
    }
    return true;
}

// One channel's part in a pass: frames [first, first + count) in blocks of
// `block` frames (the last may be shorter). onBlock(part, x, n, frame, index)
// receives each block once, from the thread of the part that holds it.
struct AnalyzePassJob {
    uint32_t channel = 0;
    uint64_t first = 0;
    uint64_t count = 0;
    uint32_t block = 0;
    std::function<void(unsigned part, const double* x, uint32_t n, uint64_t frame, uint64_t index)> onBlock;
};

// Reads the file once for all the jobs, split by position into `parts`
// (each run on its own thread, with its own reader): part p holds the
// blocks [K p / parts, K (p + 1) / parts) of every job with K blocks.
// False when a part could not read its frames.
bool AnalyzeRunPass(const std::string& path, const std::vector<AnalyzePassJob>& jobs, unsigned parts);

// A sine fit over a range, advanced one pass at a time so that the passes
// of several channels can share the reading of the file.
struct AnalyzeFitProblem {
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
AnalyzeFitProblem AnalyzeFitBegin(uint64_t first, uint64_t count, double nu0);

// One Gauss-Newton pass of a problem: its job (for one channel) and, once
// the pass has run, the step it gives.
struct AnalyzeFitPass;
std::shared_ptr<AnalyzeFitPass> AnalyzeFitPassMake(const AnalyzeFitProblem& problem, unsigned parts);
AnalyzePassJob AnalyzeFitPassJob(const std::shared_ptr<AnalyzeFitPass>& pass, uint32_t channel);
void AnalyzeFitPassFinish(AnalyzeFitProblem& problem, const AnalyzeFitPass& pass);

// A long range is first fitted on its middle eighth (and that on its own,
// and so on): a frequency settled there needs about one pass over the whole
// range, instead of two or three from a coarse estimate. Returns that
// frequency, or nu0 for a short range.
double AnalyzeFitInner(const std::string& path, uint32_t channel, uint64_t first, uint64_t count, double nu0);

// Every block's sums against the tables of one frequency, kept from a pass
// that reads the file for something else: the fit over any run of whole
// blocks then needs no pass of its own. A block of `block` frames at index
// i starts at frame i x block.
struct AnalyzeBlockFit;
std::shared_ptr<AnalyzeBlockFit> AnalyzeBlockFitMake(double nu, uint32_t block, size_t blocks);
void AnalyzeBlockFitAdd(AnalyzeBlockFit& fit, const double* x, uint32_t n, uint64_t index);
// The problem over blocks [firstBlock, endBlock) after the step the kept
// sums give: settled, or ready for passes of its own.
AnalyzeFitProblem AnalyzeBlockFitSolve(const AnalyzeBlockFit& fit, uint64_t firstBlock, uint64_t endBlock);

// The whole four-parameter fit of one channel's range, from the frequency
// nu0, with passes of its own (first over ever smaller middle parts, so that
// the whole range needs about one pass). False when it does not settle.
bool AnalyzeFitSine(const std::string& path, uint32_t channel, uint64_t first, uint64_t count, double nu0,
                    AnalyzeSine& sine);

// The residual of a fit over its range: its mean square, and the amplitudes
// of harmonics 2 ... ANALYZE_HARMONICS_LAST below half the rate.
struct AnalyzeResidual {
    double meanSquare = 0.0;
    std::vector<double> harmonicAmplitudes;
};
struct AnalyzeResidualPass;
std::shared_ptr<AnalyzeResidualPass> AnalyzeResidualPassMake(uint64_t first, uint64_t count,
                                                             const AnalyzeSine& sine, unsigned parts);
AnalyzePassJob AnalyzeResidualPassJob(const std::shared_ptr<AnalyzeResidualPass>& pass, uint32_t channel);
AnalyzeResidual AnalyzeResidualPassFinish(const AnalyzeResidualPass& pass);

// The fit of a tone with no sustained part, shaped by its fades: x(n) =
// offset + gain(n) (a cos + b sin), over frames [first, first + count) (the
// fit on every stride-th of them), and, when asked, the residual over all.
// Sample by sample: for tones of a few cycles.
bool AnalyzeFitEnveloped(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                         const std::function<double(double)>& gain, double nu0, uint32_t stride,
                         std::vector<double>& buffer, AnalyzeSine& sine, AnalyzeResidual* residual);

// The fitted sine's value at frame n (unit amplitude when `unit`).
double AnalyzeSineAt(const AnalyzeSine& sine, const CycleRate& rate, int64_t n, bool unit);

// A fade fitted to frames [first, first + count): for a fade-in, the frame
// where its envelope is zero (start) and where it reaches full level (full);
// for a fade-out the same seen backwards (start after full).
struct AnalyzeFade {
    double start = 0.0;
    double full = 0.0;
    const char* shape = "";
    bool found = false;
};
// A hint (a fade found before) is refined in its own shape only.
AnalyzeFade AnalyzeFitFade(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                           const AnalyzeSine& sine, bool fadeOut, std::vector<double>& buffer,
                           const AnalyzeFade* hint = nullptr);

// Where a tone starts or ends at full level within frames [first, first +
// count): the first frame of the tone, or one past its last.
double AnalyzeFindEdge(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                       const AnalyzeSine& sine, bool end, std::vector<double>& buffer);
