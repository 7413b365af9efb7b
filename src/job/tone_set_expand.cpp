#include "job/tone_set_expand.h"

#include <filesystem>
#include <iterator>
#include <type_traits>

#include "job/request_text.h"

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

// One option's list of names: each one of `names`, as its index.
template <size_t N>
std::string ReadNames(const char* option, const std::string& list, const char* const (&names)[N],
                      std::vector<std::string>& texts, std::vector<uint32_t>& values)
{
    texts = Split(list);
    for (const std::string& text : texts) {
        uint32_t i = 0;
        while (i < N && text != names[i])
            ++i;
        if (i == N) {
            std::string all;
            for (const char* name : names)
                all += (all.empty() ? "" : ", ") + std::string(name);
            return std::string(option) + ": '" + text + "' is not one of the values it takes: " + all + ".";
        }
        values.push_back(i);
    }
    return {};
}

void Replace(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

// One option with its values, for the walk over every combination.
struct Axis {
    const char* placeholder;
    const char* namePiece;             // in a default set name, when it varies
    std::vector<std::string> texts;    // as written
    std::string ToneSetMember::*text;  // where the member keeps it
    bool (*appliesTo)(SignalKind);     // null: to every signal
};

bool SineOnly(SignalKind k) { return k == SignalKind::Sine; }
bool SweepOnly(SignalKind k) { return k == SignalKind::Sweep; }
bool MultitoneOnly(SignalKind k) { return k == SignalKind::Multitone; }

}  // namespace

std::string ToneSetExpand(const ToneSetOptions& o, const std::string& currentDir,
                          std::vector<ToneSetMember>& members)
{
    std::vector<std::string> rateTexts, freqTexts, attenTexts, secondsTexts, bitsTexts, signalTexts,
        fromTexts, toTexts, silenceTexts, periodTexts, channelsTexts, phaseTexts, toneTexts;
    std::vector<int32_t> rates, seconds, bits;
    std::vector<double> freqs, froms, tos, silences, tones;
    std::vector<uint32_t> attens, signals, periods, channels, phases;
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
    const std::string toneList = o.tones == "octaves"  ? joined(OCTAVE_FREQUENCIES)
                                 : o.tones == "thirds" ? joined(THIRD_OCTAVE_FREQUENCIES)
                                                       : o.tones;
    for (const std::string& refusal :
         {ReadList("--rate", o.rate, rateTexts, rates), ReadList("--freq", freqList, freqTexts, freqs),
          ReadList("--atten", o.atten, attenTexts, attens),
          ReadList("--seconds", o.seconds, secondsTexts, seconds),
          ReadList("--bits", o.bits, bitsTexts, bits),
          ReadNames("--signal", o.signal, SIGNAL_KIND_NAMES, signalTexts, signals),
          ReadList("--from", o.from, fromTexts, froms), ReadList("--to", o.to, toTexts, tos),
          ReadList("--silence", o.silence, silenceTexts, silences),
          ReadList("--tones", toneList, toneTexts, tones),
          ReadList("--period", o.period.empty() ? "0" : o.period, periodTexts, periods),
          ReadNames("--channels", o.channels, SIGNAL_CHANNELS_NAMES, channelsTexts, channels),
          ReadNames("--phase", o.phase, SIGNAL_PHASE_NAMES, phaseTexts, phases)})
        if (!refusal.empty()) return refusal;
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] != 16 && bits[i] != 24 && bits[i] != 32)
            return "--bits: '" + bitsTexts[i] + "' is not one of the values it takes: 16, 24 or 32.";
    if (o.period.empty()) periodTexts = {"rate"};

    // The outermost first, the last varying fastest.
    Axis axes[] = {
        {"{signal}", "-{signal}", signalTexts, &ToneSetMember::signal, nullptr},
        {"{rate}", "-{rate}sps", rateTexts, &ToneSetMember::rate, nullptr},
        {"{freq}", "-{freq}Hz", freqTexts, &ToneSetMember::freq, SineOnly},
        {"{atten}", "-{atten}dB", attenTexts, &ToneSetMember::atten, nullptr},
        {"{seconds}", "-{seconds}s", secondsTexts, &ToneSetMember::seconds, nullptr},
        {"{bits}", "-{bits}bit", bitsTexts, &ToneSetMember::bits, nullptr},
        {"{from}", "-from{from}Hz", fromTexts, &ToneSetMember::from, SweepOnly},
        {"{to}", "-to{to}Hz", toTexts, &ToneSetMember::to, SweepOnly},
        {"{silence}", "-silence{silence}s", silenceTexts, &ToneSetMember::silence, SweepOnly},
        {"{period}", "-period{period}", periodTexts, &ToneSetMember::period, MultitoneOnly},
        {"{channels}", "-{channels}", channelsTexts, &ToneSetMember::channels, nullptr},
        {"{phase}", "-{phase}phase", phaseTexts, &ToneSetMember::phase, SineOnly},
    };
    constexpr size_t AXES = std::size(axes);

    // A set's default name carries every option that varies.
    std::string pattern = o.out;
    if (pattern.empty()) {
        std::string name = "tone";
        for (const Axis& a : axes)
            if (a.texts.size() > 1) name += a.namePiece;
        pattern = name == "tone" ? DEFAULT_FILE_NAME : name + ".wav";
    }
    namespace fs = std::filesystem;
    // Standard output or a path from a root has no place for a folder.
    if (!o.outDir.empty() && (o.out == "-" || fs::path(o.out).has_root_path()))
        return "--out-dir cannot be given with --out " + o.out + ", which names " +
               (o.out == "-" ? "standard output" : "a path of its own") + ": give one or the other.";
    if (!o.outDir.empty())
        pattern = (fs::path(o.outDir) / pattern).string();
    else if (o.out.empty() && pattern == DEFAULT_FILE_NAME)
        pattern = RequestDefaultPath(currentDir);

    members.clear();
    size_t at[AXES] = {};
    for (;;) {
        const auto signal = SignalKind(signals[at[0]]);
        // An option a signal does not use takes only its first value: no
        // member repeats another.
        bool repeat = false;
        for (size_t a = 0; a < AXES; ++a)
            repeat = repeat || (at[a] > 0 && axes[a].appliesTo && !axes[a].appliesTo(signal));
        if (!repeat) {
            ToneSetMember& m = members.emplace_back();
            ToneRequest& r = m.request;
            for (size_t a = 0; a < AXES; ++a)
                m.*axes[a].text = axes[a].texts[at[a]];
            r.signal = signal;
            r.sampleRate = rates[at[1]];
            r.frequency = freqs[at[2]];
            r.attenuation = attens[at[3]];
            r.seconds = seconds[at[4]];
            r.bitWidth = bits[at[5]];
            r.sweepFrom = froms[at[6]];
            r.sweepTo = tos[at[7]];
            r.silence = silences[at[8]];
            r.period = periods[at[9]];
            r.channels = SignalChannels(channels[at[10]]);
            r.exactPhase = phases[at[11]] == 1;
            if (signal == SignalKind::Multitone) r.tones = tones;
            r.path = pattern;
            for (size_t a = 0; a < AXES; ++a)
                Replace(r.path, axes[a].placeholder, axes[a].texts[at[a]]);
        }
        size_t a = AXES;
        while (a > 0 && ++at[a - 1] == axes[a - 1].texts.size())
            at[--a] = 0;
        if (a == 0) break;
    }
    if (o.out == "-" && members.size() > 1)
        return "--out -: a set of " + std::to_string(members.size()) +
               " files cannot go to standard output, which takes one file. Give --out a name pattern or "
               "--out-dir a folder.";
    return {};
}
