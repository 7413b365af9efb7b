#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "job/tone_blocks.h"
#include "wave/wave_format.h"
#include "wave/wave_writer.h"

// Makes a file's blocks and writes them, a run of blocks at a time, on up to
// `makers` threads (the calling one among them). Each maker takes the next
// run and makes it; the runs are written in order, each as one write by the
// maker that made it (WaveWriteRun), as soon as the run before is written,
// so that on two cores one run is made while the other is written. A tone that can
// be sought to any block (ToneBlocksSeek) has its runs made side by side,
// each maker from its own copy; any other is made run after run from one
// state, handed on, while the runs before are written. Every way gives the
// bytes of blocks made one after another.
class BlockRuns {
public:
    // 512 KiB of 32-bit frames: half the writes and hand-overs of 256 KiB
    // (201 writes for the default request, not 377), with both makers'
    // runs within the processor's second-level caches, which 1 MiB runs
    // were not (measured: about 10 % more time of the processor).
    static constexpr uint32_t RUN_BLOCKS = 128;
    static constexpr uint32_t MAX_BLOCK_BYTES = WaveBytesPerBlock(32);

    // Takes all its memory at once; Ready() tells whether it got it.
    explicit BlockRuns(unsigned makers);
    bool Ready() const { return ready; }

    // Makes and writes `blocks` blocks of the tone, from its first block.
    // written(k) is called on the calling thread for every block k once it
    // is written, in order, after each write; when it returns false,
    // no run is started any more, and the runs under way (at most twice as
    // many as makers) are finished. True unless a write failed (the file then
    // keeps the whole blocks written before).
    bool Write(ToneBlocks& tone, uint32_t blocks, WaveWriter& writer,
               const std::function<bool(uint32_t)>& written);

private:
    struct Maker {
        uint8_t* bytes = nullptr;          // one run, after WAVE_PAGE_BYTES for WaveWriteRun
        std::unique_ptr<ToneBlocks> tone;  // its own copy, for a tone it may seek
    };
    // The makers' runs in one block: where the allocator can put it on
    // large pages (calyx-cli on Linux), one page fault rather than 258.
    std::unique_ptr<uint8_t[]> memory;
    std::unique_ptr<Maker[]> makers;
    unsigned count;
    bool ready = false;
};
