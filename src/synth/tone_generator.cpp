#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "synth/tone.h"
#include "synth/tone_saturate.h"
#include "synth/tone_math.h"

double ToneRampGain(uint32_t length, uint32_t k, double amplitude)
{
    const double x = double(uint64_t(length) + k) / double(uint64_t(length) * 2);
    const double h = 0.42 - 0.5 * ToneCos(x * 6.28318530718);
    return (0.08 * ToneCos(x * 12.56637061436) + h) * amplitude;
}

namespace {

enum class Gain { Sustain, RampUp, RampDown };

// Where the C library can pick a function's version by the processor (glibc
// on x86-64), the loops over a chunk are also built for AVX2: four sines at
// once instead of two. Both versions make the same values, as the same IEEE
// operations on each element, without fused multiply-adds.
#if defined(__x86_64__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

// Samples of one chunk: gains[i] x sin(phases[i]), truncated toward zero.
VECTOR_CLONES void SineChunk(const double* phases, const double* gains, int32_t* v, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        // |x| < 2^31 always (gain <= amplitude), so the conversion truncates safely.
        v[i] = int32_t(ToneSin(phases[i]) * gains[i]);
}

// Fade gains first, first + step, ... of a fade of `length` samples.
VECTOR_CLONES void RampGains(uint32_t length, uint32_t first, int32_t step, double amplitude,
                             double* gains, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        gains[i] = ToneRampGain(length, first + uint32_t(step) * i, amplitude);
}

// The one sample loop behind all six kernels. The plain kernels add every
// value to dcSum, also when only counting; the corrected ones spread the
// fractional DC correction instead.
//
// Samples are made a chunk at a time: first the running phases (a serial
// sum), then the sines, which then have no dependency between them and
// vectorise. The values are those of a sample-by-sample loop.
template <Gain G, bool Corrected>
void Kernel(ToneGenerator& g, int32_t* out, uint32_t count)
{
    constexpr uint32_t CHUNK = 256;
    double phases[CHUNK];
    double gains[CHUNK];
    if constexpr (G == Gain::Sustain)
        std::fill(gains, gains + CHUNK, g.amplitude);
    int32_t scratch[CHUNK];
    double phase = g.phase;
    const double step = g.phaseStep;
    const double amplitude = g.amplitude;
    int64_t sum = 0;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(CHUNK, count - done);
        for (uint32_t i = 0; i < n; ++i) {
            phase += step;
            phases[i] = phase;
        }
        // The ramp-up steps the cursor back before each read, the ramp-down
        // reads and then steps forward.
        if constexpr (G == Gain::RampUp) {
            RampGains(g.rampLength, g.rampCursor - 1, -1, amplitude, gains, n);
            g.rampCursor -= n;
        } else if constexpr (G == Gain::RampDown) {
            RampGains(g.rampLength, g.rampCursor, 1, amplitude, gains, n);
            g.rampCursor += n;
        }
        int32_t* v = out ? out + done : scratch;
        SineChunk(phases, gains, v, n);
        if constexpr (Corrected) {
            for (uint32_t i = 0; i < n; ++i) {
                g.dcFraction += g.dcPerSample;
                if (std::floor(std::fabs(g.dcFraction)) >= 1.0) {
                    double whole;
                    g.dcFraction = std::modf(g.dcFraction, &whole);
                    v[i] = ToneSaturate(int64_t(v[i]) + int64_t(whole));
                }
            }
        } else {
            for (uint32_t i = 0; i < n; ++i)
                sum += v[i];
        }
        done += n;
    }
    g.phase = phase;
    if constexpr (!Corrected)
        g.dcSum += sum;
    if constexpr (G == Gain::RampUp)
        g.rampUpDone += count;
    else if constexpr (G == Gain::RampDown)
        g.rampDownDone += count;
}

}  // namespace

double ToneAmplitude(int32_t bitWidth, uint32_t attenuation)
{
    if (bitWidth == 24)
        return attenuation == 0 ? 8388605.0 : TonePow10((138.4737969699925 - attenuation) / 20);
    if (attenuation == 0)
        return bitWidth == 16 ? 2147352574.0 : 2147483645.0;
    return TonePow10((186.6385973076236 - attenuation) / 20);
}

void ToneBuildRampTable(double* table, uint32_t length, double amplitude)
{
    for (uint32_t k = 0; k < length; ++k)
        table[k] = ToneRampGain(length, k, amplitude);
}

void ToneResetRun(ToneGenerator& g)
{
    g.dcSum = 0;
    g.phase = 0.0;
    g.dcFraction = 0.0;
    g.rampUpDone = 0;
    g.rampDownDone = 0;
    g.blockIndex = 0;
    g.inSustain = 0;
    g.inRampDown = 0;
}

void ToneSustain(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::Sustain, false>(g, out, count); }
void ToneRampUp(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampUp, false>(g, out, count); }
void ToneRampDown(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampDown, false>(g, out, count); }
void ToneSustainCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::Sustain, true>(g, out, count); }
void ToneRampUpCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampUp, true>(g, out, count); }
void ToneRampDownCorrected(ToneGenerator& g, int32_t* out, uint32_t count) { Kernel<Gain::RampDown, true>(g, out, count); }
