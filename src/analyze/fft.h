#pragma once

#include <complex>
#include <vector>

// The discrete Fourier transform of real samples, for the analysis and the
// picture alike: X[k] = sum over j of x[j] e^(-2 pi i j k / n), unscaled,
// for k = 0 ... n/2. n is a power of two, at least 2. Behind this one
// function any FFT can stand.
std::vector<std::complex<double>> AnalyzeFft(const std::vector<double>& samples);
