// The measurement's building blocks against published values: the
// A-weighting curve and the options' grammar.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "analyze/measure_options.h"
#include "analyze/weighting.h"

namespace {

// IEC 61672-1's table of the A-weighting (dB, to 0.1 dB) at the exact
// frequencies 10^(n / 10) Hz behind the nominal ones (31.5 Hz is 10^1.5).
TEST(AnalyzeWeighting, MatchesTheStandardsTable)
{
    const struct {
        int n;
        double db;
    } table[] = {{10, -70.4}, {15, -39.4}, {20, -19.1}, {24, -8.6}, {30, 0.0}, {33, 1.2},
                 {36, 1.0},   {39, -1.1},  {40, -2.5},  {42, -6.6}, {43, -9.3}};
    for (const auto& row : table) {
        const double hz = std::pow(10.0, row.n / 10.0);
        EXPECT_NEAR(10 * std::log10(AnalyzeAWeightingPower(hz)), row.db, 0.05) << hz << " Hz";
    }
    EXPECT_EQ(AnalyzeAWeightingPower(1000), 1.0);
    EXPECT_EQ(AnalyzeAWeightingPower(0), 0.0);
}

TEST(AnalyzeOptions, BandWeightingAndImdGrammar)
{
    const struct {
        const char* text;
        bool ok, full;
        double low, high;
    } bands[] = {{"20-20000", true, false, 20, 20000}, {"full", true, true, 20, 20000},
                 {"0-400.5", true, false, 0, 400.5},   {"400-20", false, false, 20, 20000},
                 {"20", false, false, 20, 20000},      {"-5-20", false, false, 20, 20000},
                 {"20-2e4", false, false, 20, 20000},  {"", false, false, 20, 20000}};
    for (const auto& b : bands) {
        AnalyzeMeasureOptions o;
        EXPECT_EQ(AnalyzeParseBand(b.text, o), b.ok) << b.text;
        EXPECT_EQ(o.bandFull, b.full) << b.text;
        EXPECT_EQ(o.bandLowHz, b.low) << b.text;
        EXPECT_EQ(o.bandHighHz, b.high) << b.text;
    }
    AnalyzeMeasureOptions o;
    EXPECT_TRUE(AnalyzeParseWeighting("A", o) && o.weightingA);
    EXPECT_FALSE(AnalyzeParseWeighting("a", o));
    EXPECT_TRUE(AnalyzeParseImd("ccif", o) && o.imd == AnalyzeImdMode::Ccif);
    EXPECT_FALSE(AnalyzeParseImd("dim", o));
}

}  // namespace
