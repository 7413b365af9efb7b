// calyx-cli analyze: checks WAVE files and measures the tone they hold.

#include "cli/analyze_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "analyze/analyze.h"
#include "analyze/html_report.h"
#include "analyze/name_text.h"
#include "analyze/measure_options.h"
#include "analyze/plot.h"
#include "analyze/report.h"
#include "analyze/response_measure.h"
#include "cli/create.h"
#include "cli/output_file.h"
#include "cli/stop_signal.h"

namespace {

constexpr int EXIT_ANALYSED = 0;
constexpr int EXIT_NOT_WRITTEN = 1;  // the report or a picture
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_UNREADABLE = 3;

// With several files, PICTURE.svg becomes PICTURE-1.svg, PICTURE-2.svg, ...
std::string PlotPath(const std::string& path, size_t index, size_t files)
{
    if (files == 1) return path;
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string number = "-" + std::to_string(index + 1);
    return hasExtension ? path.substr(0, dot) + number + path.substr(dot) : path + number;
}

// The channel to draw: the first with a tone, else the first.
uint32_t PlotChannel(const AnalyzeFileResult& file)
{
    for (size_t c = 0; c < file.channels.size(); ++c)
        if (file.channels[c].toneFound) return uint32_t(c);
    return 0;
}

// The report to standard output; false, said on standard error, when it did
// not get there.
bool Report(const std::string& text)
{
    if (CliWriteStdout(text)) return true;
    const int error = errno;
    std::fprintf(stderr, "The report could not be written to standard output%s%s.\n", error ? ": " : "",
                 error ? std::strerror(error) : "");
    return false;
}

}  // namespace

