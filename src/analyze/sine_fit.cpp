// The four-parameter sine fit (IEEE 1057) and the measurement of its residual.
//
// Each pass covers its frames in blocks of B frames. Within a block the basis
// functions come from tables of cos and sin of 2 pi nu j (j < B), turned to
// the block's start by one rotation; the block's exact phase comes from
// AnalyzeCycles. So a sample costs a few multiply-adds with no sine, and the
// Gram matrix of the basis follows from moments of the tables per block.

#include <cmath>
#include <cstdint>
#include <vector>

#include "analyze/analyze_internal.h"

namespace {

constexpr uint32_t BLOCK_MAX = 1024;
constexpr uint32_t RUN_FRAMES = 16384;
constexpr int FIT_ITERATIONS = 60;
// A step that moves the phase at the ends of the fit by less than this leaves
// an error of about its square: far below anything reported.
constexpr double SETTLED_RADIANS = 1e-5;
constexpr double STEP_LIMIT_RADIANS = 0.5;

#if defined(__x86_64__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

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
    std::vector<double> c, s, jc, js;
    double m[3][5] = {};  // [p][cc, cs, ss, c, s]
};

void BuildTable(BlockTable& t, double nu, uint32_t n, bool withJ)
{
    t.c.resize(n);
    t.s.resize(n);
    if (withJ) {
        t.jc.resize(n);
        t.js.resize(n);
    }
    const CycleRate rate = AnalyzeSplitRate(nu);
    CompensatedSum m[3][5];
    for (uint32_t j = 0; j < n; ++j) {
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, j);
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        t.c[j] = c;
        t.s[j] = s;
        if (withJ) {
            t.jc[j] = j * c;
            t.js[j] = j * s;
        }
        const double v[5] = {c * c, c * s, s * s, c, s};
        double w = 1.0;
        for (int p = 0; p < 3; ++p, w *= j)
            for (int k = 0; k < 5; ++k) m[p][k].Add(w * v[k]);
    }
    for (int p = 0; p < 3; ++p)
        for (int k = 0; k < 5; ++k) t.m[p][k] = m[p][k].Value();
}

// Sums of one block against the tables: x, x c, x s, x j c, x j s.
VECTOR_CLONES void BlockSums(const double* x, const double* c, const double* s, const double* jc,
                             const double* js, uint32_t n, double* out)
{
    double x0 = 0, xc = 0, xs = 0, xjc = 0, xjs = 0;
    for (uint32_t j = 0; j < n; ++j) {
        x0 += x[j];
        xc += x[j] * c[j];
        xs += x[j] * s[j];
        xjc += x[j] * jc[j];
        xjs += x[j] * js[j];
    }
    out[0] = x0;
    out[1] = xc;
    out[2] = xs;
    out[3] = xjc;
    out[4] = xjs;
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
            for (int k = 0; k < n; ++k) std::swap(g[col][k], g[pivot][k]);
            std::swap(r[col], r[pivot]);
        }
        for (int row = col + 1; row < n; ++row) {
            const double f = g[row][col] / g[col][col];
            for (int k = col; k < n; ++k) g[row][k] -= f * g[col][k];
            r[row] -= f * r[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        double v = r[row];
        for (int k = row + 1; k < n; ++k) v -= g[row][k] * x[k];
        x[row] = v / g[row][row];
        if (!std::isfinite(x[row])) return false;
    }
    return true;
}

// The normal equations of the basis c, s, 1, t c, t s (t in units of h
// frames from the origin) at one frequency, summed over a tiled range.
struct FitPass {
    CompensatedSum gram[5][5];
    CompensatedSum rhs[5];
};

