#pragma once

#include <cstdint>
#include <memory>

// Tones that loop: each on a whole number of cycles of one period of
// `period` frames (bins rate / period apart), summed once into a period
// buffer. The file is `periods` whole periods; the first fades in and the
// last fades out with Blackman halves over one period each, every period
// between them is the buffer itself, and for files up to
// DC_CANCEL_MAX_SECONDS the sum of all samples is cancelled to exactly 0 by
// unit corrections spread evenly over the two faded periods.

inline constexpr uint32_t TONE_MULTITONE_MAX = 64;

// ISO 266 nominal frequencies, 20 Hz ... 20 kHz.
inline constexpr double TONE_THIRD_OCTAVES[] = {
    20,  25,   31.5, 40,   50,   63,   80,   100,  125,  160,  200,  250,   315,   400,   500,  630,
    800, 1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};
inline constexpr double TONE_OCTAVES[] = {31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

// Two-tone intermodulation signals: frequencies and relative amplitudes.
struct ToneTwoTone {
    double frequencies[2];
    double amplitudes[2];
};
inline constexpr ToneTwoTone TONE_SMPTE = {{60.0, 7000.0}, {4.0, 1.0}};     // SMPTE RP120 / DIN 45403
inline constexpr ToneTwoTone TONE_CCIF = {{19000.0, 20000.0}, {1.0, 1.0}};  // difference frequency

struct ToneMultitone {
    uint32_t rate = 0;
    uint32_t period = 0;   // frames
    uint32_t periods = 0;  // in the file
    uint32_t count = 0;    // tones
    uint32_t bins[TONE_MULTITONE_MAX] = {};
    double amplitudes[TONE_MULTITONE_MAX] = {};  // relative
    double amplitude = 0.0;                      // of the period's peak
    double crestFactorDb = 0.0;                  // peak over RMS of the period
    int64_t correction = 0;                      // units added over the faded periods
    std::unique_ptr<double[]> shape;             // the period over its peak: in [-1, 1]
    std::unique_ptr<int32_t[]> samples;          // shape x amplitude, truncated toward zero
    std::unique_ptr<int32_t[]> faded;            // the first and last periods, corrections in
    char refusal[160] = {};
};

// Plans `count` tones at `frequencies` with relative `amplitudes` (null: all
// equal), each moved to its nearest bin, the peak at `amplitude`, lasting at
// least `seconds` (and 4 periods). False, with the reason in p.refusal, when
// a tone is outside the bins above 0 and below half the period, two tones
// share a bin, the file outgrows 32-bit counts or memory runs out.
// The refusals and layout of ToneMultitonePlan alone (bins, periods), without
// the phase search: cheap, for checking a request before any file is made.
bool ToneMultitoneLayout(ToneMultitone& p, const double* frequencies, const double* amplitudes,
                         uint32_t count, uint32_t rate, uint32_t period, double seconds, double amplitude);

bool ToneMultitonePlan(ToneMultitone& p, const double* frequencies, const double* amplitudes, uint32_t count,
                       uint32_t rate, uint32_t period, double seconds, double amplitude);

// A tone's actual frequency: its bin times rate / period.
inline double ToneMultitoneFrequency(const ToneMultitone& p, uint32_t tone)
{
    return double(p.bins[tone]) * double(p.rate) / double(p.period);
}

inline uint32_t ToneMultitoneFrames(const ToneMultitone& p) { return p.periods * p.period; }

// Samples first ... first + count - 1 of the file (zeros past its end); the
// same values however a range is split.
void ToneMultitoneMake(const ToneMultitone& p, uint32_t first, uint32_t count, int32_t* out);
