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
#include <limits>
#include <memory>

#include "analyze/calyx_checks.h"
#include "analyze/channel_work.h"
#include "analyze/levels.h"
#include "analyze/other_tones.h"
#include "analyze/pass.h"
#include "analyze/signal_kind.h"
#include "analyze/tone_figures.h"
#include "analyze/tone_locate.h"
#include "base/run_parts.h"

namespace {

constexpr double REFIT_SHARE = 0.99;
constexpr size_t OTHER_TONES_MOST = 8;
constexpr double OTHER_TONE_SHARE_MIN = 1e-12;

// Runs f(channel) for every channel on up to `threads` threads.
template <class F>
void ForEachChannel(uint32_t channels, unsigned threads, F&& f)
{
    const unsigned workers = std::max(1u, std::min<unsigned>(threads, channels));
    RunParts(workers, [&](unsigned w) {
        for (uint32_t c = w; c < channels; c += workers)
            f(c);
    });
}

void AnalyzeChannels(const WaveReader& file, const WaveInfo& info, std::vector<AnalyzeChannelResult>& results,
                     unsigned threads)
{
    const uint32_t channels = info.channels;
    const unsigned parts = std::max(1u, threads);
    std::vector<AnalyzeChannelWork> work(channels);
    // A sweep or a multitone is named first: a sine's fit to it never
    // settles, and the probe's trying took nine tenths of a sweep's analysis.
    // Two tones are fitted: the stronger is the tone, the other is named
    // beside it, and the pair is what IMD is measured from.
    ForEachChannel(channels, threads, [&](uint32_t c) {
        WaveReader reader = file;
        std::vector<double> buffer;
        const AnalyzeSignalKind kind = AnalyzeRecogniseSignal(reader, c, buffer);
        if (!kind.description.empty() && kind.kind != AnalyzeSignalKind::Kind::TwoTone)
            work[c].notOneTone = "not one tone: " + kind.description;
        else
            AnalyzeProbe(file, c, work[c]);
    });
    std::vector<AnalyzePassJob> jobs;
    for (uint32_t c = 0; c < channels; ++c) {
        work[c].out = &results[c];
        jobs.push_back(AnalyzeLevelsJob(info, c, work[c], parts));
    }
    const auto unreadable = [&] {
        for (AnalyzeChannelWork& w : work) {
            w.go = false;
            w.out->noToneReason = file.source->Stopped() ? "the analysis was stopped"
                                  : WaveShrank(file)     ? "the file was cut short while it was read"
                                                         : "the samples could not be read";
        }
    };
    if (!AnalyzeRunPass(file, jobs, parts)) return unreadable();
    for (AnalyzeChannelWork& w : work)
        AnalyzeLevelsFinish(info, w);

    // Coarse frequencies, and fits on ever smaller middle parts of the
    // level part: cheap, so one channel per thread.
    ForEachChannel(channels, threads, [&](uint32_t c) {
        WaveReader reader = file;
        std::vector<double> buffer;
        AnalyzeChannelWork& w = work[c];
        if (w.out->nonFiniteSamples > 0) {
            w.out->noToneReason =
                "no tone was measured: the channel holds samples that are not finite numbers";
            return;
        }
        // The tone's fit and checks are not for a sweep or a multitone.
        if (!w.notOneTone.empty()) {
            w.out->noToneReason = w.notOneTone;
            w.out->notOneTone = true;
            w.go = false;
            return;
        }
        AnalyzeFindTone(reader, c, buffer, w);
        if (!w.go) return;
        if (w.fadeOnly) {
            if (!AnalyzeFitFadeOnly(reader, c, buffer, w)) w.fit.failed = true;
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
        w.nu = AnalyzeFitInner(file, c, w.r0, w.r1 - w.r0, w.nu);
        w.fit = AnalyzeFitBegin(w.r0, w.r1 - w.r0, w.nu);
    });
    // The fit over the whole level part: passes shared by the channels.
    for (;;) {
        std::vector<std::shared_ptr<AnalyzeFitPass>> passes(channels);
        jobs.clear();
        for (uint32_t c = 0; c < channels; ++c) {
            AnalyzeChannelWork& w = work[c];
            if (!w.go || w.fit.failed || w.fit.settled) continue;
            passes[c] = AnalyzeFitPassMake(w.fit, parts);
            jobs.push_back(AnalyzeFitPassJob(passes[c], c));
        }
        if (jobs.empty()) break;
        if (!AnalyzeRunPass(file, jobs, parts)) return unreadable();
        for (uint32_t c = 0; c < channels; ++c)
            if (passes[c]) AnalyzeFitPassFinish(work[c].fit, *passes[c]);
    }
    ForEachChannel(channels, threads, [&](uint32_t c) {
        AnalyzeChannelWork& w = work[c];
        if (!w.go) return;
        if (w.fit.failed) {
            w.go = false;
            w.out->noToneReason = "no tone was found: the sine fit did not settle within its bound of rounds";
            return;
        }
        w.sine = w.fit.sine;
        WaveReader reader = file;
        std::vector<double> buffer;
        AnalyzeFindFades(reader, c, buffer, w);
        if (w.enveloped || w.fadeOnly) {
            w.enveloped = true;
            return AnalyzeFitUnderFades(reader, c, buffer, w);
        }
        // A fit over nearly all of the sustained part stands for it: the
        // few blocks more change nothing that is reported.
        const bool inside = w.r0 >= w.fitFirst && w.r1 <= w.fitFirst + w.fitCount;
        if (!inside || double(w.r1 - w.r0) < REFIT_SHARE * double(w.fitCount)) {
            AnalyzeSine refit;
            if (AnalyzeFitSine(file, c, w.fitFirst, w.fitCount, w.sine.nu, refit)) w.sine = refit;
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
    if (!AnalyzeRunPass(file, jobs, parts)) return unreadable();
    for (uint32_t c = 0; c < channels; ++c) {
        if (residuals[c])
            AnalyzeToneFigures(info, work[c], AnalyzeResidualPassFinish(*residuals[c]));
        else if (work[c].go)
            AnalyzeToneFigures(info, work[c], work[c].residual);
    }
    // Other tones beside the one measured, from the spectrum of its sustained
    // part (a tone of fades alone has none).
    ForEachChannel(channels, threads, [&](uint32_t c) {
        AnalyzeChannelResult& out = results[c];
        if (!out.toneFound || work[c].enveloped) return;
        WaveReader reader = file;
        const double fs = WaveFullScale(info);
        const double amp = std::hypot(out.sine.a, out.sine.b);
        // Not below one unit (the lines of rounding's own error), nor far
        // below the tone, beyond the fitted sine's own precision.
        const double least = std::max(AnalyzeFormatUnit(info, amp), OTHER_TONE_SHARE_MIN * amp);
        for (const AnalyzeComponent& t : AnalyzeOtherTones(reader, c, out.sustainFirst, out.sustainFrames,
                                                           out.sine, OTHER_TONES_MOST, least))
            out.otherTones.push_back({t.nu * info.rate, AnalyzeDb20(t.amplitude / fs)});
    });
}

}  // namespace

AnalyzeFileResult AnalyzeFile(const std::string& path, unsigned threads, const AnalyzeMeasureOptions& options,
                              const Stop* stop)
{
    AnalyzeFileResult result;
    result.path = path;
    WaveReader& reader = result.opened;
    result.open = WaveOpen(reader, path.c_str(), stop);
    result.info = reader.info;
    if (result.open != WaveOpenResult::Ok) return result;
    const uint32_t channels = result.info.channels;
    result.channels.resize(channels);
    if (result.info.frames == 0) {
        for (AnalyzeChannelResult& c : result.channels) {
            c.peakDbfs = c.rmsDbfs = -std::numeric_limits<double>::infinity();
            c.noToneReason = "the file holds no samples";
        }
    } else {
        AnalyzeChannels(reader, result.info, result.channels, threads);
    }
    if (WaveShrank(reader)) result.info.problems.push_back("the file was cut short while it was read");

    result.calyx = AnalyzeCalyxCheck(result);
    AnalyzeMeasure(result, options, threads);
    return result;
}
