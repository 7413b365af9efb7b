#include "job/tone_set_create.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "base/run_parts.h"
#include "wave/wave_format.h"

namespace {

// A member's job as the set sees it: progress in bytes and messages, each
// naming its member.
class MemberHost final : public JobHost {
public:
    MemberHost(size_t member, uint32_t blockBytes, ToneSetHost& host)
        : member(member), blockBytes(blockBytes), host(host)
    {
    }
    void SetProgressRange(uint32_t range) override { upper = range; }
    // The job's first position, 0, comes before any block; then block k
    // made is position k, and the end is the range's upper end, blocks + 1.
    void SetProgressPos(uint32_t pos) override
    {
        const uint64_t blocks = !started ? 0 : pos >= upper ? upper - 1 : pos + 1;
        host.MemberProgress(member, blocks * blockBytes);
        started = true;
    }
    void ShowMessage(const char* text, const char* caption) override
    {
        host.ShowMessage(member, text, caption);
    }
    void JobEnded() override {}

private:
    size_t member;
    uint32_t blockBytes;
    ToneSetHost& host;
    uint32_t upper = 0;
    bool started = false;
};

}  // namespace

std::vector<JobResult> ToneSetCreate(const std::vector<ToneSetMember>& members, unsigned atOnce,
                                     const Stop& stop, ToneSetHost& host, const WaveIo& io)
{
    const size_t n = members.size();
    JobResult notMade;
    notMade.end = JobEnd::Stopped;
    std::vector<JobResult> results(n, notMade);
    // The caller's stop or a failed member: no member starts any more, and
    // those under way see it as their own stop.
    Stop setStop(&stop);
    std::atomic<size_t> next{0};

    atOnce = unsigned(std::clamp<size_t>(atOnce, 1, n));
    // The cores the files at once leave free help make each file.
    const unsigned makers = std::max(1u, std::thread::hardware_concurrency() / atOnce);
    RunParts(atOnce, [&](unsigned) {
        for (size_t i = next++; i < n && !setStop.Requested(); i = next++) {
            MemberHost member(i, WaveBytesPerBlock(members[i].request.bitWidth), host);
            const JobResult r = JobGenerate(members[i].request, setStop, member, io, makers);
            results[i] = r;
            if (r.end == JobEnd::CreateFailed || r.end == JobEnd::WriteFailed || r.end == JobEnd::PlanRefused)
                setStop.Request();
            host.MemberEnded(i, r);
        }
    });
    return results;
}
