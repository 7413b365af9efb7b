#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <float.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/replace_file.h"
#include "cli/create.h"
#include "cli/stop_signal.h"
#include "cli/terminal.h"
#include "job/create_check.h"
#include "job/generation_worker.h"
#include "job/signal_check.h"
#include "wave/wave_format.h"

namespace {

// How long a stopped job may take to end its stream. A stream whose reader
// does not read holds the last write for ever; the process then ends
// without it, the reader keeping whole blocks (each write is one).
constexpr auto STREAM_STOP_GRACE = std::chrono::milliseconds(200);
// How often a job writing a stream is looked at for a stop.
constexpr auto STOP_LOOK = std::chrono::milliseconds(10);

// Whether the file at path is where standard output goes (/dev/stdout, or
// the FIFO it was sent to): then the summary goes elsewhere.
bool IsStdout(const std::string& path)
{
#ifdef _WIN32
    return path == "-";
#else
    struct stat out {
    }, file{};
    return path == "-" || (fstat(STDOUT_FILENO, &out) == 0 && stat(path.c_str(), &file) == 0 &&
                           out.st_dev == file.st_dev && out.st_ino == file.st_ino);
#endif
}

// Standard output for the file's bytes, untranslated.
std::FILE* BinaryStdout()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return stdout;
}

// Progress on a terminal as a one-line bar; messages as "Caption message".
class CliHost final : public JobHost {
public:
    explicit CliHost(bool showProgress) : showProgress(showProgress) {}

    void SetProgressRange(uint32_t range) override { upper = range; }

    void SetProgressPos(uint32_t pos) override
    {
        if (!showProgress || upper == 0) return;
        const uint32_t now = uint32_t(uint64_t(pos) * 100 / upper);
        if (now == percent) return;  // redraw only when the figure changes
        percent = now;
        constexpr uint32_t WIDTH = 40;
        char bar[WIDTH + 1];
        for (uint32_t i = 0; i < WIDTH; ++i)
            bar[i] = i < percent * WIDTH / 100 ? '#' : '.';
        bar[WIDTH] = '\0';
        std::fprintf(stderr, "\r[%s] %3u%%", bar, unsigned(percent));
        std::fflush(stderr);
        lineOpen = true;
    }

    void ShowMessage(const char* text, const char* caption) override
    {
        EndLine();
        std::fprintf(stderr, "%s %s\n", caption, text);
    }

    void JobEnded() override { EndLine(); }

    void EndLine()
    {
        if (!lineOpen) return;
        std::fputc('\n', stderr);
        lineOpen = false;
    }

private:
    bool showProgress;
    bool lineOpen = false;
    uint32_t upper = 0;
    uint32_t percent = ~0u;
};

// What the job made, as the summary names it.
unsigned long long Frames(uint32_t dataBytes, int32_t bitWidth)
{
    return dataBytes / WaveBytesPerFrame(bitWidth);
}

// The summary of a finished job. It goes to standard output, unless the
// file did; a summary that cannot be written there is not worth the job's
// exit status.
void PrintSummary(const ToneRequest& request, const JobResult& result, double seconds, bool fileOnStdout)
{
    std::FILE* out = fileOnStdout ? stderr : stdout;
    const int printed = std::fprintf(out, "%s: %llu frames, %llu bytes, %.3f s\n", request.path.c_str(),
                                     Frames(result.dataBytes, request.bitWidth),
                                     (unsigned long long)result.dataBytes + WAVE_HEADER_BYTES, seconds);
    int more = 0;
    if (const ToneMultitone* m = result.multitone.get()) {
        more = std::fprintf(out, "  %u tones, crest factor %.2f dB, %u periods of %u frames:", m->count,
                            m->crestFactorDb, m->periods, m->period);
        for (uint32_t i = 0; i < m->count && more >= 0; ++i)
            more = std::fprintf(out, " %.6g", ToneMultitoneFrequency(*m, i));
        if (more >= 0) more = std::fprintf(out, " Hz\n");
    } else if (const ToneSweep* s = result.sweep.get()) {
        more = std::fprintf(out,
                            "  sweep %.6g to %.6g Hz: %u frames (%.0f whole cycles, f1 L = %.0f), then %u "
                            "frames of silence\n",
                            request.sweepFrom, request.sweepTo, s->sweepFrames, s->wholeCycles, s->wholeK,
                            s->totalFrames - s->sweepFrames);
    }
    if (printed < 0 || more < 0 || std::fflush(out) != 0)
        std::fprintf(stderr, "The summary could not be written to standard output.\n");
}

