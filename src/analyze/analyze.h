#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/stop.h"
#include "analyze/figures.h"
#include "analyze/measure_options.h"
#include "wave/wave_reader.h"

// The analysis behind `calyx-cli analyze`: levels and exact sums of every
// channel, and for a tone the four-parameter sine fit (IEEE 1057), its fades,
// harmonics, SINAD and ENOB. Files are streamed: a few passes over the data,
// memory fixed whatever the file's size.

inline constexpr int ANALYZE_HARMONICS_LAST = 10;  // harmonics 2 to 10
// A count of cycles this near a whole number is whole.
inline constexpr double ANALYZE_WHOLE_CYCLES_TOLERANCE = 0.05;

// The fitted tone: x(n) = a cos(2 pi nu (n - origin)) + b sin(...) + offset.
struct AnalyzeSine {
    double nu = 0.0;  // cycles per sample
    double a = 0.0;
    double b = 0.0;
    double offset = 0.0;
    int64_t origin = 0;
};

struct AnalyzeChannelResult {
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

    // The harmonics' fits and whether they, and the residual, cover a
    // sustained part: what the figures in a band start from.
    bool residualSustained = false;
    std::vector<double> harmonicCos, harmonicSin;
    AnalyzeChannelFigures figures;
};

// How the file meets the layout and promises of Calyx's own files.
struct AnalyzeCalyxChecks {
    bool header = false;    // the designed 140-byte header, consistent sizes
    std::string headerWhy;  // what differs when it is not
    bool wholeCycles = false;
    bool fadesWholeCycles = false;
    bool zeroSum = false;
};

struct AnalyzeFileResult {
    std::string path;
    WaveOpenResult open = WaveOpenResult::CannotOpen;
    WaveInfo info;
    std::vector<AnalyzeChannelResult> channels;
    AnalyzeCalyxChecks calyx;
    // The file as it was opened and analysed, for a picture of it: every read
    // of the file goes through this one opening. Reset it to close the file.
    WaveReader opened;
    AnalyzeMeasurement measurement;
};

// Analyses one file: channels in parallel on up to `threads` threads, then
// the figures in a band (figures.h) as `options` ask. Once stop (if given)
// is requested, the reading ends and the channels not yet measured say so.
AnalyzeFileResult AnalyzeFile(const std::string& path, unsigned threads, const AnalyzeMeasureOptions& options = {},
                              const Stop* stop = nullptr);
