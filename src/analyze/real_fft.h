#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include <unsupported/Eigen/FFT>

// Real transforms of any length that is a multiple of 4 on Eigen's FFT,
// for the long transforms of a response. Only Eigen's forward complex plans
// are used (the inverse is the forward of the conjugate), so a copy of an
// object whose plans are made serves another thread without making them
// again: the twiddles of a 2^19-point plan cost as much as a transform.
class AnalyzeRealFft {
public:
    // out[k] = sum over j of in[j] e^(-2 pi i j k / n), k = 0 ... n/2.
    void Forward(const double* in, std::complex<double>* out, size_t n);
    // The inverse, scaled by 1 / n: n samples from n/2 + 1 bins.
    void Inverse(const std::complex<double>* in, double* out, size_t n);

private:
    size_t Twiddles(size_t n);  // makes the table for n if need be; returns its stride
    Eigen::FFT<double> fft;
    std::vector<std::complex<double>>
        twiddles;  // e^(-i pi (k / (n/2) + 1/2)), k = 1 ... n/4, for the longest n
    std::vector<std::complex<double>> work;
};
