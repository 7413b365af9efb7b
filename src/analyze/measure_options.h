#pragma once

#include <string>

// What `calyx-cli analyze` is asked to measure beyond the tone itself: the
// band and weighting of THD+N and noise, the frequency that was played, and
// which two-tone intermodulation to measure.

enum class AnalyzeImdMode { Auto, Smpte, Ccif, None };

struct AnalyzeMeasureOptions {
    double bandLowHz = 20.0;  // the AES17 audio band
    double bandHighHz = 20000.0;
    bool bandFull = false;  // everything above DC up to half the rate
    bool weightingA = false;
    double nominalHz = 0.0;  // 0: not given
    AnalyzeImdMode imd = AnalyzeImdMode::Auto;
};

// "LO-HI" in Hz (0 <= LO < HI) or "full". False when the text is neither.
bool AnalyzeParseBand(const std::string& text, AnalyzeMeasureOptions& options);
// "none" or "A".
bool AnalyzeParseWeighting(const std::string& text, AnalyzeMeasureOptions& options);
// "auto", "smpte", "ccif" or "none".
bool AnalyzeParseImd(const std::string& text, AnalyzeMeasureOptions& options);
