#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/stop.h"
#include "analyze/figures.h"
#include "analyze/measure_options.h"
#include "analyze/response.h"
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

struct AnalyzeChannelResult {
    // Levels of the whole channel, as stats tools report them.
    bool integerSum = true;
    int64_t sum = 0;        // integer PCM: exact
    double sumFloat = 0.0;  // float: compensated
    double peakDbfs = 0.0;  // -inf for a silent channel
    double rmsDbfs = 0.0;

    uint64_t nonFiniteSamples = 0;  // float samples that are NaN or infinite: left out of the levels

    bool toneFound = false;
    std::string noToneReason;
    bool notOneTone = false;   // named a sweep or a multitone: neither fitted nor measured for IMD
    bool fitConverged = true;  // false: the fit stopped at its bound of rounds
    AnalyzeSine sine;
    double frequencyHz = 0.0;
    double levelDbfs = 0.0;
    double toneStart = 0.0;  // frames; a fade's start is where its envelope is zero
    double toneEnd = 0.0;
    double cycles = 0.0;
    // What the cycles and the fades can be known to: the fit's own standard
    // deviation over the span, and the sampling grid the ends lie on (each
    // end is placed within a sample).
    double cyclesUncertainty = 0.0;
    double fadeUncertainty = 0.0;  // the same for a fade's length, in cycles
    bool wholeCycles = false;
    bool fadeInFound = true;  // false: the tone's start could be neither a fade nor an edge
    bool fadeOutFound = true;
    double fadeInFrames = 0.0;  // 0: the tone starts at full level
    double fadeOutFrames = 0.0;
    const char* fadeInShape = "";
    const char* fadeOutShape = "";
    uint64_t sustainFirst = 0;  // the part that the fit and the residual cover
    uint64_t sustainFrames = 0;
    double sinadDb = 0.0;
    double residualMeanSquare = 0.0;  // the fit's residual power, from which SINAD is taken
    double enobBits = 0.0;
    // The SINAD an ideal quantiser of the format allows at this level (the
    // error of rounding to one unit, unit^2 / 12); above it the error was
    // below one unit. Where the error is far below (nothing left to
    // measure), SINAD and ENOB are this limit, as a lower bound.
    double quantisationLimitDb = 0.0;
    bool errorBelowOneUnit = false;
    bool hasThd = false;              // false when no harmonic lies below half the rate
    double thdDb = 0.0;               // NaN: below the noise
    std::vector<double> harmonicsDb;  // harmonics 2, 3, ... below half the rate; NaN below the noise
    // A harmonic's level relative to the fundamental that the residual's
    // noise alone reaches (three standard deviations of a harmonic's fit):
    // below it a harmonic or THD is "below the noise".
    double noiseLimitDb = 0.0;
    struct Component {
        double frequencyHz = 0.0;
        double levelDbfs = 0.0;
    };
    std::vector<Component> otherTones;  // other sines standing out of the residual, strongest first

    // The harmonics' fits and whether they, and the residual, cover a
    // sustained part: what the figures in a band start from.
    bool residualSustained = false;
    std::vector<double> harmonicCos, harmonicSin;
    AnalyzeChannelFigures figures;
    // Against a stimulus (--reference); kind empty without one.
    AnalyzeResponse response;
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
AnalyzeFileResult AnalyzeFile(const std::string& path, unsigned threads,
                              const AnalyzeMeasureOptions& options = {}, const Stop* stop = nullptr);
