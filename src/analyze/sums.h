#pragma once

// Long sums that lose nothing that is reported.

// Neumaier's compensated sum: the error of each addition is kept and added
// back at the end, so long sums of block totals lose nothing that matters.
struct AnalyzeCompensatedSum {
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
