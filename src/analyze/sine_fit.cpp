// The four-parameter sine fit (IEEE 1057) and the measurement of its residual.
//
// Each pass covers its frames in blocks of B frames. Within a block the basis
// functions come from tables of cos and sin of 2 pi nu j (j < B), turned to
// the block's start by one rotation; the block's exact phase comes from
// AnalyzeCycles. So a sample costs a few multiply-adds with no sine, and the
// Gram matrix of the basis follows from moments of the tables per block.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "analyze/analyze_internal.h"

namespace {

constexpr uint32_t BLOCK_MAX = 1024;
constexpr int FIT_ITERATIONS = 60;
// A step that moves the phase at the ends of the fit by less than this leaves
// an error of about its square: far below anything reported.
constexpr double SETTLED_RADIANS = 1e-5;
constexpr double SETTLED_SHARE = 0.01;
constexpr double SETTLED_FREQUENCY = 1e-11;
constexpr double STEP_LIMIT_RADIANS = 0.5;
constexpr uint64_t PROGRESSIVE_RATIO = 8;
constexpr uint64_t PROGRESSIVE_MIN_FRAMES = 32768;
constexpr double PROGRESSIVE_MIN_CYCLES = 16;

#if defined(__x86_64__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

constexpr uint64_t HARMONIC_FRAMES = uint64_t(1) << 21;

// Blocks of equal length B <= BLOCK_MAX that tile all but fewer than K
// frames of the count, K being the number of blocks.
struct Tiling {
    uint32_t block = 0;
    uint64_t blocks = 0;
};

Tiling Tile(uint64_t count)
{
    Tiling t;
    t.blocks = (count + BLOCK_MAX - 1) / BLOCK_MAX;
    if (t.blocks == 0) return t;
    t.block = uint32_t(count / t.blocks);
    return t;
}

// cos and sin of 2 pi nu j for j < n, and their moments weighted by j^p.
struct BlockTable {
    std::vector<double> c, s, index;  // index: j itself
    double m[3][5] = {};              // [p][cc, cs, ss, c, s]
};

void BuildTable(BlockTable& t, double nu, uint32_t n)
{
    t.c.resize(n);
    t.s.resize(n);
    t.index.resize(n);
    const CycleRate rate = AnalyzeSplitRate(nu);
    CompensatedSum m[3][5];
    for (uint32_t j = 0; j < n; ++j) {
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, j);
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        t.c[j] = c;
        t.s[j] = s;
        t.index[j] = j;
        const double v[5] = {c * c, c * s, s * s, c, s};
        double w = 1.0;
        for (int p = 0; p < 3; ++p, w *= j)
            for (int k = 0; k < 5; ++k)
                m[p][k].Add(w * v[k]);
    }
    for (int p = 0; p < 3; ++p)
        for (int k = 0; k < 5; ++k)
            t.m[p][k] = m[p][k].Value();
}

// Sums of one block against the tables: x, x c, x s, x j c, x j s, x^2.
// Each sum in four parts (AnalyzeLanes).
VECTOR_CLONES void BlockSums(const double* x, const double* c, const double* s, const double* index,
                             uint32_t n, double* out)
{
    AnalyzeLanes a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes v, vc, vs, j;
        std::memcpy(&v, x + i, sizeof v);
        std::memcpy(&vc, c + i, sizeof vc);
        std::memcpy(&vs, s + i, sizeof vs);
        std::memcpy(&j, index + i, sizeof j);
        vc *= v;
        vs *= v;
        a0 += v;
        a1 += vc;
        a2 += vs;
        a3 += vc * j;
        a4 += vs * j;
        a5 += v * v;
    }
    for (uint32_t i = whole; i < n; ++i) {
        const double v = x[i];
        a0[0] += v;
        a1[0] += v * c[i];
        a2[0] += v * s[i];
        a3[0] += (v * c[i]) * index[i];
        a4[0] += (v * s[i]) * index[i];
        a5[0] += v * v;
    }
    out[0] = AnalyzeLaneSum(a0);
    out[1] = AnalyzeLaneSum(a1);
    out[2] = AnalyzeLaneSum(a2);
    out[3] = AnalyzeLaneSum(a3);
    out[4] = AnalyzeLaneSum(a4);
    out[5] = AnalyzeLaneSum(a5);
}

