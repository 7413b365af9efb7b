#pragma once

#include <string>
#include <vector>

#include "analyze/analyze.h"

// The HTML report: one self-contained page (inline SVG and CSS, nothing
// fetched, no script) for one file or many.

// One file's pictures: each response's charts, and the picture of the first
// channel with a tone (its spectrum with the harmonics and the band). Reads
// the file through file.opened, so it is made while the file is open.
std::string AnalyzeHtmlFileSection(const AnalyzeFileResult& file, size_t index);

// The page: the tables of every figure, the charts across sets of tone files,
// then each file's section as AnalyzeHtmlFileSection made it.
std::string AnalyzeHtmlPage(const std::vector<AnalyzeFileResult>& files,
                            const std::vector<std::string>& sections);
