// Two-tone intermodulation.
//
// SMPTE RP120 (and DIN 45403): a low tone f1 and a high tone f2 four times
// weaker; the products f2 +- n f1 (n = 1 ... 3) against f2:
//   percent = 100 sqrt(sum_n A(f2 - n f1)^2 + A(f2 + n f1)^2) / A(f2),
//   db = 20 log10(percent / 100).
// CCIF (IEC 60268-3 difference-frequency distortion): two tones of equal
// level close together; against the sum of their amplitudes A1 + A2:
//   d2 = 20 log10(A(f2 - f1) / (A1 + A2)),
//   d3 = 20 log10((A(2 f1 - f2) + A(2 f2 - f1)) / (A1 + A2)).
// The tones are found as the two largest peaks of a windowed spectrum and
// their frequencies refined by the four-parameter fit; every amplitude then
// comes from one joint least-squares fit of all the frequencies (and DC), so
// the strong tones leak nothing into the weak products.

#include "analyze/imd.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/fft.h"
#include "analyze/fit_kernels.h"
#include "analyze/pass.h"
#include "analyze/sine_fit.h"
#include "analyze/sine_phase.h"
#include "analyze/sums.h"
#include "base/vector_clones.h"

namespace {

constexpr uint32_t DETECT_LENGTH_MAX = 65536;
constexpr uint32_t DETECT_LENGTH_MIN = 256;
constexpr uint32_t PEAK_GUARD_BINS = 6;   // beyond the window's main lobe
constexpr double PEAK_OVER_MEDIAN = 1e4;  // 40 dB above the spectrum's median
constexpr uint64_t FIT_FRAMES_MAX = uint64_t(1) << 20;
constexpr double EDGE_SHARE = 0.05;  // of a file without a found tone, left out at each end
constexpr uint32_t BLOCK = 1024;
constexpr int FREQUENCIES_MAX = AnalyzeImd::COMPONENTS_MAX;
constexpr int UNKNOWNS_MAX = 2 * FREQUENCIES_MAX + 1;
// What makes a pair: SMPTE's low tone 12 dB above the high one (6 dB
// either way), far below it; CCIF's two within 6 dB, close together.
constexpr double SMPTE_RATIO_MIN = 2.0, SMPTE_RATIO_MAX = 8.0, SMPTE_SPAN_MIN = 8.0;
constexpr double CCIF_RATIO_MAX = 2.0, CCIF_SPACING_MAX = 0.25;

struct Peak {
    double nu = 0.0;
    double amplitude = 0.0;
};

VECTOR_CLONES double Dot(const double* x, const double* y, uint32_t n)
{
    AnalyzeLanes acc = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes a, b;
        std::memcpy(&a, x + i, sizeof a);
        std::memcpy(&b, y + i, sizeof b);
        acc += a * b;
    }
    for (uint32_t i = whole; i < n; ++i)
        acc[0] += x[i] * y[i];
    return AnalyzeLaneSum(acc);
}

