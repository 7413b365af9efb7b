#pragma once

#include "analyze/analyze.h"

// How a file meets the layout and promises of Calyx's own files, from its
// header and its channels' results.
AnalyzeCalyxChecks AnalyzeCalyxCheck(const AnalyzeFileResult& file);