bool RunFitPass(WaveReader& reader, uint32_t channel, uint64_t first, const Tiling& tiling,
                int64_t origin, double nu, double h, std::vector<double>& buffer, double g[5][5],
                double r[5])
{
    BlockTable table;
    BuildTable(table, nu, tiling.block, true);
    const CycleRate rate = AnalyzeSplitRate(nu);
    FitPass pass;
    const uint32_t B = tiling.block;
    const uint32_t run = B * std::max<uint32_t>(1, RUN_FRAMES / B);
    const auto& m = table.m;
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, tiling.blocks * B, buffer, run,
        [&](const double* x, uint32_t n, uint64_t frame) {
            for (uint32_t off = 0; off < n; off += B) {
                double d[5];
                BlockSums(x + off, table.c.data(), table.s.data(), table.jc.data(),
                          table.js.data(), B, d);
                const double T = double(int64_t(frame + off) - origin);
                const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, int64_t(frame + off) - origin);
                const double C = std::cos(angle);
                const double S = std::sin(angle);
                const double xc = C * d[1] - S * d[2];
                const double xs = S * d[1] + C * d[2];
                const double xjc = C * d[3] - S * d[4];
                const double xjs = S * d[3] + C * d[4];
                pass.rhs[0].Add(xc);
                pass.rhs[1].Add(xs);
                pass.rhs[2].Add(d[0]);
                pass.rhs[3].Add((T * xc + xjc) / h);
                pass.rhs[4].Add((T * xs + xjs) / h);
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
                const auto t2 = [&](const double* v) {
                    return ((T * T * v[0] + 2 * T * v[1]) + v[2]) / (h * h);
                };
                pass.gram[0][0].Add(cc[0]);
                pass.gram[0][1].Add(cs[0]);
                pass.gram[1][1].Add(ss[0]);
                pass.gram[0][2].Add(c1[0]);
                pass.gram[1][2].Add(s1[0]);
                pass.gram[2][2].Add(B);
                pass.gram[0][3].Add(t1(cc));
                pass.gram[0][4].Add(t1(cs));
                pass.gram[1][3].Add(t1(cs));
                pass.gram[1][4].Add(t1(ss));
                pass.gram[2][3].Add(t1(c1));
                pass.gram[2][4].Add(t1(s1));
                pass.gram[3][3].Add(t2(cc));
                pass.gram[3][4].Add(t2(cs));
                pass.gram[4][4].Add(t2(ss));
            }
        });
    if (!ok) return false;
    for (int i = 0; i < 5; ++i) {
        r[i] = pass.rhs[i].Value();
        for (int k = i; k < 5; ++k) g[i][k] = g[k][i] = pass.gram[i][k].Value();
    }
    return true;
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

bool AnalyzeFitSine(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                    double nu0, std::vector<double>& buffer, AnalyzeSine& sine)
{
    const Tiling tiling = Tile(count);
    if (tiling.blocks == 0 || tiling.block < 4) return false;
    const uint64_t used = tiling.blocks * tiling.block;
    const int64_t origin = int64_t(first + used / 2);
    const double h = std::max(1.0, double(used) / 2);
    double nu = nu0;
    for (int iteration = 0; iteration < FIT_ITERATIONS; ++iteration) {
        double g[5][5], r[5];
        if (!RunFitPass(reader, channel, first, tiling, origin, nu, h, buffer, g, r)) return false;
        // The three-parameter fit at this frequency, then one Gauss-Newton
        // step of all four from it. The frequency's column is
        // t (-a sin + b cos), a combination of the t c and t s columns.
        double g3[5][5], r3[5], p3[5];
        for (int i = 0; i < 3; ++i) {
            r3[i] = r[i];
            for (int k = 0; k < 3; ++k) g3[i][k] = g[i][k];
        }
        if (!Solve(3, g3, r3, p3)) return false;
        const double a = p3[0], b = p3[1];
        double g4[5][5], r4[5], p4[5];
        for (int i = 0; i < 3; ++i) {
            r4[i] = r[i];
            for (int k = 0; k < 3; ++k) g4[i][k] = g[i][k];
            g4[i][3] = g4[3][i] = b * g[i][3] - a * g[i][4];
        }
        g4[3][3] = b * b * g[3][3] - 2 * a * b * g[3][4] + a * a * g[4][4];
        r4[3] = b * r[3] - a * r[4];
        if (!Solve(4, g4, r4, p4)) return false;
        double step = p4[3];  // radians per h frames
        if (!std::isfinite(step)) return false;
        step = std::clamp(step, -STEP_LIMIT_RADIANS, STEP_LIMIT_RADIANS);
        const double next = nu + step / (ANALYZE_TWO_PI * h);
        if (!(next > 0.0 && next < 0.5)) return false;
        nu = next;
        sine.a = p4[0];
        sine.b = p4[1];
        sine.offset = p4[2];
        sine.nu = nu;
        sine.origin = origin;
        if (std::fabs(step) < SETTLED_RADIANS) return true;
    }
    return false;
}

