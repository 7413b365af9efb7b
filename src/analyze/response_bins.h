#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "analyze/real_fft.h"

// The spectrum of a windowed stretch of an impulse response, to be read at
// any frequency: one zero-padded transform and cubic interpolation between
// its bins, rather than a sum over the stretch for every frequency.
class AnalyzeResponseSpectrum {
public:
    // stretch[i] is the response at sample first + i; phases are measured from
    // time origin. The padding is oversample times the stretch's reach from it;
    // scratch holds it, reused from one stretch to the next. The bins take
    // over the memory of `storage` if given (memory already faulted in).
    AnalyzeResponseSpectrum(AnalyzeRealFft& fft, const std::vector<double>& stretch, int64_t first,
                            double origin, size_t oversample, std::vector<double>& scratch,
                            std::vector<std::complex<double>>* storage = nullptr);
    // At f cycles per sample (0 <= f <= 1/2).
    std::complex<double> At(double f) const;

private:
    std::vector<std::complex<double>> bins;
    size_t m = 0;
    double shift = 0.0;  // the transform's time 0 less the origin
};
