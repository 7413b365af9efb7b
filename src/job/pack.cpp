#include "job/pack.h"

#include "base/vector_clones.h"
#include "synth/block_frames.h"
#include "wave/wave_format.h"

namespace {

constexpr int32_t MIN_24 = -8388608;
constexpr int32_t MAX_24 = 8388607;

// A DC-corrected tone at 0 dB can land just outside the 24-bit range; keeping
// only the low 24 bits of such a sample would flip its sign.
int32_t Saturate24(int32_t x) { return x < MIN_24 ? MIN_24 : x > MAX_24 ? MAX_24 : x; }

}  // namespace

namespace {

constexpr uint32_t RANDOM_MUL = 1103515245u;
constexpr uint32_t RANDOM_ADD = 12345u;

}  // namespace

int32_t DitherRandom::Next()
{
    state = state * RANDOM_MUL + RANDOM_ADD;
    return static_cast<int32_t>((state >> 16) & 0x7FFF);
}

// Each draw is the map x -> a x + c modulo 2^32; n draws are its n-th power,
// built from its squares.
void DitherSkip(DitherRandom& random, uint64_t draws)
{
    uint32_t mul = 1, add = 0;
    uint32_t powerMul = RANDOM_MUL, powerAdd = RANDOM_ADD;
    for (; draws != 0; draws >>= 1) {
        if (draws & 1) {
            add = add * powerMul + powerAdd;
            mul *= powerMul;
        }
        powerAdd = powerAdd * powerMul + powerAdd;
        powerMul *= powerMul;
    }
    random.state = random.state * mul + add;
}

int32_t DitherSample(int32_t x, int32_t r1, int32_t r2)
{
    // In 64 bits: |x| reaches 2^31 for the most negative sample.
    const int64_t magnitude = x >= 0 ? int64_t{x} : -int64_t{x};
    const int64_t y = (magnitude + r1 + r2) >> 16;
    const int64_t value = x >= 0 ? y : -y;
    return static_cast<int32_t>(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
}

void DitherBlock(int32_t* primary, int32_t* secondary, DitherRandom& random)
{
    for (uint32_t i = 0; i < BLOCK_FRAMES; ++i) {
        int32_t r1 = random.Next();
        int32_t r2 = random.Next();
        primary[i] = DitherSample(primary[i], r1, r2);
        r1 = random.Next();
        r2 = random.Next();
        secondary[i] = DitherSample(secondary[i], r1, r2);
    }
}

// The frames are built in 64-bit words where a frame fills one or two of
// them; __restrict tells the compiler that the output bytes do not overlap
// the samples, so that the loops vectorise (also for AVX2, where available).
VECTOR_CLONES uint32_t PackBlock(int32_t bitWidth, const int32_t* __restrict primary,
                                 const int32_t* __restrict secondary, uint8_t* __restrict out)
{
    switch (bitWidth) {
        case 16:
            for (uint32_t i = 0; i < BLOCK_FRAMES; ++i)
                WavePut32(out + 4 * i, (uint32_t(primary[i]) & 0xFFFF) | uint32_t(secondary[i]) << 16);
            return WaveBytesPerBlock(16);
        case 24: {
            // Four frames (24 bytes) as three 64-bit words, instead of one
            // store per byte.
            static_assert(BLOCK_FRAMES % 4 == 0);
            const int32_t* right = secondary ? secondary : primary;
            for (uint32_t i = 0; i < BLOCK_FRAMES; i += 4) {
                uint64_t f[4];
                for (uint32_t k = 0; k < 4; ++k)
                    f[k] = uint64_t(uint32_t(Saturate24(primary[i + k])) & 0xFFFFFF) |
                           uint64_t(uint32_t(Saturate24(right[i + k])) & 0xFFFFFF) << 24;
                uint8_t* to = out + 6 * i;
                WavePut64(to, f[0] | f[1] << 48);
                WavePut64(to + 8, f[1] >> 16 | f[2] << 32);
                WavePut64(to + 16, f[2] >> 32 | f[3] << 16);
            }
            return WaveBytesPerBlock(24);
        }
        case 32:
            for (uint32_t i = 0; i < BLOCK_FRAMES; ++i)
                WavePut64(out + 8 * i, uint64_t(uint32_t(primary[i])) | uint64_t(uint32_t(secondary[i]))
                                                                            << 32);
            return WaveBytesPerBlock(32);
        default:
            return 0;
    }
}
