// Writes the sample data of one request straight from the engine's blocks,
// without the job, its threads or the file writer: a second path to compare
// calyx-cli's files with.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "job/tone_blocks.h"

int main(int argc, char** argv)
{
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: engine_dump RATE FREQ ATTEN SECONDS BITS OUT [SIGNAL|exact]\n");
        return 2;
    }
    ToneRequest r;
    r.sampleRate = std::atoi(argv[1]);
    r.frequency = std::strtod(argv[2], nullptr);
    r.attenuation = uint32_t(std::strtoul(argv[3], nullptr, 10));
    r.seconds = std::atoi(argv[4]);
    r.bitWidth = std::atoi(argv[5]);
    for (int k = 0; argc == 8 && k < int(std::size(SIGNAL_KIND_NAMES)); ++k)
        if (std::strcmp(argv[7], SIGNAL_KIND_NAMES[k]) == 0) r.signal = SignalKind(k);
    r.exactPhase = argc == 8 && std::strcmp(argv[7], "exact") == 0;  // the sine with exact phase
    auto t = std::make_unique<ToneBlocks>();
    if (!ToneBlocksPlan(*t, r)) return 1;
    std::FILE* out = std::fopen(argv[6], "wb");
    if (!out) return 1;
    uint8_t bytes[4096];
    for (uint32_t k = 0; k < t->blocks; ++k) {
        const uint32_t size = ToneBlocksNext(*t, bytes);
        if (std::fwrite(bytes, 1, size, out) != size) return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
