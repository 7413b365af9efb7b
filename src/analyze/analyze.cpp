// One file's analysis: the passes over its channels and Calyx's checks.
//
// (1) One pass for every channel: levels, the exact sum and a coarse
// envelope. (2) Per channel, from the envelope: where the tone is and where
// it is roughly level; there a coarse frequency (zero crossings, or the
// spectrum's peak near half the rate) and fits over ever smaller middle
// parts. (3) Shared passes: the four-parameter fit over the level part.
// (4) Per channel: the fades at both ends from their shape, which give the
// tone's start, end and sustained part (a tone of fades alone is fitted
// under them instead). (5) One shared pass: the residual over the sustained
// part, for SINAD and the harmonics. Shared passes read the file once for
// all channels, split by position between threads.

#include "analyze/analyze.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

#include "analyze/analyze_internal.h"
#include "analyze/plot.h"
#include "wave/wave_format.h"

namespace {

constexpr uint32_t RUN_FRAMES = 16384;
constexpr uint64_t ENVELOPE_BLOCKS_MAX = 32768;
constexpr uint64_t ENVELOPE_BLOCK_MIN = 64;
// Thresholds on the coarse envelope, as fractions of the tone's level.
constexpr double TONE_PRESENT = 0.5;
constexpr double TONE_LEVEL = 0.98;
constexpr double HYSTERESIS = 0.3;
// A fit whose residual is not this far below the fitted sine found noise.
constexpr double SINAD_TONE_MIN_DB = 3.0;
constexpr double WHOLE_CYCLES_TOLERANCE = 0.05;
constexpr uint64_t COARSE_FRAMES = uint64_t(1) << 20;
constexpr double REFIT_SHARE = 0.99;
constexpr uint64_t PROBE_FRAMES = uint64_t(1) << 20;
constexpr uint32_t SPECTRUM_FRAMES = 16384;
constexpr double SPECTRUM_CYCLES_MIN = 8;
constexpr double LEVEL_CYCLES_MIN = 4;
constexpr double EDGE_CYCLES = 0.5;
constexpr int ENVELOPED_ROUNDS = 40;
constexpr uint64_t ENVELOPED_THINNED_FRAMES = 16384;
constexpr int ENVELOPED_SHAPE_ROUNDS = 4;
constexpr double ENVELOPED_SETTLED = 1e-12;

constexpr size_t CALYX_NOTICE_CHARS = sizeof WAVE_NOTICE_TEXT - 1;

double Db20(double ratio)
{
    return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

struct Envelope {
    uint64_t block = 0;
    std::vector<double> low, high;
    double Amp(size_t i) const { return (high[i] - low[i]) / 2; }
};

// Per channel: levels, the exact sum and the envelope, gathered per part
// of the pass and added in order.
struct LevelSums {
    int64_t sum = 0;
    CompensatedSum floatSum;
    CompensatedSum squares;
};

struct ChannelWork {
    ChannelAnalysis* out = nullptr;
    Envelope env;
    std::vector<LevelSums> levelParts;
    bool go = false;          // still has a tone to measure
    uint64_t r0 = 0, r1 = 0;  // where the tone is roughly level
    size_t toneFirst = 0, toneLast = 0, levelFirst = 0, levelLast = 0;
    double level = 0, mid = 0, nu = 0;
    AnalyzeFitProblem fit;
    AnalyzeSine sine;
    uint64_t fitFirst = 0, fitCount = 0;
    double start = 0, end = 0;
    bool enveloped = false;       // no sustained part: fitted with its fades
    bool fadeOnly = false;        // not even a few cycles at the tone's level
    AnalyzeFade fadeIn, fadeOut;  // as last found, for refining
    bool refineFades = false;     // refine those in their shapes rather than try every shape
    AnalyzeResidual residual;
    double probeNu = 0;                         // from the middle of the file, before the first pass
    std::shared_ptr<AnalyzeBlockFit> blockFit;  // the first pass's fit sums at probeNu
    size_t roughFirst = 0, roughLast = 0;
};

#if defined(__x86_64__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_CLONES
#endif

// The lowest and highest sample of a block, its sum and its sum of squares;
// the sums in four parts (AnalyzeLanes), exact for integers: |sum| < 2^31 x
// 2^13 per part.
VECTOR_CLONES void BlockLevels(const double* x, uint32_t n, double& low, double& high, double& sum,
                               double& squares)
{
    double lo[4] = {x[0], x[0], x[0], x[0]}, hi[4] = {x[0], x[0], x[0], x[0]};
    AnalyzeLanes s = {}, q = {};
    const uint32_t whole = n - n % 4;
    for (uint32_t i = 0; i < whole; i += 4) {
        AnalyzeLanes v;
        std::memcpy(&v, x + i, sizeof v);
        s += v;
        q += v * v;
        for (int k = 0; k < 4; ++k) {
            lo[k] = x[i + k] < lo[k] ? x[i + k] : lo[k];
            hi[k] = x[i + k] > hi[k] ? x[i + k] : hi[k];
        }
    }
    for (uint32_t i = whole; i < n; ++i) {
        lo[0] = std::min(lo[0], x[i]);
        hi[0] = std::max(hi[0], x[i]);
        s[0] += x[i];
        q[0] += x[i] * x[i];
    }
    low = std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3]));
    high = std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]));
    sum = AnalyzeLaneSum(s);
    squares = AnalyzeLaneSum(q);
}

