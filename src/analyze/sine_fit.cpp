// The four-parameter sine fit (IEEE 1057), advanced one pass at a time.

#include "analyze/sine_fit.h"

#include <algorithm>
#include <cmath>

namespace {

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

}  // namespace

void AnalyzeFitAddBlock(AnalyzeFitSums& sums, const AnalyzeBlockTable& table, const AnalyzeCycleRate& rate,
                        const double* d, int64_t t, uint32_t B, double h)
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

void AnalyzeFitFinishSums(AnalyzeFitState& fit, const std::vector<AnalyzeFitSums>& parts)
{
    ++fit.passes;
    double g[5][5], r[5];
    AnalyzeCompensatedSum total[5][5], rhs[5], squares;
    for (const AnalyzeFitSums& s : parts) {
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
    AnalyzeFitStep(fit, g, r, squares.Value());
}

struct AnalyzeFitPass {
    AnalyzeFitState fit;
    AnalyzeBlockTable table;
    AnalyzeCycleRate rate;
    std::vector<AnalyzeFitSums> parts;

    void Block(unsigned part, const double* x, uint64_t frame)
    {
        double d[6];
        AnalyzeBlockSums(x, table.c.data(), table.s.data(), table.index.data(), fit.block, d);
        AnalyzeFitAddBlock(parts[part], table, rate, d, int64_t(frame) - fit.origin, fit.block, fit.scale);
    }
};

AnalyzeFitState AnalyzeFitBegin(uint64_t first, uint64_t count, double nu0)
{
    AnalyzeFitState fit;
    const AnalyzeTiling tiling = AnalyzeTile(count);
    fit.first = first;
    fit.nu = nu0;
    if (tiling.blocks == 0 || tiling.block < 4) {
        fit.failed = true;
        return fit;
    }
    fit.block = tiling.block;
    fit.count = tiling.blocks * tiling.block;
    fit.origin = int64_t(first + fit.count / 2);
    fit.scale = std::max(1.0, double(fit.count) / 2);
    return fit;
}

std::shared_ptr<AnalyzeFitPass> AnalyzeFitPassMake(const AnalyzeFitState& fit, unsigned parts)
{
    auto pass = std::make_shared<AnalyzeFitPass>();
    pass->fit = fit;
    AnalyzeBuildTable(pass->table, fit.nu, fit.block);
    pass->rate = AnalyzeSplitRate(fit.nu);
    pass->parts.resize(std::max(1u, parts));
    return pass;
}

AnalyzePassJob AnalyzeFitPassJob(const std::shared_ptr<AnalyzeFitPass>& pass, uint32_t channel)
{
    AnalyzePassJob job;
    job.channel = channel;
    job.first = pass->fit.first;
    job.count = pass->fit.count;
    job.block = pass->fit.block;
    AnalyzeFitPass* p = pass.get();
    job.onBlock = [p](unsigned part, const double* x, uint32_t, uint64_t frame, uint64_t) {
        p->Block(part, x, frame);
    };
    return job;
}

void AnalyzeFitPassFinish(AnalyzeFitState& fit, const AnalyzeFitPass& pass)
{
    AnalyzeFitFinishSums(fit, pass.parts);
}

void AnalyzeFitStep(AnalyzeFitState& fit, double g[5][5], double r[5], double squareSum)
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
    if (!AnalyzeSolve(3, g3, r3, p3)) {
        fit.failed = true;
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
    if (!AnalyzeSolve(4, g4, r4, p4) || !std::isfinite(p4[3])) {
        fit.failed = true;
        return;
    }
    const double step = std::clamp(p4[3], -STEP_LIMIT_RADIANS, STEP_LIMIT_RADIANS);  // radians per scale
    const double next = fit.nu + step / (ANALYZE_TWO_PI * fit.scale);
    if (!(next > 0.0 && next < 0.5)) {
        fit.failed = true;
        return;
    }
    fit.nu = next;
    fit.sine.a = p4[0];
    fit.sine.b = p4[1];
    fit.sine.offset = p4[2];
    fit.sine.nu = next;
    fit.sine.origin = fit.origin;
    // The step leaves an error of about its square at the ends of the range.
    // It is small enough when that adds nothing to the residual (far below
    // the residual's own level relative to the amplitude) and moves the
    // frequency by less than 1e-11 of itself; or when it is below 1e-5.
    const double amp2 = a * a + b * b;
    const double noise =
        std::max(0.0, squareSum - (p3[0] * r[0] + p3[1] * r[1] + p3[2] * r[2])) / double(fit.count);
    const double residualShare = amp2 > 0 ? std::sqrt(2 * noise / amp2) : 1.0;
    const double remaining = step * step;
    fit.settled = std::fabs(step) < SETTLED_RADIANS ||
                  (remaining < SETTLED_SHARE * residualShare &&
                   remaining < SETTLED_FREQUENCY * ANALYZE_TWO_PI * fit.nu * fit.scale);
    if (!fit.settled && fit.passes >= FIT_ITERATIONS) fit.failed = true;
}

double AnalyzeFitInner(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu0)
{
    const uint64_t inner = count / PROGRESSIVE_RATIO;
    AnalyzeSine settled;
    if (inner >= PROGRESSIVE_MIN_FRAMES && double(inner) * nu0 >= PROGRESSIVE_MIN_CYCLES &&
        AnalyzeFitSine(file, channel, first + (count - inner) / 2, inner, nu0, settled))
        return settled.nu;
    return nu0;
}

bool AnalyzeFitSine(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu0,
                    AnalyzeSine& sine)
{
    AnalyzeFitState fit = AnalyzeFitBegin(first, count, AnalyzeFitInner(file, channel, first, count, nu0));
    while (!fit.failed && !fit.settled) {
        const auto pass = AnalyzeFitPassMake(fit, 1);
        if (!AnalyzeRunPass(file, {AnalyzeFitPassJob(pass, channel)}, 1)) return false;
        AnalyzeFitPassFinish(fit, *pass);
    }
    sine = fit.sine;
    return !fit.failed;
}
