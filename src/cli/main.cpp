// calyx-cli: the dialog's job from a command line, for scripts and headless machines.

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#ifdef _WIN32
#include <float.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/analyze_command.h"
#include "job/generation_worker.h"

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

// The dialog's default: the working directory and the file name.
std::string DefaultPath()
{
    std::error_code ec;
    std::string dir = std::filesystem::current_path(ec).string();
#ifdef _WIN32
    std::string path = dir + "\\Test.wav";
    path[0] = char(std::toupper(static_cast<unsigned char>(path[0])));
    return path;
#else
    return dir + "/Test.wav";
#endif
}

// Whole numbers in plain decimal only: the converter alone would also take
// "0x10" as hex and "010" as octal, so leading zeros are dropped here.
CLI::Validator WholeNumber(bool signedValue)
{
    return CLI::Validator(
        [signedValue](std::string& text) -> std::string {
            const size_t sign =
                signedValue && !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
            if (sign == text.size()) return "'" + text + "' is not a whole number";
            for (size_t i = sign; i < text.size(); ++i)
                if (!std::isdigit(static_cast<unsigned char>(text[i])))
                    return "'" + text + "' is not a whole number";
            const size_t firstDigit = text.find_first_not_of('0', sign);
            text.erase(sign, (firstDigit == std::string::npos ? text.size() - 1 : firstDigit) - sign);
            return {};
        },
        "", "WholeNumber");
}

// A decimal number: sign, digits, point, exponent; no hex, inf or nan.
CLI::Validator DecimalNumber()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto digits = [&](size_t& i) {
                const size_t from = i;
                while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
                return i - from;
            };
            size_t i = 0;
            if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
            size_t mantissa = digits(i);
            if (i < text.size() && text[i] == '.') {
                ++i;
                mantissa += digits(i);
            }
            bool good = mantissa > 0;
            if (good && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
                ++i;
                if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
                good = digits(i) > 0;
            }
            if (!good || i != text.size()) return "'" + text + "' is not a decimal number";
            return {};
        },
        "", "DecimalNumber");
}

// Progress on a terminal as a one-line bar; messages as "Caption message".
class CliHost final : public JobHost {
public:
    explicit CliHost(bool showProgress) : showProgress_(showProgress) {}

    void SetProgressRange(uint32_t upper) override { upper_ = upper; }

    void SetProgressPos(uint32_t pos) override
    {
        pos_ = pos;
        if (!showProgress_ || upper_ == 0) return;
        const uint32_t percent = uint32_t(uint64_t(pos) * 100 / upper_);
        if (percent == percent_) return;  // redraw only when the figure changes
        percent_ = percent;
        constexpr uint32_t WIDTH = 40;
        char bar[WIDTH + 1];
        for (uint32_t i = 0; i < WIDTH; ++i) bar[i] = i < percent * WIDTH / 100 ? '#' : '.';
        bar[WIDTH] = '\0';
        std::fprintf(stderr, "\r[%s] %3u%%", bar, unsigned(percent));
        std::fflush(stderr);
        lineOpen_ = true;
    }

    void ShowMessage(const char* text, const char* caption) override
    {
        EndLine();
        std::fprintf(stderr, "%s %s\n", caption, text);
    }

    void JobEnded() override { EndLine(); }

    void EndLine()
    {
        if (!lineOpen_) return;
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }

    uint32_t Pos() const { return pos_; }

private:
    bool showProgress_;
    bool lineOpen_ = false;
    uint32_t upper_ = 0;
    uint32_t pos_ = 0;
    uint32_t percent_ = ~0u;
};

// Frames held by a finished file, from its size on disk.
uint64_t FileFrames(uintmax_t bytes, int32_t bitWidth)
{
    return bytes < 140 ? 0 : (bytes - 140) / uint64_t(bitWidth / 8 * 2);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "analyze") return RunAnalyzeCommand(argc - 1, argv + 1);
    ToneRequest request;
    std::string path = DefaultPath();
    bool quiet = false;

    CLI::App app{"Writes one stereo sine tone to a PCM RIFF/WAVE file: whole cycles, "
                 "Blackman fades, zero DC sum for tones up to 10 s, 16-bit dithered.",
                 "calyx-cli"};
    app.set_version_flag("--version", "calyx-cli " CALYX_VERSION);
    app.add_option("--rate", request.nSampleRate, "Sample rate in Hz")
        ->capture_default_str()->transform(WholeNumber(true));
    app.add_option("--freq", request.Frequency, "Tone frequency in Hz")
        ->capture_default_str()->check(DecimalNumber());
    app.add_option("--atten", request.nAttenuation, "Attenuation in whole dB below full level")
        ->capture_default_str()->transform(WholeNumber(false));
    app.add_option("--seconds", request.nSeconds, "Duration in whole seconds")
        ->capture_default_str()->transform(WholeNumber(true));
    app.add_option("--bits", request.nBitWidth, "Bits per sample")
        ->capture_default_str()->check(CLI::IsMember({16, 24, 32}));
    app.add_option("--out", path, "Output file (default: Test.wav in the working directory)");
    app.add_flag("--quiet", quiet, "No progress bar and no summary");
    app.footer("Exit status: 0 done, 1 creation or write failure, 2 refused request, "
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
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::error_code ec;
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
