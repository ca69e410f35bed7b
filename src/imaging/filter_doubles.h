// Vectors of doubles for the weighted-sum filters (Gaussian Blur, Laplace, Sharpen): the
// types, and sums rounded into pixels as RoundClamp rounds each one, a row or a vector at a
// time. Internal to imaging/.
#pragma once
#include <cstdint>
#include <cstring>

#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));
typedef double Double8 __attribute__((vector_size(64)));

// RoundClamp on each of w sums.
NYRA_ALWAYS_INLINE void RoundRow(const double* in, int32_t w, uint16_t* out)
{
    for (int32_t x = 0; x < w; x++)
        out[x] = RoundClamp(in[x]);
}

// RoundClamp on every lane: half up, truncated, limited to 0 .. 65535 (NaN to 0).
template <typename VD>
NYRA_ALWAYS_INLINE void RoundVector(const VD& v, uint16_t* out)
{
    constexpr int kLanes = (int)(sizeof(VD) / sizeof(double));
    double d[kLanes];
    memcpy(d, &v, sizeof(VD));
    for (int i = 0; i < kLanes; i++)
        out[i] = RoundClamp(d[i]);
}

#if NYRA_HAVE_AVX2_PATH
// The same with the instructions: min(65535, y) keeps a NaN, max(y, 0) turns it into 0.
NYRA_TARGET_AVX2 inline void RoundVector(const Double4& v, uint16_t* out)
{
    __m256d y = _mm256_add_pd((__m256d)v, _mm256_set1_pd(0.5));
    y = _mm256_max_pd(_mm256_min_pd(_mm256_set1_pd(65535.0), y), _mm256_setzero_pd());
    const __m128i i = _mm256_cvttpd_epi32(y);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi32(i, i));
}

NYRA_TARGET_AVX512 inline void RoundVector(const Double8& v, uint16_t* out)
{
    // The masked forms: GCC's plain ones read an undefined register that -Werror flags.
    const Double8 top = 65535.0 - Double8{};
    __m512d y = (__m512d)(v + 0.5);
    y = _mm512_maskz_max_pd(0xFF, _mm512_maskz_min_pd(0xFF, (__m512d)top, y), _mm512_setzero_pd());
    const __m256i i = _mm512_maskz_cvttpd_epi32(0xFF, y);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_maskz_cvtepi32_epi16(0xFF, i));
}

// RoundVector for sums known to lie in 0 .. 2^31 - 1 (non-negative weights adding up to about
// one, on pixels): the truncated integers then saturate to 16 bits, which is the same clamp
// in fewer instructions.
NYRA_TARGET_AVX512 inline void RoundSumVector(const Double8& v, uint16_t* out)
{
    const __m256i i = _mm512_maskz_cvttpd_epi32(0xFF, (__m512d)(v + 0.5));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_maskz_cvtusepi32_epi16(0xFF, i));
}
#endif

// Elsewhere RoundVector (declared after the forms above, so that it calls them).
template <typename VD>
NYRA_ALWAYS_INLINE void RoundSumVector(const VD& v, uint16_t* out)
{
    RoundVector(v, out);
}
