#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wave/wave_reader.h"

// The analysis behind `calyx-cli analyze`: levels and exact sums of every
// channel, and for a tone the four-parameter sine fit (IEEE 1057), its fades,
// harmonics, SINAD and ENOB. Files are streamed: a few passes over the data,
// memory fixed whatever the file's size.

inline constexpr int ANALYZE_HARMONICS_LAST = 10;  // harmonics 2 to 10

// The fitted tone: x(n) = a cos(2 pi nu (n - origin)) + b sin(...) + offset.
struct AnalyzeSine {
    double nu = 0.0;  // cycles per sample
    double a = 0.0;
    double b = 0.0;
    double offset = 0.0;
    int64_t origin = 0;
};

struct ChannelAnalysis {
    // Levels of the whole channel, as stats tools report them.
    bool integerSum = true;
    int64_t sum = 0;        // integer PCM: exact
    double sumFloat = 0.0;  // float: compensated
    double peakDbfs = 0.0;  // -inf for a silent channel
    double rmsDbfs = 0.0;

    bool toneFound = false;
    std::string noToneReason;
    AnalyzeSine sine;
    double frequencyHz = 0.0;
    double levelDbfs = 0.0;
    double toneStart = 0.0;  // frames; a fade's start is where its envelope is zero
    double toneEnd = 0.0;
    double cycles = 0.0;
    bool wholeCycles = false;
    double fadeInFrames = 0.0;  // 0: the tone starts at full level
    double fadeOutFrames = 0.0;
    const char* fadeInShape = "";
    const char* fadeOutShape = "";
    uint64_t sustainFirst = 0;  // the part that the fit and the residual cover
    uint64_t sustainFrames = 0;
    double sinadDb = 0.0;
    double enobBits = 0.0;
    bool hasThd = false;  // false when no harmonic lies below half the rate
    double thdDb = 0.0;
    std::vector<double> harmonicsDb;  // harmonics 2, 3, ... below half the rate
};

// How the file meets the layout and promises of Calyx's own files.
struct CalyxChecks {
    bool header = false;    // the designed 140-byte header, consistent sizes
    std::string headerWhy;  // what differs when it is not
    bool wholeCycles = false;
    bool fadesWholeCycles = false;
    bool zeroSum = false;
};

struct FileAnalysis {
    std::string path;
    WaveOpenResult open = WaveOpenResult::CannotOpen;
    WaveInfo info;
    std::vector<ChannelAnalysis> channels;
    CalyxChecks calyx;
};

// Analyses one file: channels in parallel on up to `threads` threads.
FileAnalysis AnalyzeFile(const std::string& path, unsigned threads);

// For the picture: the frames [first, first + count) of one channel, as
// min/max pairs of at most `columns` columns. Empty on a read error.
struct AnalyzeTrace {
    uint64_t first = 0;
    uint64_t count = 0;
    std::vector<double> low;
    std::vector<double> high;
};
AnalyzeTrace AnalyzeReadTrace(const std::string& path, uint32_t channel, uint64_t first, uint64_t count,
                              uint32_t columns);

// For the picture: the spectrum of the fit's residual over up to 65536 frames
// from the middle of the sustained part, Blackman-Harris windowed, as dB
// relative to full scale per bin (a sine of amplitude A shows at its level).
struct AnalyzeSpectrum {
    double binHz = 0.0;
    std::vector<double> db;  // bins 0 ... n/2
};
AnalyzeSpectrum AnalyzeResidualSpectrum(const std::string& path, uint32_t channel,
                                        const ChannelAnalysis& result);

// The fade gain of a named shape at u in [0, 1] (0 silent, 1 full).
double AnalyzeFadeGain(const char* shape, double u);
