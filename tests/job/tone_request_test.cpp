#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "job/tone_request.h"

namespace {

constexpr const char* ATTEN16 = "At bit width of 16 maximum attenuation is 90 dB";
constexpr const char* ATTEN24 = "At bit width of 24 maximum attenuation is 138 dB";
constexpr const char* ATTEN32 = "At bit width of 32 maximum attenuation is 186 dB";
constexpr const char* ZERO = "nSeconds = 0 or nSampleRate = 0 or Frequency = 0";
constexpr const char* NYQUIST = "The frequency you requested is greater than the Nyquist rate!";
constexpr const char* NEGATIVE = "Sample rate, frequency and duration must be positive numbers.";
constexpr const char* TOO_BIG =
    "The file would be 4 GB or larger. Choose a shorter duration, a lower sample rate or a smaller bit "
    "width.";

ToneRequest Request(int32_t rate, double freq, int32_t seconds, int32_t bits = 32, uint32_t atten = 0)
{
    ToneRequest r;
    r.sampleRate = rate;
    r.frequency = freq;
    r.seconds = seconds;
    r.bitWidth = bits;
    r.attenuation = atten;
    return r;
}

}  // namespace

TEST(ToneRequest, Defaults)
{
    const ToneRequest r;
    EXPECT_EQ(r.frequency, 1000.0);
    EXPECT_EQ(r.sampleRate, 384000);
    EXPECT_EQ(r.seconds, 30);
    EXPECT_EQ(r.bitWidth, 32);
    EXPECT_EQ(r.attenuation, 0u);
    EXPECT_FALSE(RequestCheck(r));
    EXPECT_EQ(RequestBlocks(r), 22500u);
}

TEST(RequestCheck, FirstFailingCheckInOrder)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        ToneRequest request;
        const char* message;  // null: passes
    } cases[] = {
        // Attenuation limits: each limit itself is allowed.
        {Request(44100, 1000, 1, 16, 90), nullptr},
        {Request(44100, 1000, 1, 16, 91), ATTEN16},
        {Request(44100, 1000, 1, 24, 138), nullptr},
        {Request(44100, 1000, 1, 24, 139), ATTEN24},
        {Request(44100, 1000, 1, 32, 186), nullptr},
        {Request(44100, 1000, 1, 32, 187), ATTEN32},
        // Attenuation comes before the zero test.
        {Request(0, 1000, 1, 16, 100), ATTEN16},
        // Zero test: one message for all three.
        {Request(44100, 1000, 0), ZERO},
        {Request(0, 1000, 1), ZERO},
        {Request(44100, 0.9, 1), ZERO},
        {Request(44100, -0.9, 1), ZERO},
        {Request(44100, 1.0, 1), nullptr},
        // Nyquist: at or above half the rate is refused, just below it passes.
        {Request(384000, 191999.99, 1), nullptr},
        {Request(384000, 192000, 1), NYQUIST},
        {Request(384000, 192000.49, 1), NYQUIST},
        {Request(384000, 192000.5, 1), NYQUIST},
        {Request(24000, 12000, 1, 32), NYQUIST},
        {Request(22050, 11025, 1, 16), NYQUIST},
        {Request(44101, 22050, 1), nullptr},
        {Request(44101, 22050.49, 1), nullptr},
        {Request(44101, 22050.5, 1), NYQUIST},
        {Request(44100, 1e12, 1), NYQUIST},
        {Request(44100, inf, 1), NYQUIST},
        {Request(44100, 1e300, 1), NYQUIST},
        // Signs and non-numbers, after the checks above.
        {Request(-44100, 1000, 1), NYQUIST},
        {Request(44100, -1000, 1), NEGATIVE},
        {Request(44100, 1000, -1), NEGATIVE},
        {Request(44100, nan, 1), NEGATIVE},
        {Request(44100, -inf, 1), NEGATIVE},
        // 32-bit sizes.
        {Request(384000, 1000, 1398, 32), nullptr},
        {Request(384000, 1000, 1399, 32), TOO_BIG},
        {Request(384000, 1000, 2796, 16), nullptr},
        {Request(384000, 1000, 2797, 16), TOO_BIG},
        {Request(2147483647, 1000, 2, 16), TOO_BIG},  // the frame count itself overflows
        {Request(768000, 1000, 2796, 16), TOO_BIG},
    };
    for (const Case& c : cases) {
        const ToneRequest& r = c.request;
        SCOPED_TRACE(testing::Message() << r.sampleRate << " Hz, " << r.frequency << " Hz, " << r.seconds
                                        << " s, " << r.bitWidth << " bits, " << r.attenuation << " dB");
        const RequestRefusal p = RequestCheck(r);
        if (!c.message) {
            EXPECT_FALSE(p) << p.message;
            continue;
        }
        ASSERT_TRUE(p);
        EXPECT_STREQ(p.message, c.message);
        EXPECT_STREQ(p.caption, "Invalid parameter...");
    }
}

TEST(RequestCheck, AcceptedRequestsFitTheFile)
{
    // The largest accepted durations still leave room for one more cycle.
    for (int32_t bits : {16, 24, 32}) {
        for (int32_t rate : {8000, 44100, 96000, 384000, 768000}) {
            int32_t seconds = 1;
            while (!RequestCheck(Request(rate, 1, seconds * 2, bits)))
                seconds *= 2;
            for (int32_t step = seconds / 2; step > 0; step /= 2)
                if (!RequestCheck(Request(rate, 1, seconds + step, bits))) seconds += step;
            const double frames = double(seconds) * rate + rate + 3;  // one cycle of 1 Hz more
            const double bytes = 140 + std::ceil(frames / 512) * 512 * 2 * (bits / 8);
            EXPECT_LE(bytes - 8, 4294967295.0) << bits << " bits at " << rate;
            EXPECT_GT(bytes + 2 * 1024 * 1024 * double(bits / 8), 4294967295.0) << "no needless refusal";
        }
    }
}

TEST(RequestBlocks, RoundsUpToWholeBlocks)
{
    EXPECT_EQ(RequestBlocks(Request(1000, 100, 1)), 2u);
    EXPECT_EQ(RequestBlocks(Request(512, 100, 3)), 3u);
    EXPECT_EQ(RequestBlocks(Request(44100, 100, 1)), 87u);
}
