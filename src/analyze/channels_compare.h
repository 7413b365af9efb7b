#pragma once

#include <cstdint>
#include <string>

#include "analyze/analyze.h"

// Channels against each other: gain and phase at one frequency, and the
// level one channel's tone leaves in another.

// Channel `other` against `reference`, both fitted at (nearly) the same
// frequency: the gain 20 log10(A_other / A_reference) in dB, and the phase
// by which `other` leads, in degrees wrapped to (-180, 180], both taken at
// the middle of the frames the two sustained parts share. False when the
// two are not one frequency or share no frames.
bool AnalyzeGainPhase(const AnalyzeChannelResult& reference, const AnalyzeChannelResult& other,
                      double& gainDb, double& phaseDeg);

// The amplitude of the sinusoid at exactly `nu` cycles per sample in frames
// [first, first + count) of a channel: a least-squares fit of a cos, b sin
// and an offset. False when the frames cannot be read or are too few.
bool AnalyzeAmplitudeAt(const WaveReader& file, uint32_t channel, uint64_t first, uint64_t count, double nu,
                        double& amplitude);
