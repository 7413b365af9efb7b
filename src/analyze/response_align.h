#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <unsupported/Eigen/FFT>

// What the responses to a multitone and to any other stimulus share: the
// recording's delay against the stimulus, whole and fractional, and the
// phase as the report prints it.

// The smallest power of two of at least n (and 2).
size_t AnalyzeResponseFftSize(size_t n);

// The lag in samples at which the recording best matches the stimulus (the
// largest magnitude of their cross-correlation, over the full length of
// both, found on sums of a few samples and then at full rate near the
// best): positive when the recording comes late.
int64_t AnalyzeResponseLag(Eigen::FFT<double>& fft, const std::vector<double>& stimulus,
                           const std::vector<double>& recording);

// The delay tau, in samples, of responses h at angular frequencies omega
// (radians per sample) taken as h = |h| e^(-i omega tau), weighted least
// squares through the origin: first over the frequencies where a delay of a
// few samples cannot wrap, then over all with the phases unwrapped against it.
double AnalyzeResponsePhaseDelay(const std::vector<double>& omega, const std::vector<std::complex<double>>& h,
                                 const std::vector<double>& weight);

// The phase of v in degrees, wrapped to (-180, 180].
double AnalyzeResponsePhaseDeg(std::complex<double> v);