AnalyzePassJob LevelsJob(const WaveInfo& info, uint32_t channel, ChannelWork& w, unsigned parts)
{
    w.env.block = std::max(ENVELOPE_BLOCK_MIN, (info.frames + ENVELOPE_BLOCKS_MAX - 1) / ENVELOPE_BLOCKS_MAX);
    const size_t blocks = size_t((info.frames + w.env.block - 1) / w.env.block);
    if (w.probeNu > 0) w.blockFit = AnalyzeBlockFitMake(w.probeNu, uint32_t(w.env.block), blocks);
    w.env.low.assign(blocks, 0.0);
    w.env.high.assign(blocks, 0.0);
    w.levelParts.assign(parts, LevelSums{});
    const bool integer = info.encoding == WaveEncoding::Pcm;
    AnalyzePassJob job;
    job.channel = channel;
    job.first = 0;
    job.count = info.frames;
    job.block = uint32_t(w.env.block);
    ChannelWork* work = &w;
    job.onBlock = [work, integer](unsigned part, const double* x, uint32_t n, uint64_t, uint64_t index) {
        double lo, hi, blockSum, blockSquares;
        BlockLevels(x, n, lo, hi, blockSum, blockSquares);
        LevelSums& sums = work->levelParts[part];
        work->env.low[index] = lo;
        work->env.high[index] = hi;
        if (integer) {
            sums.sum += int64_t(blockSum);
        } else {
            for (uint32_t k = 0; k < n; ++k)
                sums.floatSum.Add(x[k]);
        }
        sums.squares.Add(blockSquares);
        if (work->blockFit) AnalyzeBlockFitAdd(*work->blockFit, x, n, index);
    };
    return job;
}

void FinishLevels(const WaveInfo& info, ChannelWork& w)
{
    ChannelAnalysis& out = *w.out;
    int64_t sum = 0;
    CompensatedSum floatSum, squares;
    for (const LevelSums& p : w.levelParts) {
        sum += p.sum;
        floatSum.Add(p.floatSum.Value());
        squares.Add(p.squares.Value());
    }
    double low = 0, high = 0;
    for (size_t b = 0; b < w.env.low.size(); ++b) {
        low = b == 0 ? w.env.low[b] : std::min(low, w.env.low[b]);
        high = b == 0 ? w.env.high[b] : std::max(high, w.env.high[b]);
    }
    const double fs = WaveFullScale(info);
    out.integerSum = info.encoding == WaveEncoding::Pcm;
    out.sum = sum;
    out.sumFloat = out.integerSum ? double(sum) : floatSum.Value();
    out.peakDbfs = Db20(std::max(std::fabs(low), std::fabs(high)) / fs);
    out.rmsDbfs = Db20(std::sqrt(std::max(0.0, squares.Value()) / double(info.frames)) / fs);
}

