#include "job/batch_writer.h"

#include <new>
#include <system_error>

BatchWriter::BatchWriter(WaveWriter& writer) : writer(writer)
{
    for (Run& run : runs)
        run.bytes.reset(new (std::nothrow) uint8_t[RUN_BLOCKS * MAX_BLOCK_BYTES]);
    if (!Ready()) return;
    try {
        thread = std::thread(&BatchWriter::Loop, this);
    } catch (const std::system_error&) {
        // No second thread: each run is written when it is full instead.
    }
}

BatchWriter::~BatchWriter()
{
    if (!Ready()) return;
    Drain();
    if (!thread.joinable()) return;
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    changed.notify_all();
    thread.join();
}

uint8_t* BatchWriter::NextBlock()
{
    const Run& run = runs[filling];
    return run.bytes.get() + run.size;
}

void BatchWriter::Commit(uint32_t bytes)
{
    runs[filling].size += bytes;
    if (runs[filling].size + MAX_BLOCK_BYTES > RUN_BLOCKS * MAX_BLOCK_BYTES) Submit();
}

// Hands the filling run over and fills the other one, once it is written.
void BatchWriter::Submit()
{
    Run& run = runs[filling];
    if (run.size == 0) return;
    if (!thread.joinable()) {
        WriteRun(run);
        return;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return pending == nullptr; });
    pending = &run;
    filling ^= 1;
    lock.unlock();
    changed.notify_all();
}

bool BatchWriter::Drain()
{
    Submit();
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return pending == nullptr; });
    return !Failed();
}

void BatchWriter::WriteRun(Run& run)
{
    int32_t done = 0;
    // After a failure the data would have a gap: nothing more is written.
    if (!Failed() && WaveWriteBlock(writer, run.bytes.get(), int32_t(run.size), &done) != 0)
        failed.store(true);
    run.size = 0;
}

void BatchWriter::Loop()
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return pending != nullptr || quit; });
        if (pending == nullptr) return;
        Run& run = *pending;
        lock.unlock();
        WriteRun(run);
        lock.lock();
        pending = nullptr;
        changed.notify_all();
    }
}
