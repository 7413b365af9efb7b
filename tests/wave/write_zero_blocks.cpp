// Test helper: writes a file of N blocks of silence through a WaveWriter, as a
// job would, so real readers can be pointed at it.
//   write_zero_blocks PATH BITS RATE BLOCKS
#include "wave/wave_writer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PATH BITS RATE BLOCKS\n", argv[0]);
        return 2;
    }
    const int32_t bits = std::atoi(argv[2]);
    const int32_t rate = std::atoi(argv[3]);
    const long blocks = std::atol(argv[4]);
    WaveWriter writer;
    const int32_t size = 512 * 2 * (bits / 8);
    if (WaveCreate(writer, bits, argv[1], rate, uint32_t(blocks * size)) != 0) return 1;
    const std::vector<unsigned char> zeros(static_cast<size_t>(size), 0);
    for (long k = 0; k < blocks; ++k) {
        int32_t written = 0;
        if (WaveWriteBlock(writer, zeros.data(), size, &written) != 0) break;
    }
    return WaveFinish(writer) == 0 && writer.dataBytes == uint32_t(blocks * size) ? 0 : 1;
}
