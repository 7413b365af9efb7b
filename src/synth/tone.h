#pragma once

#include <cstdint>
#include <memory>

#include "base/stop.h"
#include "synth/block_frames.h"
#include "synth/exact_float.h"
#include "synth/exact_phase.h"
#include "synth/tone_phase.h"

// Peaks at 0 dB sit just below full scale (the 16-bit peak leaves room for the dither).
inline constexpr double PEAK_0DB_16 = 2147352574.0;  // 32766 x 65536 - 2
inline constexpr double PEAK_0DB_24 = 8388605.0;     // 2^23 - 3
inline constexpr double PEAK_0DB_32 = 2147483645.0;  // 2^31 - 3
// 20 log10(2^31 - 1) and 20 log10(2^23 - 1): the attenuated peak is 10^((C - A) / 20).
inline constexpr double FULL_SCALE_DB_32 = 186.6385973076236;
inline constexpr double FULL_SCALE_DB_24 = 138.4737969699925;

// Each ramp covers the fewest whole cycles lasting more than this, at most half the tone.
inline constexpr double RAMP_MIN_SECONDS = 0.01;
// The longest repeating sustain an exact-phase tone keeps (4 bytes a sample).
inline constexpr uint32_t EXACT_PERIOD_MAX = 1u << 20;
// Tones up to this long get a dry run, and with it a DC sum cancelled to zero.
inline constexpr double DC_CANCEL_MAX_SECONDS = 10.0;
// A fractional correction left over at the last sample counts as a unit from 0.9 on.
inline constexpr double FINAL_FRACTION_ROUNDING = 0.1;

// One sine tone: its plan, fixed once planned, and the state of one run
// through it. A tone is a ramp-up of rampLength samples, a sustain and a
// ramp-down of rampLength samples; a run makes them in order, from any split
// of counts, and the same plan always gives the same samples.
struct ToneGenerator {
    struct Plan {
        uint32_t rampLength = 0;
        uint32_t tailFrames = 0;     // where the ramp-down starts inside its block
        uint32_t sustainBlocks = 0;  // the block where the ramp-down starts (not a count of sustain blocks)
        uint32_t blockCount = 0;     // blocks the tone fills, the last one padded with zeros
        uint32_t fullSustainBlocks = 0;  // blocks of sustain alone: they bound the unit corrections
        double amplitude = 0.0;
        double phaseStep = 0.0;
        int32_t dcSteps = 0;       // unit corrections, signed by their direction
        double dcPerSample = 0.0;  // or a fraction added to every sample
        uint8_t fractionalDc = 0;
        TonePhaseTable phases;  // the phase of any sample, without the sums before it
        // Exact phase: each sample's sine from its index (the running phase's
        // sample n stands at n + 1 steps, and so does this one's).
        uint8_t exactPhase = 0;
        ToneExactPhase exact;
        // A tone whose exact sustain repeats within EXACT_PERIOD_MAX samples
        // keeps one period of it; the sustain is then copied. Shared, read only.
        std::shared_ptr<const int32_t[]> sustainPeriod;
        uint32_t sustainPeriodLength = 0;
    };
    struct Run {
        uint32_t position = 0;  // samples made so far
        double phase = 0.0;     // grows without bound; never reduced modulo 2 pi
        int64_t dcSum = 0;      // of the plain kernels' values; 64 bits, since a full-level sum leaves 32
        int32_t dcSteps = 0;    // units still to apply
        double dcFraction = 0.0;
    };
    Plan plan;
    Run run;
    uint8_t planned = 0;
};

inline uint32_t ToneRampDownStart(const ToneGenerator::Plan& p)
{
    return p.sustainBlocks * BLOCK_FRAMES + p.tailFrames;
}
inline uint32_t ToneTotalSamples(const ToneGenerator::Plan& p) { return ToneRampDownStart(p) + p.rampLength; }

double ToneAmplitude(int32_t bitWidth, uint32_t attenuation);
// Gain k of a ramp of `length` samples: the falling half of a Blackman window
// of 2 x length, times the amplitude. Gain 0 is the full gain.
double ToneRampGain(uint32_t length, uint32_t k, double amplitude);
// A new run from the start of the tone.
void ToneResetRun(ToneGenerator& g);

// Kernels: count samples of one section from the run's position on. A null
// output makes the plain kernels count only: every step but the store, so
// the values (and dcSum) are those of a writing pass. The corrected kernels
// add the fractional DC correction instead of summing.
void ToneSustain(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampUp(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampDown(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneSustainCorrected(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampUpCorrected(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampDownCorrected(ToneGenerator& g, int32_t* out, uint32_t count);

// The next count samples of the tone, across its sections, with the kernels
// the plan calls for; count-only with a null output.
void ToneMake(ToneGenerator& g, int32_t* out, uint32_t count);

// Leaves g.planned clear when the request cannot be planned, or when the
// stop (the job's, when given) is requested during its dry run.
// exactPhase: each sample's phase from its index (ToneExactPhase) instead of
// the running sum; the layout, fades and corrections are the same.
void TonePlan(ToneGenerator& g, uint32_t attenuation, int32_t bitWidth, double sampleRate, double frequency,
              double duration, const Stop* stop = nullptr, bool exactPhase = false);

// Whether TonePlan plans this request: its layout alone, without the dry run,
// so it costs next to nothing.
bool TonePlanFits(uint32_t attenuation, int32_t bitWidth, double sampleRate, double frequency,
                  double duration);

// How planning cancels a measured sum: nothing, units, or a fraction per sample.
void ToneChooseCorrection(ToneGenerator::Plan& plan, int64_t dcSum);

// Sets the run to where it stands after `position` samples (a block's first
// sample), as if they had been made, for a plan whose state there can be
// known without making them: one with a phase table (or exact phase) and no
// fractional correction. False, and the run undefined, for any other.
bool ToneSeek(ToneGenerator& g, uint32_t position);

// Fills primary with the next BLOCK_FRAMES samples (zeros after the tone's
// end) and, when secondary is given, copies them there. The block with the
// tone's last sample clears g.planned: the plan is used up.
void ToneRenderBlock(ToneGenerator& g, int32_t* primary, int32_t* secondary);
