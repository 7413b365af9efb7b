// The analysis's exact building blocks: the phase of far frames, the
// compensated sum, the FFT, and the reader's frame arithmetic past 2 GiB.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analyze/analyze.h"
#include "analyze/fft.h"
#include "analyze/other_tones.h"
#include "analyze/plot.h"
#include "analyze/sine_phase.h"
#include "analyze/sums.h"
#include "wave/wave_format.h"
#include "wave/wave_reader.h"

namespace {

// frac(nu t) in cycles, exactly: nu is m 2^e with an integer m of 53 bits.
double ExactCycles(double nu, int64_t t)
{
    int e;
    const double m = std::frexp(nu, &e);  // nu = m 2^e, 0.5 <= m < 1
    const auto mant = static_cast<unsigned __int128>(std::ldexp(m, 53));
    const int shift = 53 - e;  // nu = mant / 2^shift
    const unsigned __int128 product = mant * static_cast<unsigned __int128>(t);
    const unsigned __int128 mask = (static_cast<unsigned __int128>(1) << shift) - 1;
    const int drop = shift > 63 ? shift - 63 : 0;  // bits below 2^-63 do not matter
    const double frac =
        std::ldexp(static_cast<double>(static_cast<uint64_t>((product & mask) >> drop)), drop - shift);
    return frac >= 0.5 ? frac - 1.0 : frac;
}

// The 44-byte header of a mono 16-bit 48 kHz file of `data` bytes of samples.
void WriteMonoHeader(std::FILE* f, uint32_t data)
{
    std::string head(
        "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\xBB\0\0\0\x77\x01\0\x02\0\x10\0data\0\0\0\0", 44);
    auto* bytes = reinterpret_cast<uint8_t*>(head.data());
    WavePut32(bytes + 4, data + 36);
    WavePut32(bytes + 40, data);
    std::fwrite(head.data(), 1, head.size(), f);
}

TEST(AnalyzeExact, PhaseOfFarFramesIsExactToTheLastBits)
{
    for (double nu : {1000.0 / 384000, 997.0 / 44100, 19999.7 / 44100, 2.0 / 768000, 0.4999})
        for (int64_t t :
             {int64_t(1), int64_t(12345), int64_t(11520000), int64_t(1) << 31, (int64_t(1) << 32) - 7}) {
            const double got = AnalyzeCycles(AnalyzeSplitRate(nu), t);
            const double want = ExactCycles(nu, t);
            double diff = std::fabs(got - want);
            diff = std::min(diff, 1.0 - diff);
            EXPECT_LT(diff, 1e-15) << "nu " << nu << " t " << t;
        }
}

TEST(AnalyzeExact, CompensatedSumKeepsWhatPlainSumsLose)
{
    AnalyzeCompensatedSum s;
    for (double v : {1e16, 1.0, -1e16, 3.0})
        s.Add(v);
    EXPECT_EQ(s.Value(), 4.0);  // a plain sum gives 3
}

TEST(AnalyzeExact, FftMatchesTheDefinition)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    for (uint32_t n : {2u, 8u, 64u, 1024u}) {
        std::vector<double> x(n);
        for (double& v : x)
            v = u(rng);
        const std::vector<std::complex<double>> bins = AnalyzeFft(x);
        ASSERT_EQ(bins.size(), n / 2 + 1);
        for (uint32_t k = 0; k <= n / 2; k += std::max(1u, n / 16)) {
            long double sr = 0, si = 0;
            for (uint32_t i = 0; i < n; ++i) {
                const long double a =
                    -2.0L * 3.14159265358979323846264338327950288L * ((uint64_t(i) * k) % n) / n;
                sr += x[i] * std::cos(a);
                si += x[i] * std::sin(a);
            }
            EXPECT_NEAR(bins[k].real(), double(sr), 1e-12 * n);
            EXPECT_NEAR(bins[k].imag(), double(si), 1e-12 * n);
        }
    }
}

// A sparse 16-bit mono file of 2.5 GB: frames past 2^31 bytes are found and
// read, and a 3-frame pattern at the very end comes back as written.
TEST(AnalyzeReader, FramesPastTwoGibibytes)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "calyx-analyze-large.wav";
    const uint64_t frames = 1250000000;  // 2.5e9 bytes of samples
    {
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        WriteMonoHeader(f, uint32_t(frames * 2));
        std::fclose(f);
        std::filesystem::resize_file(path, 44 + frames * 2 - 6);
        f = std::fopen(path.string().c_str(), "ab");
        const int16_t tail[3] = {1234, -32768, 32767};
        std::fwrite(tail, 2, 3, f);
        std::fclose(f);
    }
    WaveReader reader;
    ASSERT_EQ(WaveOpen(reader, path.string().c_str()), WaveOpenResult::Ok);
    EXPECT_EQ(reader.info.frames, frames);
    EXPECT_TRUE(reader.info.problems.empty());
    ASSERT_TRUE(WaveSeekFrame(reader, frames - 3));
    double x[4] = {};
    EXPECT_EQ(WaveReadChannel(reader, 0, x, 4), 3u);
    EXPECT_EQ(x[0], 1234);
    EXPECT_EQ(x[1], -32768);
    EXPECT_EQ(x[2], 32767);
    reader = {};  // closes the file
    std::filesystem::remove(path);
}

