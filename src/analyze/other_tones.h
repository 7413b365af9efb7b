#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analyze/analyze.h"
#include "wave/wave_reader.h"

// The sine components of a stretch of one channel, for whatever measures
// more than one tone (other tones beside the fundamental, two-tone
// intermodulation).

struct AnalyzeComponent {
    double nu = 0.0;         // cycles per sample
    double amplitude = 0.0;  // in sample units
};

// The components of frames [first, first + count): the peaks of a 4-term
// Blackman-Harris spectrum of up to 32768 frames from the middle that stand
// 20 dB above its median bin (the noise floor) and within 90 dB of the
// strongest (its side lobes lie below), strongest first, at most `most`.
// Each at its peak's frequency refined between bins, its amplitude the
// window's estimate there. Empty when the frames cannot be read or are too
// few (fewer than 64). With `remove`, that fitted sine (and its offset) is
// taken from the samples first: a slow tone, a fraction of a cycle in the
// window, would leak far into the spectrum.
std::vector<AnalyzeComponent> AnalyzeComponents(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, size_t most,
                                                const AnalyzeSine* remove = nullptr);

// The components beside a fitted tone (taken from the samples first), its
// harmonics 2 to 10 (where they fold to below half the rate) and DC: at
// most `most`.
std::vector<AnalyzeComponent> AnalyzeOtherTones(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, const AnalyzeSine& sine, size_t most);
