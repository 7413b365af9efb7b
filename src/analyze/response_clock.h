#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "analyze/real_fft.h"
#include "analyze/sweep_shape.h"

// The recording's clock offset e (f recorded / f played - 1) from a sweep's
// deconvolved response h (n/2 + 1 bins over the band low ... high): a
// stretch by 1 + e delays frequency f by e L ln f more, so the band delays
// grow with ln f. latency is the response's main peak, in samples.
double AnalyzeClockOffset(AnalyzeRealFft& fft, const std::vector<std::complex<double>>& h, size_t n,
                          uint32_t rate, const AnalyzeSweepShape& shape, double low, double high,
                          double latency);
