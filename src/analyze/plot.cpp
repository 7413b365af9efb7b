// The picture: waveform ends with fade envelopes, and the residual spectrum.
//
// The spectrum is of the fit's residual, not of the samples: a window's side
// lobes would otherwise bury a 32-bit file's noise floor under the
// fundamental's leakage. The fundamental is drawn at its fitted level.
//
// No FFT library is packaged for the Windows cross builds, so a small radix-2
// transform is written here; it only feeds the picture.

#include "analyze/plot.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "analyze/fade_fit.h"
#include "analyze/fft.h"
#include "analyze/name_text.h"
#include "analyze/pass.h"
#include "analyze/sine_phase.h"
#include "analyze/svg.h"
#include "analyze/weighting.h"
#include "base/checked_index.h"

namespace {

constexpr uint32_t SPECTRUM_FRAMES_MAX = 65536;
constexpr double WIDTH = 960, HEIGHT = 760;
constexpr double PANEL_TOP = 50, PANEL_HEIGHT = 250, PANEL_LEFT = 70, PANEL_GAP = 50;
constexpr double SPECTRUM_TOP = 390, SPECTRUM_HEIGHT = 300;
constexpr uint32_t COLUMNS = 400;

// The frames [first, first + count) of one channel, as min/max pairs of at
// most `columns` columns. Empty on a read error.
struct Trace {
    uint64_t first = 0;
    uint64_t count = 0;
    std::vector<double> low;
    std::vector<double> high;
};

Trace ReadTrace(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, uint32_t columns)
{
    Trace trace;
    WaveReader reader = file;
    if (!reader.source || columns == 0) return trace;
    count = std::min(count, reader.info.frames - std::min(first, reader.info.frames));
    if (count == 0) return trace;
    const uint32_t n = uint32_t(std::min<uint64_t>(columns, count));
    trace.first = first;
    trace.count = count;
    trace.low.assign(n, std::numeric_limits<double>::infinity());
    trace.high.assign(n, -std::numeric_limits<double>::infinity());
    std::vector<double> buffer;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                                      [&](const double* x, uint32_t m, uint64_t frame) {
                                          for (uint32_t i = 0; i < m; ++i) {
                                              const size_t col = size_t((frame + i - first) * n / count);
                                              trace.low[col] = std::min(trace.low[col], x[i]);
                                              trace.high[col] = std::max(trace.high[col], x[i]);
                                          }
                                      });
    if (!ok) trace.low.clear();
    return trace;
}

// The spectrum of the fit's residual over up to 65536 frames from the middle
// of the sustained part, Blackman-Harris windowed, as dB relative to full
// scale per bin (a sine of amplitude A shows at its level).
struct Spectrum {
    double binHz = 0.0;
    uint32_t length = 0;
    double enbwBins = 0.0;   // the window's equivalent noise bandwidth
    std::vector<double> db;  // bins 0 ... n/2
};

