// One file's analysis: the passes over each channel and Calyx's checks.
//
// Per channel: (1) levels, the exact sum and a coarse envelope of the whole
// channel; (2) from the envelope, where the tone is roughly level, and there
// its frequency from zero crossings; (3) the sine fit there; (4) the fades
// at both ends from their shape, which give the tone's true start, end and
// sustained part; (5) the fit again over the sustained part; (6) its
// residual: SINAD and harmonics.

#include "analyze/analyze.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "analyze/analyze_internal.h"

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

constexpr uint32_t CALYX_HEADER_BYTES = 140;
constexpr uint32_t CALYX_FORMAT_BYTES = 100;
constexpr uint16_t CALYX_EXTRA_BYTES = 82;
constexpr size_t CALYX_NOTICE_CHARS = 63;

double Db20(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity(); }

struct Envelope {
    uint64_t block = 0;
    std::vector<double> low, high;
    double Amp(size_t i) const { return (high[i] - low[i]) / 2; }
};

// Pass 1: levels, the exact sum and the envelope.
bool MeasureLevels(WaveReader& reader, uint32_t channel, std::vector<double>& buffer,
                   ChannelAnalysis& out, Envelope& env)
{
    const WaveInfo& info = reader.info;
    const uint64_t frames = info.frames;
    env.block = std::max(ENVELOPE_BLOCK_MIN, (frames + ENVELOPE_BLOCKS_MAX - 1) / ENVELOPE_BLOCKS_MAX);
    const size_t blocks = size_t((frames + env.block - 1) / env.block);
    env.low.assign(blocks, std::numeric_limits<double>::infinity());
    env.high.assign(blocks, -std::numeric_limits<double>::infinity());
    const bool integer = info.encoding == WaveEncoding::Pcm;
    int64_t sum = 0;
    CompensatedSum floatSum, squares;
    double low = 0, high = 0;
    const bool ok = AnalyzeForEachRun(
        reader, channel, 0, frames, buffer, RUN_FRAMES, [&](const double* x, uint32_t n, uint64_t frame) {
            uint32_t i = 0;
            while (i < n) {
                const uint64_t b = (frame + i) / env.block;
                const uint32_t end = uint32_t(std::min<uint64_t>(n, (b + 1) * env.block - frame));
                double lo = env.low[b], hi = env.high[b], s = 0, q = 0;
                for (uint32_t k = i; k < end; ++k) {
                    lo = std::min(lo, x[k]);
                    hi = std::max(hi, x[k]);
                    s += x[k];  // exact for integers: |s| < 2^31 x 2^14
                    q += x[k] * x[k];
                }
                if (!integer)
                    for (uint32_t k = i; k < end; ++k) floatSum.Add(x[k]);
                env.low[b] = lo;
                env.high[b] = hi;
                if (integer) sum += int64_t(s);
                squares.Add(q);
                i = end;
            }
        });
    if (!ok) return false;
    for (size_t b = 0; b < blocks; ++b) {
        low = b == 0 ? env.low[b] : std::min(low, env.low[b]);
        high = b == 0 ? env.high[b] : std::max(high, env.high[b]);
    }
    const double fs = WaveFullScale(info);
    out.integerSum = integer;
    out.sum = sum;
    out.sumFloat = integer ? double(sum) : floatSum.Value();
    out.peakDbfs = Db20(std::max(std::fabs(low), std::fabs(high)) / fs);
    out.rmsDbfs = Db20(std::sqrt(std::max(0.0, squares.Value()) / double(frames)) / fs);
    return true;
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
    const bool ok = AnalyzeForEachRun(
        reader, channel, first, count, buffer, RUN_FRAMES, [&](const double* x, uint32_t n, uint64_t frame) {
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
                if (v < mid - h) state = -1;
                else if (v > mid + h) state = 1;
                prev = v;
            }
        });
    if (!ok) return false;
    // One direction alone is free of any bias of the mid level.
    if (rises >= 2 && rises >= falls) nu = double(rises - 1) / (lastRise - firstRise);
    else if (falls >= 2) nu = double(falls - 1) / (lastFall - firstFall);
    else return false;
    return nu > 0 && nu < 0.5;
}

