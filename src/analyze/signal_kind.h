#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wave/wave_reader.h"

// What a channel holds when it is not one tone: a sweep, a multitone or two
// tones, told apart by the spectra of a few windows. The single-tone fit and
// checks do not apply to these, so the analysis names the signal instead.
struct AnalyzeSignalKind {
    enum class Kind { Tone, Sweep, Multitone, TwoTone } kind = Kind::Tone;
    std::vector<double> frequencies;  // two tones: both; a sweep: its start and end
    uint32_t tones = 0;               // a multitone's
    std::string description;          // "a sweep from ...", empty for a tone
};

// Looks at the channel; Kind::Tone for one tone, silence or anything else.
AnalyzeSignalKind AnalyzeRecogniseSignal(WaveReader& reader, uint32_t channel, std::vector<double>& buffer);
