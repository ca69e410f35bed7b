// Radial convolution: the engine of Gaussian Blur and Sharpen (kernels whose weights depend
// only on a neighbour's squared distance from the middle), with clamped borders.
// Inputs: a W x H block, the n x n weights; output: the block convolved (in place through row
// bands, filter_bands.h, which equals a second block copied back).
// Method: the pixels of one squared distance (a class) are added as integers, which is exact,
// and each class sum is multiplied by its weight once. For the Sharpen kernel (weight c / d)
// the classes whose distances are integer multiples m of one root, d = m sqrt(q), are scaled
// by integers L / m and added as integers too, so a group costs one product by c / (L sqrt q)
// (a 21 x 21 Sharpen: 31 products per pixel instead of 441). The order of the additions
// differs from a row-by-row loop, which can move a result across a rounding boundary only
// when the exact sum lies within a few ulps of x.5.
// Failure: without the plan or the working rows nothing is written and false is returned.
#include "imaging/filter_convolve_radial.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imaging/filter_bands.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

constexpr int32_t kMaxHalf = kLargestFilterMask / 2;
constexpr int32_t kMaxPairs = (kMaxHalf + 1) * (kMaxHalf + 2) / 2;
constexpr int32_t kMaxTerms = 4 * kMaxPairs;
constexpr int32_t kBlock = 96;  // widest block of output pixels (AVX-512, six vectors)

// A class: the neighbours at offsets (+-a, +-b) and (+-b, +-a), a >= b >= 0, of one squared
// distance. A group: classes whose weights are integer multiples of one double; each class
// sum is scaled by its multiple and added as an integer, so a group costs one product.
// A term is one vertical pair sum (rows y - a and y + a) at a column offset.
struct RadialPlan {
    int32_t groupCount;
    int32_t groupClassEnd[kMaxPairs];
    double groupWeight[kMaxPairs];
    int32_t classTermEnd[kMaxPairs];
    int32_t classMultiple[kMaxPairs];
    ptrdiff_t termOffset[kMaxTerms];  // bytes: (row a * rowLength + column offset) * 4

    // Scratch of the builder.
    int32_t pairA[kMaxPairs], pairB[kMaxPairs], pairDist[kMaxPairs];
    int32_t classFirstPair[kMaxPairs + 1];
    int32_t classGroup[kMaxPairs];
    int32_t classRoot[kMaxPairs];  // m in d = m sqrt(q)
    int64_t groupLcm[kMaxPairs];
    int64_t groupLoad[kMaxPairs];  // sum of pixels x multiple over the group's classes
    int32_t lastGroupOfRadicand[2 * kMaxHalf * kMaxHalf + 1];  // -1: none yet
    int32_t groupFill[kMaxPairs];
    int32_t order[kMaxPairs];  // pairs by distance
    int32_t slot[kMaxPairs];
    int32_t emitted[kMaxPairs];  // classes group by group
};

size_t RowLength(int32_t h, int32_t width)
{
    return (size_t)width + 2 * (size_t)h + kBlock;
}

size_t VrowBytes(int32_t h, int32_t width)
{
    size_t bytes = (size_t)(h + 1) * RowLength(h, width) * sizeof(int32_t);
    return (bytes + 63) & ~(size_t)63;
}

// d2 = m * m * q with q free of squares.
void SplitSquare(int32_t d2, int32_t* q, int32_t* m)
{
    int32_t root = 1;
    for (int32_t k = 2; k * k <= d2; k++) {
        while (d2 % (k * k) == 0) {
            d2 /= k * k;
            root *= k;
        }
    }
    *q = d2;
    *m = root;
}