// Solves the symmetric system g x = r (n <= 5) by Gaussian elimination with
// partial pivoting. False when it is singular.
bool Solve(int n, double g[5][5], double r[5], double x[5])
{
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int row = col + 1; row < n; ++row)
            if (std::fabs(g[row][col]) > std::fabs(g[pivot][col])) pivot = row;
        if (!(std::fabs(g[pivot][col]) > 0.0)) return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k)
                std::swap(g[col][k], g[pivot][k]);
            std::swap(r[col], r[pivot]);
        }
        for (int row = col + 1; row < n; ++row) {
            const double f = g[row][col] / g[col][col];
            for (int k = col; k < n; ++k)
                g[row][k] -= f * g[col][k];
            r[row] -= f * r[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        double v = r[row];
        for (int k = row + 1; k < n; ++k)
            v -= g[row][k] * x[k];
        x[row] = v / g[row][row];
        if (!std::isfinite(x[row])) return false;
    }
    return true;
}

// Each harmonic's amplitude from its five sums (the residual against its
// cosine and sine, then the Gram matrix of the two): a 2x2 least-squares fit.
std::vector<double> HarmonicAmplitudes(const CompensatedSum* sums, size_t harmonics)
{
    std::vector<double> amplitudes(harmonics, 0.0);
    for (size_t k = 0; k < harmonics; ++k) {
        const CompensatedSum* acc = sums + k * 5;
        double g[5][5] = {{acc[2].Value(), acc[3].Value()}, {acc[3].Value(), acc[4].Value()}};
        double rhs[5] = {acc[0].Value(), acc[1].Value()};
        double p[5] = {};
        if (!Solve(2, g, rhs, p)) {
            // At half the rate only the cosine is seen.
            p[0] = g[0][0] > 0 ? rhs[0] / g[0][0] : 0.0;
            p[1] = 0.0;
        }
        amplitudes[k] = std::hypot(p[0], p[1]);
    }
    return amplitudes;
}

}  // namespace

CycleRate AnalyzeSplitRate(double nu)
{
    CycleRate r;
    r.hi = std::round(nu * 0x1p20) * 0x1p-20;
    r.mid = std::round((nu - r.hi) * 0x1p40) * 0x1p-40;
    r.lo = (nu - r.hi) - r.mid;
    return r;
}

double AnalyzeCycles(const CycleRate& rate, int64_t t)
{
    const double tt = double(t);  // exact: |t| < 2^53
    double a = rate.hi * tt;
    a -= std::round(a);
    double b = rate.mid * tt;
    b -= std::round(b);
    double v = (a + b) + rate.lo * tt;
    return v - std::round(v);
}

double AnalyzeSineAt(const AnalyzeSine& sine, const CycleRate& rate, int64_t n, bool unit)
{
    const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, n - sine.origin);
    const double v = sine.a * std::cos(angle) + sine.b * std::sin(angle);
    if (unit) return v / std::hypot(sine.a, sine.b);
    return v + sine.offset;
}

