#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/channel_work.h"
#include "wave/wave_reader.h"

// Where a channel's tone is: its frequency probed in the middle before the
// first pass, then from the envelope where it is and where it is level, and
// from its fades where it starts, ends and is sustained.

// Before the first pass, the middle of the channel, where a tone is usually
// level: its frequency fitted there, so that the first pass can gather the
// fit's sums as it reads the levels. Nothing when no tone shows there.
void AnalyzeProbe(const WaveReader& file, uint32_t channel, AnalyzeChannelWork& w);

// From the envelope: where the tone is, where it is roughly level, its
// level; then a coarse frequency from the zero crossings there.
void AnalyzeFindTone(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                     AnalyzeChannelWork& w);

// A first fit of a tone that is all fades, under the coarse envelope taken
// over half a cycle (a block of a slow tone holds a slope, not a swing).
bool AnalyzeFitFadeOnly(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                        AnalyzeChannelWork& w);

// The fades at both ends, over the rough envelope's slopes with a margin of
// two blocks and two cycles; they give the tone's start, end and sustained part.
void AnalyzeFindFades(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                      AnalyzeChannelWork& w);

// A tone of fades alone (a few cycles): fitted as a sine under its fades
// over the whole tone, then the fades again with that sine, and so on until
// the frequency stays put.
void AnalyzeFitUnderFades(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                          AnalyzeChannelWork& w);
