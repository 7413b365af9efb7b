// The sine fit under a tone's fades, sample by sample.

#include "analyze/enveloped_fit.h"

#include <algorithm>
#include <cmath>

#include "analyze/pass.h"
#include "analyze/sine_fit.h"

namespace {

// The fit's plain sums run over this many frames, compensated across runs.
constexpr uint32_t SUM_RUN_FRAMES = 4096;

}  // namespace

bool AnalyzeFitEnveloped(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                         const std::function<double(double)>& gain, double nu0, uint32_t stride,
                         std::vector<double>& buffer, AnalyzeSine& sine, AnalyzeResidual* wanted)
{
    AnalyzeFitState fit;
    fit.first = first;
    fit.count = count;
    fit.origin = int64_t(first + count / 2);
    fit.scale = std::max(1.0, double(count) / 2);
    fit.nu = nu0;
    if (count < 8) return false;
    const double h = fit.scale;
    // Sample by sample: such tones are a few cycles long.
    while (!fit.failed && !fit.settled) {
        const AnalyzeCycleRate rate = AnalyzeSplitRate(fit.nu);
        AnalyzeCompensatedSum gram[5][5], rhs[5], squares;
        const bool ok =
            AnalyzeForEachRun(reader, channel, first, count, buffer, SUM_RUN_FRAMES,
                              [&](const double* x, uint32_t n, uint64_t frame) {
                                  double pg[5][5] = {}, pr[5] = {}, pq = 0;
                                  for (uint32_t i = uint32_t((stride - (frame - first) % stride) % stride);
                                       i < n; i += stride) {
                                      const int64_t t = int64_t(frame + i) - fit.origin;
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
        ++fit.passes;
        AnalyzeFitStep(fit, g, r, squares.Value());
    }
    if (fit.failed) return false;
    sine = fit.sine;
    if (!wanted) return true;
    AnalyzeResidual& residual = *wanted;
    // The residual of the enveloped tone, and its harmonics under the same envelope.
    const AnalyzeCycleRate rate = AnalyzeSplitRate(sine.nu);
    const int harmonics = AnalyzeHarmonicCount(sine.nu, count);
    std::vector<AnalyzeCompensatedSum> hs(size_t(harmonics) * 5);
    AnalyzeCompensatedSum square;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                                      [&](const double* x, uint32_t n, uint64_t frame) {
                                          for (uint32_t i = 0; i < n; ++i) {
                                              const int64_t t = int64_t(frame + i) - sine.origin;
                                              const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, t);
                                              const double e = gain(double(frame + i));
                                              const double c1 = std::cos(angle), s1 = std::sin(angle);
                                              const double res =
                                                  x[i] - (e * (sine.a * c1 + sine.b * s1) + sine.offset);
                                              square.Add(res * res);
                                              double ck = c1, sk = s1;
                                              for (int k = 0; k < harmonics; ++k) {
                                                  const double cn = ck * c1 - sk * s1;
                                                  sk = sk * c1 + ck * s1;
                                                  ck = cn;
                                                  AnalyzeCompensatedSum* acc = &hs[size_t(k) * 5];
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
    residual.frames = residual.harmonicFrames = count;
    residual.harmonicAmplitudes = AnalyzeHarmonicAmplitudes(hs.data(), size_t(harmonics));
    return true;
}
