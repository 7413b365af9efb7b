#pragma once

#include <functional>
#include <string>

// The pieces every SVG picture of the analysis is drawn with, so that the
// picture and the HTML report look alike.

// A coordinate to one decimal; never "-0.0".
std::string AnalyzeSvgNumber(double v);
// Text for SVG or HTML: < > & and " as entities.
std::string AnalyzeSvgEscape(const std::string& s);
std::string AnalyzeSvgText(double x, double y, const std::string& s, const char* anchor = "start",
                           int size = 12);
std::string AnalyzeSvgLine(double x0, double y0, double x1, double y1, const char* style);
// A panel's background and frame.
std::string AnalyzeSvgPanel(double left, double top, double width, double height);
// A "nice" tick step for a range: 1, 2 or 5 times a power of ten.
double AnalyzeSvgTickStep(double range, int ticks);
// A tick's label: %g, zero for anything within 1e-12 of it.
std::string AnalyzeSvgLabel(double v);
// Horizontal grid lines and their labels at the left, about `ticks` steps
// from low to high.
std::string AnalyzeSvgValueGrid(double low, double high, int ticks, double left, double width,
                                const std::function<double(double)>& y);
// Vertical grid lines at 1 to 9 times each decade from f0 to f1, labelled at
// 1, 2 and 5 ("1k" from 1000), below a panel of height h. From the decade
// at or above f0; `fromBelow`: from the first multiple at or above it.
std::string AnalyzeSvgLogFrequencyGrid(double f0, double f1, double top, double h,
                                       const std::function<double(double)>& x, bool fromBelow = false);