namespace {

// The normal equations of the basis c, s, 1, t c, t s (t in units of the
// problem's scale from its origin) at one frequency.
struct FitSums {
    CompensatedSum gram[5][5];
    CompensatedSum rhs[5];
    CompensatedSum squares;
};

// Adds one whole block of B frames starting t frames from the origin, given
// its sums d against the tables (BlockSums).
void AddFitBlock(FitSums& sums, const BlockTable& table, const CycleRate& rate, const double* d, int64_t t,
                 uint32_t B, double h)
{
    const auto& m = table.m;
    const double T = double(t);
    const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
    const double C = std::cos(angle);
    const double S = std::sin(angle);
    const double xc = C * d[1] - S * d[2];
    const double xs = S * d[1] + C * d[2];
    const double xjc = C * d[3] - S * d[4];
    const double xjs = S * d[3] + C * d[4];
    sums.squares.Add(d[5]);
    sums.rhs[0].Add(xc);
    sums.rhs[1].Add(xs);
    sums.rhs[2].Add(d[0]);
    sums.rhs[3].Add((T * xc + xjc) / h);
    sums.rhs[4].Add((T * xs + xjs) / h);
    // Moments of the rotated basis weighted by j^p.
    double cc[3], cs[3], ss[3], c1[3], s1[3];
    for (int p = 0; p < 3; ++p) {
        cc[p] = C * C * m[p][0] - 2 * C * S * m[p][1] + S * S * m[p][2];
        cs[p] = C * S * (m[p][0] - m[p][2]) + (C * C - S * S) * m[p][1];
        ss[p] = S * S * m[p][0] + 2 * C * S * m[p][1] + C * C * m[p][2];
        c1[p] = C * m[p][3] - S * m[p][4];
        s1[p] = S * m[p][3] + C * m[p][4];
    }
    // Weighted by t = T + j and t^2, then scaled by h and h^2.
    const auto t1 = [&](const double* v) { return (T * v[0] + v[1]) / h; };
    const auto t2 = [&](const double* v) { return ((T * T * v[0] + 2 * T * v[1]) + v[2]) / (h * h); };
    sums.gram[0][0].Add(cc[0]);
    sums.gram[0][1].Add(cs[0]);
    sums.gram[1][1].Add(ss[0]);
    sums.gram[0][2].Add(c1[0]);
    sums.gram[1][2].Add(s1[0]);
    sums.gram[2][2].Add(B);
    sums.gram[0][3].Add(t1(cc));
    sums.gram[0][4].Add(t1(cs));
    sums.gram[1][3].Add(t1(cs));
    sums.gram[1][4].Add(t1(ss));
    sums.gram[2][3].Add(t1(c1));
    sums.gram[2][4].Add(t1(s1));
    sums.gram[3][3].Add(t2(cc));
    sums.gram[3][4].Add(t2(cs));
    sums.gram[4][4].Add(t2(ss));
}

void FitStep(AnalyzeFitProblem& problem, double g[5][5], double r[5], double squareSum);

// The parts' sums, added in order, then one step.
void FinishFitSums(AnalyzeFitProblem& problem, const std::vector<FitSums>& parts)
{
    ++problem.passes;
    double g[5][5], r[5];
    CompensatedSum total[5][5], rhs[5], squares;
    for (const FitSums& s : parts) {
        squares.Add(s.squares.Value());
        for (int i = 0; i < 5; ++i) {
            rhs[i].Add(s.rhs[i].Value());
            for (int k = i; k < 5; ++k)
                total[i][k].Add(s.gram[i][k].Value());
        }
    }
    for (int i = 0; i < 5; ++i) {
        r[i] = rhs[i].Value();
        for (int k = i; k < 5; ++k)
            g[i][k] = g[k][i] = total[i][k].Value();
    }
    FitStep(problem, g, r, squares.Value());
}

}  // namespace

struct AnalyzeFitPass {
    AnalyzeFitProblem problem;
    BlockTable table;
    CycleRate rate;
    std::vector<FitSums> parts;

    void Block(unsigned part, const double* x, uint64_t frame)
    {
        double d[6];
        BlockSums(x, table.c.data(), table.s.data(), table.index.data(), problem.block, d);
        AddFitBlock(parts[part], table, rate, d, int64_t(frame) - problem.origin, problem.block,
                    problem.scale);
    }
};

// Sums of every block of a pass kept, so that the fit over any run of whole
// blocks follows without reading the file again.
struct AnalyzeBlockFit {
    double nu = 0.0;
    uint32_t block = 0;
    BlockTable table;
    CycleRate rate;
    std::vector<double> sums;  // 6 per block
    std::vector<uint8_t> whole;
};

std::shared_ptr<AnalyzeBlockFit> AnalyzeBlockFitMake(double nu, uint32_t block, size_t blocks)
{
    auto fit = std::make_shared<AnalyzeBlockFit>();
    fit->nu = nu;
    fit->block = block;
    BuildTable(fit->table, nu, block);
    fit->rate = AnalyzeSplitRate(nu);
    fit->sums.assign(blocks * 6, 0.0);
    fit->whole.assign(blocks, 0);
    return fit;
}

void AnalyzeBlockFitAdd(AnalyzeBlockFit& fit, const double* x, uint32_t n, uint64_t index)
{
    if (n != fit.block || index >= fit.whole.size()) return;
    BlockSums(x, fit.table.c.data(), fit.table.s.data(), fit.table.index.data(), n, &fit.sums[index * 6]);
    fit.whole[index] = 1;
}

