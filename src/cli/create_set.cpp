#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "cli/replace_file.h"
#include "cli/create.h"
#include "cli/stop_signal.h"
#include "cli/terminal.h"
#include "job/tone_set_check.h"
#include "job/tone_set_create.h"
#include "wave/wave_format.h"

namespace {

double Megabytes(uint64_t bytes) { return double(bytes) / 1e6; }

// Progress on a terminal: files done of all, and bytes; messages with the
// file they belong to. Calls come from the set's job threads.
class SetHost final : public ToneSetHost {
public:
    SetHost(const std::vector<ToneSetMember>& members, bool showProgress)
        : members(members), bytes(members.size(), 0), showProgress(showProgress)
    {
        for (const ToneSetMember& m : members)
            planned += uint64_t(RequestBlocks(m.request)) * WaveBytesPerBlock(m.request.bitWidth);
    }

    void MemberProgress(size_t member, uint64_t made) override
    {
        std::lock_guard lock(mutex);
        total += made - bytes[member];
        bytes[member] = made;
        Draw(false);
    }

    void MemberEnded(size_t member, const JobResult& result) override
    {
        std::lock_guard lock(mutex);
        EndLine();
        CliPrintReason(result, (members[member].request.path + ": ").c_str());
        ++done;
        Draw(true);
    }

    void ShowMessage(size_t member, const char* text, const char* caption) override
    {
        std::lock_guard lock(mutex);
        EndLine();
        std::fprintf(stderr, "%s: %s %s\n", members[member].request.path.c_str(), caption, text);
    }

    void EndLine()
    {
        if (!lineOpen) return;
        std::fputc('\n', stderr);
        lineOpen = false;
    }

private:
    // Redrawn at most 20 times a second, and at the end of every file.
    void Draw(bool now)
    {
        if (!showProgress) return;
        const auto at = std::chrono::steady_clock::now();
        if (!now && at - drawn < std::chrono::milliseconds(50)) return;
        drawn = at;
        constexpr uint64_t WIDTH = 30;
        char bar[WIDTH + 1];
        const uint64_t filled = planned ? std::min(WIDTH, total * WIDTH / planned) : WIDTH;
        for (uint64_t i = 0; i < WIDTH; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[WIDTH] = '\0';
        std::fprintf(stderr, "\r[%s] %zu of %zu files, %.1f of %.1f MB ", bar, done, members.size(),
                     Megabytes(total), Megabytes(planned));
        std::fflush(stderr);
        lineOpen = true;
    }

    const std::vector<ToneSetMember>& members;
    std::vector<uint64_t> bytes;
    bool showProgress;
    std::mutex mutex;
    uint64_t planned = 0;
    uint64_t total = 0;
    size_t done = 0;
    bool lineOpen = false;
    std::chrono::steady_clock::time_point drawn{};
};

}  // namespace

int CliCreateSet(const std::vector<ToneSetMember>& members, unsigned atOnce, bool quiet)
{
    const std::string refusal = ToneSetCheck(members);
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return EXIT_REFUSED;
    }

    WaveIo io;
#ifndef _WIN32
    io.replace = ReplaceKeepingOwner;
#endif
    SetHost host(members, !quiet && StderrIsTerminal());
    const auto started = std::chrono::steady_clock::now();
    const std::vector<JobResult> results = ToneSetCreate(members, atOnce, signalStop, host, io);
    host.EndLine();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    bool failed = false, stopped = false;
    size_t made = 0, unfinished = 0;
    uint64_t bytes = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        const JobResult& r = results[i];
        failed |=
            r.end == JobEnd::CreateFailed || r.end == JobEnd::WriteFailed || r.end == JobEnd::PlanRefused;
        stopped |= r.end == JobEnd::Stopped;
        if (!r.created) continue;
        ++made;
        bytes += r.dataBytes + WAVE_HEADER_BYTES;
        const bool whole = r.end == JobEnd::Done;
        unfinished += !whole;
        if (!quiet)
            std::printf("%s: %s%llu frames, %llu bytes\n", members[i].request.path.c_str(),
                        whole                      ? ""
                        : r.end == JobEnd::Stopped ? "stopped, "
                                                   : "failed, ",
                        (unsigned long long)(r.dataBytes / WaveBytesPerFrame(members[i].request.bitWidth)),
                        (unsigned long long)r.dataBytes + WAVE_HEADER_BYTES);
    }
    if (!quiet) {
        std::printf("%zu of %zu files made", made, members.size());
        if (unfinished) std::printf(" (%zu not finished)", unfinished);
        std::printf(", %.1f MB, %.3f s\n", Megabytes(bytes), seconds);
        if (std::fflush(stdout) != 0)
            std::fprintf(stderr, "The summary could not be written to standard output.\n");
    }
    if (failed) return EXIT_FAILED;
    return stopped ? EXIT_STOPPED : EXIT_DONE;
}
