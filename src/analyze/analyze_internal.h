#pragma once

// Pieces of the analysis shared between its files; not for callers.

#include <algorithm>
#include <cstdint>
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

// The four-parameter least-squares fit over frames [first, first + count),
// by Gauss-Newton from the frequency nu0 (cycles per sample). False when the
// fit does not settle or the data cannot be read.
bool AnalyzeFitSine(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                    double nu0, std::vector<double>& buffer, AnalyzeSine& sine);

// The residual of the fit over the same frames: its mean square, and the
// amplitudes of harmonics 2 ... ANALYZE_HARMONICS_LAST below half the rate.
struct AnalyzeResidual {
    double meanSquare = 0.0;
    std::vector<double> harmonicAmplitudes;
};
bool AnalyzeMeasureResidual(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                            const AnalyzeSine& sine, std::vector<double>& buffer,
                            AnalyzeResidual& residual);

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
AnalyzeFade AnalyzeFitFade(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                           const AnalyzeSine& sine, bool fadeOut, std::vector<double>& buffer);
