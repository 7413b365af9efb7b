// libFuzzer over the reader and the whole analysis: the fuzzer's bytes as a
// file, analysed on two threads (so that shared passes split), then reported
// as text and as JSON and drawn, through the public entry points only.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "analyze/analyze.h"
#include "analyze/plot.h"
#include "analyze/report.h"

namespace {

// One file per process, so that parallel fuzzing jobs do not share it.
std::string InputPath()
{
    return (std::filesystem::temp_directory_path() / ("calyx-fuzz-" + std::to_string(getpid()) + ".wav"))
        .string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = InputPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) return 0;
    const AnalyzeFileResult result = AnalyzeFile(path, 2);
    AnalyzeReportText(result);
    AnalyzeReportJsonDocument({result});
    for (uint32_t c = 0; c < result.channels.size(); ++c)
        AnalyzePlotSvg(result, c);
    return 0;
}
