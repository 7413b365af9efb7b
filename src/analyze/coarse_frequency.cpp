// Coarse frequencies: zero crossings, and the spectrum's peak near half the
// rate.

#include "analyze/coarse_frequency.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "analyze/fft.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"

namespace {

constexpr uint64_t COARSE_FRAMES = uint64_t(1) << 20;
constexpr uint32_t SPECTRUM_FRAMES = 16384;
constexpr double SPECTRUM_CYCLES_MIN = 8;

// The largest peak of the spectrum of `count` frames (a power of two), Hann
// windowed, interpolated between bins on the logarithm of the magnitude.
// Zero crossings miss some half cycles near half the rate, where a half
// cycle holds one sample or less; the spectrum does not.
bool SpectralPeak(WaveReader& reader, uint32_t channel, uint64_t first, uint32_t count,
                  std::vector<double>& buffer, double& nu)
{
    std::vector<double> re(count);
    double mean = 0;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                                      [&](const double* x, uint32_t n, uint64_t frame) {
                                          for (uint32_t i = 0; i < n; ++i) {
                                              re[frame - first + i] = x[i];
                                              mean += x[i];
                                          }
                                      });
    if (!ok) return false;
    mean /= count;
    for (uint32_t i = 0; i < count; ++i)
        re[i] = (re[i] - mean) * (0.5 - 0.5 * std::cos(ANALYZE_TWO_PI * i / count));
    const std::vector<std::complex<double>> bins = AnalyzeFft(re);
    uint32_t peak = 1;
    const auto power = [&](uint32_t k) {
        return bins[k].real() * bins[k].real() + bins[k].imag() * bins[k].imag();
    };
    for (uint32_t k = 2; k < count / 2; ++k)
        if (power(k) > power(peak)) peak = k;
    const double a = std::log(power(peak - 1) + 1e-300), b = std::log(power(peak) + 1e-300),
                 c = std::log(power(peak + 1) + 1e-300);
    const double curve = a - 2 * b + c;
    const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    nu = (peak + shift) / count;
    return nu > 0 && nu < 0.5;
}

}  // namespace

bool AnalyzeCrossingFrequency(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                              double mid, double h, std::vector<double>& buffer, double& nu)
{
    int state = 0;  // -1 below mid - h, +1 above mid + h
    double prev = 0;
    uint64_t rises = 0, falls = 0;
    double firstRise = 0, lastRise = 0, firstFall = 0, lastFall = 0;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                                      [&](const double* x, uint32_t n, uint64_t frame) {
                                          for (uint32_t i = 0; i < n; ++i) {
                                              const double v = x[i];
                                              if (state <= 0 && v >= mid && state == -1) {
                                                  const double t = double(frame + i) - (v - mid) / (v - prev);
                                                  if (rises++ == 0) firstRise = t;
                                                  lastRise = t;
                                                  state = 0;
                                              } else if (state >= 0 && v < mid && state == 1) {
                                                  const double t = double(frame + i) - (mid - v) / (prev - v);
                                                  if (falls++ == 0) firstFall = t;
                                                  lastFall = t;
                                                  state = 0;
                                              }
                                              if (v < mid - h)
                                                  state = -1;
                                              else if (v > mid + h)
                                                  state = 1;
                                              prev = v;
                                          }
                                      });
    if (!ok) return false;
    // One direction alone is free of any bias of the mid level.
    if (rises >= 2 && rises >= falls) {
        nu = double(rises - 1) / (lastRise - firstRise);
    } else if (falls >= 2) {
        nu = double(falls - 1) / (lastFall - firstFall);
    } else if (rises == 1 && falls == 1 && lastFall != lastRise) {
        nu = 0.5 / std::fabs(lastFall - lastRise);  // half a cycle apart
    } else {
        return false;
    }
    return nu > 0 && nu < 0.5;
}

bool AnalyzeCoarseFrequency(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, double mid,
                            double h, std::vector<double>& buffer, double& nu)
{
    const uint64_t span = std::min<uint64_t>(count, COARSE_FRAMES);
    double crossings = 0, spectral = 0;
    const bool counted =
        AnalyzeCrossingFrequency(reader, channel, first + (count - span) / 2, span, mid, h, buffer,
                                 crossings) ||
        (span < count && AnalyzeCrossingFrequency(reader, channel, first, count, mid, h, buffer, crossings));
    uint32_t window = SPECTRUM_FRAMES;
    while (window > count)
        window /= 2;
    const bool peaked =
        window >= 64 &&
        SpectralPeak(reader, channel, first + (count - window) / 2, window, buffer, spectral) &&
        spectral * window >= SPECTRUM_CYCLES_MIN;
    if (peaked && !(counted && std::fabs(crossings - spectral) * window < 1.0)) {
        nu = spectral;
        return true;
    }
    if (counted) nu = crossings;
    return counted;
}
