#pragma once

#include <cstdint>
#include <vector>

// A synchronised exponential sweep recognised from its samples: the
// frequency at time t is f1 e^(t / L) from its start, with f1 L whole.
struct AnalyzeSweepShape {
    bool found = false;
    double f1 = 0.0;  // Hz
    double f2 = 0.0;  // Hz, where the sweep stops
    double lSeconds = 0.0;
    double startFrame = 0.0;  // where its phase is zero
};

// From the rising zero crossings: their rate in groups along the sweep must
// grow exponentially over at least an octave.
AnalyzeSweepShape AnalyzeSweepRecognise(const std::vector<double>& samples, uint32_t rate);
