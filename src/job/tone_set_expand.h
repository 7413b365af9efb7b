#pragma once

#include <string>
#include <vector>

#include "job/tone_set.h"

// Expands the options into members, in the order rate, frequency,
// attenuation, duration, bit width (the last varying fastest), named by the
// pattern (or by a default that names every option with more than one
// value) in outDir. currentDir gives a single request its default path.
// Returns an empty text, or what is wrong with the options (among them a
// folder with an absolute pattern, and a set sent to standard output).
std::string ToneSetExpand(const ToneSetOptions& options, const std::string& currentDir,
                          std::vector<ToneSetMember>& members);
