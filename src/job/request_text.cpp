#include "job/request_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

size_t Digits(std::string_view text, size_t& i)
{
    const size_t from = i;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    return i - from;
}

// A whole number into 64 bits; false on anything else or past the widest field.
bool ParseWhole(std::string_view text, int64_t& value)
{
    text = Trim(text);
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
        if (v > int64_t{UINT32_MAX} + 1) return false;
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

bool RequestParseNumber(std::string_view text, int32_t& value)
{
    int64_t v = 0;
    if (!ParseWhole(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
    value = int32_t(v);
    return true;
}

bool RequestParseNumber(std::string_view text, uint32_t& value)
{
    int64_t v = 0;
    if (!ParseWhole(text, v) || v < 0 || v > int64_t{UINT32_MAX}) return false;
    value = uint32_t(v);
    return true;
}

bool RequestParseNumber(std::string_view text, double& value)
{
    text = Trim(text);
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    size_t mantissa = Digits(text, i);
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += Digits(text, i);
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        if (Digits(text, i) == 0) return false;
    }
    if (i != text.size()) return false;
    // The grammar above is a subset of strtod's, which does the rounding.
    const std::string copy(text);
    const double v = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(v)) return false;
    value = v;
    return true;
}

std::string RequestFormatNumber(int32_t value) { return std::to_string(value); }
std::string RequestFormatNumber(uint32_t value) { return std::to_string(value); }

std::string RequestFormatNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}
