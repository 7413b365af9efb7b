#pragma once

#include <string>

// A file name as every report shows it: control characters and bytes that are
// not UTF-8 become \xNN, so that a name can neither break the SVG or JSON it
// is put in nor move a terminal's cursor; everything else stays as it is.
std::string AnalyzeNameText(const std::string& name);
