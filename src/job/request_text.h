#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The one grammar for the numbers of a request, typed in the dialog or
// given on the command line:
//
//   whole number    [blanks] [+|-] digit... [blanks]
//   decimal number  [blanks] [+|-] (digit... [. digit...] | . digit...) [(e|E) [+|-] digit...] [blanks]
//
// Blanks are spaces and tabs. Digits are decimal: a leading zero is not
// octal, and there is no hexadecimal, "inf" or "nan". The value must fit its
// field: -2147483648 ... 2147483647 for a signed whole number, 0 ... 4294967295
// for an unsigned one, a finite double for a decimal. Anything else, the
// empty text included, does not convert.
bool RequestParseNumber(std::string_view text, int32_t& value);
bool RequestParseNumber(std::string_view text, uint32_t& value);
bool RequestParseNumber(std::string_view text, double& value);

// A number as a field shows it (a decimal to 15 significant digits).
std::string RequestFormatNumber(int32_t value);
std::string RequestFormatNumber(uint32_t value);
std::string RequestFormatNumber(double value);
