#include "analyze/svg.h"

#include <cmath>
#include <cstdio>

std::string AnalyzeSvgNumber(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return std::string(text) == "-0.0" ? "0.0" : text;
}

std::string AnalyzeSvgEscape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string AnalyzeSvgText(double x, double y, const std::string& s, const char* anchor, int size)
{
    return "<text x=\"" + AnalyzeSvgNumber(x) + "\" y=\"" + AnalyzeSvgNumber(y) + "\" font-size=\"" +
           std::to_string(size) + "\" text-anchor=\"" + anchor + "\">" + AnalyzeSvgEscape(s) + "</text>\n";
}

std::string AnalyzeSvgLine(double x0, double y0, double x1, double y1, const char* style)
{
    return "<line x1=\"" + AnalyzeSvgNumber(x0) + "\" y1=\"" + AnalyzeSvgNumber(y0) + "\" x2=\"" +
           AnalyzeSvgNumber(x1) + "\" y2=\"" + AnalyzeSvgNumber(y1) + "\" " + style + "/>\n";
}

std::string AnalyzeSvgPanel(double left, double top, double width, double height)
{
    return "<rect x=\"" + AnalyzeSvgNumber(left) + "\" y=\"" + AnalyzeSvgNumber(top) + "\" width=\"" +
           AnalyzeSvgNumber(width) + "\" height=\"" + AnalyzeSvgNumber(height) +
           "\" fill=\"#fbfbfb\" stroke=\"#888\"/>\n";
}

double AnalyzeSvgTickStep(double range, int ticks)
{
    const double raw = range / ticks;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / p;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p;
}

std::string AnalyzeSvgLabel(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return text;
}

std::string AnalyzeSvgValueGrid(double low, double high, int ticks, double left, double width,
                                const std::function<double(double)>& y)
{
    std::string out;
    const double step = AnalyzeSvgTickStep(high - low, ticks);
    for (double v = std::ceil(low / step) * step; v <= high + 1e-9; v += step) {
        out += AnalyzeSvgLine(left, y(v), left + width, y(v), "stroke=\"#e2e2e2\"");
        out += AnalyzeSvgText(left - 5, y(v) + 4, AnalyzeSvgLabel(v), "end", 10);
    }
    return out;
}

std::string AnalyzeSvgLogFrequencyGrid(double f0, double f1, double top, double h,
                                       const std::function<double(double)>& x, bool fromBelow)
{
    std::string out;
    const double first = fromBelow ? std::floor(std::log10(f0)) : std::ceil(std::log10(f0));
    for (double decade = std::pow(10.0, first); decade <= f1; decade *= 10) {
        for (int m = 1; m < 10 && m * decade <= f1; ++m) {
            if (m * decade < f0) continue;
            const double at = x(m * decade);
            out += AnalyzeSvgLine(at, top, at, top + h, m == 1 ? "stroke=\"#d8d8d8\"" : "stroke=\"#f0f0f0\"");
            if (m == 1 || m == 2 || m == 5)
                out += AnalyzeSvgText(at, top + h + 16,
                                      decade * m >= 1000 ? AnalyzeSvgLabel(decade * m / 1000) + "k"
                                                         : AnalyzeSvgLabel(decade * m),
                                      "middle", 10);
        }
    }
    return out;
}
