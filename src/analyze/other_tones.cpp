// Components from the spectrum's peaks, refined between bins.

#include "analyze/other_tones.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "analyze/fft.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"

namespace {

// Other tones from half the usual window: they are sought in every file.
constexpr uint32_t OTHER_TONES_FRAMES = 8192;
constexpr uint32_t WINDOW_FRAMES_MIN = 64;
constexpr double FLOOR_MARGIN = 100;      // 20 dB in power
constexpr double SIDE_LOBE_SHARE = 1e-9;  // 90 dB below the strongest
constexpr double REFINE_BINS = 0.25;
constexpr double MAIN_LOBE_BINS = 4;  // half the main lobe's width
constexpr double SCALLOPING = 0.9;    // a bin shows at least this of a peak between bins
constexpr int HARMONICS_LAST = 10;

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
                                                uint64_t count, const AnalyzeComponentOptions& options)
{
    const AnalyzeSine* remove = options.remove;
    std::vector<AnalyzeComponent> found;
    const AnalyzeCycleRate removeRate = AnalyzeSplitRate(remove ? remove->nu : 0.0);
    uint32_t n = options.windowFrames;
    while (n > count && n > WINDOW_FRAMES_MIN)
        n /= 2;
    if (n > count || options.most == 0) return found;
    std::vector<double> wx(n), buffer;
    double windowSum = 0;
    const double windowCos = std::cos(ANALYZE_TWO_PI / n), windowSin = std::sin(ANALYZE_TWO_PI / n);
    const double removeCos = std::cos(ANALYZE_TWO_PI * (remove ? remove->nu : 0.0));
    const double removeSin = std::sin(ANALYZE_TWO_PI * (remove ? remove->nu : 0.0));
    const uint64_t start = first + (count - n) / 2;
    const bool ok = AnalyzeForEachRun(
        reader, channel, start, n, buffer, ANALYZE_RUN_FRAMES,
        [&](const double* x, uint32_t m, uint64_t frame) {
            // The window and the sine taken away by rotation from the run's
            // exact start, not a library cosine per sample: these are
            // sought in every file, so they must cost next to nothing.
            const uint32_t k0 = uint32_t(frame - start);
            double wc = std::cos(ANALYZE_TWO_PI * k0 / n), ws = std::sin(ANALYZE_TWO_PI * k0 / n);
            const double angle =
                remove ? ANALYZE_TWO_PI * AnalyzeCycles(removeRate, int64_t(frame) - remove->origin) : 0;
            double rc = std::cos(angle), rs = std::sin(angle);
            for (uint32_t i = 0; i < m; ++i) {
                // 4-term Blackman-Harris from cos u by the Chebyshev identities.
                const double c2 = 2 * wc * wc - 1, c3 = (4 * wc * wc - 3) * wc;
                const double w = 0.35875 - 0.48829 * wc + 0.14128 * c2 - 0.01168 * c3;
                const double fitted = remove ? remove->a * rc + remove->b * rs + remove->offset : 0.0;
                wx[k0 + i] = w * (x[i] - fitted);
                windowSum += w;
                const double nextW = wc * windowCos - ws * windowSin;
                ws = ws * windowCos + wc * windowSin;
                wc = nextW;
                const double nextR = rc * removeCos - rs * removeSin;
                rs = rs * removeCos + rc * removeSin;
                rc = nextR;
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
    const double lobe = MAIN_LOBE_BINS / n;
    for (size_t k : peaks) {
        if (found.size() >= options.most) break;
        // Refined only when wanted: each refinement is a sum over the window.
        const double binNu = double(k) / n;
        if (!(2 * std::sqrt(power[k]) / windowSum >= SCALLOPING * options.minAmplitude) ||
            std::any_of(options.exclude.begin(), options.exclude.end(),
                        [&](double e) { return std::fabs(binNu - e) < lobe; }))
            continue;
        // Between bins on the logarithm of the power (a Gaussian's peak),
        // then once more on the spectrum itself around that.
        const double shift = Vertex(std::log(power[k - 1] + 1e-300), std::log(power[k] + 1e-300),
                                    std::log(power[k + 1] + 1e-300));
        double nu = (double(k) + shift) / n;
        const double d = REFINE_BINS / n;
        const double a = PowerAt(wx, nu - d), b = PowerAt(wx, nu), c = PowerAt(wx, nu + d);
        nu += Vertex(a, b, c) * d;
        const double amplitude = 2 * std::sqrt(PowerAt(wx, nu)) / windowSum;
        if (nu > 0 && nu < 0.5 && amplitude >= options.minAmplitude) found.push_back({nu, amplitude});
    }
    return found;
}

std::vector<AnalyzeComponent> AnalyzeOtherTones(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, const AnalyzeSine& sine, size_t most,
                                                double minAmplitude)
{
    AnalyzeComponentOptions options;
    options.most = most;
    options.remove = &sine;
    options.minAmplitude = minAmplitude;
    options.windowFrames = OTHER_TONES_FRAMES;
    options.exclude.push_back(0.0);
    for (int k = 1; k <= HARMONICS_LAST; ++k)
        options.exclude.push_back(std::fabs(k * sine.nu - std::round(k * sine.nu)));
    return AnalyzeComponents(reader, channel, first, count, options);
}
