// Multitones and two-tone signals: looping middle periods, a file sum of
// exactly 0, a spectrum with energy only at the tones, equal levels, the
// peak where stated and the crest factor of the third-octave set.

#include "synth/multitone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "synth/tone.h"

namespace {

using Complex = std::complex<long double>;

// Mixed-radix DFT by the smallest prime factor, in long double.
std::vector<Complex> Dft(const std::vector<Complex>& x)
{
    const size_t n = x.size();
    if (n == 1) return x;
    size_t factor = 2;
    while (n % factor != 0)
        ++factor;
    const size_t m = n / factor;
    std::vector<std::vector<Complex>> parts(factor);
    for (size_t r = 0; r < factor; ++r) {
        std::vector<Complex> sub(m);
        for (size_t j = 0; j < m; ++j)
            sub[j] = x[j * factor + r];
        parts[r] = m > 1 ? Dft(sub) : sub;
    }
    const long double twoPi = 6.283185307179586476925286766559L;
    std::vector<Complex> twiddles(n);
    for (size_t j = 0; j < n; ++j)
        twiddles[j] = Complex(cosl(twoPi * j / n), -sinl(twoPi * j / n));
    std::vector<Complex> out(n);
    for (size_t k = 0; k < n; ++k) {
        Complex sum = 0;
        for (size_t r = 0; r < factor; ++r)
            sum += parts[r][k % m] * twiddles[r * k % n];
        out[k] = sum;
    }
    return out;
}

struct Case {
    const char* name;
    const double* frequencies;
    const double* amplitudes;
    uint32_t count;
    uint32_t rate, period;
    double seconds, amplitude;
};

const double SOME[] = {100.0, 1000.0, 1001.49, 5000.0, 15000.0};

const Case CASES[] = {
    {"thirds", TONE_THIRD_OCTAVES, nullptr, 31, 48000, 48000, 1.0, PEAK_0DB_32},
    {"thirds", TONE_THIRD_OCTAVES, nullptr, 31, 96000, 65536, 9.0, PEAK_0DB_32},
    {"octaves", TONE_OCTAVES, nullptr, 10, 44100, 44100, 5.0, PEAK_0DB_24},
    {"octaves", TONE_OCTAVES, nullptr, 10, 48000, 4096, 3.0, PEAK_0DB_16},
    {"smpte", TONE_SMPTE.frequencies, TONE_SMPTE.amplitudes, 2, 48000, 48000, 2.0, PEAK_0DB_32},
    {"ccif", TONE_CCIF.frequencies, TONE_CCIF.amplitudes, 2, 44100, 44100, 1.0, PEAK_0DB_32},
    {"list", SOME, nullptr, 5, 96000, 96000, 4.5, 1e9},
};

}  // namespace