Spectrum ResidualSpectrum(const WaveReader& file, uint32_t channel, const AnalyzeChannelResult& result)
{
    Spectrum spectrum;
    WaveReader reader = file;
    if (!reader.source) return spectrum;
    // Without a tone, the samples themselves from the middle of the file.
    const uint64_t from = result.toneFound ? result.sustainFirst : 0;
    const uint64_t frames = result.toneFound ? result.sustainFrames : reader.info.frames;
    AnalyzeSine none;
    const AnalyzeSine& sine = result.toneFound ? result.sine : none;
    uint32_t n = SPECTRUM_FRAMES_MAX;
    while (n > 64 && n > frames)
        n >>= 1;
    if (n > frames) return spectrum;
    const uint64_t first = from + (frames - n) / 2;
    std::vector<double> re(n), buffer;
    const AnalyzeCycleRate rate = AnalyzeSplitRate(sine.nu);
    double windowSum = 0, windowSquares = 0;
    const bool ok =
        AnalyzeForEachRun(reader, channel, first, n, buffer, ANALYZE_RUN_FRAMES,
                          [&](const double* x, uint32_t m, uint64_t frame) {
                              for (uint32_t i = 0; i < m; ++i) {
                                  const uint64_t k = frame + i - first;
                                  // 4-term Blackman-Harris: side lobes below -92 dB.
                                  const double u = ANALYZE_TWO_PI * double(k) / n;
                                  const double w = 0.35875 - 0.48829 * std::cos(u) +
                                                   0.14128 * std::cos(2 * u) - 0.01168 * std::cos(3 * u);
                                  re[k] = w * (x[i] - AnalyzeSineAt(sine, rate, int64_t(frame + i), false));
                                  windowSum += w;
                                  windowSquares += w * w;
                              }
                          });
    if (!ok) return spectrum;
    const std::vector<std::complex<double>> bins = AnalyzeFft(re);
    const double fs = WaveFullScale(reader.info);
    spectrum.binHz = double(reader.info.rate) / n;
    spectrum.length = n;
    spectrum.enbwBins = double(n) * windowSquares / (windowSum * windowSum);
    spectrum.db.resize(n / 2 + 1);
    for (uint32_t i = 0; i <= n / 2; ++i) {
        const double magnitude = 2 * std::hypot(bins[i].real(), bins[i].imag()) / windowSum / fs;
        spectrum.db[i] =
            magnitude > 0 ? 20 * std::log10(magnitude) : -std::numeric_limits<double>::infinity();
    }
    return spectrum;
}

// One waveform panel: frames [first, first + count) of the channel, scaled to
// full scale, with the fitted envelope (offset +- amplitude x fade gain).
std::string WavePanel(const AnalyzeFileResult& file, uint32_t channel, uint64_t first, uint64_t count,
                      double left, double width, const std::string& title)
{
    const WaveInfo& info = file.info;
    const AnalyzeChannelResult& c = file.channels[channel];
    const double fs = WaveFullScale(info);
    const double top = PANEL_TOP, h = PANEL_HEIGHT;
    const auto X = [&](double frame) {
        return left + (frame - double(first)) / double(std::max<uint64_t>(count, 1)) * width;
    };
    // Scaled to the tone (or the samples shown) when they are far below
    // full scale: a -60 dBFS tone is a line at full scale's.
    const Trace trace = ReadTrace(file.opened, channel, first, count, uint32_t(width));
    double reach = c.toneFound ? std::hypot(c.sine.a, c.sine.b) + std::fabs(c.sine.offset) : 0.0;
    for (size_t i = 0; i < trace.low.size(); ++i)
        if (std::isfinite(trace.low[i]) && std::isfinite(trace.high[i]))
            reach = std::max(reach, std::max(std::fabs(trace.low[i]), std::fabs(trace.high[i])));
    const double span =
        reach > 0 && reach < fs
            ? AnalyzeSvgTickStep(reach / fs, 2) * std::ceil(reach / fs / AnalyzeSvgTickStep(reach / fs, 2))
            : 1.0;
    const auto Y = [&](double v) {
        return top + h / 2 - std::clamp(v / fs / span, -1.1, 1.1) / 1.1 * (h / 2);
    };
    std::string out = AnalyzeSvgPanel(left, top, width, h);
    out += AnalyzeSvgText(left + width / 2, top - 10, title, "middle", 13);
    // Axes: amplitude relative to full scale, time in ms.
    for (double v : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
        out += AnalyzeSvgLine(left, Y(v * span * fs), left + width, Y(v * span * fs), "stroke=\"#e2e2e2\"");
        out += AnalyzeSvgText(left - 5, Y(v * span * fs) + 4, AnalyzeSvgLabel(v * span), "end", 10);
    }
    const double ms0 = double(first) * 1000 / info.rate, ms1 = double(first + count) * 1000 / info.rate;
    const double step = AnalyzeSvgTickStep(ms1 - ms0, 5);
    for (double t = std::ceil(ms0 / step) * step; t <= ms1 + 1e-9; t += step) {
        const double x = X(t * info.rate / 1000);
        out += AnalyzeSvgLine(x, top + h, x, top + h + 4, "stroke=\"#888\"");
        out += AnalyzeSvgText(x, top + h + 16, AnalyzeSvgLabel(t), "middle", 10);
    }
    out += AnalyzeSvgText(left + width / 2, top + h + 32, "time (ms)", "middle", 11);

    if (!trace.low.empty()) {
        const double columnFrames = double(count) / double(trace.low.size());
        std::string upper, lower;
        for (size_t i = 0; i < trace.low.size(); ++i) {
            const double x = X(double(first) + (double(i) + 0.5) * columnFrames);
            upper += AnalyzeSvgNumber(x) + "," + AnalyzeSvgNumber(Y(trace.high[i])) + " ";
        }
        for (size_t i = trace.low.size(); i-- > 0;) {
            const double x = X(double(first) + (double(i) + 0.5) * columnFrames);
            lower += AnalyzeSvgNumber(x) + "," + AnalyzeSvgNumber(Y(trace.low[i])) + " ";
        }
        out += "<polygon points=\"" + upper + lower +
               "\" fill=\"#4a7ab5\" stroke=\"#2d5d99\" stroke-width=\"0.8\"/>\n";
    }
    if (c.toneFound) {
        // The envelope of the fitted tone with its fades.
        const double amp = std::hypot(c.sine.a, c.sine.b);
        const auto gain = [&](double n) {
            if (n < c.toneStart || n > c.toneEnd) return 0.0;
            if (c.fadeInFrames > 0 && n < c.toneStart + c.fadeInFrames)
                return AnalyzeFadeGain(c.fadeInShape, (n - c.toneStart) / c.fadeInFrames);
            if (c.fadeOutFrames > 0 && n > c.toneEnd - c.fadeOutFrames)
                return AnalyzeFadeGain(c.fadeOutShape, (c.toneEnd - n) / c.fadeOutFrames);
            return 1.0;
        };
        std::string plus, minus;
        for (uint32_t i = 0; i <= COLUMNS; ++i) {
            const double n = double(first) + double(count) * i / COLUMNS;
            plus += AnalyzeSvgNumber(X(n)) + "," + AnalyzeSvgNumber(Y(c.sine.offset + amp * gain(n))) + " ";
            minus += AnalyzeSvgNumber(X(n)) + "," + AnalyzeSvgNumber(Y(c.sine.offset - amp * gain(n))) + " ";
        }
        const char* style = "fill=\"none\" stroke=\"#d23c2c\" stroke-width=\"1.6\" stroke-dasharray=\"6,3\"";
        out += "<polyline points=\"" + plus + "\" " + style + "/>\n";
        out += "<polyline points=\"" + minus + "\" " + style + "/>\n";
    }
    return out;
}

