#include "job/tone_set.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "job/create_check.h"
#include "job/request_text.h"
#include "synth/tone.h"
#include "wave/wave_format.h"

namespace {

// The values of one list as written, blanks around each taken off.
std::vector<std::string> Split(const std::string& list)
{
    std::vector<std::string> values;
    size_t from = 0;
    for (;;) {
        const size_t comma = list.find(',', from);
        std::string v = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        v.erase(0, v.find_first_not_of(" \t"));
        v.erase(v.find_last_not_of(" \t") + 1);
        values.push_back(v);
        if (comma == std::string::npos) return values;
        from = comma + 1;
    }
}

// One option's list: its values as written, each a number of its field.
template <class T>
std::string ReadList(const char* option, const std::string& list, std::vector<std::string>& texts,
                     std::vector<T>& values)
{
    texts = Split(list);
    for (const std::string& text : texts) {
        T v{};
        if (!RequestParseNumber(text, v))
            return std::string(option) + ": '" + text + "' is not " +
                   (std::is_same_v<T, double> ? "a decimal number." : "a whole number in range.");
        values.push_back(v);
    }
    return {};
}

void Replace(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

// A character no file name on Windows can hold, or the blank or dot at the
// end of a name that Windows drops: the same set must work on both systems.
bool UnfitForWindows(const std::string& value)
{
    const bool badChar = std::any_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 ||
               std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
    });
    return badChar || value.empty() || value.back() == '.' || value.back() == ' ';
}

std::string Describe(const ToneSetMember& m)
{
    return "--rate " + m.rate + " --freq " + m.freq + " --atten " + m.atten + " --seconds " + m.seconds +
           " --bits " + m.bits;
}

}  // namespace

std::string ToneSetExpand(const ToneSetOptions& o, const std::string& currentDir,
                          std::vector<ToneSetMember>& members)
{
    std::vector<std::string> rateTexts, freqTexts, attenTexts, secondsTexts, bitsTexts;
    std::vector<int32_t> rates, seconds, bits;
    std::vector<double> freqs;
    std::vector<uint32_t> attens;
    const auto joined = [](const auto& names) {
        std::string list;
        for (const char* f : names) {
            if (!list.empty()) list += ',';
            list += f;
        }
        return list;
    };
    const std::string freqList = o.freq == "octaves"  ? joined(OCTAVE_FREQUENCIES)
                                 : o.freq == "thirds" ? joined(THIRD_OCTAVE_FREQUENCIES)
                                                      : o.freq;
    for (const std::string& refusal :
         {ReadList("--rate", o.rate, rateTexts, rates), ReadList("--freq", freqList, freqTexts, freqs),
          ReadList("--atten", o.atten, attenTexts, attens),
          ReadList("--seconds", o.seconds, secondsTexts, seconds),
          ReadList("--bits", o.bits, bitsTexts, bits)})
        if (!refusal.empty()) return refusal;
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] != 16 && bits[i] != 24 && bits[i] != 32)
            return "--bits: '" + bitsTexts[i] + "' is not one of the values it takes: 16, 24 or 32.";

    // A set's default name carries every option that varies.
    std::string pattern = o.out;
    if (pattern.empty()) {
        std::string name = "tone";
        if (rates.size() > 1) name += "-{rate}sps";
        if (freqs.size() > 1) name += "-{freq}Hz";
        if (attens.size() > 1) name += "-{atten}dB";
        if (seconds.size() > 1) name += "-{seconds}s";
        if (bits.size() > 1) name += "-{bits}bit";
        pattern = name == "tone" ? DEFAULT_FILE_NAME : name + ".wav";
    }
    namespace fs = std::filesystem;
    if (!o.outDir.empty())
        pattern = (fs::path(o.outDir) / pattern).string();
    else if (o.out.empty() && pattern == DEFAULT_FILE_NAME)
        pattern = RequestDefaultPath(currentDir);

    members.clear();
    for (size_t r = 0; r < rates.size(); ++r)
        for (size_t f = 0; f < freqs.size(); ++f)
            for (size_t a = 0; a < attens.size(); ++a)
                for (size_t s = 0; s < seconds.size(); ++s)
                    for (size_t b = 0; b < bits.size(); ++b) {
                        ToneSetMember& m = members.emplace_back();
                        m.rate = rateTexts[r];
                        m.freq = freqTexts[f];
                        m.atten = attenTexts[a];
                        m.seconds = secondsTexts[s];
                        m.bits = bitsTexts[b];
                        m.request.sampleRate = rates[r];
                        m.request.frequency = freqs[f];
                        m.request.attenuation = attens[a];
                        m.request.seconds = seconds[s];
                        m.request.bitWidth = bits[b];
                        m.request.path = pattern;
                        Replace(m.request.path, "{rate}", m.rate);
                        Replace(m.request.path, "{freq}", m.freq);
                        Replace(m.request.path, "{atten}", m.atten);
                        Replace(m.request.path, "{seconds}", m.seconds);
                        Replace(m.request.path, "{bits}", m.bits);
                    }
    return {};
}

