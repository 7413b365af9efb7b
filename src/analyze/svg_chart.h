#pragma once

#include <cmath>
#include <string>
#include <vector>

// An x-y chart in the look of the analysis's picture: a framed panel with a
// grid, ticks, axis titles with units, one or more curves and a legend. The
// report draws every response and every set with it.

struct AnalyzeChartPoint {
    double x = 0.0;
    double y = 0.0;
};

struct AnalyzeChartSeries {
    std::string label;  // in the legend; empty: none
    const char* colour = "#4a7ab5";
    std::vector<AnalyzeChartPoint> points;  // non-finite points break the line
    bool markers = false;                   // a dot at each point
    bool line = true;
};

struct AnalyzeChart {
    std::string title;
    std::string xTitle;  // with its unit, e.g. "frequency (Hz)"
    std::string yTitle;
    bool logX = false;
    // The ranges; NaN: from the points (y padded, and to whole ticks).
    double xLow = NAN, xHigh = NAN, yLow = NAN, yHigh = NAN;
    double ySpanMin = 0.0;  // an automatic y range spans at least this
    std::vector<AnalyzeChartSeries> series;
    std::string note;  // a line at the panel's top right
};

// The chart as a whole <svg> element of the given size, without an XML
// declaration (for inline use in HTML).
std::string AnalyzeChartSvg(const AnalyzeChart& chart, double width, double height);