TEST(ToneMultitone, LoopsSumsToZeroAndHoldsOnlyItsTones)
{
    for (const Case& c : CASES) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.rate) + ", period " +
                     std::to_string(c.period));
        ToneMultitone p;
        ASSERT_TRUE(ToneMultitonePlan(p, c.frequencies, c.amplitudes, c.count, c.rate, c.period, c.seconds,
                                      c.amplitude))
            << p.refusal;
        const uint32_t frames = ToneMultitoneFrames(p);
        EXPECT_GE(p.periods, 4u);
        EXPECT_GE(frames, c.seconds * c.rate);
        EXPECT_TRUE(p.periods == 4 || frames - c.period < c.seconds * c.rate);
        // The file in uneven pieces: middle periods identical to the buffer,
        // the whole sum exactly 0.
        std::vector<int32_t> file(frames + 100);
        for (uint32_t at = 0, n = 1; at < file.size(); at += n, n = n * 7 % 4099 + 1)
            ToneMultitoneMake(p, at, std::min<uint32_t>(n, uint32_t(file.size()) - at), file.data() + at);
        for (uint32_t w = 1; w + 1 < p.periods; ++w)
            ASSERT_EQ(std::memcmp(file.data() + w * c.period, p.samples.get(), c.period * sizeof(int32_t)), 0)
                << w;
        int64_t sum = 0;
        for (uint32_t n = 0; n < frames; ++n)
            sum += file[n];
        EXPECT_EQ(sum, 0);
        for (uint32_t n = frames; n < file.size(); ++n)
            ASSERT_EQ(file[n], 0);
        // The peak at the stated amplitude.
        int32_t peak = 0;
        for (uint32_t t = 0; t < c.period; ++t)
            peak = std::max(peak, std::abs(p.samples[t]));
        EXPECT_EQ(peak, int32_t(c.amplitude));

        // One middle period's spectrum: the tones at their relative levels
        // within 0.02 dB, at the frequencies of their bins, and every other
        // bin at least 140 dB below them at 32 bits.
        std::vector<Complex> x(c.period);
        for (uint32_t t = 0; t < c.period; ++t)
            x[t] = p.samples[t];
        const std::vector<Complex> spectrum = Dft(x);
        std::vector<bool> isTone(c.period / 2 + 1, false);
        long double firstLevel = 0, quietest = 1e300L;
        for (uint32_t i = 0; i < c.count; ++i) {
            isTone[p.bins[i]] = true;
            EXPECT_NEAR(ToneMultitoneFrequency(p, i), c.frequencies[i], 0.5 * c.rate / c.period);
            const long double level = std::abs(spectrum[p.bins[i]]) / p.amplitudes[i];
            if (i == 0) firstLevel = level;
            EXPECT_NEAR(double(20 * log10l(level / firstLevel)), 0.0, 0.02) << c.frequencies[i];
            quietest = std::min(quietest, std::abs(spectrum[p.bins[i]]));
        }
        if (c.amplitude == PEAK_0DB_32) {
            long double loudestOther = 0;
            for (uint32_t k = 0; k <= c.period / 2; ++k)
                if (!isTone[k]) loudestOther = std::max(loudestOther, std::abs(spectrum[k]));
            const double below = double(20 * log10l(quietest / loudestOther));
            EXPECT_GE(below, 140.0);
            std::printf("%-8s %6u/%-6u crest %.2f dB, other bins %.1f dB below the tones\n", c.name, c.rate,
                        c.period, p.crestFactorDb, below);
        }
    }
}

TEST(ToneMultitone, ThirdOctavesStayAtMost12dBCrest)
{
    ToneMultitone p;
    ASSERT_TRUE(ToneMultitonePlan(p, TONE_THIRD_OCTAVES, nullptr, 31, 48000, 48000, 1.0, PEAK_0DB_32));
    std::printf("31 third-octave tones at 48 kHz: crest factor %.2f dB\n", p.crestFactorDb);
    EXPECT_LE(p.crestFactorDb, 12.0);
    // The figure is the period's own: peak over RMS of the buffer.
    long double power = 0;
    for (uint32_t t = 0; t < p.period; ++t)
        power += static_cast<long double>(p.samples[t]) * p.samples[t];
    EXPECT_NEAR(double(10 * log10l(PEAK_0DB_32 * PEAK_0DB_32 / (power / p.period))), p.crestFactorDb, 0.01);
}

TEST(ToneMultitone, RefusesWhatCannotBeMade)
{
    const double sameBin[] = {1000.0, 1000.4};
    const double tooHigh[] = {1000.0, 24000.0};
    const double zero[] = {0.2, 1000.0};
    ToneMultitone p;
    EXPECT_FALSE(ToneMultitonePlan(p, sameBin, nullptr, 2, 48000, 48000, 1.0, PEAK_0DB_32));
    EXPECT_STREQ(p.refusal, "1000 Hz and 1000.4 Hz fall in the same bin");
    EXPECT_FALSE(ToneMultitonePlan(p, tooHigh, nullptr, 2, 48000, 48000, 1.0, PEAK_0DB_32));
    EXPECT_FALSE(ToneMultitonePlan(p, zero, nullptr, 2, 48000, 48000, 1.0, PEAK_0DB_32));
    EXPECT_FALSE(ToneMultitonePlan(p, TONE_OCTAVES, nullptr, 10, 48000, 48000, 1e6, PEAK_0DB_32));
    EXPECT_TRUE(ToneMultitonePlan(p, sameBin, nullptr, 2, 48000, 96000, 1.0, PEAK_0DB_32)) << p.refusal;
}