std::string ToneSetCheck(const std::vector<ToneSetMember>& members)
{
    std::set<std::string> names;
    for (const ToneSetMember& m : members) {
        const std::string who = m.request.path + " (" + Describe(m) + "): ";
        if (!names.insert(m.request.path).second)
            return who +
                   "the files' names would repeat. Give --out a placeholder for every option with more "
                   "than one value: {rate} {freq} {atten} {seconds} {bits}.";
        for (const std::string* value : {&m.rate, &m.freq, &m.atten, &m.seconds, &m.bits})
            if (UnfitForWindows(*value))
                return who + "the value '" + *value + "' cannot be part of a file name on Windows.";
    }
    for (const ToneSetMember& m : members) {
        const std::string who = m.request.path + " (" + Describe(m) + "): ";
        const ToneRequest& r = m.request;
        if (const RequestRefusal p = RequestCheck(r)) return who + p.caption + " " + p.message;
        if (!TonePlanFits(r.attenuation, r.bitWidth, double(r.sampleRate), r.frequency, double(r.seconds)))
            return who + CAPTION_CREATE + " " + MESSAGE_TOO_SHORT;
        if (!RequestPathCanBeCreated(r.path)) return who + CAPTION_PATH + " " + MESSAGE_PATH;
    }
    return {};
}

namespace {

// A member's job as the set sees it: progress in bytes, messages, and the
// stop request of the whole set passed on at every block.
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

std::vector<JobResult> ToneSetCreate(const std::vector<ToneSetMember>& members, unsigned jobs,
                                     const std::atomic<bool>& stop, ToneSetHost& host, const WaveIo& io)
{
    const size_t n = members.size();
    std::vector<JobResult> results(n, JobResult{JobEnd::Stopped, 0, 0, false, false});
    const std::unique_ptr<std::atomic<bool>[]> busy(new std::atomic<bool>[n]);
    for (size_t i = 0; i < n; ++i)
        busy[i] = false;
    std::atomic<size_t> next{0};
    std::atomic<bool> halt{false};  // a stop or a failure: no member starts any more
    std::mutex mutex;
    std::condition_variable changed;
    unsigned running = 0;

    jobs = unsigned(std::clamp<size_t>(jobs, 1, n));
    // The cores the files at once leave free help make each file.
    const unsigned makers = std::max(1u, std::thread::hardware_concurrency() / jobs);
    const auto work = [&] {
        for (;;) {
            const size_t i = next++;
            if (i >= n) break;
            // Busy is set before halt is read, and the halt's clearing of busy
            // flags comes after it is set: either this member does not start,
            // or its job sees the stop.
            busy[i] = true;
            if (halt) {
                busy[i] = false;
                break;
            }
            MemberHost member(i, WaveBytesPerBlock(members[i].request.bitWidth), host);
            const JobResult r = JobGenerate(members[i].request, busy[i], member, io, makers);
            results[i] = r;
            if (r.end == JobEnd::CreateFailed || r.end == JobEnd::WriteFailed || r.end == JobEnd::PlanRefused)
                halt = true;
            host.MemberEnded(i, r);
        }
        std::lock_guard lock(mutex);
        --running;
        changed.notify_all();
    };

    std::vector<std::thread> threads;
    for (unsigned t = 0; t < jobs; ++t) {
        std::lock_guard lock(mutex);
        try {
            threads.emplace_back(work);
            ++running;
        } catch (const std::system_error&) {
            break;  // fewer threads: the ones started take the rest
        }
    }
    if (threads.empty()) {
        host.ShowMessage(0, MESSAGE_CREATE_FAILED, CAPTION_CREATE);
        return std::vector<JobResult>(n, JobResult{JobEnd::CreateFailed, 0, 0, false, false});
    }
    std::unique_lock lock(mutex);
    while (!changed.wait_for(lock, std::chrono::milliseconds(10), [&] { return running == 0; })) {
        if (stop) halt = true;
        if (halt)
            for (size_t i = 0; i < n; ++i)
                busy[i] = false;
    }
    lock.unlock();
    for (std::thread& t : threads)
        t.join();
    return results;
}
