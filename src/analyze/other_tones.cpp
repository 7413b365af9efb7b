// Components from the spectrum's peaks, refined between bins.

#include "analyze/other_tones.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "analyze/fft.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"

namespace {

constexpr uint32_t WINDOW_FRAMES_MAX = 32768;
constexpr uint32_t WINDOW_FRAMES_MIN = 64;
constexpr double FLOOR_MARGIN = 100;      // 20 dB in power
constexpr double SIDE_LOBE_SHARE = 1e-9;  // 90 dB below the strongest
constexpr double REFINE_BINS = 0.25;
constexpr double MAIN_LOBE_BINS = 4;  // half the main lobe's width
constexpr int HARMONICS_LAST = 10;

// 4-term Blackman-Harris: side lobes below -92 dB.
double Window(uint32_t k, uint32_t n)
{
    const double u = ANALYZE_TWO_PI * double(k) / n;
    return 0.35875 - 0.48829 * std::cos(u) + 0.14128 * std::cos(2 * u) - 0.01168 * std::cos(3 * u);
}

// |sum of w x e^(-2 pi i nu j)|^2 over the window: the windowed spectrum
// between bins.
double PowerAt(const std::vector<double>& wx, double nu)
{
    const AnalyzeCycleRate rate = AnalyzeSplitRate(nu);
    double re = 0, im = 0;
    for (size_t j = 0; j < wx.size(); ++j) {
        const double angle = ANALYZE_TWO_PI * AnalyzeCycles(rate, int64_t(j));
        re += wx[j] * std::cos(angle);
        im -= wx[j] * std::sin(angle);
    }
    return re * re + im * im;
}

// The vertex of the parabola through (-1, a), (0, b), (1, c), held to +-0.5.
double Vertex(double a, double b, double c)
{
    const double curve = a - 2 * b + c;
    return curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
}

}  // namespace

std::vector<AnalyzeComponent> AnalyzeComponents(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, size_t most, const AnalyzeSine* remove)
{
    std::vector<AnalyzeComponent> found;
    const AnalyzeCycleRate removeRate = AnalyzeSplitRate(remove ? remove->nu : 0.0);
    uint32_t n = WINDOW_FRAMES_MAX;
    while (n > count && n > WINDOW_FRAMES_MIN)
        n /= 2;
    if (n > count || most == 0) return found;
    std::vector<double> wx(n), buffer;
    double windowSum = 0;
    const uint64_t start = first + (count - n) / 2;
    const bool ok = AnalyzeForEachRun(
        reader, channel, start, n, buffer, ANALYZE_RUN_FRAMES,
        [&](const double* x, uint32_t m, uint64_t frame) {
            for (uint32_t i = 0; i < m; ++i) {
                const uint32_t k = uint32_t(frame - start) + i;
                const double w = Window(k, n);
                const double fitted =
                    remove ? AnalyzeSineAt(*remove, removeRate, int64_t(frame + i), false) : 0.0;
                wx[k] = w * (x[i] - fitted);
                windowSum += w;
            }
        });
    if (!ok) return found;
    const std::vector<std::complex<double>> bins = AnalyzeFft(wx);
    std::vector<double> power(bins.size());
    for (size_t k = 0; k < bins.size(); ++k)
        power[k] = std::norm(bins[k]);
    std::vector<double> sorted(power.begin() + 1, power.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double floor = sorted[sorted.size() / 2];
    const double strongest = *std::max_element(power.begin(), power.end());
    const double threshold = std::max(floor * FLOOR_MARGIN, strongest * SIDE_LOBE_SHARE);
    // Local maxima over two bins each side: a Blackman-Harris main lobe is
    // four bins wide and has one.
    std::vector<size_t> peaks;
    for (size_t k = 1; k + 1 < power.size(); ++k) {
        if (!(power[k] > threshold)) continue;
        bool top = true;
        for (size_t j = k > 2 ? k - 2 : 0; j <= std::min(power.size() - 1, k + 2) && top; ++j)
            top = j == k || power[j] < power[k] || (power[j] == power[k] && j > k);
        if (top) peaks.push_back(k);
    }
    std::sort(peaks.begin(), peaks.end(), [&](size_t a, size_t b) { return power[a] > power[b]; });
    if (peaks.size() > most) peaks.resize(most);
    for (size_t k : peaks) {
        // Between bins on the logarithm of the power (a Gaussian's peak),
        // then once more on the spectrum itself around that.
        const double shift = Vertex(std::log(power[k - 1] + 1e-300), std::log(power[k] + 1e-300),
                                    std::log(power[k + 1] + 1e-300));
        double nu = (double(k) + shift) / n;
        const double d = REFINE_BINS / n;
        const double a = PowerAt(wx, nu - d), b = PowerAt(wx, nu), c = PowerAt(wx, nu + d);
        nu += Vertex(a, b, c) * d;
        if (!(nu > 0 && nu < 0.5)) continue;
        found.push_back({nu, 2 * std::sqrt(PowerAt(wx, nu)) / windowSum});
    }
    return found;
}

std::vector<AnalyzeComponent> AnalyzeOtherTones(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, const AnalyzeSine& sine, size_t most)
{
    const double nu = sine.nu;
    const double lobe =
        MAIN_LOBE_BINS / double(std::min<uint64_t>(std::max<uint64_t>(count, 1), WINDOW_FRAMES_MAX));
    std::vector<AnalyzeComponent> others;
    for (const AnalyzeComponent& c :
         AnalyzeComponents(reader, channel, first, count, most + HARMONICS_LAST + 1, &sine)) {
        bool related = c.nu < lobe;
        for (int k = 1; k <= HARMONICS_LAST && !related; ++k) {
            const double folded = std::fabs(k * nu - std::round(k * nu));
            related = std::fabs(c.nu - folded) < lobe;
        }
        if (!related && others.size() < most) others.push_back(c);
    }
    return others;
}