int64_t Gcd(int64_t a, int64_t b)
{
    while (b) {
        int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

int32_t PixelsOfPair(int32_t a, int32_t b)
{
    return a == 0 ? 1 : (b == 0 || a == b) ? 4 : 8;
}

// Classes in order of distance; groups by root (merge) or one per class.
void BuildPlan(RadialPlan* p, int32_t n, int32_t width, const double* weights, bool merge)
{
    const int32_t h = n / 2;
    int32_t pairs = 0;
    int32_t* order = p->order;
    for (int32_t a = 0; a <= h; a++) {
        for (int32_t b = 0; b <= a; b++) {
            p->pairA[pairs] = a;
            p->pairB[pairs] = b;
            p->pairDist[pairs] = a * a + b * b;
            order[pairs] = pairs;
            pairs++;
        }
    }
    std::sort(order, order + pairs, [p](int32_t x, int32_t y) {
        return p->pairDist[x] != p->pairDist[y] ? p->pairDist[x] < p->pairDist[y] : x < y;
    });
    int32_t classes = 0;
    for (int32_t i = 0; i < pairs; i++) {
        if (i == 0 || p->pairDist[order[i]] != p->pairDist[order[i - 1]])
            p->classFirstPair[classes++] = i;
    }
    p->classFirstPair[classes] = pairs;
    auto classWeight = [&](int32_t c) {
        const int32_t pr = order[p->classFirstPair[c]];
        return weights[(size_t)(h + p->pairA[pr]) * n + (h + p->pairB[pr])];
    };

    // Group assignment. The integer sum of a group must stay below 2^31 for any pixels.
    int32_t groups = 0;
    for (int32_t q = 0; q <= 2 * h * h; q++)
        p->lastGroupOfRadicand[q] = -1;
    for (int32_t c = 0; c < classes; c++) {
        const int32_t d2 = p->pairDist[order[p->classFirstPair[c]]];
        int64_t pixels = 0;
        for (int32_t i = p->classFirstPair[c]; i < p->classFirstPair[c + 1]; i++)
            pixels += PixelsOfPair(p->pairA[order[i]], p->pairB[order[i]]);
        int32_t q = 0, m = 1;
        SplitSquare(d2, &q, &m);
        p->classRoot[c] = m;
        int32_t g = -1;
        if (merge && d2 > 0) {
            g = p->lastGroupOfRadicand[q];
        }
        if (g >= 0) {
            const int64_t lcm = p->groupLcm[g] / Gcd(p->groupLcm[g], m) * m;
            const int64_t load = p->groupLoad[g] * (lcm / p->groupLcm[g]) + pixels * (lcm / m);
            if (lcm <= 65536 && load <= INT32_MAX / 65535) {
                p->groupLcm[g] = lcm;
                p->groupLoad[g] = load;
            } else {
                g = -1;
            }
        }
        if (g < 0) {
            g = groups++;
            if (merge && d2 > 0)
                p->lastGroupOfRadicand[q] = g;
            p->groupLcm[g] = m;
            p->groupLoad[g] = pixels;
        }
        p->classGroup[c] = g;
    }

    // Weights: each class's weight must be the group's weight times its multiple; otherwise
    // (weights not of the form c / d) every class keeps its own product.
    bool consistent = true;
    for (int32_t g = 0; g < groups; g++)
        p->groupFill[g] = 0;
    for (int32_t c = 0; c < classes; c++) {
        const int32_t g = p->classGroup[c];
        const double lcm = (double)p->groupLcm[g];
        if (!p->groupFill[g]) {
            p->groupFill[g] = 1;
            p->groupWeight[g] = classWeight(c) * (double)p->classRoot[c] / lcm;
        }
        const double expected = p->groupWeight[g] * (lcm / p->classRoot[c]);
        if (std::fabs(expected - classWeight(c)) > 1e-12 * std::fabs(classWeight(c)))
            consistent = false;
    }
    if (!consistent || !merge) {
        groups = classes;
        for (int32_t c = 0; c < classes; c++) {
            p->classGroup[c] = c;
            p->groupLcm[c] = p->classRoot[c] = 1;
            p->groupWeight[c] = classWeight(c);
        }
    }

    // Emit the classes group by group, in order of each group's first class.
    for (int32_t g = 0; g < groups; g++)
        p->groupFill[g] = 0;
    for (int32_t c = 0; c < classes; c++)
        p->groupFill[p->classGroup[c]]++;
    int32_t* slot = p->slot;
    for (int32_t g = 0, start = 0; g < groups; g++) {
        slot[g] = start;
        start += p->groupFill[g];
        p->groupClassEnd[g] = start;
    }
    int32_t* emitted = p->emitted;
    for (int32_t c = 0; c < classes; c++)
        emitted[slot[p->classGroup[c]]++] = c;
    const ptrdiff_t row = (ptrdiff_t)RowLength(h, width);
    int32_t terms = 0;
    for (int32_t e = 0; e < classes; e++) {
        const int32_t c = emitted[e];
        const int32_t g = p->classGroup[c];
        p->classMultiple[e] = (int32_t)(p->groupLcm[g] / p->classRoot[c]);
        for (int32_t i = p->classFirstPair[c]; i < p->classFirstPair[c + 1]; i++) {
            const ptrdiff_t a = p->pairA[order[i]], b = p->pairB[order[i]];
            if (a == 0) {
                p->termOffset[terms++] = 0;
            } else if (b == 0) {
                p->termOffset[terms++] = a * row;
                p->termOffset[terms++] = -a;
                p->termOffset[terms++] = a;
            } else if (a == b) {
                p->termOffset[terms++] = a * row - a;
                p->termOffset[terms++] = a * row + a;
            } else {
                p->termOffset[terms++] = a * row - b;
                p->termOffset[terms++] = a * row + b;
                p->termOffset[terms++] = b * row - a;
                p->termOffset[terms++] = b * row + a;
            }
        }
        p->classTermEnd[e] = terms;
        for (int32_t t = e > 0 ? p->classTermEnd[e - 1] : 0; t < terms; t++)
            p->termOffset[t] *= (ptrdiff_t)sizeof(int32_t);
    }
    p->groupCount = groups;
}

// Vertical pair sums of one output row into padded columns (edge columns repeated):
// v[0] is the middle row, v[a] the rows a above and a below added.
NYRA_ALWAYS_INLINE void VerticalPairs(const FilterBand& band, int32_t y, int32_t h, int32_t* const* v)
{
    const int32_t w = band.width;
    for (int32_t a = 0; a <= h; a++) {
        const uint16_t* __restrict up = band.Row(y - a);
        const uint16_t* __restrict dn = band.Row(y + a);
        int32_t* __restrict va = v[a];  // va[x] is column x; valid from -h to w + h - 1
        if (a == 0) {
            for (int32_t x = 0; x < w; x++)
                va[x] = up[x];
        } else {
            for (int32_t x = 0; x < w; x++)
                va[x] = (int32_t)up[x] + (int32_t)dn[x];
        }
        for (int32_t x = -h; x < 0; x++)
            va[x] = va[0];
        for (int32_t x = w; x < w + h; x++)
            va[x] = va[w - 1];
    }
}

typedef int32_t Int4 __attribute__((vector_size(16)));
typedef int32_t Int8 __attribute__((vector_size(32)));
typedef int32_t Int16 __attribute__((vector_size(64)));
typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));
typedef double Double8 __attribute__((vector_size(64)));

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
#endif