// The measurement on the spectrum: the band (outside it shaded), the
// A-weighting curve laid on the noise floor when used, and the two-tone
// products at their fitted levels.
template <class FX, class FY>
std::string MeasurementMarks(const AnalyzeFileResult& file, const AnalyzeChannelResult& c, double top,
                             double h, double f0, double f1, double floorDb, FX X, FY Y)
{
    const AnalyzeMeasurement& m = file.measurement;
    std::string out;
    const auto shade = [&](double from, double to) {
        if (to <= from) return;
        out += "<rect x=\"" + AnalyzeSvgNumber(X(from)) + "\" y=\"" + AnalyzeSvgNumber(top) + "\" width=\"" +
               AnalyzeSvgNumber(X(to) - X(from)) + "\" height=\"" + AnalyzeSvgNumber(h) +
               "\" fill=\"#000\" fill-opacity=\"0.06\"/>\n";
    };
    shade(f0, std::min(m.bandLowHz, f1));
    shade(std::max(m.bandHighHz, f0), f1);
    out +=
        AnalyzeSvgText(X(f1) - 6, top + 14,
                       "THD+N band " + AnalyzeSvgLabel(m.bandLowHz) + "-" + AnalyzeSvgLabel(m.bandHighHz) +
                           " Hz" + (m.weightingA ? ", A-weighted (dotted: the weighting on the floor)" : ""),
                       "end", 11);
    if (m.weightingA) {
        std::string curve;
        for (uint32_t i = 0; i <= COLUMNS; ++i) {
            const double hz = f0 * std::pow(f1 / f0, double(i) / COLUMNS);
            curve += AnalyzeSvgNumber(X(hz)) + "," +
                     AnalyzeSvgNumber(Y(floorDb + 10 * std::log10(AnalyzeAWeightingPower(hz)))) + " ";
        }
        out += "<polyline points=\"" + curve +
               "\" fill=\"none\" stroke=\"#2f9e44\" stroke-width=\"1.2\" stroke-dasharray=\"2,3\"/>\n";
    }
    const AnalyzeChannelFigures& f = c.figures;
    const double fs = WaveFullScale(file.info);
    for (int k = 2; f.hasImd && k < f.imd.components; ++k) {
        const double amplitude = f.imd.componentAmplitude[k];
        if (!(amplitude > 0)) continue;
        const double x = X(f.imd.componentHz[k]), y = Y(20 * std::log10(amplitude / fs));
        out += "<rect x=\"" + AnalyzeSvgNumber(x - 3) + "\" y=\"" + AnalyzeSvgNumber(y - 3) +
               "\" width=\"6\" height=\"6\" fill=\"#8e44ad\" transform=\"rotate(45 " + AnalyzeSvgNumber(x) +
               " " + AnalyzeSvgNumber(y) + ")\"/>\n";
        if (k == 2)
            out += AnalyzeSvgText(x, y - 8, std::string("IMD ") + (f.imd.kind[0] == 's' ? "SMPTE" : "CCIF"),
                                  "middle", 10);
    }
    return out;
}

