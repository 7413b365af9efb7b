#include "analyze/html_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analyze/svg.h"
#include "analyze/svg_chart.h"

namespace {

constexpr double CHART_WIDTH = 572, CHART_HEIGHT = 320;
constexpr const char* COLOURS[] = {"#4a7ab5", "#d23c2c", "#e8890c", "#2f9e44", "#8e44ad", "#7a7a7a"};
constexpr size_t COLOUR_COUNT = sizeof COLOURS / sizeof COLOURS[0];
// Files whose levels lie within this of each other are one frequency set;
// frequencies within this fraction, one attenuation set.
constexpr double SET_LEVEL_DB = 0.5;
constexpr double SET_FREQUENCY_FRACTION = 1e-3;
// The impulse response shown: this long before the peak and after it.
constexpr double IMPULSE_BEFORE_MS = 1.0, IMPULSE_AFTER_MS = 9.0;
constexpr size_t IMPULSE_POINTS_MAX = 4000;
// A level or gain axis spans at least this: a flat response draws flat.
constexpr double LEVEL_SPAN_MIN_DB = 2.0;

AnalyzeChart Chart(const std::string& title, const char* xTitle, const char* yTitle, bool logX = false)
{
    AnalyzeChart chart;
    chart.title = title;
    chart.xTitle = xTitle;
    chart.yTitle = yTitle;
    chart.logX = logX;
    return chart;
}

AnalyzeChartSeries Series(const std::string& label, const char* colour)
{
    AnalyzeChartSeries series;
    series.label = label;
    series.colour = colour;
    return series;
}

std::string Figure(const AnalyzeChart& chart)
{
    return "<figure>" + AnalyzeChartSvg(chart, CHART_WIDTH, CHART_HEIGHT) + "</figure>\n";
}

std::string Number(const char* format, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string ImpulseChart(const AnalyzeResponse& r, const std::string& prefix)
{
    AnalyzeChart chart = Chart(prefix + "impulse response", "time (ms)", "amplitude (x FS)");
    if (r.impulse.empty() || r.rate == 0) return {};
    size_t peak = 0;
    for (size_t i = 1; i < r.impulse.size(); ++i)
        if (std::fabs(r.impulse[i]) > std::fabs(r.impulse[peak])) peak = i;
    const double rate = r.rate;
    const size_t before = std::min(peak, size_t(IMPULSE_BEFORE_MS * rate / 1000));
    const size_t first = peak - before;
    const size_t last = std::min(
        {r.impulse.size(), peak + size_t(IMPULSE_AFTER_MS * rate / 1000) + 1, first + IMPULSE_POINTS_MAX});
    AnalyzeChartSeries s;
    for (size_t i = first; i < last; ++i)
        s.points.push_back({double(r.impulseFirst + int64_t(i)) * 1000 / rate, r.impulse[i]});
    chart.series.push_back(s);
    chart.note = "peak at " + Number("%.2f", r.latencySamples) +
                 " samples = " + Number("%.3f", r.latencySamples * 1000 / rate) + " ms";
    return Figure(chart);
}

// A tone file as the sets see it: its first channel with a tone.
struct Tone {
    double hz, levelDbfs, thdNDb, thdDb;
    uint64_t format;  // files of one set share their rate, width and encoding
};

bool NearLevel(double a, double b) { return std::fabs(a - b) <= SET_LEVEL_DB; }
bool NearFrequency(double a, double b) { return std::fabs(a - b) <= SET_FREQUENCY_FRACTION * std::max(a, b); }

// Groups of tones of one format whose `key` lies near each other, holding at
// least two tones whose `spread` is not near: each such group is a set,
// ordered by `spread`.
template <class Key, class Spread>
std::vector<std::vector<Tone>> Sets(std::vector<Tone> tones, Key key, bool (*nearKey)(double, double),
                                    Spread spread, bool (*nearSpread)(double, double))
{
    std::sort(tones.begin(), tones.end(), [&](const Tone& a, const Tone& b) {
        return a.format != b.format ? a.format < b.format : key(a) < key(b);
    });
    std::vector<std::vector<Tone>> groups;
    for (const Tone& t : tones) {
        if (groups.empty() || groups.back().front().format != t.format ||
            !nearKey(key(groups.back().front()), key(t)))
            groups.emplace_back();
        groups.back().push_back(t);
    }
    std::vector<std::vector<Tone>> sets;
    for (std::vector<Tone>& g : groups) {
        std::sort(g.begin(), g.end(), [&](const Tone& a, const Tone& b) { return spread(a) < spread(b); });
        if (g.size() >= 2 && !nearSpread(spread(g.front()), spread(g.back()))) sets.push_back(g);
    }
    return sets;
}

template <class Along, class Value>
AnalyzeChartSeries Across(const std::vector<Tone>& set, Along along, Value value, const std::string& label,
                          const char* colour)
{
    AnalyzeChartSeries s = Series(label, colour);
    s.markers = true;
    for (const Tone& t : set)
        s.points.push_back({along(t), value(t)});
    return s;
}

}  // namespace

std::string AnalyzeHtmlResponseCharts(const AnalyzeResponse& r, uint32_t channel)
{
    if (r.kind.empty()) return {};
    const std::string prefix = "Channel " + std::to_string(channel + 1) + ": ";
    const bool multitone = r.kind == "multitone";
    AnalyzeChart magnitude = Chart(prefix + "magnitude response (" + r.kind + ")", "frequency (Hz)",
                                   "gain (dB, recording / stimulus)", true);
    AnalyzeChart phase =
        Chart(prefix + "phase response, latency removed", "frequency (Hz)", "phase (degrees)", true);
    phase.yLow = -180;
    phase.yHigh = 180;
    AnalyzeChartSeries gain, angle;
    gain.markers = angle.markers = multitone;
    angle.colour = COLOURS[1];
    for (const AnalyzeResponsePoint& p : r.points) {
        gain.points.push_back({p.frequencyHz, p.gainDb});
        angle.points.push_back({p.frequencyHz, p.phaseDeg});
    }
    magnitude.series.push_back(gain);
    phase.series.push_back(angle);
    magnitude.ySpanMin = LEVEL_SPAN_MIN_DB;
    if (std::isfinite(r.clockOffsetPpm))
        magnitude.note =
            "clock offset " + Number("%.2f", std::round(r.clockOffsetPpm * 100) / 100 + 0.0) + " ppm";
    std::string out = Figure(magnitude) + Figure(phase);
    if (!r.harmonics.empty()) {
        AnalyzeChart harmonics =
            Chart(prefix + "harmonic distortion against frequency", "excitation frequency (Hz)",
                  "level relative to the linear response (dB)", true);
        for (const AnalyzeHarmonicCurve& h : r.harmonics) {
            AnalyzeChartSeries s =
                Series("order " + std::to_string(h.order), COLOURS[size_t(h.order - 2) % COLOUR_COUNT]);
            for (const AnalyzeLevelPoint& p : h.points)
                s.points.push_back({p.frequencyHz, p.levelDb});
            harmonics.series.push_back(s);
        }
        out += Figure(harmonics);
    }
    if (r.kind == "other" && !r.points.empty()) {
        AnalyzeChart coherence = Chart(prefix + "coherence: where the response can be trusted",
                                       "frequency (Hz)", "magnitude-squared coherence", true);
        coherence.yLow = 0;
        coherence.yHigh = 1;
        AnalyzeChartSeries s = Series("coherence", COLOURS[3]);
        for (const AnalyzeResponsePoint& p : r.points)
            s.points.push_back({p.frequencyHz, p.coherence});
        coherence.series.push_back(s);
        out += Figure(coherence);
    }
    if (multitone) {
        AnalyzeChart noise = Chart(prefix + "noise and distortion between the tones", "frequency (Hz)",
                                   "level per bin relative to the tones (dB)", true);
        AnalyzeChartSeries s = Series("between the tones", COLOURS[5]);
        for (const AnalyzeLevelPoint& p : r.noiseFloor)
            s.points.push_back({p.frequencyHz, p.levelDb});
        noise.series.push_back(s);
        noise.note = "TD+N " + Number("%.2f", r.tdNDb) + " dB";
        out += Figure(noise);
    }
    return out + ImpulseChart(r, prefix);
}

std::string AnalyzeHtmlSetCharts(const std::vector<AnalyzeFileResult>& files)
{
    std::vector<Tone> tones;
    for (const AnalyzeFileResult& file : files)
        for (const AnalyzeChannelResult& c : file.channels) {
            if (file.open != WaveOpenResult::Ok || !c.toneFound || !c.response.kind.empty()) continue;
            const WaveInfo& info = file.info;
            tones.push_back(Tone{c.frequencyHz, c.levelDbfs, c.figures.thdNDb, c.hasThd ? c.thdDb : NAN,
                                 uint64_t(info.rate) << 16 | uint64_t(info.bits) << 1 |
                                     (info.encoding == WaveEncoding::Pcm ? 0 : 1)});
            break;
        }
    const auto level = [](const Tone& t) { return t.levelDbfs; };
    const auto hz = [](const Tone& t) { return t.hz; };
    const auto thdN = [](const Tone& t) { return t.thdNDb; };
    const auto thd = [](const Tone& t) { return t.thdDb; };
    std::string out;
    for (const std::vector<Tone>& set : Sets(tones, level, NearLevel, hz, NearFrequency)) {
        const std::string title = "Frequency set at " + AnalyzeSvgNumber(set.front().levelDbfs) + " dBFS: ";
        AnalyzeChart levels =
            Chart(title + "level against frequency", "frequency (Hz)", "level (dBFS)", true);
        levels.ySpanMin = LEVEL_SPAN_MIN_DB;
        levels.series.push_back(Across(set, hz, level, "level", COLOURS[0]));
        AnalyzeChart distortion = Chart(title + "THD+N and THD against frequency", "frequency (Hz)",
                                        "relative to the fundamental (dB)", true);
        distortion.series.push_back(Across(set, hz, thdN, "THD+N", COLOURS[0]));
        distortion.series.push_back(Across(set, hz, thd, "THD", COLOURS[2]));
        out += Figure(levels) + Figure(distortion);
    }
    for (const std::vector<Tone>& set : Sets(tones, hz, NearFrequency, level, NearLevel)) {
        AnalyzeChart linearity = Chart("Attenuation set at " + Number("%.6g", set.front().hz) +
                                           " Hz: THD+N and THD against level (linearity)",
                                       "level (dBFS)", "relative to the fundamental (dB)");
        linearity.series.push_back(Across(set, level, thdN, "THD+N", COLOURS[0]));
        linearity.series.push_back(Across(set, level, thd, "THD", COLOURS[2]));
        out += Figure(linearity);
    }
    return out;
}
