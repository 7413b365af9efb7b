#include <gtest/gtest.h>

#include <cmath>

#include "analyze/series_log.h"

// Within 4 units in the last place of the long double logarithm, over the
// whole normal range and closely around 1 and the mantissa's cut at sqrt 2.
TEST(AnalyzeLog, WithinFourUlpsEverywhere)
{
    double worst = 0.0;
    for (double x : {1e-300, 1e-200, 1e-12, 0.5, 0.70710678118654746, 0.70710678118654757, 0.999999, 1.0,
                     1.000001, 1.12246204830937, 1.41421356237309, 2.0, 3.0, 1e12, 1e300}) {
        for (int i = -50; i <= 50; ++i) {
            const double v = x * (1.0 + i * 1e-3);
            if (!(v > 0.0) || !std::isfinite(v)) continue;
            const long double exact = std::log(static_cast<long double>(v));
            const double ulp = std::fabs(std::nextafter(double(exact), HUGE_VAL) - double(exact));
            const double error = std::fabs(static_cast<double>(AnalyzeLog(v) - exact));
            worst = std::max(worst, exact == 0 ? error : error / ulp);
        }
    }
    EXPECT_LE(worst, 4.0);
}