std::string SpectrumPanel(const AnalyzeFileResult& file, uint32_t channel)
{
    const WaveInfo& info = file.info;
    const AnalyzeChannelResult& c = file.channels[channel];
    const double left = PANEL_LEFT, width = WIDTH - PANEL_LEFT - 30, top = SPECTRUM_TOP, h = SPECTRUM_HEIGHT;
    std::string out = AnalyzeSvgPanel(left, top, width, h);
    const Spectrum spectrum = ResidualSpectrum(file.opened, channel, c);
    if (spectrum.db.size() < 4) {
        out += AnalyzeSvgText(left + width / 2, top + h / 2, "no spectrum: too few samples", "middle", 13);
        return out;
    }
    const double fs = WaveFullScale(info);
    const double amp = std::hypot(c.sine.a, c.sine.b);
    const double level =
        c.toneFound ? 20 * std::log10(amp / fs) : *std::max_element(spectrum.db.begin(), spectrum.db.end());
    std::vector<double> sorted;
    for (size_t i = 1; i < spectrum.db.size(); ++i)
        if (std::isfinite(spectrum.db[i])) sorted.push_back(spectrum.db[i]);
    std::sort(sorted.begin(), sorted.end());
    const double floorDb = sorted.empty() ? -200 : sorted[sorted.size() / 2];
    const double dbTop = std::ceil(std::max(level, 0.0) / 20) * 20 + 10;
    double dbLow = floorDb - 30;
    for (double hDb : c.harmonicsDb)
        if (std::isfinite(hDb)) dbLow = std::min(dbLow, hDb + level - 20);
    dbLow = std::max(std::floor(dbLow / 20) * 20, -260.0);
    const double f0 = std::max(spectrum.binHz, 10.0), f1 = info.rate / 2.0;
    const auto X = [&](double hz) {
        return left + std::log10(std::clamp(hz, f0, f1) / f0) / std::log10(f1 / f0) * width;
    };
    const auto Y = [&](double db) {
        return top + (dbTop - std::clamp(db, dbLow, dbTop)) / (dbTop - dbLow) * h;
    };
    out += AnalyzeSvgText(
        left + width / 2, top - 12,
        c.toneFound
            ? "Spectrum of the sustained part: fundamental (fitted), harmonics and noise of the residual"
            : "Spectrum of the samples from the middle of the file (no tone was found)",
        "middle", 13);
    out += AnalyzeSvgValueGrid(dbLow, dbTop, 8, left, width, Y);
    out += AnalyzeSvgLogFrequencyGrid(f0, f1, top, h, X);
    out += AnalyzeSvgText(left + width / 2, top + h + 34, "frequency (Hz)", "middle", 11);
    out += AnalyzeSvgText(left, top - 4, "dBFS per bin", "start", 10);

    // The residual's bins per pixel column: the mean of their power (white
    // noise draws flat, however many bins a column holds), and lighter
    // their largest.
    const size_t columns = size_t(width) + 1;
    std::vector<double> peak(columns, -std::numeric_limits<double>::infinity()), power(columns, 0.0);
    std::vector<uint32_t> held(columns, 0);
    for (size_t i = 1; i < spectrum.db.size(); ++i) {
        const double hz = double(i) * spectrum.binHz;
        if (hz < f0) continue;
        const size_t x = IndexClamped(X(hz) - left, columns);
        peak[x] = std::max(peak[x], spectrum.db[i]);
        power[x] += std::pow(10.0, spectrum.db[i] / 10);
        ++held[x];
    }
    std::string peaks, means;
    for (size_t x = 0; x < columns; ++x) {
        if (held[x] == 0) continue;
        const double mean = 10 * std::log10(power[x] / held[x]);
        if (std::isfinite(peak[x]))
            peaks += AnalyzeSvgNumber(left + double(x)) + "," + AnalyzeSvgNumber(Y(peak[x])) + " ";
        if (std::isfinite(mean))
            means += AnalyzeSvgNumber(left + double(x)) + "," + AnalyzeSvgNumber(Y(mean)) + " ";
    }
    out += "<polyline points=\"" + peaks + "\" fill=\"none\" stroke=\"#b9cde6\" stroke-width=\"1\"/>\n";
    out += "<polyline points=\"" + means + "\" fill=\"none\" stroke=\"#4a7ab5\" stroke-width=\"1\"/>\n";
    // What turns a bin's level into a density.
    const double densityOffset = 10 * std::log10(spectrum.enbwBins * spectrum.binHz);
    out += AnalyzeSvgText(
        left + width - 6, top + 14,
        std::to_string(spectrum.length) + "-point FFT, 4-term Blackman-Harris window (noise bandwidth " +
            AnalyzeSvgLabel(std::round(spectrum.enbwBins * 100) / 100) +
            " bins = " + AnalyzeSvgLabel(std::round(spectrum.enbwBins * spectrum.binHz * 100) / 100) + " Hz)",
        "end", 10);
    out += AnalyzeSvgText(left + width - 6, top + 28,
                          "dark: power mean per pixel, light: largest bin; dBFS/sqrt(Hz) = dBFS per bin - " +
                              AnalyzeSvgLabel(std::round(densityOffset * 100) / 100) + " dB",
                          "end", 10);
    out += AnalyzeSvgLine(left, Y(floorDb), left + width, Y(floorDb),
                          "stroke=\"#2f9e44\" stroke-dasharray=\"5,4\"");
    out += AnalyzeSvgText(left + 6, Y(floorDb) - 22,
                          "noise floor per bin (median) " + AnalyzeSvgNumber(floorDb) + " dBFS", "start", 11);
    out += MeasurementMarks(file, c, top, h, f0, f1, floorDb, X, Y);
    if (!c.toneFound) return out;
    // The fundamental and the harmonics at their fitted levels.
    const double x1 = X(c.frequencyHz);
    out += AnalyzeSvgLine(x1, Y(dbLow), x1, Y(level), "stroke=\"#d23c2c\" stroke-width=\"3\"");
    out += AnalyzeSvgText(
        x1 + 6, Y(level) + 12,
        "fundamental " + AnalyzeSvgNumber(c.frequencyHz) + " Hz, " + AnalyzeSvgNumber(level) + " dBFS",
        "start", 11);
    // A harmonic below the noise: an open mark at the noise limit.
    for (size_t k = 0; k < c.harmonicsDb.size(); ++k) {
        const bool above = std::isfinite(c.harmonicsDb[k]);
        if (!above && !std::isfinite(c.noiseLimitDb)) continue;
        const double hz = c.frequencyHz * double(k + 2);
        const double db = (above ? c.harmonicsDb[k] : c.noiseLimitDb) + level;
        out += "<circle cx=\"" + AnalyzeSvgNumber(X(hz)) + "\" cy=\"" + AnalyzeSvgNumber(Y(db)) +
               "\" r=\"3.5\" " + (above ? "fill=\"#e8890c\"" : "fill=\"none\" stroke=\"#e8890c\"") + "/>\n";
        out += AnalyzeSvgText(X(hz), Y(db) - 7, std::string("H").append(std::to_string(k + 2)), "middle", 10);
    }
    return out;
}

}  // namespace

