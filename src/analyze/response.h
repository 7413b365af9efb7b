#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/stop.h"

// The response of a recorded channel to the stimulus that was played: what
// `calyx-cli analyze RECORDING --reference STIMULUS` measures.

struct AnalyzeResponsePoint {
    double frequencyHz = 0.0;
    double gainDb = 0.0;    // recording / stimulus: a unity path is 0 dB
    double phaseDeg = 0.0;  // after removing the latency, wrapped to (-180, 180]
    // How far the recording is the stimulus through a linear path here, 0 to
    // 1 (magnitude-squared coherence); NaN where not measured (a sweep).
    double coherence = std::numeric_limits<double>::quiet_NaN();
};

struct AnalyzeLevelPoint {
    double frequencyHz = 0.0;
    double levelDb = 0.0;
};

// Order k's response relative to the linear one at the same excitation frequency.
struct AnalyzeHarmonicCurve {
    int order = 2;
    std::vector<AnalyzeLevelPoint> points;
};

struct AnalyzeResponse {
    std::string kind;                             // "sweep", "multitone" or "other"; empty: not measured
    std::string reason;                           // why not, when kind is empty
    double latencySamples = 0.0;                  // the linear impulse response's main peak, interpolated
    double clockOffsetPpm = 0.0;                  // (f recorded / f played - 1) 10^6
    std::vector<AnalyzeResponsePoint> points;     // 1/24 octave (sweep), each tone (multitone)
    std::vector<AnalyzeHarmonicCurve> harmonics;  // sweep: orders 2 to 5, 1/6 octave
    double tdNDb = 0.0;                           // multitone: between the tones in the band; NaN otherwise
    std::vector<AnalyzeLevelPoint> noiseFloor;    // multitone: per bin between the tones, for the picture
    // The linear impulse response at the recording's rate, gain preserved:
    // impulse[i] is the response at sample impulseFirst + i.
    std::vector<float> impulse;
    int64_t impulseFirst = 0;
    uint32_t rate = 0;
};
