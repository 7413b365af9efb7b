#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "analyze/analyze.h"
#include "analyze/residual.h"
#include "wave/wave_reader.h"

// The fit of a tone with no sustained part, shaped by its fades: x(n) =
// offset + gain(n) (a cos + b sin), over frames [first, first + count) (the
// fit on every stride-th of them), and, when asked, the residual over all.
// Sample by sample: for tones of a few cycles.
bool AnalyzeFitEnveloped(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                         const std::function<double(double)>& gain, double nu0, uint32_t stride,
                         std::vector<double>& buffer, AnalyzeSine& sine, AnalyzeResidual* residual);
