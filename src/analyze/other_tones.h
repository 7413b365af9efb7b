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

// What to look for.
struct AnalyzeComponentOptions {
    size_t most = 2;
    // Taken from the samples first (a slow tone, a fraction of a cycle in
    // the window, would leak far into the spectrum).
    const AnalyzeSine* remove = nullptr;
    double minAmplitude = 0.0;      // in sample units
    std::vector<double> exclude;    // frequencies (cycles per sample) whose main lobes are skipped
    uint32_t windowFrames = 32768;  // the spectrum's length at most, a power of two
};

// The components of frames [first, first + count): the peaks of a 4-term
// Blackman-Harris spectrum of up to windowFrames from the middle that stand
// 20 dB above its median bin (the noise floor) and within 90 dB of the
// strongest (its side lobes lie below), strongest first. Each at its peak's
// frequency refined between bins, its amplitude the window's estimate
// there. Empty when the frames cannot be read or are too few (fewer than 64).
std::vector<AnalyzeComponent> AnalyzeComponents(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, const AnalyzeComponentOptions& options);

// The components beside a fitted tone (taken from the samples first), its
// harmonics 2 to 10 (where they fold to below half the rate) and DC, of at
// least minAmplitude: at most `most`.
std::vector<AnalyzeComponent> AnalyzeOtherTones(WaveReader& reader, uint32_t channel, uint64_t first,
                                                uint64_t count, const AnalyzeSine& sine, size_t most,
                                                double minAmplitude);
