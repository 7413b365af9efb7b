#include "analyze/html_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analyze/name_text.h"
#include "analyze/svg.h"

namespace {

// The columns of a channel's row: Ch to IMD.
constexpr int CHANNEL_COLUMNS = 13;

std::string Fixed(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    std::string s = text;
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
    return s;
}

// A figure, or a dash whose reason shows on hover.
std::string Cell(double v, int decimals, const std::string& why)
{
    if (std::isfinite(v)) return "<td class=\"n\">" + Fixed(v, decimals) + "</td>";
    if (v == -INFINITY)
        return "<td class=\"n\"><abbr title=\"" + AnalyzeSvgEscape(why) + "\">-&infin;</abbr></td>";
    return "<td class=\"n\"><abbr title=\"" + AnalyzeSvgEscape(why) + "\">&ndash;</abbr></td>";
}

// A cell with more on hover (a dash's reason shows over the dash itself).
std::string Hover(const std::string& cell, const std::string& title)
{
    if (title.empty()) return cell;
    return "<td title=\"" + AnalyzeSvgEscape(title) + "\"" + cell.substr(3);
}

std::string LevelsText(const AnalyzeChannelResult& c)
{
    return "the whole channel: peak " + Fixed(c.peakDbfs, 2) + " dBFS, RMS " + Fixed(c.rmsDbfs, 2) + " dBFS";
}

std::string HarmonicsText(const AnalyzeChannelResult& c)
{
    std::string out;
    for (size_t k = 0; c.toneFound && k < c.harmonicsDb.size(); ++k)
        out +=
            (out.empty() ? "harmonics (dB): " : ", ") + ("H" + std::to_string(k + 2)) + " " +
            (std::isfinite(c.harmonicsDb[k]) ? Fixed(c.harmonicsDb[k], 1) : std::string("below the noise"));
    return out;
}

std::string TextCell(const std::string& text, const char* cls = "")
{
    return std::string("<td") + (*cls ? std::string(" class=\"") + cls + "\"" : "") + ">" + text + "</td>";
}

std::string Mark(bool ok, const std::string& what, const std::string& why)
{
    const std::string title = what + (ok ? ": yes" : ": no" + (why.empty() ? "" : " (" + why + ")"));
    return std::string("<abbr class=\"") + (ok ? "ok" : "no") + "\" title=\"" + AnalyzeSvgEscape(title) +
           "\">" + (ok ? "&#10003;" : "&#10007;") + "</abbr>";
}

std::string FormatText(const WaveInfo& info)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s %u-bit %g kHz %.3g s",
                  info.encoding == WaveEncoding::Pcm ? "PCM" : "float", unsigned(info.bits),
                  info.rate / 1000.0, double(info.frames) / info.rate);
    return text;
}

// Why a tone's figure is missing, when the tone itself is.
std::string NoTone(const AnalyzeChannelResult& c)
{
    return c.toneFound ? std::string() : "no tone: " + c.noToneReason;
}

std::string Why(const AnalyzeChannelResult& c, const std::string& otherwise)
{
    const std::string none = NoTone(c);
    return none.empty() ? otherwise : none;
}

// Frequencies to 7 significant digits: 1000, 997.1234.
std::string FrequencyCell(const AnalyzeChannelResult& c)
{
    if (!c.toneFound) return Cell(NAN, 0, NoTone(c));
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", c.frequencyHz);
    return TextCell(text, "n");
}

std::string ImdCell(const AnalyzeChannelFigures& f)
{
    if (!f.hasImd)
        return TextCell("<abbr title=\"no pair of tones that make a two-tone test\">&ndash;</abbr>", "n");
    const AnalyzeImd& imd = f.imd;
    char text[160];
    if (std::string(imd.kind) == "smpte")
        std::snprintf(text, sizeof text, "SMPTE %.4g %%", imd.percent);
    else
        std::snprintf(text, sizeof text, "CCIF d2 %.1f, d3 %.1f dB", imd.d2Db, imd.d3Db);
    return TextCell(AnalyzeSvgEscape(text), "imd");
}

std::string GainCell(const AnalyzeChannelFigures& f, size_t channel)
{
    if (!std::isfinite(f.gainDb))
        return Cell(NAN, 0,
                    channel == 0 ? "the first channel is the reference"
                                 : "not measured: needs a tone in this channel and in the first");
    return TextCell(Fixed(f.gainDb, 3) + " dB / " + Fixed(f.phaseDeg, 2) + "&deg;", "n");
}

