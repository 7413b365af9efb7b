// calyx-cli: the dialog's job from a command line, for scripts and headless machines.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <type_traits>
#include <vector>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#ifdef _WIN32
#include <float.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "job/create_check.h"
#include "job/generation_worker.h"
#include "job/request_text.h"
#include "wave/wave_format.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_REFUSED = 2;
constexpr int EXIT_STOPPED = 130;

// Set by SIGINT and SIGTERM; a handler can touch nothing else safely.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    stopSignal = 1;
    std::signal(signal, OnStopSignal);  // Windows resets the handler on delivery
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// An option read with the request's own number grammar, as the dialog reads
// its fields; `allowed` names the only values it takes, when it has a list.
template <class T>
void AddNumber(CLI::App& app, const std::string& name, T& value, const std::string& help,
               std::initializer_list<T> allowed = {})
{
    const std::vector<T> only(allowed);
    const auto parse = [&value, name, only](const std::string& text) {
        T v{};
        if (!ParseNumber(text, v))
            throw CLI::ValidationError(
                name, "'" + text + "' is not " +
                          (std::is_same_v<T, double> ? "a decimal number" : "a whole number in range"));
        if (!only.empty() && std::find(only.begin(), only.end(), v) == only.end())
            throw CLI::ValidationError(name, "'" + text + "' is not one of the values it takes");
        value = v;
    };
    app.add_option_function<std::string>(name, parse, help)->default_str(FormatNumber(value));
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

// Frames held by a finished file, from its size on disk.
uint64_t FileFrames(uintmax_t bytes, int32_t bitWidth)
{
    return bytes < WAVE_HEADER_BYTES ? 0 : (bytes - WAVE_HEADER_BYTES) / WaveBytesPerFrame(bitWidth);
}

}  // namespace

int main(int argc, char** argv)
{
    ToneRequest request;
    std::error_code ec;
    std::string path = RequestDefaultPath(std::filesystem::current_path(ec).string());
    bool quiet = false;

    CLI::App app{
        "Writes one stereo sine tone to a PCM RIFF/WAVE file: whole cycles, "
        "Blackman fades, zero DC sum for tones up to 10 s, 16-bit dithered.",
        "calyx-cli"};
    app.set_version_flag("--version", "calyx-cli " CALYX_VERSION);
    AddNumber(app, "--rate", request.nSampleRate, "Sample rate in Hz");
    AddNumber(app, "--freq", request.Frequency, "Tone frequency in Hz");
    AddNumber(app, "--atten", request.nAttenuation, "Attenuation in whole dB below full level");
    AddNumber(app, "--seconds", request.nSeconds, "Duration in whole seconds");
    AddNumber(app, "--bits", request.nBitWidth, "Bits per sample: 16, 24 or 32", {16, 24, 32});
    app.add_option("--out", path, "Output file (default: Test.wav in the working directory)");
    app.add_flag("--quiet", quiet, "No progress bar and no summary");
    app.footer(
        "Exit status: 0 done, 1 creation or write failure, 2 refused request, "
        "130 stopped (SIGINT or SIGTERM; the file is finished with the blocks made).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? EXIT_DONE : EXIT_REFUSED;
    }

    std::atomic<bool> busy{false};
    const CreateCheck check = BeginCreate(request, path.c_str(), busy);
    if (check.problem) {
        std::fprintf(stderr, "%s %s\n", check.problem.caption, check.problem.message);
        return EXIT_REFUSED;
    }

#ifdef SIGXFSZ
    // A file-size limit should fail the write, leaving a finished file, not kill us.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    CliHost host(!quiet && StderrIsTerminal());
    const auto started = std::chrono::steady_clock::now();
    std::promise<JobEnd> ended;
    std::future<JobEnd> result = ended.get_future();
    std::thread worker;
    try {
        worker = std::thread([&] {
#ifdef _WIN32
            _fpreset();  // every job computes in the same floating-point state
#endif
            ended.set_value(GenerationWorker(request, busy, host));
        });
    } catch (const std::system_error&) {
        JobStartFailed(busy, host);
        return EXIT_FAILED;
    }
    // Like the dialog's Quit: pass a stop on to the job and wait for it.
    while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        if (stopSignal) busy.store(false);
    worker.join();
    const JobEnd end = result.get();
    host.EndLine();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const uintmax_t bytes = std::filesystem::file_size(request.szPath, ec);
    switch (end) {
        case JobEnd::Done:
            if (!quiet)
                std::printf("%s: %llu frames, %llu bytes, %.3f s\n", request.szPath,
                            (unsigned long long)FileFrames(bytes, request.nBitWidth),
                            (unsigned long long)bytes, seconds);
            return EXIT_DONE;
        case JobEnd::Stopped:
            if (!quiet)
                std::fprintf(stderr, "Stopped: %s holds %llu frames, %llu bytes\n", request.szPath,
                             (unsigned long long)FileFrames(bytes, request.nBitWidth),
                             (unsigned long long)bytes);
            return EXIT_STOPPED;
        case JobEnd::PlanRefused:
            return EXIT_REFUSED;
        case JobEnd::CreateFailed:
        case JobEnd::WriteFailed:
            break;
    }
    return EXIT_FAILED;
}
