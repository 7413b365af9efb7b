#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "analyze/response.h"

// A channel's response in the report: JSON `channels[i].response` (null
// without a stimulus) and a few lines of text.
nlohmann::ordered_json AnalyzeResponseJson(const AnalyzeResponse& response);
std::string AnalyzeResponseText(const AnalyzeResponse& response);