AnalyzeFitProblem AnalyzeBlockFitSolve(const AnalyzeBlockFit& fit, uint64_t firstBlock, uint64_t endBlock)
{
    AnalyzeFitProblem problem;
    problem.nu = fit.nu;
    problem.block = fit.block;
    problem.first = firstBlock * fit.block;
    problem.count = (endBlock - std::min(firstBlock, endBlock)) * fit.block;
    problem.origin = int64_t(problem.first + problem.count / 2);
    problem.scale = std::max(1.0, double(problem.count) / 2);
    if (problem.count == 0 || endBlock > fit.whole.size()) {
        problem.failed = true;
        return problem;
    }
    std::vector<FitSums> sums(1);
    for (uint64_t b = firstBlock; b < endBlock; ++b) {
        if (!fit.whole[b]) {
            problem.failed = true;
            return problem;
        }
        AddFitBlock(sums[0], fit.table, fit.rate, &fit.sums[b * 6], int64_t(b * fit.block) - problem.origin,
                    fit.block, problem.scale);
    }
    FinishFitSums(problem, sums);
    return problem;
}

AnalyzeFitProblem AnalyzeFitBegin(uint64_t first, uint64_t count, double nu0)
{
    AnalyzeFitProblem problem;
    const Tiling tiling = Tile(count);
    problem.first = first;
    problem.nu = nu0;
    if (tiling.blocks == 0 || tiling.block < 4) {
        problem.failed = true;
        return problem;
    }
    problem.block = tiling.block;
    problem.count = tiling.blocks * tiling.block;
    problem.origin = int64_t(first + problem.count / 2);
    problem.scale = std::max(1.0, double(problem.count) / 2);
    return problem;
}

std::shared_ptr<AnalyzeFitPass> AnalyzeFitPassMake(const AnalyzeFitProblem& problem, unsigned parts)
{
    auto pass = std::make_shared<AnalyzeFitPass>();
    pass->problem = problem;
    BuildTable(pass->table, problem.nu, problem.block);
    pass->rate = AnalyzeSplitRate(problem.nu);
    pass->parts.resize(std::max(1u, parts));
    return pass;
}

AnalyzePassJob AnalyzeFitPassJob(const std::shared_ptr<AnalyzeFitPass>& pass, uint32_t channel)
{
    AnalyzePassJob job;
    job.channel = channel;
    job.first = pass->problem.first;
    job.count = pass->problem.count;
    job.block = pass->problem.block;
    AnalyzeFitPass* p = pass.get();
    job.onBlock = [p](unsigned part, const double* x, uint32_t, uint64_t frame, uint64_t) {
        p->Block(part, x, frame);
    };
    return job;
}

void AnalyzeFitPassFinish(AnalyzeFitProblem& problem, const AnalyzeFitPass& pass)
{
    FinishFitSums(problem, pass.parts);
}

namespace {

void FitStep(AnalyzeFitProblem& problem, double g[5][5], double r[5], double squareSum)
{
    // The three-parameter fit at this frequency, then one Gauss-Newton step
    // of all four from it. The frequency's column is t (-a sin + b cos), a
    // combination of the t c and t s columns.
    double g3[5][5], r3[5], p3[5];
    for (int i = 0; i < 3; ++i) {
        r3[i] = r[i];
        for (int k = 0; k < 3; ++k)
            g3[i][k] = g[i][k];
    }
    if (!Solve(3, g3, r3, p3)) {
        problem.failed = true;
        return;
    }
    const double a = p3[0], b = p3[1];
    double g4[5][5], r4[5], p4[5];
    for (int i = 0; i < 3; ++i) {
        r4[i] = r[i];
        for (int k = 0; k < 3; ++k)
            g4[i][k] = g[i][k];
        g4[i][3] = g4[3][i] = b * g[i][3] - a * g[i][4];
    }
    g4[3][3] = b * b * g[3][3] - 2 * a * b * g[3][4] + a * a * g[4][4];
    r4[3] = b * r[3] - a * r[4];
    if (!Solve(4, g4, r4, p4) || !std::isfinite(p4[3])) {
        problem.failed = true;
        return;
    }
    const double step = std::clamp(p4[3], -STEP_LIMIT_RADIANS, STEP_LIMIT_RADIANS);  // radians per scale
    const double next = problem.nu + step / (ANALYZE_TWO_PI * problem.scale);
    if (!(next > 0.0 && next < 0.5)) {
        problem.failed = true;
        return;
    }
    problem.nu = next;
    problem.sine.a = p4[0];
    problem.sine.b = p4[1];
    problem.sine.offset = p4[2];
    problem.sine.nu = next;
    problem.sine.origin = problem.origin;
    // The step leaves an error of about its square at the ends of the range.
    // It is small enough when that adds nothing to the residual (far below
    // the residual's own level relative to the amplitude) and moves the
    // frequency by less than 1e-11 of itself; or when it is below 1e-5.
    const double amp2 = a * a + b * b;
    const double noise =
        std::max(0.0, squareSum - (p3[0] * r[0] + p3[1] * r[1] + p3[2] * r[2])) / double(problem.count);
    const double residualShare = amp2 > 0 ? std::sqrt(2 * noise / amp2) : 1.0;
    const double remaining = step * step;
    problem.settled = std::fabs(step) < SETTLED_RADIANS ||
                      (remaining < SETTLED_SHARE * residualShare &&
                       remaining < SETTLED_FREQUENCY * ANALYZE_TWO_PI * problem.nu * problem.scale);
    if (!problem.settled && problem.passes >= FIT_ITERATIONS) problem.failed = true;
}

}  // namespace

