#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "analyze/complex_fft.h"

// Real transforms of any length that is a multiple of 4, for the long
// transforms of a response. The plans, made once per length, are shared by
// a copy (the inverse is the forward of the conjugate, so one plan serves
// both): a copy of an object whose plans are made serves another thread
// without making them again, and without copying them; the scratch is not
// copied.
class AnalyzeRealFft {
public:
    // out[k] = sum over j of in[j] e^(-2 pi i j k / n), k = 0 ... n/2.
    void Forward(const double* in, std::complex<double>* out, size_t n);
    // The inverse, scaled by 1 / n: n samples from n/2 + 1 bins (in and out apart).
    void Inverse(const std::complex<double>* in, double* out, size_t n);
    // Gives the scratch back (twice the longest transform's size), keeping the plans.
    void Release() { scratch = {}; }

    struct Plan {
        explicit Plan(size_t n) : n(n), complex(n / 2), split(n) {}
        size_t n;
        AnalyzeFftPlan complex;  // of n/2 points
        AnalyzeTwiddles split;   // e^(-2 pi i k / n), to separate the halves
    };

private:
    const Plan& PlanFor(size_t n);
    std::vector<std::shared_ptr<const Plan>> plans;
    struct Scratch {  // each object's own: a copy starts empty
        Scratch() = default;
        Scratch(const Scratch&) {}
        Scratch& operator=(const Scratch&) { return *this; }
        Scratch(Scratch&&) = default;
        Scratch& operator=(Scratch&&) = default;
        std::vector<double> values;
    } scratch;
};
