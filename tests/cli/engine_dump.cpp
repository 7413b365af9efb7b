// Writes the sample data of one request straight from the engine, without the
// job: a second path to compare calyx-cli's files with.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "job/pack.h"
#include "job/tone_request.h"
#include "synth/tone.h"

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: engine_dump RATE FREQ ATTEN SECONDS BITS OUT\n");
        return 2;
    }
    ToneRequest r;
    r.nSampleRate = std::atoi(argv[1]);
    r.Frequency = std::strtod(argv[2], nullptr);
    r.nAttenuation = uint32_t(std::strtoul(argv[3], nullptr, 10));
    r.nSeconds = std::atoi(argv[4]);
    r.nBitWidth = std::atoi(argv[5]);
    auto g = std::make_unique<ToneGenerator>();
    TonePlan(*g, r.nAttenuation, r.nBitWidth, double(r.nSampleRate), r.Frequency, double(r.nSeconds));
    if (!g->planned) return 1;
    uint32_t blocks = RequestBlocks(r);
    if (g->blockCount > blocks) blocks = g->blockCount;
    std::FILE* out = std::fopen(argv[6], "wb");
    if (!out) return 1;
    DitherRandom random;
    int32_t primary[BLOCK_FRAMES], secondary[BLOCK_FRAMES];
    uint8_t bytes[4096];
    for (uint32_t k = 0; k < blocks; ++k) {
        ToneRenderBlock(*g, primary, secondary);
        if (r.nBitWidth == 16) DitherBlock(primary, secondary, random);
        const uint32_t size = PackBlock(r.nBitWidth, primary, secondary, bytes);
        if (std::fwrite(bytes, 1, size, out) != size) return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
