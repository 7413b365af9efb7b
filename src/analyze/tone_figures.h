#pragma once

#include "analyze/channel_work.h"
#include "wave/wave_reader.h"

// A fitted tone's figures from its residual: whether the fit found a tone
// at all (long enough, significant, standing out of the noise), its level,
// cycles and whether they are whole, SINAD and ENOB held to what the format
// can carry, the harmonics and THD against the noise. Fills the channel's
// result; leaves toneFound clear, with the reason, when there is no tone.
// One unit of the format at an amplitude: 1 for integers, the spacing of
// floats near it for float samples.
double AnalyzeFormatUnit(const WaveInfo& info, double amp);

void AnalyzeToneFigures(const WaveInfo& info, AnalyzeChannelWork& w, const AnalyzeResidual& residual);
