#include "analyze/signal_kind.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "analyze/fft.h"

namespace {

constexpr uint32_t WINDOW_MAX = 1u << 16;
constexpr uint32_t WINDOW_MIN = 1u << 12;
constexpr uint32_t WINDOW_LONGEST = 1u << 20;
// Peaks within this of the strongest count as tones (the SMPTE pair is 12 dB apart).
constexpr double TONE_RANGE_DB = 40.0;
// Two windows whose main peaks differ by more than this share are a sweep.
constexpr double SWEEP_SHARE = 0.02;
// ... and peaks stand this far above the spectrum's median.
constexpr double ABOVE_NOISE_DB = 30.0;
constexpr double PI = 3.14159265358979323846;

struct Peaks {
    std::vector<double> frequencies;  // cycles per sample, strongest first
    // The power-weighted mean frequency of the bins near the top: for a
    // window of an exponential sweep, about its frequency at the middle.
    double centroid = 0.0;
};

// The 4-term Blackman-Harris window of n points (side lobes 92 dB down, so
// only tones stand out): one cosine per point of the first half, its
// multiples by the Chebyshev identities. Made once for a channel's windows
// of one length: the library cosines took half the recognition's time.
std::vector<double> BlackmanHarris(size_t n)
{
    std::vector<double> w(n);
    for (size_t j = 0; j <= n / 2; ++j) {
        const double c = std::cos(2 * PI * double(j) / double(n));
        const double c2 = 2 * c * c - 1, c3 = c * (4 * c * c - 3);
        w[j] = 0.35875 - 0.48829 * c + 0.14128 * c2 - 0.01168 * c3;
        if (j > 0) w[n - j] = w[j];
    }
    return w;
}

// The peaks of a window's spectrum, each placed by a parabola through the
// logarithms of its bin and neighbours.
Peaks SpectrumPeaks(const std::vector<double>& x, const std::vector<double>& window)
{
    const size_t n = x.size();
    std::vector<double> w(n);
    for (size_t j = 0; j < n; ++j)
        w[j] = x[j] * window[j];
    const std::vector<std::complex<double>> spectrum = AnalyzeFft(w);
    std::vector<double> mag(spectrum.size());
    // Not std::abs: its guard against overflow, which no sample can reach,
    // cost a twentieth of the recognition.
    for (size_t k = 0; k < spectrum.size(); ++k)
        mag[k] = std::sqrt(std::norm(spectrum[k]));
    const double top = *std::max_element(mag.begin(), mag.end());
    Peaks peaks;
    if (!(top > 0)) return peaks;
    // Noise has peaks of its own, never far above its median.
    std::vector<double> sorted(mag);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double floor = std::max(top * std::pow(10.0, -TONE_RANGE_DB / 20),
                                  sorted[sorted.size() / 2] * std::pow(10.0, ABOVE_NOISE_DB / 20));
    double power = 0.0, moment = 0.0;
    for (size_t k = 0; k < mag.size(); ++k)
        if (mag[k] >= floor) {
            power += mag[k] * mag[k];
            moment += mag[k] * mag[k] * double(k);
        }
    peaks.centroid = moment / power / double(n);
    std::vector<std::pair<double, double>> found;  // magnitude, frequency
    for (size_t k = 3; k + 3 < mag.size(); ++k) {
        if (mag[k] < floor) continue;
        bool highest = true;
        for (size_t d = 1; d <= 2; ++d)
            highest = highest && mag[k] > mag[k - d] && mag[k] >= mag[k + d];
        if (!highest) continue;
        const double a = std::log(mag[k - 1]), b = std::log(mag[k]), c = std::log(mag[k + 1]);
        const double shift = (a - c) / (2 * (a - 2 * b + c));
        found.push_back({mag[k], (double(k) + (std::isfinite(shift) ? shift : 0.0)) / double(n)});
    }
    std::sort(found.begin(), found.end(), [](auto& l, auto& r) { return l.first > r.first; });
    for (auto& f : found)
        peaks.frequencies.push_back(f.second);
    return peaks;
}

// Whether some peak lies within `share` of f, or within a few bins (the
// lowest tones of a multitone share their lobes, which move with the window).
bool Near(const Peaks& peaks, double f, double share, double bin)
{
    return std::any_of(peaks.frequencies.begin(), peaks.frequencies.end(),
                       [&](double p) { return std::fabs(p - f) <= std::max(share * f, 4 * bin); });
}

// How many of b's peaks a has too.
size_t Shared(const Peaks& a, const Peaks& b, double bin)
{
    return size_t(std::count_if(b.frequencies.begin(), b.frequencies.end(),
                                [&](double f) { return Near(a, f, SWEEP_SHARE, bin); }));
}

// Whether every peak is a harmonic of the strongest: one tone, distorted.
bool Harmonics(const Peaks& peaks)
{
    const double f = peaks.frequencies[0];
    return std::all_of(peaks.frequencies.begin(), peaks.frequencies.end(), [&](double p) {
        const double k = std::round(p / f);
        return k >= 1 && std::fabs(p - k * f) <= 0.001 * k * f;
    });
}

// A window that holds a sample that is not a finite number says nothing of
// the signal (and its spectrum could not be ordered): such a channel is left
// to the tone's analysis, which names the samples.
bool Read(WaveReader& reader, uint32_t channel, uint64_t first, std::vector<double>& x)
{
    return WaveSeekFrame(reader, first) &&
           WaveReadChannel(reader, channel, x.data(), uint32_t(x.size())) == x.size() &&
           std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); });
}

