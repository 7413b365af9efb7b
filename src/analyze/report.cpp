#include "analyze/report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

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

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            out += Format("\\u%04x", c);
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

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
    std::string out = file.path + "\n";
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

std::string AnalyzeReportJson(const AnalyzeFileResult& file)
{
    const WaveInfo& info = file.info;
    const bool ok = file.open == WaveOpenResult::Ok;
    std::string out = "{ \"file\": " + JsonString(file.path) + ",\n  \"format\": { ";
    if (ok) {
        out +=
            Format("\"encoding\": \"%s\", \"bits\": %u, \"channels\": %u, \"rate\": %u, \"frames\": %llu, ",
                   EncodingName(info), unsigned(info.bits), unsigned(info.channels), unsigned(info.rate),
                   (unsigned long long)info.frames);
        out += "\"seconds\": " + Format("%.6f", double(info.frames) / info.rate) +
               ", \"extensible\": " + (info.extensible ? "true" : "false") +
               Format(", \"header_bytes\": %llu,\n              ", (unsigned long long)info.dataOffset);
    } else {
        out +=
            "\"encoding\": null, \"bits\": null, \"channels\": null, \"rate\": null, \"frames\": null, "
            "\"seconds\": null, \"extensible\": null, \"header_bytes\": null,\n              ";
    }
    out += "\"problems\": [";
    for (size_t i = 0; i < info.problems.size(); ++i)
        out += (i ? ", " : " ") + JsonString(info.problems[i]);
    out += info.problems.empty() ? "] },\n" : " ] },\n";
    out += "  \"channels\": [";
    for (size_t i = 0; i < file.channels.size(); ++i) {
        const AnalyzeChannelResult& c = file.channels[i];
        const bool t = c.toneFound;
        const auto tone = [&](const std::string& v) { return t ? v : std::string("null"); };
        out += i ? ",\n    " : " ";
        out += "{ \"sum\": " + SumText(c) + ", \"peak_dbfs\": " + Number(c.peakDbfs, 3) +
               ", \"rms_dbfs\": " + Number(c.rmsDbfs, 3) +
               ",\n      \"frequency_hz\": " + tone(Frequency(c.frequencyHz)) +
               ", \"level_dbfs\": " + tone(Number(c.levelDbfs, 3)) +
               ", \"cycles\": " + tone(Number(c.cycles, 2)) +
               ", \"whole_cycles\": " + tone(c.wholeCycles ? "true" : "false") +
               ",\n      \"fade_in_ms\": " + tone(Number(c.fadeInFrames * 1000 / info.rate, 2)) +
               ", \"fade_out_ms\": " + tone(Number(c.fadeOutFrames * 1000 / info.rate, 2)) +
               ",\n      \"thd_db\": " + tone(c.hasThd ? Number(c.thdDb, 2) : "null") +
               ", \"sinad_db\": " + tone(Number(c.sinadDb, 2)) +
               ", \"enob_bits\": " + tone(Number(c.enobBits, 2)) + ",\n      \"harmonics_db\": ";
        if (!t) {
            out += "null }";
            continue;
        }
        out += "[";
        for (size_t h = 0; h < c.harmonicsDb.size(); ++h)
            out += (h ? ", " : " ") + Number(c.harmonicsDb[h], 2);
        out += c.harmonicsDb.empty() ? "] }" : " ] }";
    }
    out += file.channels.empty() ? "] }" : " ] }";
    return out;
}

std::string AnalyzeReportJsonDocument(const std::vector<AnalyzeFileResult>& files)
{
    if (files.size() == 1) return AnalyzeReportJson(files[0]) + "\n";
    std::string out = "[\n";
    for (size_t i = 0; i < files.size(); ++i)
        out += AnalyzeReportJson(files[i]) + (i + 1 < files.size() ? ",\n" : "\n");
    return out + "]\n";
}
