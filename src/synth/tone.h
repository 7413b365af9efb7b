#pragma once

#include <cstdint>

inline constexpr uint32_t BLOCK_FRAMES = 512;

// One sine tone: its plan, its running state and its DC correction.
struct ToneGenerator {
    uint8_t planned = 0;
    int64_t dcSum = 0;  // 64 bits: a short full-level tone's true sum leaves 32 bits
    int32_t dcSteps = 0;
    uint32_t rampLength = 0;
    uint32_t tailFrames = 0;
    uint32_t sustainBlocks = 0;
    uint32_t blockIndex = 0;
    uint32_t rampDownDone = 0;
    uint32_t rampUpDone = 0;
    uint32_t blockCount = 0;
    uint32_t blockFrames = BLOCK_FRAMES;
    // Position in the ramp's gains, 0 ... rampLength. The gains are computed
    // where they are used rather than stored, so that no buffer grows with
    // the tone: a 2 Hz tone at 768 kHz has a ramp of 384000 samples.
    uint32_t rampCursor = 0;
    double dcPerSample = 0.0;
    double dcFraction = 0.0;
    double phaseStep = 0.0;
    double amplitude = 0.0;
    double phase = 0.0;
    double sampleRate = 0.0;
    uint8_t inSustain = 0;
    uint8_t inRampDown = 0;
    uint8_t fractionalDc = 0;
    // Kept from planning: it bounds how many unit corrections the tone can take.
    uint32_t fullSustainBlocks = 0;
};

double ToneAmplitude(int32_t bitWidth, uint32_t attenuation);
// Gain k of a fade of `length` samples: the falling half of a Blackman window
// of 2 x length, times the amplitude. Entry 0 is the full gain.
double ToneRampGain(uint32_t length, uint32_t k, double amplitude);
void ToneBuildRampTable(double* table, uint32_t length, double amplitude);
void ToneResetRun(ToneGenerator& g);

// Kernels. A null output makes the plain kernels count only: every step but
// the store, so the values (and dcSum) are those of a writing pass.
void ToneSustain(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampUp(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampDown(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneSustainCorrected(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampUpCorrected(ToneGenerator& g, int32_t* out, uint32_t count);
void ToneRampDownCorrected(ToneGenerator& g, int32_t* out, uint32_t count);

// Leaves g.planned clear when the request cannot be planned.
void TonePlan(ToneGenerator& g, uint32_t attenuation, int32_t bitWidth,
              double sampleRate, double frequency, double duration);

// How planning cancels a measured sum: nothing, units, or a fraction per sample.
void ToneChooseCorrection(ToneGenerator& g, int64_t dcSum);

// Renders the tone block by block; used only by ToneRenderBlock.
void ToneRenderSustain(ToneGenerator& g, int32_t* block, uint32_t start, uint32_t count);
bool ToneRenderRampDown(ToneGenerator& g, int32_t* block, uint32_t start, uint32_t count);

// Fills primary with the next blockFrames samples (zeros after the tone's end)
// and, when secondary is given, copies them there.
void ToneRenderBlock(ToneGenerator& g, int32_t* primary, int32_t* secondary);
