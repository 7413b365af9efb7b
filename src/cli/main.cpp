// calyx-cli: the dialog's job from a command line, for scripts and headless
// machines; and sets of files in one command.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#include "cli/analyze_command.h"
#include "cli/create.h"
#include "cli/large_pages.h"
#include "cli/stop_signal.h"
#include "job/request_text.h"
#include "job/tone_set_expand.h"

int main(int argc, char** argv)
{
#ifdef _WIN32
    InstallSignalHandlers();
#endif
    if (argc > 1 && std::string(argv[1]) == "analyze") {
        LargePagesForAnalysis();
        return RunAnalyzeCommand(argc - 1, argv + 1);
    }

    ToneSetOptions options;
    bool quiet = false;
    std::string atOnceText = RequestFormatNumber(uint32_t(std::max(1u, std::thread::hardware_concurrency())));

    CLI::App app{
        "Writes one stereo sine tone to a PCM RIFF/WAVE file: whole cycles, Blackman fades, "
        "zero DC sum for tones up to 10 s, 16-bit dithered; or a sweep, multitone or two-tone signal "
        "(--signal). Give an option a comma-separated list and a file is made for every combination.",
        "calyx-cli"};
    app.set_version_flag("--version", "calyx-cli " CALYX_VERSION);
    app.add_option("--rate", options.rate, "Sample rate in Hz")->capture_default_str()->type_name("HZ,...");
    app.add_option("--freq", options.freq,
                   "Tone frequency in Hz; or octaves (31.5 ... 16000), "
                   "thirds (20 ... 20000)")
        ->capture_default_str()
        ->type_name("HZ,...");
    app.add_option("--atten", options.atten, "Attenuation in whole dB below full level")
        ->capture_default_str()
        ->type_name("DB,...");
    app.add_option("--seconds", options.seconds, "Duration in whole seconds")
        ->capture_default_str()
        ->type_name("S,...");
    app.add_option("--bits", options.bits, "Bits per sample: 16, 24 or 32")
        ->capture_default_str()
        ->type_name("N,...");
    app.add_option(
           "--signal", options.signal,
           "sine (the default), sweep (synchronised exponential sweep, --from to --to, then --silence), "
           "multitone (--tones on bins of --period frames), smpte (60 Hz and 7 kHz, 4:1), "
           "ccif (19 and 20 kHz, 1:1; rates from 44100)")
        ->capture_default_str()
        ->type_name("KIND,...");
    app.add_option("--from", options.from, "Sweep: start frequency in Hz")
        ->capture_default_str()
        ->type_name("HZ,...");
    app.add_option("--to", options.to, "Sweep: end frequency in Hz, below half the rate")
        ->capture_default_str()
        ->type_name("HZ,...");
    app.add_option("--silence", options.silence, "Sweep: seconds of digital silence after it")
        ->capture_default_str()
        ->type_name("S,...");
    app.add_option("--tones", options.tones,
                   "Multitone: its frequencies in Hz (one file, each moved to the nearest bin); or octaves, "
                   "thirds")
        ->capture_default_str()
        ->type_name("HZ,HZ,...");
    app.add_option("--period", options.period,
                   "Multitone: frames of one period (default: the rate, 1 Hz bins)")
        ->type_name("FRAMES,...");
    app.add_option("--channels", options.channels,
                   "both; left or right (the other exact digital silence); inverted (right = -left)")
        ->capture_default_str()
        ->type_name("WHICH,...");
    app.add_option("--phase", options.phase,
                   "Sine: running (the designed running sum) or exact (each sample's phase from its index)")
        ->capture_default_str()
        ->type_name("HOW,...");
    app.add_option("--out", options.out,
                   "Output file (default: Test.wav in the working directory); - for standard output. "
                   "A pipe, FIFO or device gets a stream whose header carries the planned sizes. For a set, "
                   "a pattern with {signal} {rate} {freq} {atten} {seconds} {bits} {from} {to} {silence} "
                   "{period} {channels} {phase} (default: one naming every option with several values)")
        ->type_name("FILE");
    app.add_option("--out-dir", options.outDir, "Folder for the files (made if missing)")->type_name("DIR");
    app.add_option("--jobs", atOnceText, "Files made at once in a set")
        ->capture_default_str()
        ->type_name("N");
    app.add_flag("--quiet", quiet, "No progress bar and no summary");
    app.footer(
        "calyx-cli analyze FILE... checks and measures WAVE files (calyx-cli analyze --help).\n"
        "Sets:\n"
        "  calyx-cli --freq thirds --rate 48000 --bits 24 --seconds 10 --out-dir thirds\n"
        "  calyx-cli --atten 0,20,40,60,80,100,120 --out \"linearity-{atten}dB.wav\"\n"
        "Signals:\n"
        "  calyx-cli --signal sweep --from 20 --to 20000 --seconds 10 --rate 48000 --out sweep.wav\n"
        "  calyx-cli --signal multitone --tones thirds --rate 48000 --seconds 10 --out multitone.wav\n"
        "  calyx-cli --signal smpte,ccif --rate 48000 --seconds 10 --bits 24\n"
        "  calyx-cli --channels left,right,inverted --rate 48000 --seconds 10\n"
        "  calyx-cli --phase exact --out exact.wav\n"
        "What holds: every kind is the same bytes on every build, faded in and out, and dithered at 16 bits. "
        "Sine: whole cycles, sum 0 up to 10 s. Sweep: ends on a whole cycle, f1 L whole (harmonics' "
        "responses L ln k early in phase); its sum is NOT cancelled (a correction would step when it stops). "
        "Multitone, smpte, ccif: each tone on whole cycles of one period, every middle period identical "
        "(loops), peak at the sine's, sum 0 up to 10 s; the summary gives the frequencies and crest factor.\n"
        "Exit status: 0 done, 1 creation or write failure, 2 refused request, 130 stopped "
        "(SIGINT, SIGTERM or SIGHUP; a file is finished with the blocks made, a stream ends early; "
        "in a set, files not yet started are not made).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? EXIT_DONE : EXIT_REFUSED;
    }
    uint32_t atOnce = 0;
    if (!RequestParseNumber(atOnceText, atOnce) || atOnce == 0) {
        std::fprintf(stderr, "--jobs: '%s' is not a whole number from 1 up.\n", atOnceText.c_str());
        return EXIT_REFUSED;
    }

    std::error_code ec;
    std::vector<ToneSetMember> members;
    const std::string refusal = ToneSetExpand(options, std::filesystem::current_path(ec).string(), members);
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return EXIT_REFUSED;
    }
    // The folder is made first, so that its files' paths can be tested; a
    // folder made for a set that is refused is taken away again.
    bool madeDir = false;
    if (!options.outDir.empty() && !std::filesystem::is_directory(options.outDir, ec))
        madeDir = std::filesystem::create_directories(options.outDir, ec);
    const int status = members.size() == 1 ? CliCreateOne(members[0].request, members[0].request.path, quiet)
                                           : CliCreateSet(members, atOnce, quiet);
    if (madeDir && status == EXIT_REFUSED) std::filesystem::remove(options.outDir, ec);
    return status;
}
