#include "job/tone_set_check.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

#include "job/create_check.h"
#include "job/generation_worker.h"
#include "job/signal_check.h"
#include "synth/tone.h"

namespace {

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

// Where a member's file would be written: symbolic links followed (one that
// points nowhere yet too, as opening it for writing would), "." and ".."
// taken out, so that two names of one file compare equal.
std::filesystem::path Resolved(const std::string& name)
{
    namespace fs = std::filesystem;
    constexpr int LINKS_FOLLOWED = 40;  // as the system's own limit on a chain of links
    std::error_code ec;
    fs::path path = fs::absolute(name, ec);
    for (int hop = 0; hop < LINKS_FOLLOWED && fs::is_symlink(fs::symlink_status(path, ec)); ++hop) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : resolved;
}

// The first member whose file is one another member writes too: the same
// resolved path, or an existing file under two names (hard links). Returns
// the pair, or {n, n}.
std::pair<size_t, size_t> SameFile(const std::vector<ToneSetMember>& members)
{
    namespace fs = std::filesystem;
    std::map<fs::path, size_t> seen;
    std::vector<std::pair<fs::path, size_t>> linked;  // existing files with more than one name
    for (size_t i = 0; i < members.size(); ++i) {
        const fs::path path = Resolved(members[i].request.path);
        const auto [at, fresh] = seen.emplace(path, i);
        if (!fresh) return {at->second, i};
        std::error_code ec;
        if (fs::is_regular_file(path, ec) && fs::hard_link_count(path, ec) > 1 && !ec) {
            for (const auto& [other, j] : linked)
                if (fs::equivalent(path, other, ec)) return {j, i};
            linked.emplace_back(path, i);
        }
    }
    return {members.size(), members.size()};
}

std::string Describe(const ToneSetMember& m)
{
    const SignalKind k = m.request.signal;
    std::string text = k == SignalKind::Sine ? "" : "--signal " + m.signal + " ";
    text += "--rate " + m.rate;
    if (k == SignalKind::Sine) text += " --freq " + m.freq;
    text += " --atten " + m.atten + " --seconds " + m.seconds + " --bits " + m.bits;
    if (k == SignalKind::Sweep) text += " --from " + m.from + " --to " + m.to + " --silence " + m.silence;
    if (k == SignalKind::Multitone) text += " --period " + m.period;
    if (m.request.channels != SignalChannels::Both) text += " --channels " + m.channels;
    if (m.request.exactPhase) text += " --phase " + m.phase;
    return text;
}

}  // namespace

std::string ToneSetCheck(const std::vector<ToneSetMember>& members)
{
    std::set<std::string> names;
    for (const ToneSetMember& m : members) {
        const std::string who = m.request.path + " (" + Describe(m) + "): ";
        if (!names.insert(m.request.path).second)
            return who +
                   "the files' names would repeat. Give --out a placeholder for every option with more "
                   "than one value: {signal} {rate} {freq} {atten} {seconds} {bits} {from} {to} {silence} "
                   "{period} {channels} {phase}.";
        for (const std::string* value :
             {&m.rate, &m.freq, &m.atten, &m.seconds, &m.bits, &m.from, &m.to, &m.silence, &m.period})
            if (UnfitForWindows(*value))
                return who + "the value '" + *value + "' cannot be part of a file name on Windows.";
    }
    if (const auto [first, second] = SameFile(members); second < members.size()) {
        const ToneSetMember& m = members[second];
        return m.request.path + " (" + Describe(m) +
               "): the files' names would repeat: it is the same file as " + members[first].request.path +
               ".";
    }
    for (const ToneSetMember& m : members) {
        const std::string who = m.request.path + " (" + Describe(m) + "): ";
        const ToneRequest& r = m.request;
        if (const RequestRefusal p = RequestCheck(r)) return who + p.caption + " " + p.message;
        if (r.signal == SignalKind::Sine &&
            !TonePlanFits(r.attenuation, r.bitWidth, double(r.sampleRate), r.frequency, double(r.seconds)))
            return who + CAPTION_CREATE + " " + MESSAGE_TOO_SHORT;
        if (const std::string why = SignalCheck(r); !why.empty()) return who + why;
        if (!RequestPathCanBeCreated(r.path)) return who + CAPTION_PATH + " " + MESSAGE_PATH;
    }
    return {};
}