// What went wrong in a channel, and (apart) why it holds no tone.
std::string Problems(const AnalyzeChannelResult& c)
{
    std::string out;
    const auto add = [&](const std::string& p) { out += (out.empty() ? "" : "; ") + AnalyzeSvgEscape(p); };
    if (c.nonFiniteSamples > 0) add(std::to_string(c.nonFiniteSamples) + " samples are NaN or infinite");
    if (c.toneFound && !c.fitConverged) add("the fit did not converge");
    if (c.toneFound && (!c.fadeInFound || !c.fadeOutFound)) add("an end of the tone was not found");
    return out;
}

// A line under a channel's figures, across them.
std::string NoteRow(const std::string& text, const char* cls)
{
    return std::string("<tr class=\"") + cls + "\"><td colspan=\"" + std::to_string(CHANNEL_COLUMNS) + "\">" +
           text + "</td></tr>\n";
}

std::string CalyxCell(const AnalyzeCalyxChecks& k)
{
    return Mark(k.header, "the designed 140-byte header", k.headerWhy) + " " +
           Mark(k.wholeCycles, "whole cycles", "") + " " +
           Mark(k.fadesWholeCycles, "fades over whole cycles", "") + " " +
           Mark(k.zeroSum, "sum exactly 0", "");
}

}  // namespace

std::string AnalyzeHtmlSummaryTable(const std::vector<AnalyzeFileResult>& files)
{
    std::string out =
        "<div class=\"scroll\"><table class=\"summary\">\n<thead><tr><th>File</th><th>Format</th>"
        "<th title=\"Calyx's promises: header, whole cycles, fades over whole cycles, sum 0\">Calyx</th>"
        "<th>Ch</th><th>Frequency<br><span>Hz</span></th><th>Level<br><span>dBFS</span></th>"
        "<th>THD<br><span>dB</span></th><th>THD+N<br><span>dB</span></th><th>SINAD<br><span>dB</span></th>"
        "<th>ENOB<br><span>bits</span></th><th>Noise<br><span>dBFS</span></th><th>DR<br><span>dB</span></th>"
        "<th>Crosstalk<br><span>dB</span></th><th>Gain / phase<br><span>vs ch 1</span></th>"
        "<th>Clock<br><span>ppm</span></th><th>IMD</th></tr></thead>\n<tbody>\n";
    for (const AnalyzeFileResult& file : files) {
        const std::string name = AnalyzeSvgEscape(AnalyzeNameText(file.path));
        std::string problems;
        for (const std::string& p : file.info.problems)
            problems += (problems.empty() ? "" : "; ") + AnalyzeSvgEscape(p);
        if (file.open != WaveOpenResult::Ok || file.channels.empty()) {
            out += "<tr class=\"first\"><td class=\"file\">" + name + "</td><td colspan=\"" +
                   std::to_string(CHANNEL_COLUMNS + 2) +
                   "\" class=\"bad\">not analysed: " + (problems.empty() ? "no channels" : problems) +
                   "</td></tr>\n";
            continue;
        }
        std::string rows;
        size_t count = 0;
        for (size_t i = 0; i < file.channels.size(); ++i) {
            const AnalyzeChannelResult& c = file.channels[i];
            const AnalyzeChannelFigures& f = c.figures;
            const double t = c.toneFound ? 0.0 : NAN;
            if (i > 0) rows += "<tr>";
            rows += "<td class=\"n\">" + std::to_string(i + 1) + "</td>";
            rows += FrequencyCell(c);
            rows += Hover(Cell(c.levelDbfs + t, 2, NoTone(c)), LevelsText(c));
            rows += Hover(Cell(c.hasThd ? c.thdDb + t : NAN, 2,
                               Why(c, c.hasThd ? "below the noise (limit " + Fixed(c.noiseLimitDb, 1) + " dB)"
                                               : "no harmonic lies below half the rate")),
                          HarmonicsText(c));
            const std::string crosstalk =
                std::isfinite(f.crosstalkDb) ? "this channel holds crosstalk, not a tone" : "";
            rows += Cell(f.thdNDb, 2, crosstalk.empty() ? Why(c, "no residual to measure") : crosstalk);
            rows += Cell(c.sinadDb + t, 2, NoTone(c));
            rows += Cell(c.enobBits + t, 2, NoTone(c));
            rows += Cell(f.noiseDbfs, 2, crosstalk.empty() ? Why(c, "no residual to measure") : crosstalk);
            rows += Cell(f.dynamicRangeDb, 2, "measured (AES17) only on a tone near -60 dBFS");
            rows += Cell(f.crosstalkDb, 2, "the channel holds its own tone, or nothing");
            rows += GainCell(f, i);
            rows += Cell(f.clockOffsetPpm, 2, "needs --nominal HZ, the frequency played");
            rows += ImdCell(f) + "</tr>\n";
            ++count;
            const std::string p = Problems(c);
            const std::string label = "Channel " + std::to_string(i + 1) + ": ";
            if (!p.empty()) {
                rows += NoteRow(label + p, "problem");
                ++count;
            }
            if (!c.toneFound) {
                rows += NoteRow(label + "no tone: " + AnalyzeSvgEscape(c.noToneReason), "why");
                ++count;
            }
        }
        if (!problems.empty()) {
            rows += NoteRow("File: " + problems, "problem");
            ++count;
        }
        const std::string span = " rowspan=\"" + std::to_string(count) + "\"";
        out += "<tr class=\"first\"><td class=\"file\"" + span + ">" + name + "</td><td class=\"format\"" +
               span + ">" + AnalyzeSvgEscape(FormatText(file.info)) + "</td><td class=\"marks\"" + span +
               ">" + CalyxCell(file.calyx) + "</td>" + rows;
    }
    return out + "</tbody></table></div>\n";
}

