#pragma once

#include <cstdint>
#include <vector>

#include "analyze/analyze.h"
#include "wave/wave_reader.h"

// A tone's fades, found from their shape, and its edges where it has none.

// A fade fitted to frames [first, first + count): for a fade-in, the frame
// where its envelope is zero (start) and where it reaches full level (full);
// for a fade-out the same seen backwards (start after full).
struct AnalyzeFade {
    double start = 0.0;
    double full = 0.0;
    const char* shape = "";
    bool found = false;
    // In frames squared, from the fit's own residual.
    double startVariance = 0.0;
    double fullVariance = 0.0;
};
// A hint (a fade found before) is refined in its own shape only.
AnalyzeFade AnalyzeFitFade(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                           const AnalyzeSine& sine, bool fadeOut, std::vector<double>& buffer,
                           const AnalyzeFade* hint = nullptr);

// Where a tone starts or ends at full level within frames [first, first +
// count): the first frame of the tone, or one past its last.
double AnalyzeFindEdge(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count,
                       const AnalyzeSine& sine, bool end, std::vector<double>& buffer);

// The fade gain of a named shape at u in [0, 1] (0 silent, 1 full).
double AnalyzeFadeGain(const char* shape, double u);
// Where a fade of that shape reaches the gain g, as u in [0, 1]: for g the
// share of its amplitude that one unit of the format is, the part of the
// fade that rounding hides, where no sample can show where it starts.
double AnalyzeFadeReach(const char* shape, double g);
