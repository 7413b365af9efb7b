#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

// The fits' building blocks: blocks that tile a range, tables of one
// frequency, the sums of a block against them, and a small linear solve.
// Within a block the basis functions come from tables of cos and sin of
// 2 pi nu j (j < B), turned to the block's start by one rotation; so a sample
// costs a few multiply-adds with no sine, and the Gram matrix of the basis
// follows from moments of the tables per block.

// Blocks of equal length B <= 1024 that tile all but fewer than K frames of
// a count, K being the number of blocks.
struct AnalyzeTiling {
    uint32_t block = 0;
    uint64_t blocks = 0;
};
AnalyzeTiling AnalyzeTile(uint64_t count);

// cos and sin of 2 pi nu j for j < n, and their moments weighted by j^p.
struct AnalyzeBlockTable {
    std::vector<double> c, s, index;  // index: j itself
    double m[3][5] = {};              // [p][cc, cs, ss, c, s]
};
void AnalyzeBuildTable(AnalyzeBlockTable& t, double nu, uint32_t n);

// Sums of one block against the tables: x, x c, x s, x j c, x j s, x^2.
void AnalyzeBlockSums(const double* x, const double* c, const double* s, const double* index, uint32_t n,
                      double* out);

// One block of the residual: r = x - (alpha c + beta s + offset) and its
// sum of squares.
void AnalyzeResidualBlock(const double* x, const double* c, const double* s, double alpha, double beta,
                          double offset, uint32_t n, double* r, double* square);

// The sums of r against one harmonic's cos and sin tables.
void AnalyzeDot2(const double* r, const double* c, const double* s, uint32_t n, double* out);

// Solves the symmetric system g x = r (n <= N) by Gaussian elimination with
// partial pivoting. False when it is singular.
template <int N>
bool AnalyzeSolveUpTo(int n, double g[N][N], double r[N], double x[N])
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
bool AnalyzeSolve(int n, double g[5][5], double r[5], double x[5]);
