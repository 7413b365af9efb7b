#include "analyze/report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "analyze/name_text.h"
#include "analyze/response_report.h"

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

std::string Db(double v, int decimals)
{
    if (std::isnan(v)) return "not measurable";
    return std::isfinite(v) ? Number(v, decimals) : "-inf";
}

// A figure in the text; one that cannot be had says so rather than "null".
std::string Shown(double v, int decimals)
{
    return std::isfinite(v) ? Number(v, decimals) : "not measurable";
}

// Harmonics at or above half the rate, left out of the fit.
std::vector<int> LeftOut(const AnalyzeChannelResult& c)
{
    std::vector<int> out;
    for (int k = 2 + int(c.harmonicsDb.size()); k <= ANALYZE_HARMONICS_LAST; ++k)
        out.push_back(k);
    return out;
}

std::string FadeText(const char* which, double frames, const char* shape, bool found, double rate)
{
    std::string text = std::string(which) + " " + Number(frames * 1000 / rate, 2) + " ms";
    if (frames > 0) text += std::string(" (") + shape + ")";
    if (!found) text += " (not found: taken as an edge)";
    return text;
}

std::string SinadText(const AnalyzeChannelResult& c)
{
    if (c.errorBelowOneUnit && c.sinadDb == c.quantisationLimitDb)
        return "SINAD above " + Number(c.sinadDb, 2) +
               " dB (the error is below one unit: the format's limit)";
    std::string text = "SINAD " + Shown(c.sinadDb, 2) + " dB";
    if (c.errorBelowOneUnit)
        text += " (above the format's quantisation limit of " + Number(c.quantisationLimitDb, 2) +
                " dB: the error is below one unit)";
    return text;
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

// The figures in the band: a value, or "n/a" where it cannot be had.
std::string Figure(double v, int decimals, const char* unit)
{
    return std::isfinite(v) ? Format("%+.*f %s", decimals, v, unit) : std::string("n/a");
}

std::string MeasurementText(const AnalyzeMeasurement& m)
{
    return Format("  measured   THD+N and noise in %g-%g Hz, %s", m.bandLowHz, m.bandHighHz,
                  m.weightingA ? "A-weighted" : "unweighted") +
           (m.bandClipped ? " (the band asked for was clipped to half the rate)" : "") + "\n";
}

std::string ImdText(const AnalyzeImd& imd)
{
    const std::string tones = Frequency(imd.f1Hz) + " and " + Frequency(imd.f2Hz) + " Hz";
    if (std::string(imd.kind) == "smpte")
        return "IMD SMPTE (" + tones + ") " +
               (std::isfinite(imd.percent) ? Format("%.4g %%", imd.percent) : std::string("n/a")) + ", " +
               Figure(imd.db, 2, "dB");
    return "IMD CCIF (" + tones + ") d2 " + Figure(imd.d2Db, 2, "dB") + ", d3 " + Figure(imd.d3Db, 2, "dB");
}

std::string FiguresText(const AnalyzeChannelResult& c)
{
    const AnalyzeChannelFigures& f = c.figures;
    std::string line;
    const auto add = [&](const std::string& part) { line += (line.empty() ? "" : ", ") + part; };
    if (c.toneFound && !std::isfinite(f.crosstalkDb)) {
        add("THD+N " + Figure(f.thdNDb, 2, "dB") +
            (std::isfinite(f.thdNPercent) ? Format(" (%.3g %%)", f.thdNPercent) : std::string()));
        add("noise " + Figure(f.noiseDbfs, 2, "dBFS"));
    }
    if (std::isfinite(f.dynamicRangeDb))
        add("dynamic range " + Figure(f.dynamicRangeDb, 2, "dB") + " (AES17)");
    if (std::isfinite(f.crosstalkDb))
        add(Format("crosstalk from channel %u ", unsigned(f.crosstalkFrom + 1)) +
            Figure(f.crosstalkDb, 2, "dB"));
    if (std::isfinite(f.gainDb))
        add("gain " + Figure(f.gainDb, 3, "dB") + " and phase " + Figure(f.phaseDeg, 3, "deg") +
            " against the first channel");
    if (std::isfinite(f.clockOffsetPpm)) add("clock offset " + Figure(f.clockOffsetPpm, 2, "ppm"));
    if (f.hasImd) add(ImdText(f.imd));
    return line.empty() ? "" : "             " + line + "\n";
}

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
    out += MeasurementText(file.measurement);
    const AnalyzeCalyxChecks& k = file.calyx;
    out += std::string("  Calyx      header ") +
           (k.header ? "as designed (140 bytes)" : "differs: " + k.headerWhy) + "; whole cycles " +
           YesNo(k.wholeCycles) + "; fades over whole cycles " + YesNo(k.fadesWholeCycles) +
           "; sum exactly 0 " + YesNo(k.zeroSum) + "\n";
    for (size_t i = 0; i < file.channels.size(); ++i) {
        const AnalyzeChannelResult& c = file.channels[i];
        out += Format("  channel %-2zu sum %s, peak %s dBFS, RMS %s dBFS\n", i + 1, SumText(c).c_str(),
                      Db(c.peakDbfs, 2).c_str(), Db(c.rmsDbfs, 2).c_str());
        if (c.nonFiniteSamples > 0)
            out += Format(
                "             problem: %llu samples are not finite numbers (NaN or infinity), left "
                "out of the levels\n",
                (unsigned long long)c.nonFiniteSamples);
        if (!c.toneFound) {
            out += "             " + c.noToneReason + "\n" + FiguresText(c) + AnalyzeResponseText(c.response);
            continue;
        }
        out += "             tone " + Frequency(c.frequencyHz) + " Hz at " + Db(c.levelDbfs, 3) + " dBFS, " +
               Number(c.cycles, 2) + " +-" + Number(c.cyclesUncertainty, 2) + " cycles" +
               (c.wholeCycles ? " (whole)" : "") +
               (c.fadeInFound && c.fadeOutFound ? "" : " (whole cycles unknown: an end was not found)") +
               "\n";
        if (!c.fitConverged)
            out += "             the fit stopped at its bound of rounds without converging\n";
        out += "             " +
               FadeText("fade in", c.fadeInFrames, c.fadeInShape, c.fadeInFound, info.rate) + ", " +
               FadeText("fade out", c.fadeOutFrames, c.fadeOutShape, c.fadeOutFound, info.rate) +
               Format(", sustained over frames %llu to %llu\n", (unsigned long long)c.sustainFirst,
                      (unsigned long long)(c.sustainFirst + c.sustainFrames));
        const std::string noise = "below the noise (limit " + Number(c.noiseLimitDb, 1) + " dB)";
        const bool limit = c.errorBelowOneUnit && c.sinadDb == c.quantisationLimitDb;
        out += "             " + SinadText(c) + ", ENOB " + (limit ? "above " : "") + Shown(c.enobBits, 2) +
               " bits, THD " +
               (!c.hasThd                ? std::string("none below half the rate")
                : std::isfinite(c.thdDb) ? Number(c.thdDb, 2) + " dB"
                                         : noise) +
               "\n";
        if (!c.harmonicsDb.empty()) {
            out += "             harmonics dB";
            bool below = false;
            for (size_t h = 0; h < c.harmonicsDb.size(); ++h) {
                below = below || !std::isfinite(c.harmonicsDb[h]);
                out += Format("  %zu: %s", h + 2,
                              std::isfinite(c.harmonicsDb[h]) ? Db(c.harmonicsDb[h], 1).c_str() : "below");
            }
            out += (below ? "  (below: under the noise limit of " + Number(c.noiseLimitDb, 1) + " dB)"
                          : std::string()) +
                   "\n";
        }
        const std::vector<int> leftOut = LeftOut(c);
        if (!leftOut.empty())
            out += (leftOut.size() == 1
                        ? Format("             harmonic %d lies", leftOut.front())
                        : Format("             harmonics %d to %d lie", leftOut.front(), leftOut.back())) +
                   " at or above half the rate: left out (they fold onto other frequencies)\n";
        if (!c.otherTones.empty()) {
            out += "             other tones";
            for (size_t t = 0; t < c.otherTones.size(); ++t)
                out += (t ? ", " : " ") + Frequency(c.otherTones[t].frequencyHz) + " Hz at " +
                       Db(c.otherTones[t].levelDbfs, 2) + " dBFS";
            out += "\n";
        }
        out += FiguresText(c);
        out += AnalyzeResponseText(c.response);
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

// A figure with `digits` significant digits; null when it is not finite.
Json Significant(double v, int digits)
{
    if (!std::isfinite(v)) return nullptr;
    return std::strtod(Format("%.*g", digits, v).c_str(), nullptr);
}

Json ImdJson(const AnalyzeChannelFigures& f)
{
    if (!f.hasImd) return nullptr;
    const AnalyzeImd& imd = f.imd;
    Json out = {{"kind", imd.kind}, {"f1_hz", FrequencyJson(imd.f1Hz)}, {"f2_hz", FrequencyJson(imd.f2Hz)}};
    if (std::string(imd.kind) == "smpte") {
        out["percent"] = Significant(imd.percent, 6);
        out["db"] = Rounded(imd.db, 2);
    } else {
        out["d2_db"] = Rounded(imd.d2Db, 2);
        out["d3_db"] = Rounded(imd.d3Db, 2);
    }
    return out;
}

// The figures in the band, after the keys the tone analysis gives.
void AddFiguresJson(Json& channel, const AnalyzeChannelFigures& f)
{
    channel["thd_n_db"] = Rounded(f.thdNDb, 2);
    channel["thd_n_percent"] = Significant(f.thdNPercent, 6);
    channel["noise_dbfs"] = Rounded(f.noiseDbfs, 2);
    channel["dynamic_range_db"] = Rounded(f.dynamicRangeDb, 2);
    channel["gain_db"] = Rounded(f.gainDb, 4);
    channel["phase_deg"] = Rounded(f.phaseDeg, 3);
    channel["crosstalk_db"] = Rounded(f.crosstalkDb, 2);
    channel["crosstalk_from"] = std::isfinite(f.crosstalkDb) ? Json(f.crosstalkFrom + 1) : Json(nullptr);
    channel["clock_offset_ppm"] = Rounded(f.clockOffsetPpm, 3);
    channel["imd"] = ImdJson(f);
}

Json MeasurementJson(const AnalyzeMeasurement& m)
{
    return Json{{"band_hz", {Significant(m.bandLowHz, 10), Significant(m.bandHighHz, 10)}},
                {"weighting", m.weightingA ? "A" : "none"},
                {"band_clipped", m.bandClipped}};
}

Json OtherTonesJson(const AnalyzeChannelResult& c)
{
    Json tones = Json::array();
    for (const AnalyzeChannelResult::Component& t : c.otherTones)
        tones.push_back(
            Json{{"frequency_hz", FrequencyJson(t.frequencyHz)}, {"level_dbfs", Rounded(t.levelDbfs, 2)}});
    return tones;
}

Json CalyxJson(const AnalyzeCalyxChecks& k)
{
    return Json{{"header", k.header},
                {"header_differs", k.header ? Json(nullptr) : Json(k.headerWhy)},
                {"whole_cycles", k.wholeCycles},
                {"fades_whole_cycles", k.fadesWholeCycles},
                {"zero_sum", k.zeroSum}};
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
    Json channel = {
        {"sum", SumJson(c)},
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
        {"harmonics_db", harmonics},
        {"no_tone_reason", t ? Json(nullptr) : Json(c.noToneReason)},
        {"non_finite_samples", c.nonFiniteSamples},
        {"fit_converged", tone(c.fitConverged)},
        {"cycles_uncertainty", tone(Rounded(c.cyclesUncertainty, 3))},
        {"fade_in_found", tone(c.fadeInFound)},
        {"fade_out_found", tone(c.fadeOutFound)},
        {"fade_in_shape", tone(c.fadeInFrames > 0 ? Json(c.fadeInShape) : Json(nullptr))},
        {"fade_out_shape", tone(c.fadeOutFrames > 0 ? Json(c.fadeOutShape) : Json(nullptr))},
        {"sustained_frames", tone(Json::array({c.sustainFirst, c.sustainFirst + c.sustainFrames}))},
        {"quantisation_limit_db", tone(Rounded(c.quantisationLimitDb, 2))},
        {"error_below_one_unit", tone(c.errorBelowOneUnit)},
        {"noise_limit_db", tone(Rounded(c.noiseLimitDb, 2))},
        {"harmonics_left_out", tone(Json(LeftOut(c)))},
        {"other_tones", OtherTonesJson(c)}};
    AddFiguresJson(channel, c.figures);
    channel["response"] = AnalyzeResponseJson(c.response);
    return channel;
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
    return Json{{"file", AnalyzeNameText(file.path)},
                {"format", format},
                {"measurement", MeasurementJson(file.measurement)},
                {"channels", channels},
                {"calyx", ok ? CalyxJson(file.calyx) : Json(nullptr)}};
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