// K vectors of output pixels from column base[0] on: integer class sums, integer group sums,
// then per group one product added to the running double sum, in group order. Integer sums do
// not depend on their order, so with AVX-512 (registers to spare) a class of multiple 1 adds
// straight into its group's sum.
template <typename VI, typename VD, int K, bool kOnesDirect = sizeof(VI) == 64>
NYRA_ALWAYS_INLINE void RadialBlock(const RadialPlan& p, const int32_t* base, double* out)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VI) / sizeof(int32_t));
    VD acc[2 * K];
    for (int k = 0; k < 2 * K; k++)
        acc[k] = VD{};
    int32_t c = 0, t = 0;
    for (int32_t g = 0; g < p.groupCount; g++) {
        VI s[K];
        for (int k = 0; k < K; k++)
            s[k] = VI{};
        for (const int32_t classEnd = p.groupClassEnd[g]; c < classEnd; c++) {
            const int32_t termEnd = p.classTermEnd[c];
            if (kOnesDirect && p.classMultiple[c] == 1) {
                for (; t < termEnd; t++) {
                    const char* q = reinterpret_cast<const char*>(base) + p.termOffset[t];
                    for (int k = 0; k < K; k++) {
                        VI v;
                        memcpy(&v, q + k * sizeof(VI), sizeof(VI));
                        s[k] += v;
                    }
                }
                continue;
            }
            VI cs[K];
            for (int k = 0; k < K; k++)
                cs[k] = VI{};
            for (; t < termEnd; t++) {
                const char* q = reinterpret_cast<const char*>(base) + p.termOffset[t];
                for (int k = 0; k < K; k++) {
                    VI v;
                    memcpy(&v, q + k * sizeof(VI), sizeof(VI));
                    cs[k] += v;
                }
            }
            const int32_t m = p.classMultiple[c];
            if (m == 1) {
                for (int k = 0; k < K; k++)
                    s[k] += cs[k];
            } else {
                for (int k = 0; k < K; k++)
                    s[k] += cs[k] * m;
            }
        }
        const VD w = p.groupWeight[g] - VD{};  // a broadcast (x - 0 is x, also for -0)
        for (int k = 0; k < K; k++) {
            VD lo, hi;
            ToDoubles(s[k], &lo, &hi);
            acc[2 * k] += w * lo;
            acc[2 * k + 1] += w * hi;
        }
    }
    for (int k = 0; k < 2 * K; k++)
        memcpy(out + k * (kLanes / 2), &acc[k], sizeof(VD));
}