// Zero crossings of the mid level with hysteresis: their count and the
// first and last of each direction give the frequency in cycles per sample.
bool CoarseFrequency(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, double mid,
                     double h, std::vector<double>& buffer, double& nu)
{
    int state = 0;  // -1 below mid - h, +1 above mid + h
    double prev = 0;
    uint64_t rises = 0, falls = 0;
    double firstRise = 0, lastRise = 0, firstFall = 0, lastFall = 0;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, RUN_FRAMES,
                                      [&](const double* x, uint32_t n, uint64_t frame) {
                                          for (uint32_t i = 0; i < n; ++i) {
                                              const double v = x[i];
                                              if (state <= 0 && v >= mid && state == -1) {
                                                  const double t = double(frame + i) - (v - mid) / (v - prev);
                                                  if (rises++ == 0) firstRise = t;
                                                  lastRise = t;
                                                  state = 0;
                                              } else if (state >= 0 && v < mid && state == 1) {
                                                  const double t = double(frame + i) - (mid - v) / (prev - v);
                                                  if (falls++ == 0) firstFall = t;
                                                  lastFall = t;
                                                  state = 0;
                                              }
                                              if (v < mid - h)
                                                  state = -1;
                                              else if (v > mid + h)
                                                  state = 1;
                                              prev = v;
                                          }
                                      });
    if (!ok) return false;
    // One direction alone is free of any bias of the mid level.
    if (rises >= 2 && rises >= falls) {
        nu = double(rises - 1) / (lastRise - firstRise);
    } else if (falls >= 2) {
        nu = double(falls - 1) / (lastFall - firstFall);
    } else if (rises == 1 && falls == 1 && lastFall != lastRise) {
        nu = 0.5 / std::fabs(lastFall - lastRise);  // half a cycle apart
    } else {
        return false;
    }
    return nu > 0 && nu < 0.5;
}

// The largest peak of the spectrum of `count` frames (a power of two), Hann
// windowed, interpolated between bins on the logarithm of the magnitude.
// Zero crossings miss some half cycles near half the rate, where a half
// cycle holds one sample or less; the spectrum does not.
bool SpectralPeak(WaveReader& reader, uint32_t channel, uint64_t first, uint32_t count,
                  std::vector<double>& buffer, double& nu)
{
    std::vector<double> re(count), im(count, 0.0);
    double mean = 0;
    const bool ok = AnalyzeForEachRun(reader, channel, first, count, buffer, RUN_FRAMES,
                                      [&](const double* x, uint32_t n, uint64_t frame) {
                                          for (uint32_t i = 0; i < n; ++i) {
                                              re[frame - first + i] = x[i];
                                              mean += x[i];
                                          }
                                      });
    if (!ok) return false;
    mean /= count;
    for (uint32_t i = 0; i < count; ++i)
        re[i] = (re[i] - mean) * (0.5 - 0.5 * std::cos(ANALYZE_TWO_PI * i / count));
    AnalyzeFft(re.data(), im.data(), count);
    uint32_t peak = 1;
    const auto power = [&](uint32_t k) { return re[k] * re[k] + im[k] * im[k]; };
    for (uint32_t k = 2; k < count / 2; ++k)
        if (power(k) > power(peak)) peak = k;
    const double a = std::log(power(peak - 1) + 1e-300), b = std::log(power(peak) + 1e-300),
                 c = std::log(power(peak + 1) + 1e-300);
    const double curve = a - 2 * b + c;
    const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    nu = (peak + shift) / count;
    return nu > 0 && nu < 0.5;
}

