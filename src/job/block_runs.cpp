#include "job/block_runs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>

#include "base/run_parts.h"

BlockRuns::BlockRuns(unsigned makers) : count(std::max(1u, makers))
{
    constexpr size_t STRIDE = WAVE_PAGE_BYTES + size_t(RUN_BLOCKS) * MAX_BLOCK_BYTES;
    this->makers.reset(new (std::nothrow) Maker[count]);
    memory.reset(new (std::nothrow) uint8_t[count * STRIDE]);
    if (!this->makers || !memory) return;
    for (unsigned i = 0; i < count; ++i) {
        Maker& m = this->makers[i];
        m.bytes = memory.get() + i * STRIDE;
        m.tone.reset(new (std::nothrow) ToneBlocks);
        if (!m.tone) return;
    }
    ready = true;
}

namespace {

// What the makers share. They hand over through these counters; a maker
// that must wait sleeps on a condition, and a step wakes a sleeper only
// when there is one (a futex call, a slow one in a virtual machine, only
// where needed). Not std::atomic::wait: libstdc++ yields the processor a
// few times before it sleeps, and on a busy machine each yield can cost a
// time slice (measured at a load average of 7 on 2 cores: the default
// request's median 109 ms, against 84 ms this way).
struct Runs {
    uint32_t blocks = 0;
    uint32_t count = 0;
    uint32_t lead = 0;                        // how far a helper may run ahead of the reports
    std::atomic<uint32_t> next{0};            // the next run to take
    std::atomic<uint32_t> madeThrough{0};     // runs made, for a tone made in turn
    std::atomic<uint32_t> writtenThrough{0};  // runs written, in order
    std::atomic<uint32_t> reportedRuns{0};    // runs all of whose blocks were passed on
    std::atomic<bool> stopped{false};
    std::atomic<bool> failed{false};
    std::atomic<uint32_t> sleepers{0};
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t reported = 0;  // blocks passed on: the calling thread's own

    // After a step: a sleeper re-reads the counters. (Either it counted
    // itself before this look, and is woken, or it reads the step.) The
    // lock only orders the two; the sleeper wakes to a free lock (measured:
    // 526 futex calls for the default request, 766 notifying under it).
    void Changed()
    {
        if (sleepers == 0) return;
        {
            std::lock_guard lock(mutex);
        }
        changed.notify_all();
    }
    template <class Ready>
    void Await(Ready ready)
    {
        if (ready()) return;
        std::unique_lock lock(mutex);
        ++sleepers;
        while (!ready())
            changed.wait(lock);
        --sleepers;
    }
    bool Ended() const { return stopped || failed; }
    uint32_t BlocksWritten() const { return std::min(blocks, writtenThrough * BlockRuns::RUN_BLOCKS); }
    bool ToReport() const { return !stopped && reported < BlocksWritten(); }

    // Passes the blocks written so far on, on the calling thread; wakes a
    // helper only for a step it may wait for.
    void Report(const std::function<bool(uint32_t)>& written)
    {
        const uint32_t through = writtenThrough;
        const uint32_t upTo = std::min(blocks, through * BlockRuns::RUN_BLOCKS);
        if (stopped || reported >= upTo) return;
        while (!stopped && reported < upTo)
            if (!written(reported++)) stopped = true;
        if (!stopped) reportedRuns = through;
        Changed();
    }

    // The next run for a maker, or false when none is left to make. A
    // helper takes none more than `lead` runs ahead of those reported:
    // however slow the calling thread, a stop it passes on ends the file
    // within a few runs.
    bool Take(bool caller, uint32_t& r)
    {
        for (r = next; !Ended() && r < count;) {
            if (!caller && r >= reportedRuns + lead) {
                Await([&] { return Ended() || next != r || r < reportedRuns + lead; });
                r = next;
            } else if (next.compare_exchange_weak(r, r + 1)) {
                return true;
            }
        }
        return false;
    }
};

}  // namespace

bool BlockRuns::Write(ToneBlocks& tone, uint32_t blocks, WaveWriter& writer,
                      const std::function<bool(uint32_t)>& written)
{
    Runs runs;
    runs.blocks = blocks;
    runs.count = (blocks + RUN_BLOCKS - 1) / RUN_BLOCKS;
    // (A lead of only `count` runs keeps the makers waiting for the reports.)
    runs.lead = 2 * count;
    // Side by side only where every maker can start at its run's block.
    *makers[0].tone = tone;
    const bool sideBySide = count > 1 && ToneBlocksSeek(*makers[0].tone, 0);

    const auto work = [&](Maker& m, bool caller) {
        if (sideBySide && !caller) *m.tone = tone;  // the caller's copy is made above
        uint8_t* bytes = m.bytes + WAVE_PAGE_BYTES;
        for (uint32_t r = 0;;) {
            // The calling thread passes on what is written before it takes
            // a run, so a stop it passes on ends the taking.
            if (caller) runs.Report(written);
            if (!runs.Take(caller, r)) break;
            const uint32_t first = r * RUN_BLOCKS;
            const uint32_t n = std::min(RUN_BLOCKS, blocks - first);
            if (!sideBySide) runs.Await([&] { return runs.madeThrough == r; });
            ToneBlocks* t = sideBySide ? m.tone.get() : &tone;
            if (sideBySide) ToneBlocksSeek(*t, first);
            uint32_t size = 0;
            for (uint32_t k = 0; k < n; ++k)
                size += ToneBlocksNext(*t, bytes + size);
            if (!sideBySide) {
                runs.madeThrough = r + 1;
                runs.Changed();
            }
            // Its turn to write; the calling thread reports while it waits.
            for (;;) {
                runs.Await([&] { return runs.writtenThrough == r || (caller && runs.ToReport()); });
                if (runs.writtenThrough == r) break;
                runs.Report(written);
            }
            // After a failure the data would have a gap: nothing more is written.
            int32_t done = 0;
            if (runs.failed || WaveWriteRun(writer, bytes, int32_t(size), &done) != 0) runs.failed = true;
            runs.writtenThrough = r + 1;
            runs.Changed();
        }
    };

    // The calling thread is maker 0, the one that reports.
    RunParts(std::min(count, runs.count), [&](unsigned p) { work(makers[p], p == 0); });
    runs.Report(written);  // what the helpers wrote after the caller's last look
    return !runs.failed;
}
