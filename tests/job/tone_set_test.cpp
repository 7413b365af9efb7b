#include "job/tone_set_check.h"
#include "job/tone_set_expand.h"

#include <gtest/gtest.h>

namespace {

std::vector<ToneSetMember> Expand(const ToneSetOptions& o, std::string* refusal = nullptr)
{
    std::vector<ToneSetMember> members;
    const std::string p = ToneSetExpand(o, "/work", members);
    if (refusal) *refusal = p;
    return members;
}

}  // namespace

// Every combination, the last option varying fastest; names from the values
// as written; a default name for each kind of set.
TEST(ToneSetExpand, EveryCombinationNamedByItsValues)
{
    ToneSetOptions o;
    o.rate = "44100, 48000";
    o.atten = "0,20";
    o.bits = "16,+24";
    const auto members = Expand(o);
    ASSERT_EQ(members.size(), 8u);
    EXPECT_EQ(members[0].request.path, "tone-44100sps-0dB-16bit.wav");
    EXPECT_EQ(members[1].request.path, "tone-44100sps-0dB-+24bit.wav");  // as written
    EXPECT_EQ(members[1].request.bitWidth, 24);
    EXPECT_EQ(members[7].request.path, "tone-48000sps-20dB-+24bit.wav");
    EXPECT_EQ(members[7].request.attenuation, 20u);

    struct Case {
        const char* freq;
        const char* out;
        const char* outDir;
        size_t count;
        const char* first;
    } cases[] = {
        {"1000", "", "", 1, "/work/Test.wav"},  // a single request: as today
        {"1000", "", "d", 1, "d/Test.wav"},
        {"thirds", "", "", 31, "tone-20Hz.wav"},
        {"octaves", "", "out", 10, "out/tone-31.5Hz.wav"},
        {"20,25", "f{freq}-{bits}.wav", "", 2, "f20-32.wav"},
        {"20,25", "{freq}/{freq}.wav", "d", 2, "d/20/20.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freq);
        ToneSetOptions one;
        one.freq = c.freq;
        one.out = c.out;
        one.outDir = c.outDir;
        const auto m = Expand(one);
        ASSERT_EQ(m.size(), c.count);
        EXPECT_EQ(m[0].request.path, c.first);
    }
}

// Signals in a set: the name carries each one; an option a signal does not
// use takes its first value only, so no two members are the same file.
TEST(ToneSetExpand, SignalsTakeOnlyTheOptionsTheyUse)
{
    ToneSetOptions o;
    o.signal = "sine,sweep,multitone";
    o.freq = "100,1000";
    o.to = "10000,20000";
    o.channels = "left,inverted";
    const auto members = Expand(o);
    // sine: 2 freq x 2 channels; sweep: 2 to x 2 channels; multitone: 2 channels.
    ASSERT_EQ(members.size(), 10u);
    EXPECT_EQ(members[0].request.path, "tone-sine-100Hz-to10000Hz-left.wav");
    EXPECT_EQ(members[4].request.signal, SignalKind::Sweep);
    EXPECT_EQ(members[4].request.sweepTo, 10000.0);
    EXPECT_EQ(members[7].request.channels, SignalChannels::Inverted);
    EXPECT_EQ(members[8].request.path, "tone-multitone-100Hz-to10000Hz-left.wav");
    EXPECT_EQ(members[8].request.tones.size(), 31u);  // the third octaves by default
    for (const char* bad : {"signal", "channels", "phase"}) {
        ToneSetOptions b;
        (std::string(bad) == "signal"     ? b.signal
         : std::string(bad) == "channels" ? b.channels
                                          : b.phase) = "x";
        std::string refusal;
        Expand(b, &refusal);
        EXPECT_EQ(refusal.find(std::string("--") + bad + ": 'x' is not one of the values it takes: "), 0u)
            << refusal;
    }
}

TEST(ToneSetExpand, RefusesValuesThatAreNotNumbers)
{
    for (const char* bits : {"16,", "16,20", "0x10", "16;24"}) {
        ToneSetOptions o;
        o.bits = bits;
        std::string refusal;
        EXPECT_TRUE(Expand(o, &refusal).empty() || !refusal.empty()) << bits;
        EXPECT_NE(refusal.find("--bits"), std::string::npos) << bits;
    }
}

// The whole set is checked before anything is made, and the refusal names
// its member.
TEST(ToneSetCheck, NamesTheFirstRefusedMember)
{
    ToneSetOptions o;
    o.freq = "1000,200000";
    o.out = "/tmp/t-{freq}.wav";
    std::string refusal = ToneSetCheck(Expand(o));
    EXPECT_NE(refusal.find("/tmp/t-200000.wav (--rate 384000 --freq 200000"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("Nyquist"), std::string::npos);

    o.out = "/tmp/same.wav";
    refusal = ToneSetCheck(Expand(o));
    EXPECT_NE(refusal.find("would repeat"), std::string::npos) << refusal;

    o.freq = "1,1000";  // one cycle cannot be planned
    o.seconds = "1";
    o.out = "/tmp/p-{freq}.wav";
    refusal = ToneSetCheck(Expand(o));
    EXPECT_NE(refusal.find("too short"), std::string::npos) << refusal;
}
