// 8 x 8 blocks of 16-bit values transposed in registers: the quarter turns, and the striped
// rows of the radial filters. Internal to imaging/.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/filter_simd.h"

// dst[j * dstStride + i] = src[i * stride + j] for i, j below 8 (strides may be negative): the
// rows interleaved in pairs, fours and eights. SSE2, so every path can inline it.
NYRA_ALWAYS_INLINE void Transpose8x8(const uint16_t* src, ptrdiff_t stride, uint16_t* dst,
                                     ptrdiff_t dstStride)
{
#if defined(__SSE2__)
    __m128i r[8], t[8];
    for (int i = 0; i < 8; i++)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * stride));
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm_unpacklo_epi16(r[i], r[i + 1]);
        t[i + 1] = _mm_unpackhi_epi16(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        r[i] = _mm_unpacklo_epi32(t[i], t[i + 2]);
        r[i + 1] = _mm_unpackhi_epi32(t[i], t[i + 2]);
        r[i + 2] = _mm_unpacklo_epi32(t[i + 1], t[i + 3]);
        r[i + 3] = _mm_unpackhi_epi32(t[i + 1], t[i + 3]);
    }
    // r[4 g + c / 2]: columns c, c + 1 of rows 4 g .. 4 g + 3
    for (int c = 0; c < 4; c++) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * c * dstStride),
                         _mm_unpacklo_epi64(r[c], r[4 + c]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (2 * c + 1) * dstStride),
                         _mm_unpackhi_epi64(r[c], r[4 + c]));
    }
#else
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 8; j++)
            dst[j * dstStride + i] = src[i * stride + j];
#endif
}
