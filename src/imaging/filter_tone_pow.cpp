// The tables of PowNear (filter_tone_pow.h), and its fall-back to std::pow.
// Error: the product y ln x carries the largest part, 2^-53 |y ln x| absolute (1.2e-13
// relative where |y ln x| = 700); the table entries, polynomials and products a few ulps.
#include "imaging/filter_tone_pow.h"

#include <cmath>
#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

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

#if NYRA_HAVE_AVX2_PATH
namespace {

typedef double Double8 __attribute__((vector_size(64)));
typedef int64_t Int64x8 __attribute__((vector_size(64)));
typedef int32_t Int32x8 __attribute__((vector_size(32)));
typedef double Double4 __attribute__((vector_size(32)));
typedef int64_t Int64x4 __attribute__((vector_size(32)));
typedef int32_t Int32x4 __attribute__((vector_size(16)));

// table[j] for each lane's j (the tables are small and stay in the first-level cache). The
// masked forms: the plain ones read an undefined register that -Werror flags.
NYRA_TARGET_AVX512 inline void Gather(const double* table, const Int32x8& j, Double8* out)
{
    *out = (Double8)_mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, (__m256i)j, table, 8);
}

NYRA_TARGET_AVX2 inline void Gather(const double* table, const Int32x4& j, Double4* out)
{
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    *out = (Double4)_mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, (__m128i)j, all, 8);
}

}  // namespace

// operator() on a vector of lanes, step by step; see there for the why of each.
template <typename VD, typename VI32, typename VI64>
NYRA_ALWAYS_INLINE void PowNear::Lanes(const double* xs, const double* ys, double* out) const
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    VD x, y;
    memcpy(&x, xs, sizeof x);
    memcpy(&y, ys, sizeof y);
    const VI64 bits = (VI64)x;
    const VI32 k = __builtin_convertvector((bits >> 52) - 1023, VI32);
    const VD m = (VD)((bits & 0x000FFFFFFFFFFFFFll) | 0x3FF0000000000000ll);
    const VI32 j = __builtin_convertvector((m - 1.0) * 128.0 + 0.5, VI32);
    VD inverse, logj;
    Gather(inverse_, j, &inverse);
    Gather(log_, j, &logj);
    const VD r = (m - (1.0 + __builtin_convertvector(j, VD) / 128.0)) * inverse;
    const VD r2 = r * r;
    const VD series = r * ((1.0 - 0.5 * r) + r2 * ((1.0 / 3 - 0.25 * r) + r2 * (0.2 - (1.0 / 6) * r)));
    const VD kd = __builtin_convertvector(k, VD);
    const VD lnx = (kd * kLn2Hi + logj) + (kd * kLn2Lo + series);
    const VD t = y * lnx;
    const VD shifted = t * (64.0 / 0.69314718055994530942) + 6755399441055744.0;
    const VI32 n = __builtin_convertvector(shifted - 6755399441055744.0, VI32);
    const VD nd = __builtin_convertvector(n, VD);
    const VD f = (t - nd * (kLn2Hi / 64.0)) - nd * (kLn2Lo / 64.0);
    const VD f2 = f * f, f4 = f2 * f2;
    const VD ef = ((1.0 + f) + f2 * (0.5 + (1.0 / 6) * f))
                  + f4 * (((1.0 / 24) + (1.0 / 120) * f) + f2 * ((1.0 / 720) + (1.0 / 5040) * f));
    VD twoTo;
    Gather(twoTo_, n & 63, &twoTo);
    const VD power = (VD)(__builtin_convertvector((n >> 6) + 1023, VI64) << 52);
    const VD result = power * (twoTo * ef);
    memcpy(out, &result, sizeof result);
    for (int32_t i = 0; i < kLanes; i++) {
        // NaN fails the comparisons and is computed again too.
        if (!(x[i] > 0.0) || k[i] == -1023 || !(t[i] >= -700.0 && t[i] <= 700.0))
            out[i] = (*this)(x[i], y[i]);
    }
}

int32_t PowNear::RowAvx512(const double* x, const double* y, double* out, int32_t count) const
{
    int32_t i = 0;
    for (; i + 8 <= count; i += 8)
        Lanes<Double8, Int32x8, Int64x8>(x + i, y + i, out + i);
    return i;
}

int32_t PowNear::RowAvx2(const double* x, const double* y, double* out, int32_t count) const
{
    int32_t i = 0;
    for (; i + 4 <= count; i += 4)
        Lanes<Double4, Int32x4, Int64x4>(x + i, y + i, out + i);
    return i;
}
#endif

void PowNear::Row(const double* x, const double* y, double* out, int32_t count) const
{
    int32_t i = 0;
#if NYRA_HAVE_AVX2_PATH
    const int32_t simd = SimdLevel();
    if (simd == 2)
        i = RowAvx512(x, y, out, count);
    else if (simd == 1)
        i = RowAvx2(x, y, out, count);
#endif
    for (; i < count; i++)
        out[i] = (*this)(x[i], y[i]);
}
