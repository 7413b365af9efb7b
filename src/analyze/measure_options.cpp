// The measurement's options as the command line gives them.

#include "analyze/measure_options.h"

#include <cmath>
#include <cstdlib>

namespace {

// A whole plain decimal number: digits with at most one point.
bool ParseHz(const std::string& text, double& hz)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    hz = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(hz);
}

}  // namespace

bool AnalyzeParseBand(const std::string& text, AnalyzeMeasureOptions& options)
{
    if (text == "full") {
        options.bandFull = true;
        return true;
    }
    const size_t dash = text.find('-');
    double low = 0, high = 0;
    if (dash == std::string::npos || !ParseHz(text.substr(0, dash), low) ||
        !ParseHz(text.substr(dash + 1), high) || !(high > low))
        return false;
    options.bandFull = false;
    options.bandLowHz = low;
    options.bandHighHz = high;
    return true;
}

bool AnalyzeParseWeighting(const std::string& text, AnalyzeMeasureOptions& options)
{
    if (text != "none" && text != "A") return false;
    options.weightingA = text == "A";
    return true;
}

bool AnalyzeParseImd(const std::string& text, AnalyzeMeasureOptions& options)
{
    if (text == "auto")
        options.imd = AnalyzeImdMode::Auto;
    else if (text == "smpte")
        options.imd = AnalyzeImdMode::Smpte;
    else if (text == "ccif")
        options.imd = AnalyzeImdMode::Ccif;
    else if (text == "none")
        options.imd = AnalyzeImdMode::None;
    else
        return false;
    return true;
}