// The two largest peaks of a Blackman-Harris spectrum of `length` frames
// from the middle of the range, each interpolated between bins (Gaussian).
bool FindPeaks(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, Peak peaks[2])
{
    uint32_t n = DETECT_LENGTH_MAX;
    while (n > DETECT_LENGTH_MIN && n > count)
        n >>= 1;
    if (n > count) return false;
    std::vector<double> x(n), buffer;
    double windowSum = 0.0;
    const uint64_t start = first + (count - n) / 2;
    const bool ok = AnalyzeForEachRun(reader, channel, start, n, buffer, ANALYZE_RUN_FRAMES,
                                      [&](const double* v, uint32_t m, uint64_t frame) {
                                          for (uint32_t i = 0; i < m; ++i) {
                                              const uint64_t j = frame + i - start;
                                              const double u = ANALYZE_TWO_PI * double(j) / n;
                                              const double w = 0.35875 - 0.48829 * std::cos(u) +
                                                               0.14128 * std::cos(2 * u) -
                                                               0.01168 * std::cos(3 * u);
                                              x[j] = w * v[i];
                                              windowSum += w;
                                          }
                                      });
    if (!ok) return false;
    const std::vector<std::complex<double>> bins = AnalyzeFft(x);
    std::vector<double> power(bins.size());
    for (size_t k = 0; k < bins.size(); ++k)
        power[k] = std::norm(bins[k]);
    std::vector<double> sorted(power);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double floor = sorted[sorted.size() / 2];
    size_t found[2] = {0, 0};
    for (int p = 0; p < 2; ++p) {
        double best = 0.0;
        for (size_t k = PEAK_GUARD_BINS; k + 1 < power.size(); ++k) {
            if (p == 1 && (k > found[0] ? k - found[0] : found[0] - k) <= PEAK_GUARD_BINS) continue;
            if (power[k] > best && power[k] >= power[k - 1] && power[k] >= power[k + 1]) {
                best = power[k];
                found[p] = k;
            }
        }
        if (!(best > PEAK_OVER_MEDIAN * floor)) return false;
        const size_t k = found[p];
        const double l = std::log(power[k - 1]), c = std::log(power[k]), r = std::log(power[k + 1]);
        const double curve = l - 2 * c + r;
        const double shift =
            std::isfinite(curve) && curve < 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0;
        peaks[p].nu = (double(k) + shift) / n;
        peaks[p].amplitude = 2 * std::sqrt(power[k]) / windowSum;
    }
    return true;
}

// Least-squares amplitudes at the frequencies nu[] (cycles per sample, each
// inside (0, 0.5)) jointly with DC over [first, first + count).
bool JointAmplitudes(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, const double* nu,
                     int m, double* amplitude)
{
    const int unknowns = 2 * m + 1;
    std::vector<AnalyzeBlockTable> tables(m);
    std::vector<AnalyzeCycleRate> rates(m);
    for (int f = 0; f < m; ++f) {
        AnalyzeBuildTable(tables[f], nu[f], BLOCK);
        rates[f] = AnalyzeSplitRate(nu[f]);
    }
    std::vector<double> basis(size_t(unknowns) * BLOCK, 1.0), buffer;  // the last row: DC
    AnalyzeCompensatedSum gram[UNKNOWNS_MAX][UNKNOWNS_MAX], rhs[UNKNOWNS_MAX];
    const uint64_t blocks = count / BLOCK;
    const int64_t origin = int64_t(first + blocks * BLOCK / 2);
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, blocks * BLOCK, buffer, BLOCK,
        [&](const double* x, uint32_t, uint64_t frame) {
            for (int f = 0; f < m; ++f) {
                const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rates[f], int64_t(frame) - origin);
                const double C = std::cos(angle), S = std::sin(angle);
                double* bc = &basis[size_t(2 * f) * BLOCK];
                double* bs = bc + BLOCK;
                for (uint32_t j = 0; j < BLOCK; ++j) {
                    bc[j] = C * tables[f].c[j] - S * tables[f].s[j];
                    bs[j] = S * tables[f].c[j] + C * tables[f].s[j];
                }
            }
            for (int p = 0; p < unknowns; ++p) {
                const double* bp = &basis[size_t(p) * BLOCK];
                rhs[p].Add(Dot(bp, x, BLOCK));
                for (int q = p; q < unknowns; ++q)
                    gram[p][q].Add(Dot(bp, &basis[size_t(q) * BLOCK], BLOCK));
            }
        });
    if (!ok || blocks == 0) return false;
    double g[UNKNOWNS_MAX][UNKNOWNS_MAX], r[UNKNOWNS_MAX], coefficients[UNKNOWNS_MAX];
    for (int p = 0; p < unknowns; ++p) {
        r[p] = rhs[p].Value();
        for (int q = p; q < unknowns; ++q)
            g[p][q] = g[q][p] = gram[p][q].Value();
    }
    if (!AnalyzeSolveUpTo<UNKNOWNS_MAX>(unknowns, g, r, coefficients)) return false;
    for (int f = 0; f < m; ++f)
        amplitude[f] = std::hypot(coefficients[2 * f], coefficients[2 * f + 1]);
    return true;
}

double Db20(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : NAN; }

}  // namespace

