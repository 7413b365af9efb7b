#include "job/request_text.h"

#include <cmath>

#include <gtest/gtest.h>

// One grammar for every field, typed or given on the command line: each text
// either converts to exactly this value or does not convert at all.
TEST(RequestParseNumber, OneGrammarForEveryField)
{
    struct Whole {
        const char* text;
        bool isInt32, isUInt32;
        int64_t value;
    } wholes[] = {
        {"44100", true, true, 44100},
        {" 44100\t", true, true, 44100},  // blanks around are allowed
        {"+16", true, true, 16},
        {"-1", true, false, -1},
        {"007", true, true, 7},  // decimal, never octal
        {"2147483647", true, true, 2147483647},
        {"2147483648", false, true, 2147483648},
        {"-2147483648", true, false, -2147483648LL},
        {"4294967295", false, true, 4294967295},
        {"4294967296", false, false, 0},
        {"99999999999999999999", false, false, 0},
        {"", false, false, 0},
        {"  ", false, false, 0},
        {"+", false, false, 0},
        {"0x18", false, false, 0},
        {"1 2", false, false, 0},
        {"12x", false, false, 0},
        {"1.5", false, false, 0},
        {"1e3", false, false, 0},
        {"--1", false, false, 0},
    };
    for (const Whole& c : wholes) {
        SCOPED_TRACE(c.text);
        int32_t i = 123;
        uint32_t u = 123;
        EXPECT_EQ(RequestParseNumber(c.text, i), c.isInt32);
        EXPECT_EQ(RequestParseNumber(c.text, u), c.isUInt32);
        EXPECT_EQ(i, c.isInt32 ? int32_t(c.value) : 123) << "a refusal leaves the value alone";
        EXPECT_EQ(u, c.isUInt32 ? uint32_t(c.value) : 123u);
    }

    struct Decimal {
        const char* text;
        bool converts;
        double value;
    } decimals[] = {
        {"1000", true, 1000.0}, {" 1000", true, 1000.0}, {"997.5", true, 997.5}, {"+.5", true, 0.5},
        {"5.", true, 5.0},      {"-0.9", true, -0.9},    {"1e3", true, 1000.0},  {"2.5E-1", true, 0.25},
        {"1e400", false, 0},    {"inf", false, 0},       {"nan", false, 0},      {"0x10", false, 0},
        {".", false, 0},        {"1e", false, 0},        {"e3", false, 0},       {"", false, 0},
        {"1,5", false, 0},      {"1.2.3", false, 0},
    };
    for (const Decimal& c : decimals) {
        SCOPED_TRACE(c.text);
        double d = 123.0;
        EXPECT_EQ(RequestParseNumber(c.text, d), c.converts);
        EXPECT_EQ(d, c.converts ? c.value : 123.0);
    }
}

TEST(RequestFormatNumber, ReadsBackTheSame)
{
    for (double v : {1000.0, 997.5, 0.1, 19999.7, 1e-5}) {
        double back = 0;
        ASSERT_TRUE(RequestParseNumber(RequestFormatNumber(v), back)) << RequestFormatNumber(v);
        EXPECT_EQ(back, v);
    }
    EXPECT_EQ(RequestFormatNumber(1000.0), "1000");
    EXPECT_EQ(RequestFormatNumber(int32_t(-5)), "-5");
    EXPECT_EQ(RequestFormatNumber(uint32_t(4294967295u)), "4294967295");
}
