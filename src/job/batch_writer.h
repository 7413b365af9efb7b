#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "wave/wave_writer.h"

// Collects a job's packed blocks into runs and writes each run with one write
// on a thread of its own, so that making the samples and writing the file
// share the two cores, and the file sees few large writes instead of many
// small ones. The file still grows by whole blocks only.
class BatchWriter {
public:
    static constexpr uint32_t RUN_BLOCKS = 64;
    static constexpr uint32_t MAX_BLOCK_BYTES = 4096;

    // Takes its memory before its thread starts; Ready() tells whether it got it.
    explicit BatchWriter(WaveWriter& writer);
    ~BatchWriter();  // waits for the writes in flight
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    bool Ready() const { return runs[0].bytes && runs[1].bytes; }

    // Where the next block's bytes go; then Commit them.
    uint8_t* NextBlock();
    void Commit(uint32_t bytes);

    // Writes what has been committed and waits until every write is done;
    // false when a write failed or fell short. Nothing is written after that.
    bool Drain();
    bool Failed() const { return failed.load(); }

private:
    struct Run {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t size = 0;
    };

    void Submit();
    void WriteRun(Run& run);
    void Loop();

    WaveWriter& writer;
    Run runs[2];
    uint32_t filling = 0;  // the run that blocks are committed to
    std::mutex mutex;
    std::condition_variable changed;
    Run* pending = nullptr;  // handed to the thread, not yet written
    bool quit = false;
    std::atomic<bool> failed{false};  // read after every block without the lock
    std::thread thread;               // none when it could not start: runs are written in line
};
