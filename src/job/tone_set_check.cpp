#include "job/tone_set_check.h"

#include <algorithm>
#include <set>
#include <string_view>

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