void AnalyzeChannel(const std::string& path, uint32_t channel, ChannelAnalysis& out)
{
    WaveReader reader;
    if (WaveOpen(reader, path.c_str()) != WaveOpenResult::Ok) return;
    const WaveInfo& info = reader.info;
    std::vector<double> buffer;
    Envelope env;
    if (!MeasureLevels(reader, channel, buffer, out, env)) {
        out.noToneReason = "the samples could not be read";
        return;
    }
    const size_t blocks = env.low.size();
    double top = 0;
    for (size_t b = 0; b < blocks; ++b) top = std::max(top, env.Amp(b));
    if (!(top > 0)) {
        out.noToneReason = "the channel is silent";
        return;
    }
    // The tone's level: the median envelope of the loud blocks.
    std::vector<double> loud;
    for (size_t b = 0; b < blocks; ++b)
        if (env.Amp(b) >= TONE_PRESENT * top) loud.push_back(env.Amp(b));
    std::nth_element(loud.begin(), loud.begin() + loud.size() / 2, loud.end());
    const double level = loud[loud.size() / 2];
    size_t toneFirst = blocks, toneLast = 0, levelFirst = blocks, levelLast = 0;
    for (size_t b = 0; b < blocks; ++b) {
        if (env.Amp(b) >= TONE_PRESENT * level) {
            toneFirst = std::min(toneFirst, b);
            toneLast = b;
        }
        if (env.Amp(b) >= TONE_LEVEL * level) {
            levelFirst = std::min(levelFirst, b);
            levelLast = b;
        }
    }
    if (levelFirst > levelLast) levelFirst = levelLast = toneFirst;
    // Where the tone is roughly level, a block inside each end.
    size_t roughFirst = levelFirst, roughLast = levelLast;
    if (roughLast >= roughFirst + 3) {
        ++roughFirst;
        --roughLast;
    }
    const uint64_t frames = info.frames;
    const uint64_t r0 = roughFirst * env.block;
    const uint64_t r1 = std::min<uint64_t>(frames, (roughLast + 1) * env.block);
    double mid = 0;
    for (size_t b = roughFirst; b <= roughLast; ++b) mid += (env.low[b] + env.high[b]) / 2;
    mid /= double(roughLast - roughFirst + 1);

    double nu = 0;
    if (!CoarseFrequency(reader, channel, r0, r1 - r0, mid, HYSTERESIS * level, buffer, nu)) {
        const uint64_t t0 = toneFirst * env.block;
        const uint64_t t1 = std::min<uint64_t>(frames, (toneLast + 1) * env.block);
        if (!CoarseFrequency(reader, channel, t0, t1 - t0, mid, HYSTERESIS * level, buffer, nu)) {
            out.noToneReason = "no tone was found: too few zero crossings";
            return;
        }
    }
    AnalyzeSine sine;
    if (!AnalyzeFitSine(reader, channel, r0, r1 - r0, nu, buffer, sine)) {
        out.noToneReason = "no tone was found: the sine fit did not settle";
        return;
    }

    // The fades, over the rough envelope's slopes with a margin of two
    // blocks and two cycles.
    const double cycle = 1.0 / sine.nu;
    const uint64_t margin = 2 * env.block + uint64_t(2 * cycle);
    const uint64_t inFirst = toneFirst * env.block > margin ? toneFirst * env.block - margin : 0;
    const uint64_t inEnd = std::min<uint64_t>(frames, (levelFirst + 1) * env.block + margin);
    const uint64_t outFirst = levelLast * env.block > margin ? levelLast * env.block - margin : 0;
    const uint64_t outEnd = std::min<uint64_t>(frames, (toneLast + 1) * env.block + margin);
    const AnalyzeFade in = AnalyzeFitFade(reader, channel, inFirst, inEnd - inFirst, sine, false, buffer);
    const AnalyzeFade fadeOut = AnalyzeFitFade(reader, channel, outFirst, outEnd - outFirst, sine, true, buffer);
    // A fade shorter than a cycle is an edge: the tone starts or ends at full level.
    double start = 0, sustainStart = 0;
    if (in.found && in.full - in.start >= cycle) {
        start = in.start;
        sustainStart = in.full;
        out.fadeInFrames = in.full - in.start;
        out.fadeInShape = in.shape;
    } else if (in.found) {
        start = sustainStart = std::max(0.0, std::ceil((in.start + in.full) / 2 - 0.5));
    }
    double end = double(frames), sustainEnd = double(frames);
    if (fadeOut.found && fadeOut.start - fadeOut.full >= cycle) {
        end = fadeOut.start;
        sustainEnd = fadeOut.full;
        out.fadeOutFrames = fadeOut.start - fadeOut.full;
        out.fadeOutShape = fadeOut.shape;
    } else if (fadeOut.found) {
        end = sustainEnd = std::min(double(frames), std::floor((fadeOut.start + fadeOut.full) / 2 + 0.5));
    }

    // The sustained part, where the fit and the residual are measured.
    const double s0 = std::max(0.0, std::ceil(sustainStart));
    const double s1 = std::min(double(frames), std::floor(sustainEnd) + 1);
    uint64_t fitFirst = r0, fitCount = r1 - r0;
    if (s1 - s0 >= std::max(16.0, cycle)) {
        fitFirst = uint64_t(s0);
        fitCount = uint64_t(s1 - s0);
        AnalyzeSine refit;
        if (AnalyzeFitSine(reader, channel, fitFirst, fitCount, sine.nu, buffer, refit)) sine = refit;
    }
    AnalyzeResidual residual;
    if (!AnalyzeMeasureResidual(reader, channel, fitFirst, fitCount, sine, buffer, residual)) {
        out.noToneReason = "the samples could not be read";
        return;
    }
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
    out.toneStart = start;
    out.toneEnd = end;
    out.cycles = (end - start) * sine.nu;
    out.wholeCycles = std::fabs(out.cycles - std::round(out.cycles)) <= WHOLE_CYCLES_TOLERANCE;
    out.sustainFirst = fitFirst;
    out.sustainFrames = fitCount;
    out.enobBits = (out.sinadDb - 1.76) / 6.02;
    double harmonicPower = 0;
    for (double h : residual.harmonicAmplitudes) {
        out.harmonicsDb.push_back(Db20(h / amp));
        harmonicPower += h * h;
    }
    out.hasThd = !residual.harmonicAmplitudes.empty();
    if (out.hasThd) out.thdDb = 10 * std::log10(std::max(harmonicPower, 1e-300) / (amp * amp));
}

uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Get16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// The header Calyx writes: RIFF, a 100-byte "fmt " with the notice, "fact"
// holding data bytes / bytes per sample, "data"; every size agreeing with
// the file.
std::string CalyxHeaderDifference(const WaveInfo& info)
{
    const std::vector<unsigned char>& h = info.header;
    if (info.encoding != WaveEncoding::Pcm || info.extensible || info.channels != 2 ||
        (info.bits != 16 && info.bits != 24 && info.bits != 32))
        return "not 2-channel integer PCM of 16, 24 or 32 bits";
    if (h.size() != CALYX_HEADER_BYTES) return "the header has " + std::to_string(info.dataOffset) + " bytes, not 140";
    if (std::memcmp(&h[12], "fmt ", 4) != 0 || Get32(&h[16]) != CALYX_FORMAT_BYTES)
        return "the fmt chunk is not the 100-byte one";
    if (Get16(&h[20]) != 1 || Get16(&h[36]) != CALYX_EXTRA_BYTES) return "the format is not PCM with 82 extra bytes";
    for (size_t i = 0; i < CALYX_NOTICE_CHARS; ++i)
        if (h[38 + i] < 32 || h[38 + i] > 126) return "the notice is not 63 printable characters";
    for (size_t i = 38 + CALYX_NOTICE_CHARS; i < 120; ++i)
        if (h[i] != 0) return "the bytes after the notice are not zero";
    if (std::memcmp(&h[120], "fact", 4) != 0 || Get32(&h[124]) != 4) return "there is no fact chunk at offset 120";
    if (std::memcmp(&h[132], "data", 4) != 0) return "the data chunk does not start at offset 132";
    if (info.dataSizeField != info.dataBytes || info.fileBytes != CALYX_HEADER_BYTES + info.dataBytes)
        return "the data size does not match the file";
    if (info.riffSize != info.fileBytes - 8) return "the RIFF size does not match the file";
    if (Get32(&h[128]) != info.dataBytes / (info.bits / 8u)) return "the fact value is not data bytes / bytes per sample";
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
        const unsigned workers = std::max(1u, std::min(threads, channels));
        std::vector<std::thread> pool;
        const auto work = [&](unsigned w) {
            for (uint32_t c = w; c < channels; c += workers) AnalyzeChannel(path, c, result.channels[c]);
        };
        try {
            for (unsigned w = 1; w < workers; ++w) pool.emplace_back(work, w);
        } catch (...) {
            // Without more threads the rest runs on this one.
        }
        const unsigned started = unsigned(pool.size()) + 1;
        for (unsigned w = started; w < workers; ++w) work(w);
        work(0);
        for (std::thread& t : pool) t.join();
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
        calyx.fadesWholeCycles = calyx.fadesWholeCycles && c.toneFound && whole(c.fadeInFrames) &&
                                 whole(c.fadeOutFrames);
    }
    return result;
}