// The first (or, from the end, the last) frame that is not zero.
uint64_t Edge(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, bool fromEnd)
{
    const uint64_t frames = reader.info.frames;
    const uint64_t chunk = buffer.size();
    for (uint64_t done = 0; done < frames; done += chunk) {
        const uint64_t n = std::min(chunk, frames - done);
        const uint64_t first = fromEnd ? frames - done - n : done;
        if (!WaveSeekFrame(reader, first) ||
            WaveReadChannel(reader, channel, buffer.data(), uint32_t(n)) != n)
            return fromEnd ? frames : 0;
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t j = fromEnd ? n - 1 - i : i;
            if (buffer[j] != 0) return first + j;
        }
    }
    return 0;
}

std::string Hz(double f)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", f);
    return text;
}

}  // namespace

AnalyzeSignalKind AnalyzeRecogniseSignal(WaveReader& reader, uint32_t channel, std::vector<double>& buffer)
{
    AnalyzeSignalKind out;
    const uint64_t frames = reader.info.frames;
    uint32_t n = WINDOW_MAX;
    while (n > WINDOW_MIN && n * 4ull > frames)
        n /= 2;
    if (n * 4ull > frames) return out;
    const double rate = reader.info.rate;
    std::vector<double> x(n);
    std::vector<double> window = BlackmanHarris(n);

    // Two windows a third of the way apart: one tone standing still, or moving.
    const uint64_t a = frames / 5, b = frames * 3 / 5 - n;
    if (!Read(reader, channel, a, x)) return out;
    const Peaks first = SpectrumPeaks(x, window);
    if (first.frequencies.empty()) return out;
    if (!Read(reader, channel, b, x)) return out;
    const Peaks second = SpectrumPeaks(x, window);
    if (second.frequencies.empty()) return out;

    // A periodic signal shows the same peaks in both; a sweep has moved on.
    if (2 * Shared(first, second, 1.0 / n) < second.frequencies.size() &&
        2 * Shared(second, first, 1.0 / n) < first.frequencies.size()) {
        // f(t) = f1 e^(t / L): L from the two windows, f1 and f2 at the
        // ends of what is not silence.
        if (buffer.size() < n) buffer.resize(n);
        const double ta = double(a) + n / 2.0, tb = double(b) + n / 2.0;
        const double fa = first.centroid, fb = second.centroid;
        const double l = (tb - ta) / std::log(fb / fa);
        const double start = double(Edge(reader, channel, buffer, false));
        const double end = double(Edge(reader, channel, buffer, true));
        const double f1 = fa * std::exp((start - ta) / l) * rate, f2 = fa * std::exp((end - ta) / l) * rate;
        out.kind = AnalyzeSignalKind::Kind::Sweep;
        out.frequencies = {f1, f2};
        out.description = "a sweep from about " + Hz(f1) + " to " + Hz(f2) + " Hz";
        return out;
    }
    if (first.frequencies.size() == 1 && second.frequencies.size() == 1) return out;
    // The middle of a periodic signal: each tone a peak of its own, in bins
    // of half a hertz or less where the file is long enough.
    while (n < WINDOW_LONGEST && n < 2 * rate && n * 4ull <= frames)
        n *= 2;
    x.resize(n);
    window = BlackmanHarris(n);
    if (!Read(reader, channel, frames / 2 - n / 2, x)) return out;
    const Peaks middle = SpectrumPeaks(x, window);
    if (middle.frequencies.empty() || Harmonics(middle)) return out;
    if (middle.frequencies.size() == 2) {
        double f1 = middle.frequencies[0] * rate, f2 = middle.frequencies[1] * rate;
        if (f1 > f2) std::swap(f1, f2);
        out.kind = AnalyzeSignalKind::Kind::TwoTone;
        out.frequencies = {f1, f2};
        out.description = "two tones at " + Hz(f1) + " Hz and " + Hz(f2) + " Hz";
    } else if (middle.frequencies.size() > 2) {
        out.kind = AnalyzeSignalKind::Kind::Multitone;
        out.tones = uint32_t(middle.frequencies.size());
        for (double f : middle.frequencies)
            out.frequencies.push_back(f * rate);
        std::sort(out.frequencies.begin(), out.frequencies.end());
        out.description = "a multitone of " + std::to_string(out.tones) + " tones, " +
                          Hz(out.frequencies.front()) + " to " + Hz(out.frequencies.back()) + " Hz";
    }
    return out;
}
