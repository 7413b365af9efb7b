#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Collects a job's packed blocks into runs and writes each run with one write
// on a thread of its own, so that making the samples and writing the file
// share the two cores, and the file sees few large writes instead of many
// small ones. The file still grows by whole blocks only.
class BatchWriter {
public:
    static constexpr uint32_t RUN_BLOCKS = 64;
    static constexpr uint32_t MAX_BLOCK_BYTES = 4096;

    BatchWriter();
    ~BatchWriter();  // waits for the writes in flight
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    // Where the next block's bytes go; then Commit them.
    uint8_t* NextBlock();
    void Commit(uint32_t bytes);

    // Writes what has been committed and waits until every write is done.
    void Drain();

    // A write failed or fell short; nothing is written after it.
    bool Failed();
    // Bytes of whole blocks on disk, as the writer counted them.
    uint32_t BytesWritten();

private:
    struct Run {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t size = 0;
    };

    void Submit();
    void WriteRun(Run& run);
    void Loop();

    Run runs[2];
    uint32_t filling = 0;  // the run that blocks are committed to
    std::mutex mutex;
    std::condition_variable changed;
    Run* pending = nullptr;  // handed to the thread, not yet written
    bool quit = false;
    std::atomic<bool> failed{false};  // read after every block without the lock
    uint32_t written = 0;
    std::thread thread;  // none when it could not start: runs are written in line
};
