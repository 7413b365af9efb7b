#include "analyze/response_report.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

namespace {

using Json = nlohmann::ordered_json;

// Fixed places, so that every build prints the same figures; null when not finite.
Json Places(double v, int places)
{
    if (!std::isfinite(v)) return nullptr;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, v);
    // A figure that rounds to 0 prints as 0: its sign, from the last bits,
    // may differ between builds.
    const double rounded = std::strtod(text, nullptr);
    return rounded == 0.0 ? 0.0 : rounded;
}

// v with a figure that rounds to 0 at places made 0: "-0.00" says nothing.
double Unsigned(double v, int places) { return std::fabs(v) < 0.5 * std::pow(10.0, -places) ? 0.0 : v; }

std::string ClockText(double ppm)
{
    if (!std::isfinite(ppm)) return "not measured";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f ppm", Unsigned(ppm, 2));
    return text;
}

}  // namespace

Json AnalyzeResponseJson(const AnalyzeResponse& r)
{
    if (r.kind.empty() && r.reason.empty()) return nullptr;
    if (r.kind.empty()) return {{"kind", nullptr}, {"reason", r.reason}};
    Json points = Json::array();
    for (const AnalyzeResponsePoint& p : r.points)
        points.push_back({{"frequency_hz", Places(p.frequencyHz, 3)},
                          {"gain_db", Places(p.gainDb, 3)},
                          {"phase_deg", Places(p.phaseDeg, 2)},
                          {"coherence", Places(p.coherence, 4)}});
    Json harmonics = Json::array();
    for (const AnalyzeHarmonicCurve& h : r.harmonics) {
        Json curve = Json::array();
        for (const AnalyzeLevelPoint& p : h.points)
            curve.push_back({{"frequency_hz", Places(p.frequencyHz, 3)}, {"level_db", Places(p.levelDb, 2)}});
        harmonics.push_back({{"order", h.order}, {"points", curve}});
    }
    Json noise = Json::array();
    for (const AnalyzeLevelPoint& p : r.noiseFloor)
        noise.push_back({{"frequency_hz", Places(p.frequencyHz, 3)}, {"level_db", Places(p.levelDb, 2)}});
    return {{"kind", r.kind},
            {"reason", nullptr},
            {"latency_samples", Places(r.latencySamples, 3)},
            {"clock_offset_ppm", Places(r.clockOffsetPpm, 2)},
            {"points", points},
            {"harmonics", harmonics},
            {"td_n_db", Places(r.tdNDb, 2)},
            {"noise_floor", noise}};
}

std::string AnalyzeResponseText(const AnalyzeResponse& r)
{
    if (r.kind.empty() && r.reason.empty()) return "";
    if (r.kind.empty()) return "             response not measured: " + r.reason + "\n";
    char line[256];
    std::snprintf(line, sizeof line, "             response (%s): latency %.3f samples, clock offset %s\n",
                  r.kind.c_str(), Unsigned(r.latencySamples, 3), ClockText(r.clockOffsetPpm).c_str());
    std::string out = line;
    // The gain's spread over the points, and the distortion's worst.
    if (!r.points.empty()) {
        double lo = r.points.front().gainDb, hi = lo;
        for (const AnalyzeResponsePoint& p : r.points) {
            lo = std::min(lo, p.gainDb);
            hi = std::max(hi, p.gainDb);
        }
        std::snprintf(line, sizeof line, "             gain %.2f to %.2f dB from %.6g to %.6g Hz\n",
                      Unsigned(lo, 2), Unsigned(hi, 2), r.points.front().frequencyHz,
                      r.points.back().frequencyHz);
        out += line;
    }
    // A multitone's few tones each; elsewhere how far the points are to be trusted.
    double leastCoherence = 1.0;
    for (const AnalyzeResponsePoint& p : r.points) {
        if (std::isfinite(p.coherence)) leastCoherence = std::min(leastCoherence, p.coherence);
        if (r.kind != "multitone") continue;
        // Rounded first, so that a hair below zero does not print as -0.000.
        std::snprintf(line, sizeof line, "             tone %.6g Hz: gain %.3f dB, phase %.2f degrees\n",
                      p.frequencyHz, std::round(p.gainDb * 1e3) / 1e3 + 0.0,
                      std::round(p.phaseDeg * 1e2) / 1e2 + 0.0);
        out += line;
    }
    if (r.kind == "other" && !r.points.empty()) {
        std::snprintf(line, sizeof line, "             coherence at least %.4f\n", leastCoherence);
        out += line;
    }
    for (const AnalyzeHarmonicCurve& h : r.harmonics) {
        if (h.points.empty()) continue;
        double worst = h.points.front().levelDb;
        for (const AnalyzeLevelPoint& p : h.points)
            worst = std::max(worst, p.levelDb);
        std::snprintf(line, sizeof line, "             harmonic %d at most %.1f dB\n", h.order, worst);
        out += line;
    }
    if (std::isfinite(r.tdNDb)) {
        std::snprintf(line, sizeof line, "             TD+N %.2f dB\n", r.tdNDb);
        out += line;
    }
    return out;
}
