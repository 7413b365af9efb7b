// Locating a channel's tone: probe, envelope, fades, and the fit of a tone
// of fades alone.

#include "analyze/tone_locate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analyze/coarse_frequency.h"
#include "analyze/enveloped_fit.h"
#include "analyze/pass.h"
#include "base/checked_index.h"

namespace {

// Thresholds on the coarse envelope, as fractions of the tone's level.
constexpr double TONE_PRESENT = 0.5;
constexpr double TONE_LEVEL = 0.98;
constexpr double HYSTERESIS = 0.3;
constexpr uint64_t PROBE_FRAMES = uint64_t(1) << 20;
constexpr double LEVEL_CYCLES_MIN = 4;
constexpr double EDGE_CYCLES = 0.5;
constexpr uint64_t FADE_REACH = 2;
constexpr int ENVELOPED_ROUNDS = 40;
constexpr uint64_t ENVELOPED_THINNED_FRAMES = 16384;
constexpr int ENVELOPED_SHAPE_ROUNDS = 4;
constexpr double ENVELOPED_SETTLED = 1e-12;
constexpr double ENVELOPED_CONVERGED = 1e-9;

// The largest of v over the window [i - half, i + half] for every i, with a
// queue of the candidates (each value enters and leaves it once).
std::vector<double> SlidingMax(const std::vector<double>& v, size_t half)
{
    std::vector<double> out(v.size());
    std::vector<size_t> queue(v.size());
    size_t head = 0, tail = 0;
    for (size_t i = 0, next = 0; i < v.size(); ++i) {
        for (; next < v.size() && next <= i + half; ++next) {
            while (tail > head && v[queue[tail - 1]] <= v[next])
                --tail;
            queue[tail++] = next;
        }
        while (queue[head] + half < i)
            ++head;
        out[i] = v[queue[head]];
    }
    return out;
}

// The envelope of the tone found: its fades, 0 outside it.
double ToneGain(const AnalyzeChannelWork& w, double n)
{
    const AnalyzeChannelResult& c = *w.out;
    if (n < w.start || n >= w.end) return 0.0;
    double g = 1.0;
    if (c.fadeInFrames > 0) g *= AnalyzeFadeGain(c.fadeInShape, (n - w.start) / c.fadeInFrames);
    if (c.fadeOutFrames > 0) g *= AnalyzeFadeGain(c.fadeOutShape, (w.end - n) / c.fadeOutFrames);
    return g;
}

}  // namespace

void AnalyzeProbe(const WaveReader& file, uint32_t channel, AnalyzeChannelWork& w)
{
    WaveReader reader = file;
    std::vector<double> buffer;
    const uint64_t frames = reader.info.frames;
    const uint64_t count = std::min<uint64_t>(frames, PROBE_FRAMES);
    const uint64_t first = (frames - count) / 2;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    if (!AnalyzeForEachRun(reader, channel, first, count, buffer, ANALYZE_RUN_FRAMES,
                           [&](const double* x, uint32_t n, uint64_t) {
                               for (uint32_t i = 0; i < n; ++i) {
                                   low = std::min(low, x[i]);
                                   high = std::max(high, x[i]);
                               }
                           }))
        return;
    const double level = (high - low) / 2;
    double nu = 0;
    AnalyzeSine sine;
    if (!(level > 0) ||
        !AnalyzeCoarseFrequency(reader, channel, first, count, (high + low) / 2, HYSTERESIS * level, buffer,
                                nu) ||
        !AnalyzeFitSine(file, channel, first, count, nu, sine))
        return;
    w.probeNu = sine.nu;
}

