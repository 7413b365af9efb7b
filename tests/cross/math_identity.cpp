// Prints digests of the synthesis's sine, cosine and power over the values a
// tone uses, and of the analysis's real FFT over a response's lengths.
// tests/cross/math_identity.sh runs it from the Linux build and both Windows
// builds: the lines must be identical.

#include "synth/tone_math.h"

#include "analyze/real_fft.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

namespace {

// FNV-1a over the bits of each value.
struct Digest {
    uint64_t h = 14695981039346656037ull;
    uint64_t count = 0;
    void Add(double v)
    {
        uint64_t bits = std::bit_cast<uint64_t>(v);
        for (int i = 0; i < 8; ++i, bits >>= 8)
            h = (h ^ (bits & 0xff)) * 1099511628211ull;
        ++count;
    }
    void Print(const char* name) const
    {
        std::printf("%-28s %10llu values  %016llx\n", name, static_cast<unsigned long long>(count),
                    static_cast<unsigned long long>(h));
    }
};

// Sines of a phase series, a block at a time as the kernels make them (the
// loop over the block is the one the compiler vectorises), and one value at
// a time; both must agree.
Digest SineSeries(double phase, double step, uint32_t count, uint32_t& mismatches)
{
    Digest d;
    double phases[512], values[512];
    for (uint32_t done = 0; done < count; done += 512) {
        for (double& p : phases)
            p = (phase += step);
        for (uint32_t i = 0; i < 512; ++i)
            values[i] = ToneSin(phases[i]);
        for (uint32_t i = 0; i < 512; ++i) {
            d.Add(values[i]);
            volatile double x = phases[i];
            if (std::bit_cast<uint64_t>(ToneSin(x)) != std::bit_cast<uint64_t>(values[i])) ++mismatches;
        }
    }
    return d;
}

}  // namespace

int main()
{
    uint32_t mismatches = 0;
    SineSeries(0.0, 0.016362461737447917, 11520000, mismatches).Print("sin, 30 s at 1 kHz/384 kHz");
    SineSeries(1.4e10, 0.016362461737447917, 1048576, mismatches).Print("sin, phases from 1.4e10");
    SineSeries(-3.0, 0.0123456789, 1048576, mismatches).Print("sin, 2.9 Hz/48 kHz from -3");

    Digest cosines;
    for (uint32_t n : {1u, 2u, 3839u, 19199u}) {
        for (uint32_t i = n; i < 2 * n; ++i) {
            const double x = double(i) / double(2 * n);
            cosines.Add(ToneCos(x * 6.28318530718));
            cosines.Add(ToneCos(x * 12.56637061436));
        }
    }
    cosines.Print("cos, ramp arguments");

    Digest powers;
    for (uint32_t a = 1; a <= 255; ++a) {
        powers.Add(TonePow10((186.6385973076236 - a) / 20));
        powers.Add(TonePow10((138.4737969699925 - a) / 20));
    }
    powers.Print("10^y, amplitudes");

    // Transforms forward and back of pseudo-random samples: the vector
    // clones on Linux, plain SSE2 on Windows.
    Digest transforms;
    uint64_t state = 1;
    AnalyzeRealFft fft;
    for (size_t n : {16u, 4096u, 98304u, 163840u, 1u << 20}) {
        std::vector<double> x(n), back(n);
        std::vector<std::complex<double>> bins(n / 2 + 1);
        for (double& v : x)
            v = double((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 11) * 0x1p-53 -
                0.5;
        fft.Forward(x.data(), bins.data(), n);
        fft.Inverse(bins.data(), back.data(), n);
        for (size_t k = 0; k <= n / 2; ++k) {
            transforms.Add(bins[k].real());
            transforms.Add(bins[k].imag());
        }
        for (double v : back)
            transforms.Add(v);
    }
    transforms.Print("real FFT, forward and back");

    std::printf("sin(1e10) = %a, cos(6.28318530718 * 0.75) = %a, 10^(186.6385973076236 / 20) = %a\n",
                ToneSin(1e10), ToneCos(6.28318530718 * 0.75), TonePow10(186.6385973076236 / 20));
    std::printf("block and scalar values differing: %u\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