// A coarse frequency of frames [first, first + count): the zero crossings of
// its middle (or all of it), and the spectrum's peak where the spectrum's
// window holds enough cycles to resolve them; the crossings are the finer
// estimate where the two agree.
bool CoarseEstimate(WaveReader& reader, uint32_t channel, uint64_t first, uint64_t count, double mid,
                    double h, std::vector<double>& buffer, double& nu)
{
    const uint64_t span = std::min<uint64_t>(count, COARSE_FRAMES);
    double crossings = 0, spectral = 0;
    const bool counted =
        CoarseFrequency(reader, channel, first + (count - span) / 2, span, mid, h, buffer, crossings) ||
        (span < count && CoarseFrequency(reader, channel, first, count, mid, h, buffer, crossings));
    uint32_t window = SPECTRUM_FRAMES;
    while (window > count)
        window /= 2;
    const bool peaked =
        window >= 64 &&
        SpectralPeak(reader, channel, first + (count - window) / 2, window, buffer, spectral) &&
        spectral * window >= SPECTRUM_CYCLES_MIN;
    if (peaked && !(counted && std::fabs(crossings - spectral) * window < 1.0)) {
        nu = spectral;
        return true;
    }
    if (counted) nu = crossings;
    return counted;
}

// Before the first pass, the middle of the channel, where a tone is usually
// level: its frequency fitted there, so that the first pass can gather the
// fit's sums as it reads the levels. Nothing when no tone shows there.
void Probe(const std::string& path, uint32_t channel, ChannelWork& w)
{
    WaveReader reader;
    std::vector<double> buffer;
    if (WaveOpen(reader, path.c_str()) != WaveOpenResult::Ok) return;
    const uint64_t frames = reader.info.frames;
    const uint64_t count = std::min<uint64_t>(frames, PROBE_FRAMES);
    const uint64_t first = (frames - count) / 2;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    if (!AnalyzeForEachRun(reader, channel, first, count, buffer, RUN_FRAMES,
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
        !CoarseEstimate(reader, channel, first, count, (high + low) / 2, HYSTERESIS * level, buffer, nu) ||
        !AnalyzeFitSine(path, channel, first, count, nu, sine))
        return;
    w.probeNu = sine.nu;
}

// From the envelope: where the tone is, where it is roughly level, its
// level; then a coarse frequency from the zero crossings there.
void FindTone(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, ChannelWork& w)
{
    ChannelAnalysis& out = *w.out;
    const Envelope& env = w.env;
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
    } else if (!CoarseEstimate(reader, channel, w.r0, w.r1 - w.r0, w.mid, h, buffer, w.nu) &&
               !CoarseFrequency(reader, channel, t0, t1 - t0, w.mid, h, buffer, w.nu)) {
        out.noToneReason = "no tone was found: too few zero crossings";
        return;
    }
    // A tone of a few cycles may be all fades: no level part to fit alone.
    w.fadeOnly = double(w.r1 - w.r0) * w.nu < LEVEL_CYCLES_MIN;
    if (w.fadeOnly) CoarseFrequency(reader, channel, t0, t1 - t0, w.mid, h, buffer, w.nu);
    w.go = true;
}

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

// A first fit of a tone that is all fades, under the coarse envelope taken
// over half a cycle (a block of a slow tone holds a slope, not a swing).
bool FitFadeOnly(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, ChannelWork& w)
{
    const Envelope& env = w.env;
    const size_t half = size_t(std::ceil(0.25 / (w.nu * double(env.block))));
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
        const size_t b = std::min(size_t(at), amp.size() - 1);
        const size_t next = std::min(b + 1, amp.size() - 1);
        const double f = at - double(b);
        return ((1 - f) * amp[b] + f * amp[next]) / top;
    };
    const uint64_t t0 = w.toneFirst * env.block;
    const uint64_t t1 = std::min<uint64_t>(reader.info.frames, (w.toneLast + 1) * env.block);
    const uint32_t stride = uint32_t(std::max<uint64_t>(1, (t1 - t0) / ENVELOPED_THINNED_FRAMES));
    return AnalyzeFitEnveloped(reader, channel, t0, t1 - t0, gain, w.nu, stride, buffer, w.sine, &w.residual);
}