std::string AnalyzePlotSvg(const AnalyzeFileResult& file, uint32_t channel)
{
    if (file.open != WaveOpenResult::Ok || channel >= file.channels.size()) return {};
    const WaveInfo& info = file.info;
    const AnalyzeChannelResult& c = file.channels[channel];
    const uint64_t frames = info.frames;
    // The ends: each fade with a margin, or a few cycles where there is none.
    const double cycle = c.toneFound ? 1.0 / c.sine.nu : double(frames);
    const double span0 = c.toneFound ? std::max(c.fadeInFrames, 4 * cycle) : double(frames) / 20;
    const double span1 = c.toneFound ? std::max(c.fadeOutFrames, 4 * cycle) : double(frames) / 20;
    const double margin0 = span0 * 0.15, margin1 = span1 * 0.15;
    const double start = c.toneFound ? c.toneStart : 0.0;
    const double end = c.toneFound ? c.toneEnd : double(frames);
    // Frames 0 ... frames: a fit far off (a frequency near 0) puts the ends anywhere.
    const uint64_t a0 = IndexClamped(std::floor(start - margin0), frames + 1);
    const uint64_t a1 =
        std::max(a0, uint64_t(IndexClamped(std::ceil(start + span0 + margin0) + 1, frames + 1)));
    const uint64_t b0 = IndexClamped(std::floor(end - span1 - margin1), frames + 1);
    const uint64_t b1 = std::max(b0, uint64_t(IndexClamped(std::ceil(end + margin1) + 1, frames + 1)));
    const double panelWidth = (WIDTH - PANEL_LEFT - 30 - PANEL_GAP) / 2;

    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
        AnalyzeSvgNumber(WIDTH) + "\" height=\"" + AnalyzeSvgNumber(HEIGHT) + "\" viewBox=\"0 0 " +
        AnalyzeSvgNumber(WIDTH) + " " + AnalyzeSvgNumber(HEIGHT) +
        "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
        "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    std::string title = AnalyzeNameText(file.path) + ", channel " + std::to_string(channel + 1);
    if (c.toneFound) {
        char line[200];
        std::snprintf(line, sizeof line, ": %.6g Hz, SINAD %.1f dB, THD %s", c.frequencyHz, c.sinadDb,
                      !c.hasThd                ? "none"
                      : std::isfinite(c.thdDb) ? (AnalyzeSvgNumber(c.thdDb) + " dB").c_str()
                                               : "below the noise");
        title += line;
    }
    svg += AnalyzeSvgText(WIDTH / 2, 22, title, "middle", 14);
    svg += WavePanel(file, channel, a0, a1 - a0, PANEL_LEFT, panelWidth,
                     !c.toneFound ? std::string("Start of the file (no tone was found)")
                     : c.fadeInFrames > 0
                         ? "Start: fade in over " + AnalyzeSvgNumber(c.fadeInFrames * 1000 / info.rate) +
                               " ms (dashed: fitted envelope)"
                         : std::string("Start of the tone"));
    svg += WavePanel(file, channel, b0, b1 - b0, PANEL_LEFT + panelWidth + PANEL_GAP, panelWidth,
                     !c.toneFound ? std::string("End of the file (no tone was found)")
                     : c.fadeOutFrames > 0
                         ? "End: fade out over " + AnalyzeSvgNumber(c.fadeOutFrames * 1000 / info.rate) +
                               " ms (dashed: fitted envelope)"
                         : std::string("End of the tone"));
    svg += AnalyzeSvgText(18, PANEL_TOP + PANEL_HEIGHT / 2, "x FS", "middle", 11);
    svg += SpectrumPanel(file, channel);
    svg += "</svg>\n";
    return svg;
}
