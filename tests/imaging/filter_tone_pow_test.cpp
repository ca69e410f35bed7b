// PowNear's error bound, on which every curve entry taken from it without std::pow relies:
// the curves' bases (i / 65535 and values in between) and the exponents Gamma Correction and
// Level Adjustment use, out to where the power underflows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/filter_simd.h"
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

// Row gives every entry the very double one call gives, on every SIMD level: the curves settle
// their entries from it. The cases apart (0, negative, subnormal and huge bases, powers past
// 1e+-304, NaN) sit among ordinary lanes, and counts leave a ragged end.
TEST(PowNear, RowEqualsOneCallAtATime)
{
    const PowNear near;
    std::vector<double> x, y;
    for (int32_t i = 0; i < 3000; i++) {
        x.push_back(i % 7 == 0 ? 524288.0 * (1 + i % 5) : (i * 21.845) / 65535.0);
        y.push_back(i % 7 == 0 ? (i % 11) / 10.0 : 0.01 + (i % 13) * 1.37);
    }
    const double apart[][2] = {{0.0, 1.5},    {-2.0, 2.0}, {4e-320, 0.5},   {1e-300, 3.0},
                               {1e300, 3.0},  {0.5, NAN},  {NAN, 1.0},      {1e-5, 70.0},
                               {2.0, 1023.5}, {0.75, 1.0}, {HUGE_VAL, 0.5}, {1.0, 0.0}};
    for (size_t i = 0; i < sizeof apart / sizeof apart[0]; i++) {
        x.insert(x.begin() + 5 * (int32_t)i + 3, apart[i][0]);
        y.insert(y.begin() + 5 * (int32_t)i + 3, apart[i][1]);
    }
    const int32_t count = (int32_t)x.size() - 3;  // not a whole number of vectors
    for (int32_t level : {0, 1, 2}) {
        SetSimdLimit(level);
        std::vector<double> row(x.size(), -1.0);
        near.Row(x.data(), y.data(), row.data(), count);
        for (int32_t i = 0; i < count; i++) {
            const double one = near(x[i], y[i]);
            ASSERT_EQ(0, memcmp(&one, &row[i], sizeof one))
                << "level " << level << ": " << x[i] << "^" << y[i];
        }
        EXPECT_EQ(-1.0, row[count]) << "written past the count";
    }
    SetSimdLimit(2);
}
