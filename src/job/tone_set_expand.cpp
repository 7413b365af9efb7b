#include "job/tone_set_expand.h"

#include <filesystem>
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

void Replace(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
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
    // Standard output or a path from a root has no place for a folder.
    if (!o.outDir.empty() && (o.out == "-" || fs::path(o.out).has_root_path()))
        return "--out-dir cannot be given with --out " + o.out + ", which names " +
               (o.out == "-" ? "standard output" : "a path of its own") + ": give one or the other.";
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
    if (o.out == "-" && members.size() > 1)
        return "--out -: a set of " + std::to_string(members.size()) +
               " files cannot go to standard output, which takes one file. Give --out a name pattern or "
               "--out-dir a folder.";
    return {};
}