namespace {

// One block of the residual: r = x - (alpha c + beta s + offset), its sum of
// squares, and its sums against each harmonic's tables.
VECTOR_CLONES void ResidualBlock(const double* x, const double* c, const double* s, double alpha,
                                 double beta, double offset, uint32_t n, double* r, double* square)
{
    double q = 0;
    for (uint32_t j = 0; j < n; ++j) {
        const double v = x[j] - ((alpha * c[j] + beta * s[j]) + offset);
        r[j] = v;
        q += v * v;
    }
    *square = q;
}

VECTOR_CLONES void Dot2(const double* r, const double* c, const double* s, uint32_t n, double* out)
{
    double rc = 0, rs = 0;
    for (uint32_t j = 0; j < n; ++j) {
        rc += r[j] * c[j];
        rs += r[j] * s[j];
    }
    out[0] = rc;
    out[1] = rs;
}

}  // namespace

bool AnalyzeMeasureResidual(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                            const AnalyzeSine& sine, std::vector<double>& buffer,
                            AnalyzeResidual& residual)
{
    const Tiling tiling = Tile(count);
    if (tiling.blocks == 0) return false;
    const uint32_t B = tiling.block;
    int harmonics = 0;
    while (harmonics + 2 <= ANALYZE_HARMONICS_LAST && (harmonics + 2) * sine.nu < 0.5) ++harmonics;
    BlockTable fundamental;
    BuildTable(fundamental, sine.nu, B, false);
    std::vector<BlockTable> tables(size_t(harmonics) + 0);
    std::vector<CycleRate> rates(size_t(harmonics) + 0);
    for (int k = 0; k < harmonics; ++k) {
        BuildTable(tables[k], sine.nu * (k + 2), B, false);
        rates[k] = AnalyzeSplitRate(sine.nu * (k + 2));
    }
    const CycleRate rate = AnalyzeSplitRate(sine.nu);
    std::vector<double> r(B);
    CompensatedSum square;
    std::vector<CompensatedSum> hc(size_t(harmonics) * 5);  // rc, rs, cc, cs, ss
    const uint32_t run = B * std::max<uint32_t>(1, RUN_FRAMES / B);
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, tiling.blocks * B, buffer, run,
        [&](const double* x, uint32_t n, uint64_t frame) {
            for (uint32_t off = 0; off < n; off += B) {
                const int64_t t = int64_t(frame + off) - sine.origin;
                const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
                const double C = std::cos(angle);
                const double S = std::sin(angle);
                double q;
                ResidualBlock(x + off, fundamental.c.data(), fundamental.s.data(),
                              sine.a * C + sine.b * S, sine.b * C - sine.a * S, sine.offset, B,
                              r.data(), &q);
                square.Add(q);
                for (int k = 0; k < harmonics; ++k) {
                    const BlockTable& tb = tables[k];
                    double d[2];
                    Dot2(r.data(), tb.c.data(), tb.s.data(), B, d);
                    const double hAngle = ANALYZE_TWO_PI * AnalyzeCycles(rates[k], t);
                    const double Ch = std::cos(hAngle);
                    const double Sh = std::sin(hAngle);
                    const auto& m = tb.m[0];
                    CompensatedSum* acc = &hc[size_t(k) * 5];
                    acc[0].Add(Ch * d[0] - Sh * d[1]);
                    acc[1].Add(Sh * d[0] + Ch * d[1]);
                    acc[2].Add(Ch * Ch * m[0] - 2 * Ch * Sh * m[1] + Sh * Sh * m[2]);
                    acc[3].Add(Ch * Sh * (m[0] - m[2]) + (Ch * Ch - Sh * Sh) * m[1]);
                    acc[4].Add(Sh * Sh * m[0] + 2 * Ch * Sh * m[1] + Ch * Ch * m[2]);
                }
            }
        });
    if (!ok) return false;
    residual.meanSquare = square.Value() / double(tiling.blocks * B);
    residual.harmonicAmplitudes.assign(size_t(harmonics), 0.0);
    for (int k = 0; k < harmonics; ++k) {
        const CompensatedSum* acc = &hc[size_t(k) * 5];
        double g[5][5] = {{acc[2].Value(), acc[3].Value()}, {acc[3].Value(), acc[4].Value()}};
        double rhs[5] = {acc[0].Value(), acc[1].Value()};
        double p[5] = {};
        if (!Solve(2, g, rhs, p)) {
            // At half the rate only the cosine is seen.
            p[0] = g[0][0] > 0 ? rhs[0] / g[0][0] : 0.0;
            p[1] = 0.0;
        }
        residual.harmonicAmplitudes[size_t(k)] = std::hypot(p[0], p[1]);
    }
    return true;
}
