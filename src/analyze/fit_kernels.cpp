// The fits' kernels. Each long sum is kept in four parts (AnalyzeLanes).

#include "analyze/fit_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analyze/sine_phase.h"
#include "analyze/sums.h"
#include "base/vector_clones.h"

namespace {

constexpr uint32_t BLOCK_MAX = 1024;

}  // namespace

AnalyzeTiling AnalyzeTile(uint64_t count)
{
    AnalyzeTiling t;
    t.blocks = (count + BLOCK_MAX - 1) / BLOCK_MAX;
    if (t.blocks == 0) return t;
    t.block = uint32_t(count / t.blocks);
    return t;
}

void AnalyzeBuildTable(AnalyzeBlockTable& t, double nu, uint32_t n)
{
    t.c.resize(n);
    t.s.resize(n);
    t.index.resize(n);
    const AnalyzeCycleRate rate = AnalyzeSplitRate(nu);
    AnalyzeCompensatedSum m[3][5];
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

VECTOR_CLONES void AnalyzeBlockSums(const double* x, const double* c, const double* s, const double* index,
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

bool AnalyzeSolve(int n, double g[5][5], double r[5], double x[5]) { return AnalyzeSolveUpTo<5>(n, g, r, x); }

VECTOR_CLONES void AnalyzeResidualBlock(const double* x, const double* c, const double* s, double alpha,
                                        double beta, double offset, uint32_t n, double* r, double* square)
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

VECTOR_CLONES void AnalyzeDot2(const double* r, const double* c, const double* s, uint32_t n, double* out)
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