void AnalyzeFindTone(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, AnalyzeChannelWork& w)
{
    AnalyzeChannelResult& out = *w.out;
    const AnalyzeEnvelope& env = w.env;
    const size_t blocks = env.low.size();
    double top = 0;
    for (size_t b = 0; b < blocks; ++b)
        top = std::max(top, env.Amp(b));
    if (!(top > 0)) {
        out.noToneReason = "the channel is silent";
        return;
    }
    // The tone's level: the median envelope of the loud blocks.
    std::vector<double> loud;
    for (size_t b = 0; b < blocks; ++b)
        if (env.Amp(b) >= TONE_PRESENT * top) loud.push_back(env.Amp(b));
    std::nth_element(loud.begin(), loud.begin() + loud.size() / 2, loud.end());
    w.level = loud[loud.size() / 2];
    w.toneFirst = blocks;
    w.levelFirst = blocks;
    for (size_t b = 0; b < blocks; ++b) {
        if (env.Amp(b) >= TONE_PRESENT * w.level) {
            w.toneFirst = std::min(w.toneFirst, b);
            w.toneLast = b;
        }
        if (env.Amp(b) >= TONE_LEVEL * w.level) {
            w.levelFirst = std::min(w.levelFirst, b);
            w.levelLast = b;
        }
    }
    if (w.levelFirst > w.levelLast) w.levelFirst = w.levelLast = w.toneFirst;
    // Where the tone is roughly level, a block inside each end.
    size_t& roughFirst = w.roughFirst;
    size_t& roughLast = w.roughLast;
    roughFirst = w.levelFirst;
    roughLast = w.levelLast;
    if (roughLast >= roughFirst + 3) {
        ++roughFirst;
        --roughLast;
    }
    const uint64_t frames = reader.info.frames;
    w.r0 = roughFirst * env.block;
    w.r1 = std::min<uint64_t>(frames, (roughLast + 1) * env.block);
    w.mid = 0;
    for (size_t b = roughFirst; b <= roughLast; ++b)
        w.mid += (env.low[b] + env.high[b]) / 2;
    w.mid /= double(roughLast - roughFirst + 1);
    const double h = HYSTERESIS * w.level;
    const uint64_t t0 = w.toneFirst * env.block;
    const uint64_t t1 = std::min<uint64_t>(frames, (w.toneLast + 1) * env.block);
    if (w.probeNu > 0) {
        w.nu = w.probeNu;
    } else if (!AnalyzeCoarseFrequency(reader, channel, w.r0, w.r1 - w.r0, w.mid, h, buffer, w.nu) &&
               !AnalyzeCrossingFrequency(reader, channel, t0, t1 - t0, w.mid, h, buffer, w.nu)) {
        out.noToneReason = "no tone was found: too few zero crossings";
        return;
    }
    // A tone of a few cycles may be all fades: no level part to fit alone.
    w.fadeOnly = double(w.r1 - w.r0) * w.nu < LEVEL_CYCLES_MIN;
    if (w.fadeOnly) AnalyzeCrossingFrequency(reader, channel, t0, t1 - t0, w.mid, h, buffer, w.nu);
    w.go = true;
}

bool AnalyzeFitFadeOnly(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                        AnalyzeChannelWork& w)
{
    const AnalyzeEnvelope& env = w.env;
    const size_t half = IndexClamped(std::ceil(0.25 / (w.nu * double(env.block))), env.low.size());
    std::vector<double> low(env.low.size());
    for (size_t b = 0; b < low.size(); ++b)
        low[b] = -env.low[b];
    const std::vector<double> high = SlidingMax(env.high, half);
    low = SlidingMax(low, half);
    std::vector<double> amp(low.size());
    double top = 0;
    for (size_t b = 0; b < amp.size(); ++b)
        top = std::max(top, amp[b] = (high[b] + low[b]) / 2);
    if (!(top > 0)) return false;
    const double centre = double(env.block) / 2;
    const auto gain = [&](double n) {
        const double at = std::clamp((n - centre) / double(env.block), 0.0, double(amp.size() - 1));
        const size_t b = IndexClamped(at, amp.size());
        const size_t next = std::min(b + 1, amp.size() - 1);
        const double f = at - double(b);
        return ((1 - f) * amp[b] + f * amp[next]) / top;
    };
    const uint64_t t0 = w.toneFirst * env.block;
    const uint64_t t1 = std::min<uint64_t>(reader.info.frames, (w.toneLast + 1) * env.block);
    const uint32_t stride = uint32_t(std::max<uint64_t>(1, (t1 - t0) / ENVELOPED_THINNED_FRAMES));
    return AnalyzeFitEnveloped(reader, channel, t0, t1 - t0, gain, w.nu, stride, buffer, w.sine, &w.residual);
}

