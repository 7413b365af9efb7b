#pragma once

#include <cmath>

// ln x for positive normal x by plain arithmetic, the same bits on every
// build: x = m 2^e with m in [1/sqrt 2, sqrt 2), ln m = 2 atanh z for
// z = (m - 1) / (m + 1), |z| < 0.172, by its series to z^25 (the first term
// left out is below 1e-19 of the sum). Within a few units in the last place;
// ToneLog, Newton's steps on an exponential, took ten times as long (it was a
// tenth of a response's time in the band's taper and the minimum phase).
inline double AnalyzeLog(double x)
{
    constexpr double COEFFICIENTS[] = {1.0,      1.0 / 3,  1.0 / 5,  1.0 / 7,  1.0 / 9,  1.0 / 11, 1.0 / 13,
                                       1.0 / 15, 1.0 / 17, 1.0 / 19, 1.0 / 21, 1.0 / 23, 1.0 / 25};
    constexpr int TERMS = sizeof COEFFICIENTS / sizeof COEFFICIENTS[0];
    int e = 0;
    double m = std::frexp(x, &e);  // in [1/2, 1)
    if (m < 0.7071067811865476) {
        m *= 2;
        --e;
    }
    const double z = (m - 1) / (m + 1), z2 = z * z;
    double sum = COEFFICIENTS[TERMS - 1];
    for (int k = TERMS - 2; k >= 0; --k)
        sum = COEFFICIENTS[k] + z2 * sum;
    return double(e) * 0.6931471805599453 + 2 * z * sum;
}