int RunAnalyzeCommand(int argc, char** argv)
{
    std::vector<std::string> files;
    bool json = false;
    std::string plot;
    std::string page;
    std::string reference;
    std::string impulse;
    CLI::App app{
        "Checks RIFF/WAVE files (16-, 24-, 32-bit PCM, 32- and 64-bit float, 1 to 8 "
        "channels) and measures the tone in each: levels, exact sum, a four-parameter "
        "sine fit, cycles, fades, harmonics, THD, SINAD and ENOB; THD+N and noise in a band, "
        "dynamic range, crosstalk, gain and phase between channels, clock offset and two-tone IMD; "
        "and says which of "
        "Calyx's promises hold.",
        "calyx-cli analyze"};
    app.add_option("FILE", files, "WAVE files to analyse")->required()->type_name("");
    app.add_flag("--json", json, "Print one JSON document (an array for several files)");
    app.add_option("--plot", plot,
                   "Write an SVG picture of the first channel with a tone: the fades over the "
                   "waveform and the spectrum. With several files, PICTURE-1.svg, PICTURE-2.svg, ...")
        ->type_name("PICTURE.svg");
    app.add_option("--report", page,
                   "Write one self-contained HTML page of every file: the figures in a table, each "
                   "response's and each tone's charts, and the charts across a set of tone files")
        ->type_name("REPORT.html");
    app.add_option(
           "--reference", reference,
           "The stimulus that was played (a sweep, a multitone, or any other WAVE file at the "
           "recording's rate): measures each channel's response to it, latency and clock offset; for a "
           "sweep the harmonics against frequency, for a multitone TD+N in the band, for anything else "
           "the coherence")
        ->type_name("STIMULUS.wav");
    app.add_option(
           "--ir", impulse,
           "With --reference: write the first channel's linear impulse response as 32-bit float WAVE, "
           "its peak at the latency")
        ->type_name("IR.wav");
    // The measurement's options, each checked by the analysis's own parser.
    AnalyzeMeasureOptions measure;
    const auto parsed = [&measure](bool (*parse)(const std::string&, AnalyzeMeasureOptions&),
                                   const char* what) {
        return [&measure, parse, what](const std::string& text) {
            return parse(text, measure) ? std::string() : std::string("not ") + what + ": " + text;
        };
    };
    app.add_option("--band",
                   "THD+N and noise in LO-HI Hz (default 20-20000); full: everything above DC up to half "
                   "the rate. Beyond half the rate the band is clipped to it.")
        ->type_name("LO-HI|full")
        ->check(parsed(AnalyzeParseBand, "a band LO-HI or full"));
    app.add_option("--weighting", "none (default) or A: the A-weighting of IEC 61672-1 on the residual")
        ->type_name("none|A")
        ->check(parsed(AnalyzeParseWeighting, "none or A"));
    app.add_option("--nominal", measure.nominalHz,
                   "The frequency that was played, in Hz: gives the clock offset")
        ->type_name("HZ")
        ->check(CLI::PositiveNumber);
    app.add_option("--imd",
                   "auto (default: as the two strongest components make a pair), smpte, ccif or none")
        ->type_name("auto|smpte|ccif|none")
        ->check(parsed(AnalyzeParseImd, "auto, smpte, ccif or none"));
    app.footer(
        "Exit status: 0 every file analysed (problems found in a file are reported), "
        "1 the report or a picture could not be written, 2 wrong command line, 3 a file could not be "
        "read at all, 130 stopped (SIGINT, SIGTERM or SIGHUP).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? EXIT_ANALYSED : EXIT_USAGE;
    }

    if (!CliStdoutOpen()) {
        std::fprintf(stderr, "The report could not be written: standard output is closed.\n");
        return EXIT_NOT_WRITTEN;
    }
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<AnalyzeFileResult> results;
    std::vector<std::string> sections;  // each file's part of the page, drawn while it is open
    int status = EXIT_ANALYSED;
    for (size_t i = 0; i < files.size(); ++i) {
        results.push_back(AnalyzeFile(files[i], threads, measure, &signalStop));
        AnalyzeFileResult& r = results.back();
        if (signalStop.Requested()) {
            std::fprintf(stderr, "Stopped: %s was not analysed to its end.\n",
                         AnalyzeNameText(r.path).c_str());
            return EXIT_STOPPED;
        }
        if (r.open != WaveOpenResult::Ok) status = EXIT_UNREADABLE;
        if (!reference.empty() && r.open == WaveOpenResult::Ok) {
            AnalyzeResponseFill(r, reference, measure);
            if (!impulse.empty() && !r.channels.empty()) {
                // Asked for and not made is a failure, whatever the reason.
                const AnalyzeResponse& response = r.channels[0].response;
                const char* none = response.kind.empty() ? "the first channel has no response"
                                   : response.kind == "multitone"
                                       ? "a multitone's response holds its tones only"
                                       : nullptr;
                const std::string why = none ? ""
                                             : CliWriteRegularFile(PlotPath(impulse, i, files.size()),
                                                                   AnalyzeImpulseWave(response));
                if (none)
                    std::fprintf(stderr, "No impulse response was written to %s: %s.\n",
                                 AnalyzeNameText(impulse).c_str(), none);
                else if (!why.empty())
                    std::fprintf(stderr, "The impulse response %s could not be written: %s.\n",
                                 AnalyzeNameText(impulse).c_str(), why.c_str());
                if ((none || !why.empty()) && status == EXIT_ANALYSED) status = EXIT_NOT_WRITTEN;
            }
        }
        if (!json && !Report(AnalyzeReportText(r))) return EXIT_NOT_WRITTEN;
        if (!plot.empty() && r.open == WaveOpenResult::Ok) {
            const std::string path = PlotPath(plot, i, files.size());
            const std::string svg = AnalyzePlotSvg(r, PlotChannel(r));
            const std::string why = signalStop.Requested() ? "" : CliWriteRegularFile(path, svg);
            if (signalStop.Requested()) {
                std::fprintf(stderr, "Stopped: the picture %s was not written.\n",
                             AnalyzeNameText(path).c_str());
                return EXIT_STOPPED;
            }
            if (!why.empty()) {
                std::fprintf(stderr, "The picture %s could not be written: %s.\n",
                             AnalyzeNameText(path).c_str(), why.c_str());
                if (status == EXIT_ANALYSED) status = EXIT_NOT_WRITTEN;
            }
        }
        if (!page.empty()) sections.push_back(AnalyzeHtmlFileSection(r, i));
        r.opened = {};  // the file is closed once its picture is drawn
    }
    if (!page.empty()) {
        const std::string why = CliWriteRegularFile(page, AnalyzeHtmlPage(results, sections));
        if (signalStop.Requested()) {
            std::fprintf(stderr, "Stopped: the report %s was not written.\n", AnalyzeNameText(page).c_str());
            return EXIT_STOPPED;
        }
        if (!why.empty()) {
            std::fprintf(stderr, "The report %s could not be written: %s.\n", AnalyzeNameText(page).c_str(),
                         why.c_str());
            if (status == EXIT_ANALYSED) status = EXIT_NOT_WRITTEN;
        }
    }
    if (json && !Report(AnalyzeReportJsonDocument(results))) return EXIT_NOT_WRITTEN;
    return status;
}
