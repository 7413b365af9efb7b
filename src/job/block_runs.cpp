#include "job/block_runs.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>

#include "base/run_parts.h"

BlockRuns::BlockRuns(unsigned makers) : count(std::max(1u, makers))
{
    this->makers.reset(new (std::nothrow) Maker[count]);
    if (!this->makers) return;
    for (unsigned i = 0; i < count; ++i) {
        Maker& m = this->makers[i];
        m.bytes.reset(new (std::nothrow) uint8_t[RUN_BLOCKS * MAX_BLOCK_BYTES]);
        m.tone.reset(new (std::nothrow) ToneBlocks);
        if (!m.bytes || !m.tone) return;
    }
    ready = true;
}

namespace {

// What the makers share, under one lock.
struct Runs {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t blocks = 0;
    uint32_t count = 0;
    uint32_t next = 0;            // the next run to take
    uint32_t madeThrough = 0;     // runs made, for a tone made in turn
    uint32_t writtenThrough = 0;  // runs written, in order
    uint32_t reported = 0;        // blocks passed on as written
    uint32_t reportedRuns = 0;    // runs all of whose blocks were passed on
    bool stopped = false;
    bool failed = false;

    uint32_t BlocksWritten() const { return std::min(blocks, writtenThrough * BlockRuns::RUN_BLOCKS); }
    bool ToReport() const { return !stopped && reported < BlocksWritten(); }

    // Passes the blocks written so far on, under the lock: no maker takes a
    // run while a stop may be on its way, so a stop ends the file within the
    // runs the makers hold.
    void Report(const std::function<bool(uint32_t)>& written)
    {
        while (ToReport())
            if (!written(reported++)) stopped = true;
        if (!stopped) reportedRuns = writtenThrough;
        changed.notify_all();
    }
};

}  // namespace

bool BlockRuns::Write(ToneBlocks& tone, uint32_t blocks, WaveWriter& writer,
                      const std::function<bool(uint32_t)>& written)
{
    Runs runs;
    runs.blocks = blocks;
    runs.count = (blocks + RUN_BLOCKS - 1) / RUN_BLOCKS;
    // Side by side only where every maker can start at its run's block.
    *makers[0].tone = tone;
    const bool sideBySide = count > 1 && ToneBlocksSeek(*makers[0].tone, 0);

    // No maker takes a run more than twice `count` runs ahead of those
    // reported: however slow the calling thread, a stop it passes on ends
    // the file within a few runs. (A lead of only `count` runs keeps the
    // makers waiting for the reports.)
    const auto mayTake = [&] { return runs.next < runs.reportedRuns + 2 * count; };
    const auto work = [&](Maker& m, bool caller) {
        if (sideBySide && !caller) *m.tone = tone;  // the caller's copy is made above
        std::unique_lock lock(runs.mutex);
        for (;;) {
            if (caller) runs.Report(written);
            if (!caller)
                runs.changed.wait(lock, [&] {
                    return runs.stopped || runs.failed || runs.next == runs.count || mayTake();
                });
            if (runs.stopped || runs.failed || runs.next == runs.count) break;
            const uint32_t r = runs.next++;
            const uint32_t first = r * RUN_BLOCKS;
            const uint32_t n = std::min(RUN_BLOCKS, blocks - first);
            if (!sideBySide) runs.changed.wait(lock, [&] { return runs.madeThrough == r; });
            lock.unlock();
            ToneBlocks* t = sideBySide ? m.tone.get() : &tone;
            if (sideBySide) ToneBlocksSeek(*t, first);
            uint32_t size = 0;
            for (uint32_t k = 0; k < n; ++k)
                size += ToneBlocksNext(*t, m.bytes.get() + size);
            lock.lock();
            runs.madeThrough = r + 1;
            runs.changed.notify_all();
            // Its turn to write; the calling thread reports while it waits.
            for (;;) {
                runs.changed.wait(lock,
                                  [&] { return runs.writtenThrough == r || (caller && runs.ToReport()); });
                if (runs.writtenThrough == r) break;
                runs.Report(written);
            }
            // After a failure the data would have a gap: nothing more is written.
            const bool write = !runs.failed;
            lock.unlock();
            int32_t done = 0;
            const bool ok = write && WaveWriteBlock(writer, m.bytes.get(), int32_t(size), &done) == 0;
            lock.lock();
            if (!ok) runs.failed = true;
            runs.writtenThrough = r + 1;
            runs.changed.notify_all();
        }
    };

    // The calling thread is maker 0, the one that reports.
    RunParts(std::min(count, runs.count), [&](unsigned p) { work(makers[p], p == 0); });
    std::lock_guard lock(runs.mutex);
    runs.Report(written);  // what the helpers wrote after the caller's last look
    return !runs.failed;
}