bool AnalyzeMeasureImd(const WaveReader& file, uint32_t channel, const WaveInfo& info,
                       const AnalyzeChannelResult& result, AnalyzeImdMode mode, AnalyzeImd& imd)
{
    if (mode == AnalyzeImdMode::None || info.frames == 0) return false;
    uint64_t first = uint64_t(double(info.frames) * EDGE_SHARE);
    uint64_t count = info.frames - 2 * first;
    if (result.toneFound && result.residualSustained) {
        first = result.sustainFirst;
        count = result.sustainFrames;
    }
    if (count > FIT_FRAMES_MAX) {
        first += (count - FIT_FRAMES_MAX) / 2;
        count = FIT_FRAMES_MAX;
    }
    WaveReader reader = file;
    Peak peaks[2];
    if (!FindPeaks(reader, channel, first, count, peaks)) return false;
    const Peak& low = peaks[0].nu < peaks[1].nu ? peaks[0] : peaks[1];
    const Peak& high = peaks[0].nu < peaks[1].nu ? peaks[1] : peaks[0];
    const double ratio = low.amplitude / high.amplitude;
    const bool smpte =
        ratio >= SMPTE_RATIO_MIN && ratio <= SMPTE_RATIO_MAX && high.nu >= SMPTE_SPAN_MIN * low.nu;
    const bool ccif = ratio >= 1 / CCIF_RATIO_MAX && ratio <= CCIF_RATIO_MAX &&
                      high.nu - low.nu <= CCIF_SPACING_MAX * low.nu;
    if (mode == AnalyzeImdMode::Auto)
        mode = smpte ? AnalyzeImdMode::Smpte : ccif ? AnalyzeImdMode::Ccif : mode;
    if (mode == AnalyzeImdMode::Auto) return false;

    AnalyzeSine fitted[2];
    if (!AnalyzeFitSine(file, channel, first, count, low.nu, fitted[0]) ||
        !AnalyzeFitSine(file, channel, first, count, high.nu, fitted[1]))
        return false;
    const double f1 = fitted[0].nu, f2 = fitted[1].nu;
    double nu[FREQUENCIES_MAX];
    int m = 0;
    nu[m++] = f1;
    nu[m++] = f2;
    if (mode == AnalyzeImdMode::Smpte) {
        for (int k = 1; k <= 3; ++k) {
            nu[m++] = f2 - k * f1;
            nu[m++] = f2 + k * f1;
        }
    } else {
        nu[m++] = f2 - f1;
        nu[m++] = 2 * f1 - f2;
        nu[m++] = 2 * f2 - f1;
    }
    // Products outside (0, half the rate) cannot be measured: left out of
    // the fit, and the figures they enter are NaN.
    double kept[FREQUENCIES_MAX], keptAmplitude[FREQUENCIES_MAX], amplitude[FREQUENCIES_MAX];
    int index[FREQUENCIES_MAX], n = 0;
    for (int f = 0; f < m; ++f) {
        index[f] = nu[f] > 0 && nu[f] < 0.5 ? n : -1;
        if (index[f] >= 0) kept[n++] = nu[f];
    }
    if (!JointAmplitudes(reader, channel, first, count, kept, n, keptAmplitude)) return false;
    for (int f = 0; f < m; ++f)
        amplitude[f] = index[f] >= 0 ? keptAmplitude[index[f]] : NAN;

    imd.components = m;
    for (int f = 0; f < m; ++f) {
        imd.componentHz[f] = nu[f] * info.rate;
        imd.componentAmplitude[f] = amplitude[f];
    }
    imd.f1Hz = f1 * info.rate;
    imd.f2Hz = f2 * info.rate;
    if (mode == AnalyzeImdMode::Smpte) {
        imd.kind = "smpte";
        double sum = 0.0;
        for (int f = 2; f < m; ++f)
            sum += amplitude[f] * amplitude[f];
        imd.percent = 100 * std::sqrt(sum) / amplitude[1];
        imd.db = Db20(imd.percent / 100);
    } else {
        imd.kind = "ccif";
        const double both = amplitude[0] + amplitude[1];
        imd.d2Db = Db20(amplitude[2] / both);
        imd.d3Db = Db20((amplitude[3] + amplitude[4]) / both);
    }
    return true;
}
