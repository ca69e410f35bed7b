// Vectors of doubles for the weighted-sum filters (Gaussian Blur, Laplace, Sharpen): the
// types, pixels and integer sums converted to them, and sums rounded into pixels as RoundClamp
// rounds each one, a row or a vector at a time. Internal to imaging/.
#pragma once
#include <cstdint>
#include <cstring>

#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));
typedef double Double8 __attribute__((vector_size(64)));

typedef int32_t Int4 __attribute__((vector_size(16)));
typedef int32_t Int8 __attribute__((vector_size(32)));
typedef int32_t Int16 __attribute__((vector_size(64)));

// The lanes of an integer vector as two vectors of doubles (exact). GCC's generic form of
// this conversion goes through 128-bit pieces; the instructions do it in one step.
NYRA_ALWAYS_INLINE void ToDoubles(const Int4& s, Double2* lo, Double2* hi)
{
#if defined(__SSE2__)
    const __m128i v = (__m128i)s;
    *lo = (Double2)_mm_cvtepi32_pd(v);
    *hi = (Double2)_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE));
#else
    *lo = Double2{(double)s[0], (double)s[1]};
    *hi = Double2{(double)s[2], (double)s[3]};
#endif
}

#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX2 inline void ToDoubles(const Int8& s, Double4* lo, Double4* hi)
{
    const __m256i v = (__m256i)s;
    *lo = (Double4)_mm256_cvtepi32_pd(_mm256_castsi256_si128(v));
    *hi = (Double4)_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1));
}

NYRA_TARGET_AVX512 inline void ToDoubles(const Int16& s, Double8* lo, Double8* hi)
{
    const __m512i v = (__m512i)s;
    *lo = (Double8)_mm512_maskz_cvtepi32_pd(0xFF, _mm512_maskz_extracti64x4_epi64(0xFF, v, 0));
    *hi = (Double8)_mm512_maskz_cvtepi32_pd(0xFF, _mm512_maskz_extracti64x4_epi64(0xFF, v, 1));
}

// The pixels from p as 32-bit integers, one per lane.
NYRA_TARGET_AVX2 inline void WidenPixels(const uint16_t* p, Int8* v)
{
    *v = (Int8)_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

NYRA_TARGET_AVX512 inline void WidenPixels(const uint16_t* p, Int16* v)
{
    *v = (Int16)_mm512_maskz_cvtepu16_epi32(0xFFFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
#endif

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