void AnalyzeFindFades(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                      AnalyzeChannelWork& w)
{
    AnalyzeChannelResult& out = *w.out;
    const uint64_t frames = reader.info.frames;
    const uint64_t E = w.env.block;
    const double cycle = 1.0 / w.sine.nu;
    const uint64_t margin = 2 * E + uint64_t(2 * cycle);
    // A fade's half below 50 % is about as long as its part from 50 % to
    // 98 % (the envelope's thresholds): where a fit over the usual margin
    // finds no fade (few samples a cycle, a coarse envelope: the region
    // holds too little of it), it is fitted again over a region reaching
    // that far.
    const uint64_t marginIn =
        margin + FADE_REACH * (w.levelFirst - std::min(w.levelFirst, w.toneFirst) + 1) * E;
    const uint64_t marginOut = margin + FADE_REACH * (w.toneLast - std::min(w.toneLast, w.levelLast) + 1) * E;
    const uint64_t inNear = w.toneFirst * E > margin ? w.toneFirst * E - margin : 0;
    const uint64_t inFar = w.toneFirst * E > marginIn ? w.toneFirst * E - marginIn : 0;
    uint64_t inEnd = std::min<uint64_t>(frames, (w.levelFirst + 1) * E + margin);
    uint64_t outFirst = w.levelLast * E > margin ? w.levelLast * E - margin : 0;
    const uint64_t outNear = std::min<uint64_t>(frames, (w.toneLast + 1) * E + margin);
    const uint64_t outFar = std::min<uint64_t>(frames, (w.toneLast + 1) * E + marginOut);
    // In a tone of fades alone, each fade is fitted up to the tone's middle.
    const uint64_t middle = (w.toneFirst * E + std::min<uint64_t>(frames, (w.toneLast + 1) * E)) / 2;
    if (w.fadeOnly) {
        inEnd = std::min(inEnd, middle);
        outFirst = std::max(outFirst, middle);
    }
    uint64_t inFirst = inNear, outEnd = outNear;
    AnalyzeFade in = AnalyzeFitFade(reader, channel, inFirst, inEnd - inFirst, w.sine, false, buffer,
                                    w.refineFades ? &w.fadeIn : nullptr);
    if (inFar < inNear && !(in.found && in.full - in.start >= EDGE_CYCLES * cycle)) {
        inFirst = inFar;
        in = AnalyzeFitFade(reader, channel, inFirst, inEnd - inFirst, w.sine, false, buffer,
                            w.refineFades ? &w.fadeIn : nullptr);
    }
    AnalyzeFade fadeOut = AnalyzeFitFade(reader, channel, outFirst, outEnd - outFirst, w.sine, true, buffer,
                                         w.refineFades ? &w.fadeOut : nullptr);
    if (outFar > outNear && !(fadeOut.found && fadeOut.start - fadeOut.full >= EDGE_CYCLES * cycle)) {
        outEnd = outFar;
        fadeOut = AnalyzeFitFade(reader, channel, outFirst, outEnd - outFirst, w.sine, true, buffer,
                                 w.refineFades ? &w.fadeOut : nullptr);
    }
    w.fadeIn = in;
    w.fadeOut = fadeOut;
    // A fade shorter than half a cycle is an edge: the tone starts or ends
    // at full level. A fade reaching a cycle beyond the farthest region, or
    // overlapping the other, is no fade of this tone (a step of level, a
    // fit drawn off by noise): the end is then an edge.
    const double reach = cycle + 1;
    const bool inFits = in.found && in.start >= double(inFar) - reach;
    const bool outFits = fadeOut.found && fadeOut.start <= double(outFar) + reach;
    const bool inFade = inFits && in.full - in.start >= EDGE_CYCLES * cycle;
    const bool outFade = outFits && fadeOut.start - fadeOut.full >= EDGE_CYCLES * cycle &&
                         (!inFade || fadeOut.full >= in.full - cycle);
    w.inFound = !in.found || inFits;
    w.outFound = !fadeOut.found || outFits;
    w.inIsEdge = !inFade;
    w.outIsEdge = !outFade;
    out.fadeInFrames = out.fadeOutFrames = 0;
    double sustainStart = 0;
    w.start = 0;
    if (inFade) {
        w.start = in.start;
        sustainStart = in.full;
        out.fadeInFrames = in.full - in.start;
        out.fadeInShape = in.shape;
    } else {
        w.start = sustainStart =
            AnalyzeFindEdge(reader, channel, inFirst, inEnd - inFirst, w.sine, false, buffer);
    }
    w.end = double(frames);
    double sustainEnd = double(frames) - 1;  // the last sustained frame
    if (outFade) {
        w.end = fadeOut.start;
        sustainEnd = fadeOut.full;
        out.fadeOutFrames = fadeOut.start - fadeOut.full;
        out.fadeOutShape = fadeOut.shape;
    } else {
        w.end = AnalyzeFindEdge(reader, channel, outFirst, outEnd - outFirst, w.sine, true, buffer);
        sustainEnd = w.end - 1;
    }
    // Neither fade is longer than the tone.
    const double span = std::max(0.0, w.end - w.start);
    out.fadeInFrames = std::min(out.fadeInFrames, span);
    out.fadeOutFrames = std::min(out.fadeOutFrames, span);
    // The sustained part, where the fit and the residual are measured.
    const double s0 = std::max(0.0, std::ceil(sustainStart));
    const double s1 = std::min(double(frames), std::floor(sustainEnd) + 1);
    w.fitFirst = w.r0;
    w.fitCount = w.r1 - w.r0;
    w.enveloped = !(s1 - s0 >= std::max(16.0, cycle));
    if (!w.enveloped) {
        w.fitFirst = IndexClamped(s0, frames + 1);
        w.fitCount = IndexClamped(s1, frames + 1) - w.fitFirst;
    }
}

