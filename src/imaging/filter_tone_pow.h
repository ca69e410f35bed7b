// The tone curves' powers, 65536 at a time: std::pow costs about 70 ns in the 32-bit plug-in
// (MinGW computes it through long double), most of Gamma Correction's time. Internal to
// imaging/.
#pragma once
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/filter_simd.h"

// x^y as exp(y ln x) by small tables and short polynomials, with a relative error far below
// kPowNearError (about 1e-13 where |y ln x| reaches 700, a few ulps otherwise).
// ln x: x = 2^k m with m in [1, 2), m = c (1 + r) with c = 1 + j / 128 the nearest table
// point (|r| < 2^-8), ln(1 + r) by six terms of its series (error below 2^-56 r).
// exp t: t = (64 q + j) ln2 / 64 + f with |f| <= ln2 / 128, e^f by eight terms (error below
// 1e-19), times 2^(j / 64) from the table and 2^q; ln2 / 64 is split in two so that the
// reduction is exact for the |t| met here.
// Not exact: a curve entry taken from it must be settled (below) or recomputed by std::pow.
class PowNear {
public:
    PowNear();
    // x^y for x >= 0 (0 for x = 0, y > 0); 0 where y ln x < -700 (below 1e-304).
    NYRA_ALWAYS_INLINE double operator()(double x, double y) const
    {
        if (x <= 0.0)
            return 0.0;
        int32_t k = 0;
        const double m = SplitPowerOfTwo(x, &k);
        if (k == -1023)
            return Exact(x, y);  // subnormal: not met by the curves
        const int32_t j = (int32_t)((m - 1.0) * 128.0 + 0.5);
        const double r = (m - (1.0 + j / 128.0)) * inverse_[j];  // m - c is exact
        // The polynomials in pairs of terms (Estrin's scheme): a shorter chain of dependent
        // operations than Horner's, so neighbouring entries overlap more.
        const double r2 = r * r;
        const double series =
            r * ((1.0 - 0.5 * r) + r2 * ((1.0 / 3 - 0.25 * r) + r2 * (0.2 - (1.0 / 6) * r)));
        const double lnx = ((double)k * kLn2Hi + log_[j]) + ((double)k * kLn2Lo + series);

        const double t = y * lnx;
        if (t < -700.0)
            return 0.0;
        if (t > 700.0)
            return Exact(x, y);
        // n = t * 64 / ln2 rounded to an integer (the sum rounds away the fraction).
        const double shifted = t * (64.0 / 0.69314718055994530942) + 6755399441055744.0;
        const int32_t n = (int32_t)(shifted - 6755399441055744.0);
        const double f = (t - n * (kLn2Hi / 64.0)) - n * (kLn2Lo / 64.0);
        const double f2 = f * f, f4 = f2 * f2;
        const double ef = ((1.0 + f) + f2 * (0.5 + (1.0 / 6) * f))
                          + f4 * (((1.0 / 24) + (1.0 / 120) * f) + f2 * ((1.0 / 720) + (1.0 / 5040) * f));
        return PowerOfTwo(n >> 6) * (twoTo_[n & 63] * ef);  // 2^q, q = floor(n / 64)
    }

    // out[i] = (*this)(x[i], y[i]) for i below count, the same doubles: with AVX2 or AVX-512
    // four or eight at a time by the same operations in the same order (a lane that meets one
    // of the cases apart is computed again alone).
    void Row(const double* x, const double* y, double* out, int32_t count) const;

private:
    template <typename VD, typename VI32, typename VI64>
    void Lanes(const double* x, const double* y, double* out) const;
    // Row's wide loops: how many entries they did (a whole number of vectors).
    NYRA_TARGET_AVX512 int32_t RowAvx512(const double* x, const double* y, double* out, int32_t count) const;
    NYRA_TARGET_AVX2 int32_t RowAvx2(const double* x, const double* y, double* out, int32_t count) const;

    // x = 2^k m with m in [1, 2) for a positive x (k = -1023 for a subnormal). The bits move
    // between registers: a double put together in memory from two 32-bit halves, as 32-bit
    // code would do it, stalls the load that reads it back.
    static NYRA_ALWAYS_INLINE double SplitPowerOfTwo(double x, int32_t* k)
    {
#if defined(__SSE2__)
        const __m128i bits = _mm_castpd_si128(_mm_set_sd(x));
        *k = _mm_cvtsi128_si32(_mm_srli_epi64(bits, 52)) - 1023;
        const __m128i fraction = _mm_and_si128(bits, _mm_set_epi32(0, 0, 0x000FFFFF, -1));
        return _mm_cvtsd_f64(_mm_castsi128_pd(_mm_or_si128(fraction, _mm_set_epi32(0, 0, 0x3FF00000, 0))));
#else
        uint64_t bits;
        memcpy(&bits, &x, sizeof bits);
        *k = (int32_t)(bits >> 52) - 1023;
        bits = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
        double m;
        memcpy(&m, &bits, sizeof m);
        return m;
#endif
    }

    static NYRA_ALWAYS_INLINE double PowerOfTwo(int32_t q)  // q in -1022 .. 1023
    {
#if defined(__SSE2__)
        return _mm_cvtsd_f64(_mm_castsi128_pd(_mm_slli_epi64(_mm_cvtsi32_si128(q + 1023), 52)));
#else
        const uint64_t bits = (uint64_t)(q + 1023) << 52;
        double p;
        memcpy(&p, &bits, sizeof p);
        return p;
#endif
    }

    static constexpr double kLn2Hi = 6.93147180369123816490e-01;  // 32 significant bits
    static constexpr double kLn2Lo = 1.90821492927058770002e-10;  // ln 2 - kLn2Hi
    static double Exact(double x, double y);
    double log_[129];      // ln(1 + j / 128)
    double inverse_[129];  // 1 / (1 + j / 128)
    double twoTo_[64];     // 2^(j / 64)
};

constexpr double kPowNearError = 1e-12;

// floor(v + bias) when every value within v * kPowNearError (plus a hair) of v has the same
// floor, else -1: an entry computed as v from PowNear then equals the one std::pow gives.
// 0 <= v < 2^30 (truncation is then the floor, in 32 bits: 32-bit code converts a double to
// a 64-bit integer in a library call); bias 0 for truncated curves, 0.5 for rounded ones.
// Where v + bias lies between -1 and 0 the result is 0, its truncation.
inline int32_t SettledFloor(double v, double bias)
{
    const double margin = v * kPowNearError + 1e-300;
    const int32_t low = (int32_t)(v + bias - margin), high = (int32_t)(v + bias + margin);
    return low == high ? low : -1;
}
