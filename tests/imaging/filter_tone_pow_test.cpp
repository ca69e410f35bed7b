// PowNear's error bound, on which every curve entry taken from it without std::pow relies:
// the curves' bases (i / 65535 and values in between) and the exponents Gamma Correction and
// Level Adjustment use, out to where the power underflows.
#include <gtest/gtest.h>

#include <cmath>

#include "imaging/filter_tone_pow.h"

TEST(PowNear, StaysWellWithinItsErrorBound)
{
    const PowNear near;
    double worst = 0.0;
    for (double y : {0.01, 0.1, 0.5, 0.75, 1.0, 4.0 / 3.0, 2.0, 9.9, 100.0, 176.5}) {
        for (int32_t i = 0; i <= 65535; i += 3) {
            for (double x : {i / 65535.0, (i + 0.37) / 65535.6}) {
                const double exact = std::pow(x, y);
                const double got = near(x, y);
                if (exact < 1e-290) {
                    ASSERT_LT(got, 1e-280) << x << "^" << y;
                    continue;
                }
                worst = std::fmax(worst, std::fabs(got - exact) / exact);
            }
        }
    }
    EXPECT_LT(worst, kPowNearError / 4) << "the worst relative error";
}
