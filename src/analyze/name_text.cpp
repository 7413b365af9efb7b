#include "analyze/name_text.h"

#include <cstdint>

namespace {

// The length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no
// overlong forms, no surrogates, nothing past U+10FFFF), or 0.
size_t Utf8Length(const std::string& s, size_t i)
{
    const auto at = [&](size_t k) { return k < s.size() ? uint8_t(s[k]) : 0u; };
    const unsigned c = at(i);
    const auto tail = [&](size_t k) { return (at(k) & 0xC0u) == 0x80u; };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return tail(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return at(i + 1) >= lo && at(i + 1) <= hi && tail(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return at(i + 1) >= lo && at(i + 1) <= hi && tail(i + 2) && tail(i + 3) ? 4 : 0;
    }
    return 0;
}

// C0 and C1 controls and DEL.
bool Control(const std::string& s, size_t i, size_t length)
{
    const unsigned c = uint8_t(s[i]);
    if (length == 1) return c < 0x20 || c == 0x7F;
    return length == 2 && c == 0xC2 && uint8_t(s[i + 1]) < 0xA0;
}

}  // namespace

std::string AnalyzeNameText(const std::string& name)
{
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t length = Utf8Length(name, i);
        if (length != 0 && !Control(name, i, length)) {
            out.append(name, i, length);
            i += length;
            continue;
        }
        // A control character of two bytes is escaped whole; a stray byte alone.
        for (size_t k = 0; k < (length ? length : 1); ++k) {
            const unsigned c = uint8_t(name[i + k]);
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
        i += length ? length : 1;
    }
    return out;
}
