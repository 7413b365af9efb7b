#pragma once

#include <string>
#include <vector>

#include "analyze/analyze.h"

// The report's tables: every figure the analysis measured, a row per channel;
// a figure that could not be had is a dash with the reason on hover.
std::string AnalyzeHtmlSummaryTable(const std::vector<AnalyzeFileResult>& files);
// The responses measured against a stimulus; empty when there are none.
std::string AnalyzeHtmlResponseTable(const std::vector<AnalyzeFileResult>& files);
