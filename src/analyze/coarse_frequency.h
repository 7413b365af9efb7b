#pragma once

#include <cstdint>
#include <vector>

#include "wave/wave_reader.h"

// A tone's frequency to a few digits, where the fit starts from.

// Zero crossings of the mid level with hysteresis h: their count and the
// first and last of each direction give the frequency in cycles per sample.
bool AnalyzeCrossingFrequency(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                              double mid, double h, std::vector<double>& buffer, double& nu);

// A coarse frequency of frames [first, first + count): the zero crossings of
// its middle (or all of it), and the spectrum's peak where the spectrum's
// window holds enough cycles to resolve them; the crossings are the finer
// estimate where the two agree.
bool AnalyzeCoarseFrequency(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, double mid,
                            double h, std::vector<double>& buffer, double& nu);
