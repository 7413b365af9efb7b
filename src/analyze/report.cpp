#include "analyze/report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "analyze/name_text.h"

namespace {

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A number with `decimals` places; JSON has no infinity, so null.
std::string Number(double v, int decimals)
{
    if (!std::isfinite(v)) return "null";
    std::string s = Format("%.*f", decimals, v);
    if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s = Format("%.*f", decimals, 0.0);
    return s;
}

std::string Db(double v, int decimals) { return std::isfinite(v) ? Number(v, decimals) : "-inf"; }

// Frequencies to 1e-10 relative: enough to show agreement to 1e-9.
std::string Frequency(double hz)
{
    if (!(hz > 0) || !std::isfinite(hz)) return "null";
    return Format("%.*f", std::clamp(9 - int(std::floor(std::log10(hz))), 0, 12), hz);
}

std::string SumText(const AnalyzeChannelResult& c)
{
    return c.integerSum ? std::to_string(c.sum) : Format("%.17g", c.sumFloat);
}

const char* EncodingName(const WaveInfo& info)
{
    return info.encoding == WaveEncoding::Pcm ? "pcm" : "float";
}

const char* YesNo(bool v) { return v ? "yes" : "no"; }

}  // namespace

std::string AnalyzeReportText(const AnalyzeFileResult& file)
{
    const WaveInfo& info = file.info;
    std::string out = AnalyzeNameText(file.path) + "\n";
    if (file.open != WaveOpenResult::Ok) {
        out += "  not analysed: ";
        for (size_t i = 0; i < info.problems.size(); ++i)
            out += (i ? "; " : "") + info.problems[i];
        return out + "\n";
    }
    out += Format("  format     %s %u-bit%s, %u channel%s, %u Hz, %llu frames (%.3f s), header %llu bytes\n",
                  info.encoding == WaveEncoding::Pcm ? "integer PCM" : "float", unsigned(info.bits),
                  info.extensible ? " (extensible)" : "", unsigned(info.channels),
                  info.channels == 1 ? "" : "s", unsigned(info.rate), (unsigned long long)info.frames,
                  double(info.frames) / info.rate, (unsigned long long)info.dataOffset);
    for (const std::string& p : info.problems)
        out += "  problem    " + p + "\n";
    const AnalyzeCalyxChecks& k = file.calyx;
    out += std::string("  Calyx      header ") +
           (k.header ? "as designed (140 bytes)" : "differs: " + k.headerWhy) + "; whole cycles " +
           YesNo(k.wholeCycles) + "; fades over whole cycles " + YesNo(k.fadesWholeCycles) +
           "; sum exactly 0 " + YesNo(k.zeroSum) + "\n";
    for (size_t i = 0; i < file.channels.size(); ++i) {
        const AnalyzeChannelResult& c = file.channels[i];
        out += Format("  channel %-2zu sum %s, peak %s dBFS, RMS %s dBFS\n", i + 1, SumText(c).c_str(),
                      Db(c.peakDbfs, 2).c_str(), Db(c.rmsDbfs, 2).c_str());
        if (!c.toneFound) {
            out += "             " + c.noToneReason + "\n";
            continue;
        }
        out += "             tone " + Frequency(c.frequencyHz) + " Hz at " + Db(c.levelDbfs, 3) + " dBFS, " +
               Number(c.cycles, 2) + " cycles" + (c.wholeCycles ? " (whole)" : "") + "\n";
        out += "             fade in " + Number(c.fadeInFrames * 1000 / info.rate, 2) + " ms" +
               (c.fadeInFrames > 0 ? std::string(" (") + c.fadeInShape + ")" : "") + ", fade out " +
               Number(c.fadeOutFrames * 1000 / info.rate, 2) + " ms" +
               (c.fadeOutFrames > 0 ? std::string(" (") + c.fadeOutShape + ")" : "") +
               Format(", sustained over frames %llu to %llu\n", (unsigned long long)c.sustainFirst,
                      (unsigned long long)(c.sustainFirst + c.sustainFrames));
        out += "             SINAD " + Number(c.sinadDb, 2) + " dB, ENOB " + Number(c.enobBits, 2) +
               " bits, THD " +
               (c.hasThd ? Number(c.thdDb, 2) + " dB" : std::string("none below half the rate")) + "\n";
        if (!c.harmonicsDb.empty()) {
            out += "             harmonics dB";
            for (size_t h = 0; h < c.harmonicsDb.size(); ++h)
                out += Format("  %zu: %s", h + 2, Db(c.harmonicsDb[h], 1).c_str());
            out += "\n";
        }
    }
    return out;
}

