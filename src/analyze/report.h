#pragma once

#include <string>
#include <vector>

#include "analyze/analyze.h"

// The analysis as text for a person, and as JSON with fixed keys for scripts.

std::string AnalyzeReportText(const AnalyzeFileResult& file);

// One object for one file, an array for several; ends with a newline.
std::string AnalyzeReportJsonDocument(const std::vector<AnalyzeFileResult>& files);
