// Striped rows, for the filters whose terms lie one column apart (AVX2, AVX-512): a row cut
// into L stripes of S columns, lane l of entry e holding column l S + e, so that a term one
// column over is the next entry, a whole aligned vector, instead of a load straddling two
// cache lines. Rows are striped and unstriped through 8 x 8 (or 16 x 16) transposes of
// 16-bit pixels. Internal to imaging/.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/filter_simd.h"
#include "imaging/filter_transpose.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>

// dst[j * dstStride + i] = src[i * stride + j] for i, j below L (8 or 16): the rows
// interleaved in pairs, fours and eights within 128-bit lanes (for 16, then the lanes
// exchanged).
template <int32_t L>
NYRA_TARGET_AVX2 inline void Transpose(const uint16_t* src, size_t stride, uint16_t* dst, size_t dstStride);

template <>
NYRA_TARGET_AVX2 inline void Transpose<8>(const uint16_t* src, size_t stride, uint16_t* dst, size_t dstStride)
{
    Transpose8x8(src, (ptrdiff_t)stride, dst, (ptrdiff_t)dstStride);
}

template <>
NYRA_TARGET_AVX2 inline void Transpose<16>(const uint16_t* src, size_t stride, uint16_t* dst,
                                           size_t dstStride)
{
    __m256i r[16], t[16];
    for (int i = 0; i < 16; i++)
        r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * stride));
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm256_unpacklo_epi16(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi16(r[i], r[i + 1]);
    }
    for (int i = 0; i < 16; i += 4) {
        r[i] = _mm256_unpacklo_epi32(t[i], t[i + 2]);
        r[i + 1] = _mm256_unpackhi_epi32(t[i], t[i + 2]);
        r[i + 2] = _mm256_unpacklo_epi32(t[i + 1], t[i + 3]);
        r[i + 3] = _mm256_unpackhi_epi32(t[i + 1], t[i + 3]);
    }
    // r[4 g + c / 2]: columns c, c + 1 (and c + 8, c + 9) of rows 4 g .. 4 g + 3
    for (int h = 0; h < 16; h += 8) {
        for (int c = 0; c < 4; c++) {
            t[h + 2 * c] = _mm256_unpacklo_epi64(r[h + c], r[h + 4 + c]);
            t[h + 2 * c + 1] = _mm256_unpackhi_epi64(r[h + c], r[h + 4 + c]);
        }
    }
    // t[c] (rows 0 .. 7) and t[8 + c] (rows 8 .. 15): column c below, column c + 8 above
    for (int c = 0; c < 8; c++) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + c * dstStride),
                            _mm256_permute2x128_si256(t[c], t[8 + c], 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + (c + 8) * dstStride),
                            _mm256_permute2x128_si256(t[c], t[8 + c], 0x31));
    }
}

// The striped output row (S entries of L lanes) into the w pixels of out: whole blocks of L
// entries while every lane's pixels lie in the row (the last stripes may be short), then one
// pixel at a time.
template <int32_t L>
NYRA_ALWAYS_INLINE void UnstripeRow(const uint16_t* striped, int32_t S, int32_t w, uint16_t* out)
{
    const int32_t blockEnd = std::min(S, w - (L - 1) * S);
    int32_t e = 0;
    for (; e + L <= blockEnd; e += L)
        Transpose<L>(striped + (size_t)e * L, L, out + e, (size_t)S);
    for (int32_t l = 0; l < L; l++) {
        const int32_t end = std::min(S, w - l * S);
        for (int32_t i = e; i < end; i++)
            out[l * S + i] = striped[(size_t)i * L + l];
    }
}

// The w pixels of src striped into `entries` entries of dst: entry e + h, lane l is column
// l S + e (clamped), for e from -h. pad: room for padLength >= (L - 1) S + entries pixels.
template <int32_t L>
NYRA_ALWAYS_INLINE void StripeRow(const uint16_t* src, int32_t w, int32_t h, int32_t S, int32_t entries,
                                  size_t padLength, uint16_t* pad, uint16_t* dst)
{
    for (int32_t x = 0; x < h; x++)
        pad[x] = src[0];
    memcpy(pad + h, src, (size_t)w * sizeof(uint16_t));
    for (size_t x = (size_t)h + w; x < padLength; x++)
        pad[x] = src[w - 1];
    int32_t e = 0;
    for (; e + L <= entries; e += L)
        Transpose<L>(pad + e, (size_t)S, dst + (size_t)e * L, L);
    for (int32_t l = 0; l < L; l++) {
        const uint16_t* p = pad + (size_t)l * S;
        for (int32_t i = e; i < entries; i++)
            dst[(size_t)i * L + l] = p[i];
    }
}
#endif