double AnalyzeFitInner(const std::string& path, uint32_t channel, uint64_t first, uint64_t count, double nu0)
{
    const uint64_t inner = count / PROGRESSIVE_RATIO;
    AnalyzeSine settled;
    if (inner >= PROGRESSIVE_MIN_FRAMES && double(inner) * nu0 >= PROGRESSIVE_MIN_CYCLES &&
        AnalyzeFitSine(path, channel, first + (count - inner) / 2, inner, nu0, settled))
        return settled.nu;
    return nu0;
}

bool AnalyzeFitSine(const std::string& path, uint32_t channel, uint64_t first, uint64_t count, double nu0,
                    AnalyzeSine& sine)
{
    AnalyzeFitProblem problem =
        AnalyzeFitBegin(first, count, AnalyzeFitInner(path, channel, first, count, nu0));
    while (!problem.failed && !problem.settled) {
        const auto pass = AnalyzeFitPassMake(problem, 1);
        if (!AnalyzeRunPass(path, {AnalyzeFitPassJob(pass, channel)}, 1)) return false;
        AnalyzeFitPassFinish(problem, *pass);
    }
    sine = problem.sine;
    return !problem.failed;
}

namespace {

// One block of the residual: r = x - (alpha c + beta s + offset) and its
// sum of squares, in four parts as above.
VECTOR_CLONES void ResidualBlock(const double* x, const double* c, const double* s, double alpha, double beta,
                                 double offset, uint32_t n, double* r, double* square)
{
    AnalyzeLanes q = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes v, vc, vs;
        std::memcpy(&v, x + i, sizeof v);
        std::memcpy(&vc, c + i, sizeof vc);
        std::memcpy(&vs, s + i, sizeof vs);
        v -= (alpha * vc + beta * vs) + offset;
        std::memcpy(r + i, &v, sizeof v);
        q += v * v;
    }
    for (uint32_t i = whole; i < n; ++i) {
        const double v = x[i] - ((alpha * c[i] + beta * s[i]) + offset);
        r[i] = v;
        q[0] += v * v;
    }
    *square = AnalyzeLaneSum(q);
}

// The sums of r against one harmonic's cos and sin tables.
VECTOR_CLONES void Dot2(const double* r, const double* c, const double* s, uint32_t n, double* out)
{
    AnalyzeLanes rc = {}, rs = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes v, vc, vs;
        std::memcpy(&v, r + i, sizeof v);
        std::memcpy(&vc, c + i, sizeof vc);
        std::memcpy(&vs, s + i, sizeof vs);
        rc += v * vc;
        rs += v * vs;
    }
    for (uint32_t i = whole; i < n; ++i) {
        rc[0] += r[i] * c[i];
        rs[0] += r[i] * s[i];
    }
    out[0] = AnalyzeLaneSum(rc);
    out[1] = AnalyzeLaneSum(rs);
}

}  // namespace

struct AnalyzeResidualPass {
    uint64_t first = 0, count = 0;
    uint32_t block = 0;
    AnalyzeSine sine;
    CycleRate rate;
    BlockTable fundamental;
    std::vector<BlockTable> tables;  // harmonics 2, 3, ...
    std::vector<CycleRate> rates;
    uint64_t harmonicStride = 1;
    struct Sums {
        CompensatedSum square;
        std::vector<CompensatedSum> harmonic;  // per harmonic: rc, rs, cc, cs, ss
        std::vector<double> r;
    };
    std::vector<Sums> parts;