// Waits for a job writing a stream. A stopped job ends by itself within the
// runs of blocks under way, unless it is blocked writing to a reader that
// reads no more (or never came). A signal cannot wake a waiting thread
// portably, so this thread looks for the stop between short waits, and once
// the grace is over ends the process, leaving the stream as it is.
void AwaitStream(std::future<JobResult>& outcome, CliHost& host)
{
    std::chrono::steady_clock::time_point stopped{};
    while (outcome.wait_for(STOP_LOOK) != std::future_status::ready) {
        if (!signalStop.Requested()) continue;
        const auto now = std::chrono::steady_clock::now();
        if (stopped == decltype(stopped){}) stopped = now;
        if (now - stopped > STREAM_STOP_GRACE) {
            host.EndLine();
            std::fprintf(stderr,
                         "Stopped: the stream ends early; its data is shorter than its header announces.\n");
            std::fflush(stderr);
            std::_Exit(EXIT_STOPPED);
        }
    }
}

}  // namespace

int CliCreateOne(ToneRequest request, const std::string& path, bool quiet)
{
    std::error_code ec;
    const bool toStdout = path == "-";
    std::atomic<bool> busy{false};  // a front end's busy flag: here only the check reads it
    PathRules rules;
    rules.toStream = toStdout;
    const CreateCheck check = RequestBeginCreate(request, path, busy, rules);
    if (check.refusal) {
        std::fprintf(stderr, "%s %s\n", check.refusal.caption, check.refusal.message);
        return EXIT_REFUSED;
    }
    if (const std::string why = SignalCheck(request); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return EXIT_REFUSED;
    }

    namespace fs = std::filesystem;
    const fs::file_type type = fs::status(path, ec).type();
    const bool stream = toStdout || (type != fs::file_type::regular && type != fs::file_type::not_found);
    WaveIo io;
    if (toStdout) io.stream = BinaryStdout();
#ifndef _WIN32
    io.replace = ReplaceKeepingOwner;
#endif
    CliHost host(!quiet && StderrIsTerminal());
    const auto started = std::chrono::steady_clock::now();
    std::promise<JobResult> ended;
    std::future<JobResult> outcome = ended.get_future();
    std::thread worker;
    try {
        worker = std::thread([&] {
#ifdef _WIN32
            _fpreset();  // every job computes in the same floating-point state
#endif
            ended.set_value(JobGenerate(request, signalStop, host, io,
                                        std::max(1u, std::thread::hardware_concurrency())));
        });
    } catch (const std::system_error&) {
        JobStartFailed(host);
        return EXIT_FAILED;
    }

    if (stream) AwaitStream(outcome, host);
    worker.join();
    const JobResult result = outcome.get();
    host.EndLine();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    switch (result.end) {
        case JobEnd::Done:
            if (!quiet) PrintSummary(request, result, seconds, IsStdout(path));
            return EXIT_DONE;
        case JobEnd::Stopped:
            if (quiet) return EXIT_STOPPED;
            if (!result.created)
                std::fprintf(stderr, "Stopped before %s was made.\n", request.path.c_str());
            else if (result.stream)
                std::fprintf(stderr,
                             "Stopped: the stream ends after %llu frames; its data is shorter than its "
                             "header announces.\n",
                             Frames(result.dataBytes, request.bitWidth));
            else
                std::fprintf(stderr, "Stopped: %s holds %llu frames, %llu bytes\n", request.path.c_str(),
                             Frames(result.dataBytes, request.bitWidth),
                             (unsigned long long)result.dataBytes + WAVE_HEADER_BYTES);
            return EXIT_STOPPED;
        case JobEnd::PlanRefused:
            return EXIT_REFUSED;
        case JobEnd::CreateFailed:
        case JobEnd::WriteFailed:
            CliPrintReason(result, "");
            break;
    }
    return EXIT_FAILED;
}

void CliPrintReason(const JobResult& result, const char* prefix)
{
    const bool failed = result.end == JobEnd::CreateFailed || result.end == JobEnd::WriteFailed;
    if (failed && result.error != 0)
        std::fprintf(stderr, "%sThe system says: %s.\n", prefix, std::strerror(result.error));
}