// Each round gains about a factor of four, so the rounds fit a thinned set
// of samples, and the last two all of them.
void AnalyzeFitUnderFades(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                          AnalyzeChannelWork& w)
{
    int full = 0;
    for (int round = 0; round < ENVELOPED_ROUNDS && full < 2; ++round) {
        const uint64_t first = IndexClamped(std::floor(w.start), reader.info.frames + 1);
        const uint64_t end = IndexClamped(std::ceil(w.end), reader.info.frames + 1);
        if (end <= first) return;
        const uint32_t stride =
            full > 0 ? 1u : uint32_t(std::max<uint64_t>(1, (end - first) / ENVELOPED_THINNED_FRAMES));
        AnalyzeSine sine;
        if (!AnalyzeFitEnveloped(
                reader, channel, first, end - first, [&](double n) { return ToneGain(w, n); }, w.sine.nu,
                stride, buffer, sine, full > 0 ? &w.residual : nullptr))
            return;
        const double moved = std::fabs(sine.nu - w.sine.nu) / sine.nu;
        w.sine = sine;
        w.fitFirst = first;
        w.fitCount = end - first;
        if (full > 0 || moved < ENVELOPED_SETTLED || round + 3 >= ENVELOPED_ROUNDS) ++full;
        if (full == 2) {
            // The last round over all samples still moving: the rounds ran out.
            w.out->fitConverged = moved < ENVELOPED_CONVERGED;
            return;
        }
        // Every few rounds all shapes again: the first sine may have picked a wrong one.
        w.refineFades = round % ENVELOPED_SHAPE_ROUNDS != ENVELOPED_SHAPE_ROUNDS - 1;
        AnalyzeFindFades(reader, channel, buffer, w);
        w.refineFades = false;
        w.enveloped = true;
    }
}