namespace {

using Json = nlohmann::ordered_json;

// A figure as the text shows it, `decimals` places, as a JSON number; null
// when it is not finite.
Json Rounded(double v, int decimals)
{
    if (!std::isfinite(v)) return nullptr;
    return std::strtod(Number(v, decimals).c_str(), nullptr);
}

Json FrequencyJson(double hz)
{
    const std::string text = Frequency(hz);
    if (text == "null") return nullptr;
    return std::strtod(text.c_str(), nullptr);
}

Json SumJson(const AnalyzeChannelResult& c)
{
    if (c.integerSum) return c.sum;
    if (!std::isfinite(c.sumFloat)) return nullptr;
    return c.sumFloat;
}

Json ChannelJson(const AnalyzeChannelResult& c, double rate)
{
    const bool t = c.toneFound;
    const auto tone = [t](Json v) { return t ? v : Json(nullptr); };
    Json harmonics = nullptr;
    if (t) {
        harmonics = Json::array();
        for (double h : c.harmonicsDb)
            harmonics.push_back(Rounded(h, 2));
    }
    return Json{{"sum", SumJson(c)},
                {"peak_dbfs", Rounded(c.peakDbfs, 3)},
                {"rms_dbfs", Rounded(c.rmsDbfs, 3)},
                {"frequency_hz", tone(FrequencyJson(c.frequencyHz))},
                {"level_dbfs", tone(Rounded(c.levelDbfs, 3))},
                {"cycles", tone(Rounded(c.cycles, 2))},
                {"whole_cycles", tone(c.wholeCycles)},
                {"fade_in_ms", tone(Rounded(c.fadeInFrames * 1000 / rate, 2))},
                {"fade_out_ms", tone(Rounded(c.fadeOutFrames * 1000 / rate, 2))},
                {"thd_db", tone(c.hasThd ? Rounded(c.thdDb, 2) : Json(nullptr))},
                {"sinad_db", tone(Rounded(c.sinadDb, 2))},
                {"enob_bits", tone(Rounded(c.enobBits, 2))},
                {"harmonics_db", harmonics}};
}

Json FileJson(const AnalyzeFileResult& file)
{
    const WaveInfo& info = file.info;
    const bool ok = file.open == WaveOpenResult::Ok;
    const auto known = [ok](Json v) { return ok ? v : Json(nullptr); };
    Json format = {{"encoding", known(EncodingName(info))},
                   {"bits", known(info.bits)},
                   {"channels", known(info.channels)},
                   {"rate", known(info.rate)},
                   {"frames", known(info.frames)},
                   {"seconds", known(Rounded(double(info.frames) / info.rate, 6))},
                   {"extensible", known(info.extensible)},
                   {"header_bytes", known(info.dataOffset)},
                   {"problems", info.problems}};
    Json channels = Json::array();
    for (const AnalyzeChannelResult& c : file.channels)
        channels.push_back(ChannelJson(c, info.rate));
    return Json{{"file", AnalyzeNameText(file.path)}, {"format", format}, {"channels", channels}};
}

}  // namespace

std::string AnalyzeReportJsonDocument(const std::vector<AnalyzeFileResult>& files)
{
    Json doc;
    if (files.size() == 1) {
        doc = FileJson(files[0]);
    } else {
        doc = Json::array();
        for (const AnalyzeFileResult& f : files)
            doc.push_back(FileJson(f));
    }
    // File names are escaped to UTF-8 already; this is for any other text.
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
