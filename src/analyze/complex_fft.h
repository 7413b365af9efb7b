#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// e^(-2 pi i e / n) for any e in [0, n), from two short tables made with the
// project's sine and cosine (the same bits on every build): the entry for the
// high bits of e times the one for its low bits. A table of all n would cost
// as much to make as a long transform, and as much memory traffic to read.
class AnalyzeTwiddles {
public:
    explicit AnalyzeTwiddles(size_t n);
    std::complex<double> operator()(size_t e) const
    {
        return coarse[e >> shift] * fine[e & ((size_t(1) << shift) - 1)];
    }
    // For loops over runs of e sharing one coarse entry: the run's length,
    // a run's coarse entry and the fine table.
    size_t Run() const { return size_t(1) << shift; }
    std::complex<double> Coarse(size_t run) const { return coarse[run]; }
    const std::complex<double>* Fine() const { return fine.data(); }

private:
    size_t shift = 0;
    std::vector<std::complex<double>> coarse, fine;
};

// The forward complex DFT of n points, X[k] = sum over j of x[j]
// e^(-2 pi i j k / n), for n = r 2^a with r odd: 3 and 5 are the response's,
// any other r works, slowly. The plan is made once per length and only read
// after, so threads share it; each caller brings its own scratch.
//
// A long transform is done in four steps (n = rows * columns): the columns'
// transforms, the twiddles, the rows' transforms. Each step works on a block
// of BLOCK adjacent columns copied to a buffer that stays in the cache, and
// every butterfly is a loop across the block's columns, which the compiler
// vectorises without reordering any element's operations.
class AnalyzeFftPlan {
public:
    explicit AnalyzeFftPlan(size_t n);
    size_t Size() const { return n; }
    // in and out may be the same array. scratch grows to what n needs once.
    // The outputs may be scaled, and conjugated: an inverse transform's end.
    void Forward(const std::complex<double>* in, std::complex<double>* out, std::vector<double>& scratch,
                 double scale = 1.0, bool conjugate = false) const;

    // The radix stages of a transform of length across `width` columns, each
    // stored as rows of width doubles (real and imaginary parts apart).
    struct Columns {
        size_t length = 0;
        std::vector<size_t> radices;
        std::vector<double> re, im;  // e^(-2 pi i e / length), e = 0 ... length - 1
    };

private:
    size_t n, rows, columns;
    Columns first, second;  // the whole transform, or the columns' and the rows'
    // e^(-2 pi i k1 c / n) for row k1 and column c of a block, and for the
    // block's first column: their product is row k1's twiddle for column c.
    std::vector<double> inBlockRe, inBlockIm, blockRe, blockIm;
};