    void Block(unsigned part, const double* x, uint64_t frame, uint64_t index)
    {
        Sums& sums = parts[part];
        const uint32_t B = block;
        const int64_t t = int64_t(frame) - sine.origin;
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
        const double C = std::cos(angle);
        const double S = std::sin(angle);
        double q;
        ResidualBlock(x, fundamental.c.data(), fundamental.s.data(), sine.a * C + sine.b * S,
                      sine.b * C - sine.a * S, sine.offset, B, sums.r.data(), &q);
        sums.square.Add(q);
        // Harmonics from evenly spread blocks when there are many: 2^21
        // frames put their noise far below any level shown.
        if (index % harmonicStride != 0) return;
        for (size_t k = 0; k < tables.size(); ++k) {
            const BlockTable& tb = tables[k];
            double d[2];
            Dot2(sums.r.data(), tb.c.data(), tb.s.data(), B, d);
            const double hAngle = ANALYZE_TWO_PI * AnalyzeCycles(rates[k], t);
            const double Ch = std::cos(hAngle);
            const double Sh = std::sin(hAngle);
            const auto& m = tb.m[0];
            CompensatedSum* acc = &sums.harmonic[k * 5];
            acc[0].Add(Ch * d[0] - Sh * d[1]);
            acc[1].Add(Sh * d[0] + Ch * d[1]);
            acc[2].Add(Ch * Ch * m[0] - 2 * Ch * Sh * m[1] + Sh * Sh * m[2]);
            acc[3].Add(Ch * Sh * (m[0] - m[2]) + (Ch * Ch - Sh * Sh) * m[1]);
            acc[4].Add(Sh * Sh * m[0] + 2 * Ch * Sh * m[1] + Ch * Ch * m[2]);
        }
    }
};

std::shared_ptr<AnalyzeResidualPass> AnalyzeResidualPassMake(uint64_t first, uint64_t count,
                                                             const AnalyzeSine& sine, unsigned parts)
{
    auto pass = std::make_shared<AnalyzeResidualPass>();
    const Tiling tiling = Tile(count);
    pass->first = first;
    pass->block = tiling.block;
    pass->count = tiling.blocks * tiling.block;
    pass->sine = sine;
    pass->rate = AnalyzeSplitRate(sine.nu);
    if (tiling.blocks == 0) return pass;
    BuildTable(pass->fundamental, sine.nu, tiling.block);
    for (int k = 2; k <= ANALYZE_HARMONICS_LAST && k * sine.nu < 0.5; ++k) {
        pass->tables.emplace_back();
        BuildTable(pass->tables.back(), sine.nu * k, tiling.block);
        pass->rates.push_back(AnalyzeSplitRate(sine.nu * k));
    }
    pass->harmonicStride = std::max<uint64_t>(1, pass->count / HARMONIC_FRAMES);
    pass->parts.resize(std::max(1u, parts));
    for (AnalyzeResidualPass::Sums& s : pass->parts) {
        s.harmonic.resize(pass->tables.size() * 5);
        s.r.resize(tiling.block);
    }
    return pass;
}

AnalyzePassJob AnalyzeResidualPassJob(const std::shared_ptr<AnalyzeResidualPass>& pass, uint32_t channel)
{
    AnalyzePassJob job;
    job.channel = channel;
    job.first = pass->first;
    job.count = pass->count;
    job.block = pass->block;
    AnalyzeResidualPass* p = pass.get();
    job.onBlock = [p](unsigned part, const double* x, uint32_t, uint64_t frame, uint64_t index) {
        p->Block(part, x, frame, index);
    };
    return job;
}

AnalyzeResidual AnalyzeResidualPassFinish(const AnalyzeResidualPass& pass)
{
    AnalyzeResidual residual;
    CompensatedSum square;
    const size_t harmonics = pass.tables.size();
    std::vector<CompensatedSum> hc(harmonics * 5);
    for (const AnalyzeResidualPass::Sums& s : pass.parts) {
        square.Add(s.square.Value());
        for (size_t i = 0; i < hc.size(); ++i)
            hc[i].Add(s.harmonic[i].Value());
    }
    residual.meanSquare = pass.count > 0 ? square.Value() / double(pass.count) : 0.0;
    residual.harmonicAmplitudes = HarmonicAmplitudes(hc.data(), harmonics);
    return residual;
}

