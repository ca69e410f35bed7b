// The tables of PowNear (filter_tone_pow.h), and its fall-back to std::pow.
// Error: the product y ln x carries the largest part, 2^-53 |y ln x| absolute (1.2e-13
// relative where |y ln x| = 700); the table entries, polynomials and products a few ulps.
#include "imaging/filter_tone_pow.h"

#include <cmath>

PowNear::PowNear()
{
    for (int32_t j = 0; j <= 128; j++) {
        log_[j] = std::log(1.0 + j / 128.0);
        inverse_[j] = 1.0 / (1.0 + j / 128.0);
    }
    for (int32_t j = 0; j < 64; j++)
        twoTo_[j] = std::exp2(j / 64.0);
}

double PowNear::Exact(double x, double y)
{
    return std::pow(x, y);
}