// scratch: h + 1 rows of RowLength int32 (the padded width plus a block of slack, so the last
// block may read past the image), then width + kBlock doubles.
template <typename VI, typename VD, int K>
NYRA_ALWAYS_INLINE void RadialRowsBody(const RadialPlan& p, int32_t h, FilterBand& band, uint8_t* scratch)
{
    constexpr int32_t kStep = K * (int32_t)(sizeof(VI) / sizeof(int32_t));
    static_assert(kStep <= kBlock, "block wider than the slack");
    const int32_t w = band.width;
    const size_t rowLength = RowLength(h, w);
    int32_t* vrows = reinterpret_cast<int32_t*>(scratch);
    double* acc = reinterpret_cast<double*>(scratch + VrowBytes(h, w));
    // The slack past the padded width only feeds pixels that are never written out.
    memset(vrows, 0, (size_t)(h + 1) * rowLength * sizeof(int32_t));
    int32_t* v[kMaxHalf + 1];
    for (int32_t a = 0; a <= h; a++)
        v[a] = vrows + (size_t)a * rowLength + h;
    for (int32_t y = band.y0; y < band.y1; y++) {
        VerticalPairs(band, y, h, v);
        for (int32_t x0 = 0; x0 < w; x0 += kStep)
            RadialBlock<VI, VD, K>(p, v[0] + x0, acc + x0);
        uint16_t* out = band.OutRow(y);
        for (int32_t x = 0; x < w; x++)
            out[x] = RoundClamp(acc[x]);
        band.RowDone(y);
    }
}

struct RadialJob {
    const RadialPlan* plan;
    int32_t h;
};

// Vectors per block: 32-bit x86 has eight vector registers, x86_64 sixteen (thirty-two with
// AVX-512); four vectors (six with AVX-512) keep every lane's running sum in a register.
#if defined(__x86_64__) || defined(_M_X64)
constexpr int kVectors = 4;
constexpr int kVectors512 = 6;  // 12 double and 12 integer sums of the 32 registers
#else
constexpr int kVectors = 2;
constexpr int kVectors512 = 2;
#endif

void RadialRowsBase(const RadialJob& j, FilterBand& band, uint8_t* scratch)
{
    RadialRowsBody<Int4, Double2, kVectors>(*j.plan, j.h, band, scratch);
}

#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX2 void RadialRowsAvx2(const RadialJob& j, FilterBand& band, uint8_t* scratch)
{
    RadialRowsBody<Int8, Double4, kVectors>(*j.plan, j.h, band, scratch);
}

NYRA_TARGET_AVX512 void RadialRowsAvx512(const RadialJob& j, FilterBand& band, uint8_t* scratch)
{
    RadialRowsBody<Int16, Double8, kVectors512>(*j.plan, j.h, band, scratch);
}
#endif

void RadialBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const RadialJob& j = *static_cast<const RadialJob*>(context);
#if NYRA_HAVE_AVX2_PATH
    switch (SimdLevel()) {
    case 2: RadialRowsAvx512(j, band, scratch); return;
    case 1: RadialRowsAvx2(j, band, scratch); return;
    default: break;
    }
#endif
    RadialRowsBase(j, band, scratch);
}

}  // namespace

bool RadialConvolve(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                    const double* weights, bool mergeInverseDistance)
{
    if (n < 1 || n > kLargestFilterMask || width <= 0)
        return false;
    FilterBuffer<RadialPlan> plan(1);
    if (!plan)
        return false;
    BuildPlan(plan.data(), n, width, weights, mergeInverseDistance);
    RadialJob job{plan.data(), n / 2};
    const int32_t h = n / 2;
    size_t scratch = VrowBytes(h, width) + ((size_t)width + kBlock) * sizeof(double);
    return RunFilterBands(src, dst, width, height, h, 32, scratch, RadialBand, &job);
}