// Fitted values far off (a frequency near 0, ends at infinity, not a
// number) still make a picture: every position they give is held to the
// file's frames and the picture's columns, never converted unchecked.
TEST(AnalyzePlot, ExtremeFitsStillDraw)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path wav = dir / "calyx-analyze-extreme.wav";
    {
        const uint32_t frames = 4800, data = frames * 2;
        std::FILE* f = std::fopen(wav.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        WriteMonoHeader(f, data);
        for (uint32_t i = 0; i < frames; ++i) {
            const auto v = int16_t(std::lround(16000 * std::sin(6.283185307179586 * 1000 * i / 48000)));
            std::fwrite(&v, 2, 1, f);
        }
        std::fclose(f);
    }
    const AnalyzeFileResult file = AnalyzeFile(wav.string(), 1);
    ASSERT_TRUE(file.channels.at(0).toneFound);
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        const char* what;
        double nu, start, end, fadeIn, fadeOut, frequencyHz;
    };
    const Case cases[] = {
        {"a frequency near 0", 1e-30, 0, 4800, 0, 0, 1e-30 * 48000},
        {"ends far outside", 1000.0 / 48000, -5.39e23, 5.39e23, 1e23, 1e23, 1000},
        {"ends at infinity", 1000.0 / 48000, -inf, inf, inf, inf, 1000},
        {"not a number", nan, nan, nan, nan, nan, nan},
        {"a negative frequency", -0.25, 4800, 0, -10, -10, -12000},
    };
    for (const Case& c : cases) {
        AnalyzeFileResult bent = file;
        AnalyzeChannelResult& ch = bent.channels[0];
        ch.sine.nu = c.nu;
        ch.toneStart = c.start;
        ch.toneEnd = c.end;
        ch.fadeInFrames = c.fadeIn;
        ch.fadeOutFrames = c.fadeOut;
        ch.frequencyHz = c.frequencyHz;
        EXPECT_FALSE(AnalyzePlotSvg(bent, 0).empty()) << c.what;
    }
    std::filesystem::remove(wav);
}

// The two strongest components of two-tone signals (a SMPTE pair 4:1, a
// CCIF pair of equal level) at their frequencies and amplitudes, and the
// other tones beside a fitted one leaving out its harmonics.
TEST(AnalyzeComponents, TwoTonesAtTheirFrequenciesAndLevels)
{
    struct Case {
        const char* what;
        double f1, a1, f2, a2;
    };
    const Case cases[] = {
        {"SMPTE 60 Hz + 7 kHz, 4:1", 60, 16000, 7000, 4000},
        {"CCIF 19 + 20 kHz", 19000, 12000, 20000, 12000},
        {"a tone and a weak other, off the bins", 997.3, 20000, 3321.7, 20},
    };
    const std::filesystem::path wav = std::filesystem::temp_directory_path() / "calyx-analyze-two.wav";
    for (const Case& c : cases) {
        const uint32_t frames = 48000;
        std::FILE* f = std::fopen(wav.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        WriteMonoHeader(f, frames * 2);
        for (uint32_t i = 0; i < frames; ++i) {
            const double t = double(i) / 48000;
            const auto v = int16_t(std::lround(c.a1 * std::sin(6.283185307179586 * c.f1 * t) +
                                               c.a2 * std::sin(6.283185307179586 * c.f2 * t + 1.0)));
            std::fwrite(&v, 2, 1, f);
        }
        std::fclose(f);
        WaveReader reader;
        ASSERT_EQ(WaveOpen(reader, wav.string().c_str()), WaveOpenResult::Ok);
        const std::vector<AnalyzeComponent> found =
            AnalyzeComponents(reader, 0, 0, frames, AnalyzeComponentOptions{});
        ASSERT_EQ(found.size(), 2u) << c.what;
        std::vector<AnalyzeComponent> byFrequency = found;  // f1 < f2 in every case
        std::sort(byFrequency.begin(), byFrequency.end(),
                  [](const AnalyzeComponent& a, const AnalyzeComponent& b) { return a.nu < b.nu; });
        const AnalyzeComponent& one = byFrequency[0];
        const AnalyzeComponent& two = byFrequency[1];
        EXPECT_NEAR(one.nu * 48000, c.f1, 1e-3) << c.what;
        EXPECT_NEAR(two.nu * 48000, c.f2, 1e-3) << c.what;
        EXPECT_NEAR(20 * std::log10(one.amplitude / c.a1), 0, 0.01) << c.what;
        EXPECT_NEAR(20 * std::log10(two.amplitude / c.a2), 0, 0.05) << c.what;
    }
    std::filesystem::remove(wav);
}

}  // namespace