std::string AnalyzeHtmlResponseTable(const std::vector<AnalyzeFileResult>& files)
{
    std::string rows;
    for (const AnalyzeFileResult& file : files)
        for (size_t i = 0; i < file.channels.size(); ++i) {
            const AnalyzeResponse& r = file.channels[i].response;
            const std::string start = "<tr><td class=\"file\">" +
                                      AnalyzeSvgEscape(AnalyzeNameText(file.path)) + "</td><td class=\"n\">" +
                                      std::to_string(i + 1) + "</td>";
            if (r.kind.empty()) {
                if (!r.reason.empty())
                    rows += start +
                            "<td colspan=\"9\" class=\"bad\">not measured: " + AnalyzeSvgEscape(r.reason) +
                            "</td></tr>\n";
                continue;
            }
            double low = INFINITY, high = -INFINITY, f0 = INFINITY, f1 = 0;
            for (const AnalyzeResponsePoint& p : r.points) {
                low = std::min(low, p.gainDb);
                high = std::max(high, p.gainDb);
                f0 = std::min(f0, p.frequencyHz);
                f1 = std::max(f1, p.frequencyHz);
            }
            const double rate = r.rate > 0 ? r.rate : file.info.rate;
            rows += start + "<td>" + AnalyzeSvgEscape(r.kind) + "</td>" + Cell(r.latencySamples, 2, "") +
                    Cell(r.latencySamples * 1000 / rate, 3, "") +
                    Cell(r.clockOffsetPpm, 2, "measured from a sweep or a multitone only") +
                    Cell(r.points.empty() ? NAN : f0, 1, "no points") +
                    Cell(r.points.empty() ? NAN : f1, 1, "no points") +
                    Cell(r.points.empty() ? NAN : low, 2, "no points") +
                    Cell(r.points.empty() ? NAN : high, 2, "no points") +
                    Cell(r.kind == "multitone" ? r.tdNDb : NAN, 2, "measured from a multitone only") +
                    "</tr>\n";
        }
    if (rows.empty()) return {};
    return "<div class=\"scroll\"><table "
           "class=\"summary\">\n<thead><tr><th>File</th><th>Ch</th><th>Stimulus</th>"
           "<th>Latency<br><span>samples</span></th><th>Latency<br><span>ms</span></th>"
           "<th>Clock<br><span>ppm</span></th><th>From<br><span>Hz</span></th><th>To<br><span>Hz</span></th>"
           "<th>Gain min<br><span>dB</span></th><th>Gain max<br><span>dB</span></th>"
           "<th>TD+N<br><span>dB</span></th></tr></thead>\n<tbody>\n" +
           rows + "</tbody></table></div>\n";
}
