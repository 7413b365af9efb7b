#include "analyze/html_report.h"

#include <algorithm>

#include "analyze/html_charts.h"
#include "analyze/html_table.h"
#include "analyze/name_text.h"
#include "analyze/plot.h"
#include "analyze/svg.h"

namespace {

// Restrained: the picture's own greys and blue, tables aligned on figures.
constexpr const char* STYLE = R"(
body { margin: 0; background: #f4f5f7; color: #222; font: 14px/1.45 "DejaVu Sans", Arial, sans-serif; }
main { max-width: 1240px; margin: 0 auto; padding: 20px 20px 40px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 10px; padding-bottom: 4px; border-bottom: 2px solid #4a7ab5; }
h3 { font-size: 15px; margin: 18px 0 8px; overflow-wrap: anywhere; }
p.lead { margin: 0 0 12px; color: #555; }
section { background: #fff; border: 1px solid #dcdfe4; border-radius: 4px; padding: 4px 16px 16px; margin-top: 14px; }
.scroll { overflow-x: auto; background: #fff; border: 1px solid #dcdfe4; border-radius: 4px; }
table.summary { border-collapse: collapse; font-size: 12px; width: 100%; }
table.summary th { background: #eef1f5; font-weight: 600; text-align: center; padding: 5px 6px; border-bottom: 1px solid #c9ced6; vertical-align: bottom; }
table.summary th span { font-weight: normal; color: #666; }
table.summary td { padding: 4px 6px; border-bottom: 1px solid #eceef1; vertical-align: top; }
table.summary tr.first td { border-top: 1px solid #c9ced6; }
td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.file { font-weight: 600; min-width: 150px; max-width: 260px; overflow-wrap: break-word; }
td.marks { white-space: nowrap; }
td.format { max-width: 140px; color: #444; }
td.imd { text-align: right; }
tr.problem td, td.bad { color: #b03a2e; font-size: 11px; padding-top: 0; }
tr.why td { color: #777; font-size: 11px; font-style: italic; padding-top: 0; }
abbr { text-decoration: none; cursor: help; }
td.n abbr { color: #999; }
abbr.ok { color: #2f9e44; }
abbr.no { color: #d23c2c; }
.charts { display: flex; flex-wrap: wrap; gap: 12px 16px; }
figure { margin: 0; }
figure svg { max-width: 100%; height: auto; display: block; }
.picture svg { width: 100%; height: auto; display: block; }
p.note { font-size: 12px; color: #666; margin: 8px 0 0; }
)";

std::string FileTitle(const AnalyzeFileResult& file, size_t index)
{
    return std::to_string(index + 1) + ". " + AnalyzeSvgEscape(AnalyzeNameText(file.path));
}

}  // namespace

std::string AnalyzeHtmlFileSection(const AnalyzeFileResult& file, size_t index)
{
    if (file.open != WaveOpenResult::Ok) return {};
    std::string charts;
    for (size_t c = 0; c < file.channels.size(); ++c)
        charts += AnalyzeHtmlResponseCharts(file.channels[c].response, uint32_t(c));
    std::string picture;
    for (size_t c = 0; c < file.channels.size() && picture.empty(); ++c) {
        if (!file.channels[c].toneFound || !file.channels[c].response.kind.empty()) continue;
        // The analysis's own picture, inline: without its XML declaration.
        std::string svg = AnalyzePlotSvg(file, uint32_t(c));
        const size_t start = svg.find("<svg");
        if (start != std::string::npos) picture = "<div class=\"picture\">" + svg.substr(start) + "</div>\n";
    }
    if (charts.empty() && picture.empty()) return {};
    return "<section id=\"file-" + std::to_string(index + 1) + "\">\n<h3>" + FileTitle(file, index) +
           "</h3>\n" + (charts.empty() ? "" : "<div class=\"charts\">\n" + charts + "</div>\n") + picture +
           "</section>\n";
}

std::string AnalyzeHtmlPage(const std::vector<AnalyzeFileResult>& files,
                            const std::vector<std::string>& sections)
{
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Calyx analysis report</title>\n<style>" +
        std::string(STYLE) + "</style>\n</head>\n<body>\n<main>\n<h1>Calyx analysis report</h1>\n";
    out += "<p class=\"lead\">" + std::to_string(files.size()) + (files.size() == 1 ? " file" : " files") +
           " analysed by <code>calyx-cli analyze</code>. A dash is a figure that could not be had: "
           "hover over it for the reason.</p>\n";
    out += "<h2>Figures</h2>\n" + AnalyzeHtmlSummaryTable(files);
    const auto analysed = std::find_if(
        files.begin(), files.end(), [](const AnalyzeFileResult& f) { return f.open == WaveOpenResult::Ok; });
    if (analysed != files.end()) {
        const AnalyzeMeasurement& m = analysed->measurement;
        out += "<p class=\"note\">THD+N and noise in " + AnalyzeSvgLabel(m.bandLowHz) + "&ndash;" +
               AnalyzeSvgLabel(m.bandHighHz) + " Hz, " + (m.weightingA ? "A-weighted" : "unweighted") +
               "; THD, THD+N and crosstalk relative to the fundamental; DR is AES17's dynamic range. Calyx: "
               "the designed header, whole cycles, fades over whole cycles, sum exactly 0.</p>\n";
    }
    const std::string responses = AnalyzeHtmlResponseTable(files);
    if (!responses.empty()) out += "<h2>Responses</h2>\n" + responses;
    const std::string sets = AnalyzeHtmlSetCharts(files);
    if (!sets.empty())
        out += "<h2>Across the files</h2>\n<section><div class=\"charts\">\n" + sets + "</div></section>\n";
    std::string each;
    for (const std::string& s : sections)
        each += s;
    if (!each.empty()) out += "<h2>Each file</h2>\n" + each;
    return out + "</main>\n</body>\n</html>\n";
}
