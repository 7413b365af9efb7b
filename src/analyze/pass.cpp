// Passes over a file shared by every channel: the file is read once, and
// the work split by position between threads, each with its own place in
// the one open file.

#include "analyze/pass.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/run_parts.h"

namespace {

struct Span {
    uint64_t first = 0;
    uint64_t end = 0;  // one past the last frame
    uint64_t firstBlock = 0;
};

uint64_t Blocks(const AnalyzePassJob& job) { return (job.count + job.block - 1) / job.block; }

bool RunPart(const WaveReader& file, const std::vector<AnalyzePassJob>& jobs, unsigned part, unsigned parts)
{
    std::vector<Span> spans(jobs.size());
    uint64_t first = ~uint64_t(0), end = 0;
    for (size_t j = 0; j < jobs.size(); ++j) {
        const AnalyzePassJob& job = jobs[j];
        const uint64_t blocks = Blocks(job);
        const uint64_t b0 = blocks * part / parts, b1 = blocks * (part + 1) / parts;
        spans[j].firstBlock = b0;
        spans[j].first = job.first + b0 * job.block;
        spans[j].end = std::min(job.first + job.count, job.first + b1 * job.block);
        if (spans[j].end > spans[j].first) {
            first = std::min(first, spans[j].first);
            end = std::max(end, spans[j].end);
        }
    }
    if (end == 0) return true;
    WaveReader reader = file;
    if (!WaveSeekFrame(reader, first)) return false;
    const uint32_t channels = reader.info.channels;
    for (const AnalyzePassJob& job : jobs)
        if (job.channel >= channels) return false;
    std::vector<double> planes(size_t(channels) * ANALYZE_RUN_FRAMES);
    double* out[WAVE_MAX_CHANNELS] = {};
    for (const AnalyzePassJob& job : jobs)
        out[job.channel] = planes.data() + size_t(job.channel) * ANALYZE_RUN_FRAMES;
    // Each job gathers a block in its own buffer, across runs of the file.
    std::vector<std::vector<double>> carry(jobs.size());
    std::vector<uint32_t> filled(jobs.size(), 0);
    std::vector<uint64_t> index(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        carry[j].resize(jobs[j].block);
        index[j] = spans[j].firstBlock;
    }
    for (uint64_t pos = first; pos < end;) {
        const uint32_t want = uint32_t(std::min<uint64_t>(ANALYZE_RUN_FRAMES, end - pos));
        if (WaveReadChannels(reader, out, want) != want) return false;
        for (size_t j = 0; j < jobs.size(); ++j) {
            const AnalyzePassJob& job = jobs[j];
            const uint64_t from = std::max(pos, spans[j].first), to = std::min(pos + want, spans[j].end);
            const double* x = out[job.channel];
            for (uint64_t at = from; at < to;) {
                const uint64_t blockStart = job.first + index[j] * job.block;
                const uint32_t blockLength =
                    uint32_t(std::min<uint64_t>(job.block, job.first + job.count - blockStart));
                const uint32_t take = uint32_t(std::min<uint64_t>(blockLength - filled[j], to - at));
                if (filled[j] == 0 && take == blockLength) {
                    job.onBlock(part, x + (at - pos), blockLength, blockStart,
                                index[j]);  // whole in this run
                } else {
                    std::memcpy(carry[j].data() + filled[j], x + (at - pos), take * sizeof(double));
                    filled[j] += take;
                    if (filled[j] < blockLength) {
                        at += take;
                        continue;
                    }
                    job.onBlock(part, carry[j].data(), blockLength, blockStart, index[j]);
                }
                filled[j] = 0;
                ++index[j];
                at += take;
            }
        }
        pos += want;
    }
    return true;
}

}  // namespace

bool AnalyzeRunPass(const WaveReader& file, const std::vector<AnalyzePassJob>& jobs, unsigned parts)
{
    parts = std::max(1u, parts);
    std::vector<char> ok(parts, 0);
    RunParts(parts, [&](unsigned p) { ok[p] = RunPart(file, jobs, p, parts); });
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}