// The fades at both ends, over the rough envelope's slopes with a margin of
// two blocks and two cycles; they give the tone's start, end and sustained part.
void FindFades(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, ChannelWork& w)
{
    ChannelAnalysis& out = *w.out;
    const uint64_t frames = reader.info.frames;
    const uint64_t E = w.env.block;
    const double cycle = 1.0 / w.sine.nu;
    const uint64_t margin = 2 * E + uint64_t(2 * cycle);
    const uint64_t inFirst = w.toneFirst * E > margin ? w.toneFirst * E - margin : 0;
    uint64_t inEnd = std::min<uint64_t>(frames, (w.levelFirst + 1) * E + margin);
    uint64_t outFirst = w.levelLast * E > margin ? w.levelLast * E - margin : 0;
    const uint64_t outEnd = std::min<uint64_t>(frames, (w.toneLast + 1) * E + margin);
    // In a tone of fades alone, each fade is fitted up to the tone's middle.
    const uint64_t middle = (w.toneFirst * E + std::min<uint64_t>(frames, (w.toneLast + 1) * E)) / 2;
    if (w.fadeOnly) {
        inEnd = std::min(inEnd, middle);
        outFirst = std::max(outFirst, middle);
    }
    const AnalyzeFade in = AnalyzeFitFade(reader, channel, inFirst, inEnd - inFirst, w.sine, false, buffer,
                                          w.refineFades ? &w.fadeIn : nullptr);
    const AnalyzeFade fadeOut = AnalyzeFitFade(reader, channel, outFirst, outEnd - outFirst, w.sine, true,
                                               buffer, w.refineFades ? &w.fadeOut : nullptr);
    w.fadeIn = in;
    w.fadeOut = fadeOut;
    // A fade shorter than half a cycle is an edge: the tone starts or ends at full level.
    out.fadeInFrames = out.fadeOutFrames = 0;
    double sustainStart = 0;
    w.start = 0;
    if (in.found && in.full - in.start >= EDGE_CYCLES * cycle) {
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
    if (fadeOut.found && fadeOut.start - fadeOut.full >= EDGE_CYCLES * cycle) {
        w.end = fadeOut.start;
        sustainEnd = fadeOut.full;
        out.fadeOutFrames = fadeOut.start - fadeOut.full;
        out.fadeOutShape = fadeOut.shape;
    } else {
        w.end = AnalyzeFindEdge(reader, channel, outFirst, outEnd - outFirst, w.sine, true, buffer);
        sustainEnd = w.end - 1;
    }
    // The sustained part, where the fit and the residual are measured.
    const double s0 = std::max(0.0, std::ceil(sustainStart));
    const double s1 = std::min(double(frames), std::floor(sustainEnd) + 1);
    w.fitFirst = w.r0;
    w.fitCount = w.r1 - w.r0;
    w.enveloped = !(s1 - s0 >= std::max(16.0, cycle));
    if (!w.enveloped) {
        w.fitFirst = uint64_t(s0);
        w.fitCount = uint64_t(s1 - s0);
    }
}

// The envelope of the tone found: its fades, 0 outside it.
double ToneGain(const ChannelWork& w, double n)
{
    const ChannelAnalysis& c = *w.out;
    if (n < w.start || n >= w.end) return 0.0;
    double g = 1.0;
    if (c.fadeInFrames > 0) g *= AnalyzeFadeGain(c.fadeInShape, (n - w.start) / c.fadeInFrames);
    if (c.fadeOutFrames > 0) g *= AnalyzeFadeGain(c.fadeOutShape, (w.end - n) / c.fadeOutFrames);
    return g;
}

// A tone of fades alone (a few cycles): fitted as a sine under its fades
// over the whole tone, then the fades again with that sine, and so on until
// the frequency stays put. Each round gains about a factor of four, so the
// rounds fit a thinned set of samples, and the last two all of them.
void FitEnveloped(WaveReader& reader, uint32_t channel, std::vector<double>& buffer, ChannelWork& w)
{
    int full = 0;
    for (int round = 0; round < ENVELOPED_ROUNDS && full < 2; ++round) {
        const uint64_t first = uint64_t(std::max(0.0, std::floor(w.start)));
        const uint64_t end = std::min<uint64_t>(reader.info.frames, uint64_t(std::ceil(w.end)));
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
        if (full == 2) return;
        // Every few rounds all shapes again: the first sine may have picked a wrong one.
        w.refineFades = round % ENVELOPED_SHAPE_ROUNDS != ENVELOPED_SHAPE_ROUNDS - 1;
        FindFades(reader, channel, buffer, w);
        w.refineFades = false;
        w.enveloped = true;
    }
}

void Finish(const WaveInfo& info, ChannelWork& w, const AnalyzeResidual& residual)
{
    ChannelAnalysis& out = *w.out;
    const AnalyzeSine& sine = w.sine;
    const double amp = std::hypot(sine.a, sine.b);
    const double fundamental = amp * amp / 2;
    out.sinadDb = 10 * std::log10(fundamental / std::max(residual.meanSquare, 1e-300));
    if (!(out.sinadDb >= SINAD_TONE_MIN_DB)) {
        out.noToneReason = "no tone was found: no sine stands out of the noise";
        return;
    }
    out.toneFound = true;
    out.sine = sine;
    out.frequencyHz = sine.nu * info.rate;
    out.levelDbfs = Db20(amp / WaveFullScale(info));
    out.toneStart = w.start;
    out.toneEnd = w.end;
    out.cycles = (w.end - w.start) * sine.nu;
    out.wholeCycles = std::fabs(out.cycles - std::round(out.cycles)) <= WHOLE_CYCLES_TOLERANCE;
    out.sustainFirst = w.fitFirst;
    out.sustainFrames = w.fitCount;
    out.enobBits = (out.sinadDb - 1.76) / 6.02;
    double harmonicPower = 0;
    for (double h : residual.harmonicAmplitudes) {
        out.harmonicsDb.push_back(Db20(h / amp));
        harmonicPower += h * h;
    }
    out.hasThd = !residual.harmonicAmplitudes.empty();
    if (out.hasThd) out.thdDb = 10 * std::log10(std::max(harmonicPower, 1e-300) / (amp * amp));
}

// Runs f(channel) for every channel on up to `threads` threads.
template <class F>
void ForEachChannel(uint32_t channels, unsigned threads, F&& f)
{
    const unsigned workers = std::max(1u, std::min<unsigned>(threads, channels));
    const auto work = [&](unsigned w) {
        for (uint32_t c = w; c < channels; c += workers)
            f(c);
    };
    std::vector<std::thread> pool;
    try {
        for (unsigned w = 1; w < workers; ++w)
            pool.emplace_back(work, w);
    } catch (...) {
        // Without more threads the rest runs on this one.
    }
    for (unsigned w = unsigned(pool.size()) + 1; w < workers; ++w)
        work(w);
    work(0);
    for (std::thread& t : pool)
        t.join();
}

void AnalyzeChannels(const std::string& path, const WaveInfo& info, std::vector<ChannelAnalysis>& results,
                     unsigned threads)
{
    const uint32_t channels = info.channels;
    const unsigned parts = std::max(1u, threads);
    std::vector<ChannelWork> work(channels);
    ForEachChannel(channels, threads, [&](uint32_t c) { Probe(path, c, work[c]); });
    std::vector<AnalyzePassJob> jobs;
    for (uint32_t c = 0; c < channels; ++c) {
        work[c].out = &results[c];
        jobs.push_back(LevelsJob(info, c, work[c], parts));
    }
    const auto unreadable = [&] {
        for (ChannelWork& w : work) {
            w.go = false;
            w.out->noToneReason = "the samples could not be read";
        }
    };
    if (!AnalyzeRunPass(path, jobs, parts)) return unreadable();
    for (ChannelWork& w : work)
        FinishLevels(info, w);

    // Coarse frequencies, and fits on ever smaller middle parts of the
    // level part: cheap, so one channel per thread.
    ForEachChannel(channels, threads, [&](uint32_t c) {
        WaveReader reader;
        std::vector<double> buffer;
        ChannelWork& w = work[c];
        if (WaveOpen(reader, path.c_str()) != WaveOpenResult::Ok) return;
        FindTone(reader, c, buffer, w);
        if (!w.go) return;
        if (w.fadeOnly) {
            if (!FitFadeOnly(reader, c, buffer, w)) w.fit.failed = true;
            w.fit.settled = true;
            w.fit.sine = w.sine;
            return;
        }
        // The first pass's sums where it gathered them (whole blocks only).
        if (w.blockFit) {
            const uint64_t end = w.r1 == (w.roughLast + 1) * w.env.block ? w.roughLast + 1 : w.roughLast;
            w.fit = AnalyzeBlockFitSolve(*w.blockFit, w.roughFirst, end);
            w.blockFit.reset();
            if (!w.fit.failed) return;
        }
        w.nu = AnalyzeFitInner(path, c, w.r0, w.r1 - w.r0, w.nu);
        w.fit = AnalyzeFitBegin(w.r0, w.r1 - w.r0, w.nu);
    });
    // The fit over the whole level part: passes shared by the channels.
    for (;;) {
        std::vector<std::shared_ptr<AnalyzeFitPass>> passes(channels);
        jobs.clear();
        for (uint32_t c = 0; c < channels; ++c) {
            ChannelWork& w = work[c];
            if (!w.go || w.fit.failed || w.fit.settled) continue;
            passes[c] = AnalyzeFitPassMake(w.fit, parts);
            jobs.push_back(AnalyzeFitPassJob(passes[c], c));
        }
        if (jobs.empty()) break;
        if (!AnalyzeRunPass(path, jobs, parts)) return unreadable();
        for (uint32_t c = 0; c < channels; ++c)
            if (passes[c]) AnalyzeFitPassFinish(work[c].fit, *passes[c]);
    }
    ForEachChannel(channels, threads, [&](uint32_t c) {
        ChannelWork& w = work[c];
        if (!w.go) return;
        if (w.fit.failed) {
            w.go = false;
            w.out->noToneReason = "no tone was found: the sine fit did not settle";
            return;
        }
        w.sine = w.fit.sine;
        WaveReader reader;
        std::vector<double> buffer;
        if (WaveOpen(reader, path.c_str()) != WaveOpenResult::Ok) return;
        FindFades(reader, c, buffer, w);
        if (w.enveloped || w.fadeOnly) {
            w.enveloped = true;
            return FitEnveloped(reader, c, buffer, w);
        }
        // A fit over nearly all of the sustained part stands for it: the
        // few blocks more change nothing that is reported.
        const bool inside = w.r0 >= w.fitFirst && w.r1 <= w.fitFirst + w.fitCount;
        if (!inside || double(w.r1 - w.r0) < REFIT_SHARE * double(w.fitCount)) {
            AnalyzeSine refit;
            if (AnalyzeFitSine(path, c, w.fitFirst, w.fitCount, w.sine.nu, refit)) w.sine = refit;
        }
    });
    // The residual over the sustained part, again shared.
    std::vector<std::shared_ptr<AnalyzeResidualPass>> residuals(channels);
    jobs.clear();
    for (uint32_t c = 0; c < channels; ++c) {
        if (!work[c].go || work[c].enveloped) continue;
        residuals[c] = AnalyzeResidualPassMake(work[c].fitFirst, work[c].fitCount, work[c].sine, parts);
        jobs.push_back(AnalyzeResidualPassJob(residuals[c], c));
    }
    if (!AnalyzeRunPass(path, jobs, parts)) return unreadable();
    for (uint32_t c = 0; c < channels; ++c) {
        if (residuals[c])
            Finish(info, work[c], AnalyzeResidualPassFinish(*residuals[c]));
        else if (work[c].go)
            Finish(info, work[c], work[c].residual);
    }
}

// The header Calyx writes: RIFF, a 100-byte "fmt " with the notice, "fact"
// holding data bytes / bytes per sample, "data"; every size agreeing with
// the file.
std::string CalyxHeaderDifference(const WaveInfo& info)
{
    const std::vector<unsigned char>& h = info.header;
    if (info.encoding != WaveEncoding::Pcm || info.channels != 2 ||
        (info.bits != 16 && info.bits != 24 && info.bits != 32))
        return "not 2-channel integer PCM of 16, 24 or 32 bits";
    if (info.extensible) return "an extensible fmt chunk, not the plain PCM one";
    if (h.size() != WAVE_HEADER_BYTES)
        return "the header has " + std::to_string(info.dataOffset) + " bytes, not 140";
    if (std::memcmp(&h[12], "fmt ", 4) != 0 || WaveGet32(&h[16]) != WAVE_FORMAT_BYTES)
        return "the fmt chunk is not the 100-byte one";
    if (WaveGet16(&h[20]) != 1 || WaveGet16(&h[36]) != WAVE_FORMAT_EXTRA_BYTES)
        return "the format is not PCM with 82 extra bytes";
    for (size_t i = 0; i < CALYX_NOTICE_CHARS; ++i)
        if (h[38 + i] < 32 || h[38 + i] > 126) return "the notice is not 63 printable characters";
    for (size_t i = 38 + CALYX_NOTICE_CHARS; i < 120; ++i)
        if (h[i] != 0) return "the bytes after the notice are not zero";
    if (std::memcmp(&h[120], "fact", 4) != 0 || WaveGet32(&h[124]) != 4)
        return "there is no fact chunk at offset 120";
    if (std::memcmp(&h[132], "data", 4) != 0) return "the data chunk does not start at offset 132";
    if (info.dataSizeField != info.dataBytes || info.fileBytes != WAVE_HEADER_BYTES + info.dataBytes)
        return "the data size does not match the file";
    if (info.riffSize != info.fileBytes - 8) return "the RIFF size does not match the file";
    if (WaveGet32(&h[WAVE_OFFSET_FACT_VALUE]) != info.dataBytes / (info.bits / 8u))
        return "the fact value is not data bytes / bytes per sample";
    return {};
}

}  // namespace