bool AnalyzeFitEnveloped(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                         const std::function<double(double)>& gain, double nu0, uint32_t stride,
                         std::vector<double>& buffer, AnalyzeSine& sine, AnalyzeResidual* wanted)
{
    AnalyzeFitProblem problem;
    problem.first = first;
    problem.count = count;
    problem.origin = int64_t(first + count / 2);
    problem.scale = std::max(1.0, double(count) / 2);
    problem.nu = nu0;
    if (count < 8) return false;
    const double h = problem.scale;
    // Sample by sample: such tones are a few cycles long.
    while (!problem.failed && !problem.settled) {
        const CycleRate rate = AnalyzeSplitRate(problem.nu);
        CompensatedSum gram[5][5], rhs[5], squares;
        // Plain sums over each run, compensated across runs.
        const bool ok = AnalyzeForEachRun(
            reader, channel, first, count, buffer, 4096, [&](const double* x, uint32_t n, uint64_t frame) {
                double pg[5][5] = {}, pr[5] = {}, pq = 0;
                for (uint32_t i = uint32_t((stride - (frame - first) % stride) % stride); i < n;
                     i += stride) {
                    const int64_t t = int64_t(frame + i) - problem.origin;
                    const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
                    const double e = gain(double(frame + i));
                    const double tt = double(t) / h;
                    const double c = e * std::cos(angle), s = e * std::sin(angle);
                    const double basis[5] = {c, s, 1.0, tt * c, tt * s};
                    for (int k = 0; k < 5; ++k) {
                        pr[k] += x[i] * basis[k];
                        for (int m = k; m < 5; ++m)
                            pg[k][m] += basis[k] * basis[m];
                    }
                    pq += x[i] * x[i];
                }
                for (int k = 0; k < 5; ++k) {
                    rhs[k].Add(pr[k]);
                    for (int m = k; m < 5; ++m)
                        gram[k][m].Add(pg[k][m]);
                }
                squares.Add(pq);
            });
        if (!ok) return false;
        double g[5][5], r[5];
        for (int k = 0; k < 5; ++k) {
            r[k] = rhs[k].Value();
            for (int m = k; m < 5; ++m)
                g[k][m] = g[m][k] = gram[k][m].Value();
        }
        ++problem.passes;
        FitStep(problem, g, r, squares.Value());
    }
    if (problem.failed) return false;
    sine = problem.sine;
    if (!wanted) return true;
    AnalyzeResidual& residual = *wanted;
    // The residual of the enveloped tone, and its harmonics under the same envelope.
    const CycleRate rate = AnalyzeSplitRate(sine.nu);
    int harmonics = 0;
    while (harmonics + 2 <= ANALYZE_HARMONICS_LAST && (harmonics + 2) * sine.nu < 0.5)
        ++harmonics;
    std::vector<CompensatedSum> hs(size_t(harmonics) * 5);
    CompensatedSum square;
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, count, buffer, 16384, [&](const double* x, uint32_t n, uint64_t frame) {
            for (uint32_t i = 0; i < n; ++i) {
                const int64_t t = int64_t(frame + i) - sine.origin;
                const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
                const double e = gain(double(frame + i));
                const double c1 = std::cos(angle), s1 = std::sin(angle);
                const double res = x[i] - (e * (sine.a * c1 + sine.b * s1) + sine.offset);
                square.Add(res * res);
                double ck = c1, sk = s1;
                for (int k = 0; k < harmonics; ++k) {
                    const double cn = ck * c1 - sk * s1;
                    sk = sk * c1 + ck * s1;
                    ck = cn;
                    CompensatedSum* acc = &hs[size_t(k) * 5];
                    acc[0].Add(res * e * ck);
                    acc[1].Add(res * e * sk);
                    acc[2].Add(e * e * ck * ck);
                    acc[3].Add(e * e * ck * sk);
                    acc[4].Add(e * e * sk * sk);
                }
            }
        });
    if (!ok) return false;
    residual.meanSquare = square.Value() / double(count);
    residual.harmonicAmplitudes = HarmonicAmplitudes(hs.data(), size_t(harmonics));
    return true;
}
