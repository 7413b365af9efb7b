#include "analyze/svg_chart.h"

#include <algorithm>
#include <cmath>

#include "analyze/svg.h"

namespace {

constexpr double LEFT = 70, RIGHT = 24, TOP = 40, BOTTOM = 48;
constexpr double LOG_PAD = 1.06, LINEAR_PAD = 0.03;

// The range of the finite coordinates chosen by `get`; NaN when there are none.
// (Only the positive ones when `positive`: a log axis.)
template <class Get>
void Extent(const AnalyzeChart& chart, Get get, bool positive, double& low, double& high)
{
    double lo = INFINITY, hi = -INFINITY;
    for (const AnalyzeChartSeries& s : chart.series)
        for (const AnalyzeChartPoint& p : s.points) {
            const double v = get(p);
            if (!std::isfinite(v) || (positive && v <= 0)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (std::isnan(low)) low = std::isfinite(lo) ? lo : 0.0;
    if (std::isnan(high)) high = std::isfinite(hi) ? hi : 1.0;
}

}  // namespace

std::string AnalyzeChartSvg(const AnalyzeChart& chart, double width, double height)
{
    const double left = LEFT, top = TOP, w = width - LEFT - RIGHT, h = height - TOP - BOTTOM;
    double x0 = chart.xLow, x1 = chart.xHigh, y0 = chart.yLow, y1 = chart.yHigh;
    const bool autoY = std::isnan(y0) || std::isnan(y1);
    Extent(
        chart, [](const AnalyzeChartPoint& p) { return p.x; }, chart.logX, x0, x1);
    Extent(
        chart, [](const AnalyzeChartPoint& p) { return p.y; }, false, y0, y1);
    if (chart.logX) {
        // A little room around points at the ends, so that their marks show whole.
        if (std::isnan(chart.xLow)) x0 /= LOG_PAD;
        if (std::isnan(chart.xHigh)) x1 *= LOG_PAD;
        x0 = std::max(x0, 1e-3);
        x1 = std::max(x1, x0 * 10);
    } else if (!(x1 > x0)) {
        x1 = x0 + 1;
    } else {
        const double pad = (x1 - x0) * LINEAR_PAD;
        if (std::isnan(chart.xLow)) x0 -= pad;
        if (std::isnan(chart.xHigh)) x1 += pad;
    }
    if (autoY && y1 - y0 < chart.ySpanMin) {
        const double middle = (y0 + y1) / 2;
        y0 = middle - chart.ySpanMin / 2;
        y1 = middle + chart.ySpanMin / 2;
    }
    if (!(y1 > y0)) {
        y0 -= 1;
        y1 += 1;
    }
    if (autoY) {
        const double step = AnalyzeSvgTickStep(y1 - y0, 6);
        y0 = std::floor(y0 / step - 0.25) * step;
        y1 = std::ceil(y1 / step + 0.25) * step;
    }
    const auto X = [&](double x) {
        if (chart.logX) return left + std::log10(std::clamp(x, x0, x1) / x0) / std::log10(x1 / x0) * w;
        return left + (std::clamp(x, x0, x1) - x0) / (x1 - x0) * w;
    };
    const auto Y = [&](double y) { return top + (y1 - std::clamp(y, y0, y1)) / (y1 - y0) * h; };
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + AnalyzeSvgNumber(width) +
                      "\" height=\"" + AnalyzeSvgNumber(height) + "\" viewBox=\"0 0 " +
                      AnalyzeSvgNumber(width) + " " + AnalyzeSvgNumber(height) +
                      "\" font-family=\"DejaVu Sans, Arial, sans-serif\" role=\"img\">\n";
    out += "<title>" + AnalyzeSvgEscape(chart.title) + "</title>\n";
    out += AnalyzeSvgText(left + w / 2, 20, chart.title, "middle", 13);
    out += AnalyzeSvgPanel(left, top, w, h);
    out += AnalyzeSvgValueGrid(y0, y1, 6, left, w, Y);
    if (chart.logX) {
        out += AnalyzeSvgLogFrequencyGrid(x0, x1, top, h, X, true);
    } else {
        const double step = AnalyzeSvgTickStep(x1 - x0, 8);
        for (double x = std::ceil(x0 / step) * step; x <= x1 + 1e-9 * step; x += step) {
            out += AnalyzeSvgLine(X(x), top, X(x), top + h, "stroke=\"#ececec\"");
            out += AnalyzeSvgText(X(x), top + h + 16, AnalyzeSvgLabel(x), "middle", 10);
        }
    }
    out += AnalyzeSvgText(left + w / 2, top + h + 36, chart.xTitle, "middle", 11);
    out += "<text x=\"16\" y=\"" + AnalyzeSvgNumber(top + h / 2) +
           "\" font-size=\"11\" text-anchor=\"middle\" " + "transform=\"rotate(-90 16 " +
           AnalyzeSvgNumber(top + h / 2) + ")\">" + AnalyzeSvgEscape(chart.yTitle) + "</text>\n";
    if (!chart.note.empty()) out += AnalyzeSvgText(left + w - 6, top + 14, chart.note, "end", 10);
    double legendY = top + (chart.note.empty() ? 14 : 30);
    for (const AnalyzeChartSeries& s : chart.series) {
        std::string path, dots;
        bool pen = false;
        for (const AnalyzeChartPoint& p : s.points) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || (chart.logX && p.x <= 0)) {
                pen = false;
                continue;
            }
            path += (pen ? " L" : " M") + AnalyzeSvgNumber(X(p.x)) + "," + AnalyzeSvgNumber(Y(p.y));
            pen = true;
            if (s.markers)
                dots += "<circle cx=\"" + AnalyzeSvgNumber(X(p.x)) + "\" cy=\"" + AnalyzeSvgNumber(Y(p.y)) +
                        "\" r=\"3.5\" fill=\"" + s.colour + "\"/>\n";
        }
        if (s.line && !path.empty())
            out += "<path d=\"" + path.substr(1) + "\" fill=\"none\" stroke=\"" + s.colour +
                   "\" stroke-width=\"1.6\" stroke-linejoin=\"round\"/>\n";
        out += dots;
        if (s.label.empty()) continue;
        out += AnalyzeSvgLine(left + w - 150, legendY - 4, left + w - 130, legendY - 4,
                              (std::string("stroke=\"") + s.colour + "\" stroke-width=\"2.5\"").c_str());
        out += AnalyzeSvgText(left + w - 124, legendY, s.label, "start", 10);
        legendY += 15;
    }
    return out + "</svg>\n";
}