FileAnalysis AnalyzeFile(const std::string& path, unsigned threads)
{
    FileAnalysis result;
    result.path = path;
    WaveReader reader;
    result.open = WaveOpen(reader, path.c_str());
    result.info = reader.info;
    if (result.open != WaveOpenResult::Ok) return result;
    const uint32_t channels = result.info.channels;
    result.channels.resize(channels);
    if (result.info.frames == 0) {
        for (ChannelAnalysis& c : result.channels) {
            c.peakDbfs = c.rmsDbfs = -std::numeric_limits<double>::infinity();
            c.noToneReason = "the file holds no samples";
        }
    } else {
        AnalyzeChannels(path, result.info, result.channels, threads);
    }

    CalyxChecks& calyx = result.calyx;
    calyx.headerWhy = CalyxHeaderDifference(result.info);
    calyx.header = calyx.headerWhy.empty();
    calyx.wholeCycles = calyx.fadesWholeCycles = calyx.zeroSum = !result.channels.empty();
    const double rate = result.info.rate;
    for (const ChannelAnalysis& c : result.channels) {
        calyx.zeroSum = calyx.zeroSum && c.integerSum && c.sum == 0;
        calyx.wholeCycles = calyx.wholeCycles && c.toneFound && c.wholeCycles;
        const auto whole = [&](double frames) {
            const double cycles = frames * c.frequencyHz / rate;
            return frames > 0 && std::fabs(cycles - std::round(cycles)) <= WHOLE_CYCLES_TOLERANCE;
        };
        calyx.fadesWholeCycles =
            calyx.fadesWholeCycles && c.toneFound && whole(c.fadeInFrames) && whole(c.fadeOutFrames);
    }
    return result;
}
