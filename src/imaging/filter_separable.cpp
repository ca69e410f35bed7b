// Separable passes in row bands: Gaussian Blur (a symmetric 1-D kernel across, then down),
// Unsharp Mask (that blur, each row then combined with its input row) and Laplace Edge
// Enhancement (the same smoothing in the defined order, then the Laplacian).
// Inputs: a W x H block and the n weights of the 1-D kernel; output: the block itself,
// written back through row bands (filter_bands.h), which equals a second block copied back.
// Method: each band keeps a ring of n + 1 horizontally filtered rows (doubles) so every input
// row is filtered across once; a vertical pass over the ring gives one smoothed row (Laplace:
// two neighbouring rows at once, so each filtered row is read once for both), and Laplace
// keeps four smoothed rows for its neighbours. Both passes run across a block of pixels in
// vector registers, each lane adding its products in a fixed order; with AVX2 and AVX-512
// Laplace's rows are striped, so that its pass across reads whole aligned vectors.
// Failure: without a band's working memory nothing is written and false is returned.
#include "imaging/filter_separable.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "imaging/filter_bands.h"
#include "imaging/filter_doubles.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_stripes.h"
#include "imaging/filter_support.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

NYRA_VECTORIZE_LOOPS

namespace {

constexpr int32_t kSlack = 64;  // doubles past the end of a row: the widest block reads there

struct SeparableJob {
    const double* weights;
    int32_t n, h;  // n = 0: Laplace without smoothing
    bool pairs;    // add the two pixels of one weight first (Gaussian Blur)
    bool laplace;
    double factor;  // Laplace: level / 100; Unsharp Mask: level / 400
    bool unsharp;   // Gaussian Blur's rows combined with the unblurred ones (Unsharp Mask)
};

// A band's working memory: the input row as doubles with its edges repeated, the ring of
// n + 1 horizontally filtered rows, a row of vertical sums, and (Laplace) four smoothed
// rows with one repeated edge pixel on each side or (Unsharp Mask) a sweep's blurred rows.
constexpr int32_t kSmoothSlots = 4;
// Gaussian Blur's vertical pass makes this many output rows per sweep, so each filtered row is
// read from the second-level cache once for all of them instead of once per output row.
constexpr int32_t kDownRows = 8;

// Vectors per block: 32-bit x86 has eight vector registers, so two sums and their operands;
// x86_64 has sixteen or more. AVX-512 in 32-bit code keeps four sums all the same (Gaussian
// Blur 11.0 -> 9.7 ms there; with SSE2 or AVX2 four were slower), except in Laplace's
// two-row vertical pass, whose two sums per vector fit the eight registers without spilling
// only with one vector, at every level (32-bit AVX-512 Laplace 21: 19.8 ms with four, 18.5
// with two, 16.3 with one; eight-register build with one instead of two: AVX2 20.1 -> 18.3 ms,
// SSE2 42.5 -> 38.9). Laplace's striped pass across with AVX2 takes kStripedVectors256
// vectors: three sums fit 32-bit code's registers (eight-register build, Laplace 21: 17.2 ms
// with two, 16.1 with three, 22.7 with four).
// AVX-512's pass across takes 16 * kAcrossBlocks512 pixels at a time, AVX2's 8 *
// kAcrossBlocks256 (32-bit AVX2 Gaussian Blur 15: 10.9 ms with one block, 12.8 with two;
// x86_64 AVX2 8.3 with four, 8.6 with two), and AVX-512's pass down kDownTile512 rows (DownTile),
// which needs three vectors per row: x86_64 has 32 of them, 32-bit code 8 (Gaussian Blur 15
// there: 7.9 ms with 2 rows, 11.4 with 4; blocks 1 and 2 the same).
// The SSE2 and AVX2 passes down take tiles of kDownTileNarrow = 2 rows (32-bit AVX2 13.1 ->
// 11.6 ms, SSE2 22.4 -> 21.2) and kDownTileNarrowVectors vectors: on x86_64 two, whose four
// sums' chains of additions run side by side (one machine, Gaussian Blur 15, AVX2: 7.56 ms
// with blocks of kVectors vectors, 7.07 with tiles one vector wide, 6.96 with two; SSE2 16.7
// -> 16.05). AVX2's tiles add the pixel pairs of every other sum on the multipliers (PairSum).
constexpr int kDownTileNarrow = 2;
#if NYRA_WIDE_REGISTERS
constexpr int kVectors = 4;
constexpr int kPairVectors = 4;
constexpr int kAcrossBlocks512 = 4;
constexpr int kAcrossBlocks256 = 4;
constexpr int kStripedVectors256 = 4;
constexpr int kDownTile512 = 8;
constexpr int kDownTileNarrowVectors = 2;
#else
constexpr int kVectors = 2;
constexpr int kPairVectors = 1;
constexpr int kAcrossBlocks512 = 1;
constexpr int kAcrossBlocks256 = 1;
constexpr int kStripedVectors256 = 3;
constexpr int kDownTile512 = 2;
constexpr int kDownTileNarrowVectors = 1;
#endif
constexpr int kVectors512 = 4;

// Laplace's pass across adds n products of pixels one column apart, so with AVX2 and AVX-512
// most of its loads straddled two cache lines. There its rows are striped (filter_stripes.h) in
// kStripes stripes: a term one column over is the entry after, kStripes doubles on, and every
// load is aligned. The smoothed rows are unstriped after rounding. (Laplace 21 on one machine:
// AVX-512 11.0 -> 9.5-9.9 ms, AVX2 18.0 -> 16.9.)
constexpr int32_t kStripes = 8;

// Striped rows of a band: S entries of output, E of input (S + 2 h and the slack a block of
// the pass across reads past the last), striped from a padded row of padLength pixels.
struct StripedShape {
    int32_t S, E;
    size_t padLength;
};

StripedShape StripedShapeFor(int32_t n, int32_t width)
{
    StripedShape st;
    st.S = (width + kStripes - 1) / kStripes;
    st.E = st.S + 2 * (n / 2) + kSlack / kStripes;
    st.padLength = (size_t)(kStripes - 1) * st.S + st.E;
    return st;
}

// line: the padded input row as doubles (striped: E entries); stripes: the padded row of
// pixels, its striped form and two striped rows of smoothed pixels.
struct Layout {
    size_t line, across, down, smooth, stripes, total;
};

Layout LayoutFor(int32_t n, int32_t width)
{
    const size_t row = Align64(((size_t)width + kSlack) * sizeof(double));
    const StripedShape st = StripedShapeFor(n, width);
    const size_t entries = (size_t)st.E * kStripes;
    Layout l;
    l.line = 0;
    l.across = Align64(std::max((size_t)width + 2 * (size_t)(n / 2) + kSlack, entries) * sizeof(double));
    l.down = l.across + (size_t)(n + kDownRows) * row;
    l.smooth = l.down + row;
    const size_t rows16 = std::max(kSmoothSlots * ((size_t)width + 2), kDownRows * (size_t)width);
    l.stripes = l.smooth + Align64(rows16 * sizeof(uint16_t));
    const size_t stripes16 = Align64(st.padLength * sizeof(uint16_t)) + Align64(entries * sizeof(uint16_t))
                             + 2 * Align64((size_t)st.S * kStripes * sizeof(uint16_t));
    l.total = l.stripes + stripes16;
    return l;
}

// acc += c times the vector at a (plus the one at b). The loads are copies, so no function
// returns a vector (whose ABI differs between the baseline and the wider copies).
template <typename VD>
NYRA_ALWAYS_INLINE void AddProduct(VD& acc, const VD& c, const double* a)
{
    VD va;
    memcpy(&va, a, sizeof(VD));
    acc += c * va;
}

// The first product of a sum: 0 + y is y for every y these passes meet (weights and pixels
// are not negative, so y is never -0).
template <typename VD>
NYRA_ALWAYS_INLINE void SetPairProduct(VD& acc, const VD& c, const double* a, const double* b)
{
    VD va, vb;
    memcpy(&va, a, sizeof(VD));
    memcpy(&vb, b, sizeof(VD));
    acc = c * (va + vb);
}

template <typename VD>
NYRA_ALWAYS_INLINE void AddPairProduct(VD& acc, const VD& c, const double* a, const double* b)
{
    VD va, vb;
    memcpy(&va, a, sizeof(VD));
    memcpy(&vb, b, sizeof(VD));
    acc += c * (va + vb);
}

// out[x] = the n weights times line[x], line[x + kTap] .. line[x + (n - 1) kTap], for x below
// w (kTap 1: plain rows, w + n - 1 long plus slack; kStripes: striped). K vectors of pixels at
// a time, each lane's sum in a register.
template <typename VD, int K, int kTap = 1>
NYRA_ALWAYS_INLINE void Across(const SeparableJob& j, const double* line, int32_t w, double* out,
                               const uint16_t* next)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    constexpr int32_t kStep = K * kLanes;
    static_assert(kStep <= kSlack, "block wider than the slack");
    const int32_t n = j.n, h = j.h;
    const double* wt = j.weights;
    for (int32_t x0 = 0; x0 < w; x0 += kStep) {
        // The next input row, a block's width at a time (a striped row is as long as a plain one).
        PrefetchRowLines(next, x0, std::min(x0 + kStep, w));
        const double* p = line + x0;
        VD acc[K];
        for (int k = 0; k < K; k++)
            acc[k] = VD{};
        if (kTap == 1 && j.pairs && h > 0) {
            const VD c0 = wt[0] - VD{};  // a broadcast (x - 0 is x, also for -0)
            for (int k = 0; k < K; k++)
                SetPairProduct(acc[k], c0, p + k * kLanes, p + n - 1 + k * kLanes);
            for (int32_t t = 1; t < h; t++) {
                const VD c = wt[t] - VD{};
                for (int k = 0; k < K; k++)
                    AddPairProduct(acc[k], c, p + t + k * kLanes, p + n - 1 - t + k * kLanes);
            }
            const VD c = wt[h] - VD{};
            for (int k = 0; k < K; k++)
                AddProduct<VD>(acc[k], c, p + h + k * kLanes);
        } else {
            for (int32_t t = 0; t < n; t++) {
                const VD c = wt[t] - VD{};
                for (int k = 0; k < K; k++)
                    AddProduct<VD>(acc[k], c, p + t * kTap + k * kLanes);
            }
        }
        for (int k = 0; k < K; k++)
            memcpy(out + x0 + k * kLanes, &acc[k], sizeof(VD));
    }
}

// line[h + x] = src[x] for x below w, with h copies of each edge pixel on its side.
template <typename P>
NYRA_ALWAYS_INLINE void PadRow(const uint16_t* src, int32_t w, int32_t h, P* line)
{
    for (int32_t x = 0; x < h; x++) {
        line[x] = src[0];
        line[h + w + x] = src[w - 1];
    }
    for (int32_t x = 0; x < w; x++)
        line[h + x] = src[x];
}

// With AVX2 and AVX-512 Gaussian Blur filters across from the pixels as integers: two pixels
// of one weight are added as integers, which gives the same sum as adding them as doubles (it
// is exact either way), with half the loads. The sums are multiplied without conversion
// instructions, which share their ports with the additions: the sum s under the high word of
// 2^52 is the double 2^52 + s exactly, and fma(c, 2^52 + s, -2^52 c) is c s rounded once, the
// same product as c * s (so the AVX2 level asks for FMA as well). The row is widened to 32 bits
// once: widening loads take a shuffle each, with AVX2 (Gaussian Blur 15 7.84 -> 7.34 ms, Unsharp
// Mask 21 12.6 -> 11.4 on one machine; the same in the eight-register build) as with AVX-512.
// SSE2 converts the row to doubles once instead.
#if NYRA_HAVE_AVX2_PATH
constexpr double kBias = -4503599627370496.0;  // -2^52

// The vectors of one block of pixel sums and their products, for AcrossBiased. The unpacks
// leave the lanes permuted within each 128-bit half: Products gives pixels 0 1 4 5 .. in lo and
// 2 3 6 7 .. in hi, and Store puts them back in order.
struct Biased256 {
    static constexpr int32_t kPixels = 8;
    typedef int32_t Pixel;
    typedef __m256i Sums;
    typedef __m256d Doubles;
    NYRA_TARGET_AVX2 static void Load(const int32_t* a, Sums* s)
    {
        *s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    }
    NYRA_TARGET_AVX2 static void Pair(const int32_t* a, const int32_t* b, Sums* s)
    {
        *s = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)));
    }
    NYRA_TARGET_AVX2 static void Products(Sums s, double c, double cBias, Doubles* lo, Doubles* hi)
    {
        const __m256i high = _mm256_set1_epi32(0x43300000);
        const __m256d vc = _mm256_set1_pd(c), vBias = _mm256_set1_pd(cBias);
        *lo = _mm256_fmadd_pd(vc, _mm256_castsi256_pd(_mm256_unpacklo_epi32(s, high)), vBias);
        *hi = _mm256_fmadd_pd(vc, _mm256_castsi256_pd(_mm256_unpackhi_epi32(s, high)), vBias);
    }
    NYRA_TARGET_AVX2 static void Add(Doubles* acc, Doubles v) { *acc = _mm256_add_pd(*acc, v); }
    NYRA_TARGET_AVX2 static void Store(double* out, Doubles lo, Doubles hi)
    {
        _mm256_storeu_pd(out, _mm256_permute2f128_pd(lo, hi, 0x20));
        _mm256_storeu_pd(out + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
    }
};

// (The masked AVX-512 forms: the plain ones read an undefined register that -Werror flags.)
struct Biased512 {
    static constexpr int32_t kPixels = 16;
    typedef int32_t Pixel;
    typedef __m512i Sums;
    typedef __m512d Doubles;
    NYRA_TARGET_AVX512 static void Load(const int32_t* a, Sums* s) { *s = _mm512_loadu_si512(a); }
    NYRA_TARGET_AVX512 static void Pair(const int32_t* a, const int32_t* b, Sums* s)
    {
        *s = _mm512_add_epi32(_mm512_loadu_si512(a), _mm512_loadu_si512(b));
    }
    NYRA_TARGET_AVX512 static void Products(Sums s, double c, double cBias, Doubles* lo, Doubles* hi)
    {
        const __m512i high = _mm512_set1_epi32(0x43300000);
        const __m512d vc = _mm512_set1_pd(c), vBias = _mm512_set1_pd(cBias);
        *lo = _mm512_fmadd_pd(vc, _mm512_castsi512_pd(_mm512_maskz_unpacklo_epi32(0xFFFF, s, high)), vBias);
        *hi = _mm512_fmadd_pd(vc, _mm512_castsi512_pd(_mm512_maskz_unpackhi_epi32(0xFFFF, s, high)), vBias);
    }
    NYRA_TARGET_AVX512 static void Add(Doubles* acc, Doubles v) { *acc = _mm512_add_pd(*acc, v); }
    NYRA_TARGET_AVX512 static void Store(double* out, Doubles lo, Doubles hi)
    {
        const __m512i first = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
        const __m512i second = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
        _mm512_storeu_pd(out, _mm512_permutex2var_pd(lo, first, hi));
        _mm512_storeu_pd(out + 8, _mm512_permutex2var_pd(lo, second, hi));
    }
};

// out[x] = the n weights times line[x .. x + n - 1] for x below w, the two pixels of one weight
// added first (h > 0); kBlocks blocks of B::kPixels pixels at a time.
template <typename B, int32_t kBlocks>
NYRA_ALWAYS_INLINE void AcrossBiased(const SeparableJob& j, const typename B::Pixel* line, int32_t w,
                                     double* out, const uint16_t* next)
{
    constexpr int32_t kStep = B::kPixels * kBlocks;
    static_assert(kStep <= kSlack, "block wider than the slack");
    const int32_t n = j.n, h = j.h;
    const double* wt = j.weights;
    // The products' biases once per row: computed in the loop they took a multiplier slot from
    // every weight's two products (32-bit code has registers for one block only).
    double bias[kLargestFilterMask / 2 + 1];
    for (int32_t t = 0; t <= h; t++)
        bias[t] = kBias * wt[t];
    for (int32_t x0 = 0; x0 < w; x0 += kStep) {
        PrefetchRowLines(next, x0, std::min(x0 + kStep, w));  // the next input row
        const typename B::Pixel* p = line + x0;
        typename B::Sums s;
        typename B::Doubles acc[2 * kBlocks], lo, hi;
        for (int k = 0; k < kBlocks; k++) {
            B::Pair(p + B::kPixels * k, p + n - 1 + B::kPixels * k, &s);
            B::Products(s, wt[0], bias[0], &acc[2 * k], &acc[2 * k + 1]);
        }
        for (int32_t t = 1; t < h; t++) {
            for (int k = 0; k < kBlocks; k++) {
                B::Pair(p + t + B::kPixels * k, p + n - 1 - t + B::kPixels * k, &s);
                B::Products(s, wt[t], bias[t], &lo, &hi);
                B::Add(&acc[2 * k], lo);
                B::Add(&acc[2 * k + 1], hi);
            }
        }
        for (int k = 0; k < kBlocks; k++) {
            B::Load(p + h + B::kPixels * k, &s);
            B::Products(s, wt[h], bias[h], &lo, &hi);
            B::Add(&acc[2 * k], lo);
            B::Add(&acc[2 * k + 1], hi);
        }
        for (int k = 0; k < kBlocks; k++)
            B::Store(out + x0 + B::kPixels * k, acc[2 * k], acc[2 * k + 1]);
    }
}

// AcrossBiased on row src, copied into `line` as B's pixels with its edges repeated.
template <typename B, int32_t kBlocks>
NYRA_ALWAYS_INLINE void AcrossPixels(const SeparableJob& j, const uint16_t* src, int32_t w, void* line,
                                     double* out, const uint16_t* next)
{
    typename B::Pixel* p = static_cast<typename B::Pixel*>(line);
    PadRow(src, w, j.h, p);
    AcrossBiased<B, kBlocks>(j, p, w, out, next);
}
#endif

// acc[k] = the Gaussian's vertical sum at column x0 + k * lanes of rows[0 .. n - 1]: the two
// rows of one weight added first, then multiplied, in the order of the weights. Every output
// row of Gaussian Blur takes this one definition, near the edges and inside.
template <typename VD, int K>
NYRA_ALWAYS_INLINE void DownPairSums(const SeparableJob& j, const double* const* rows, int32_t x0, VD* acc)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    const int32_t n = j.n, h = j.h;
    const double* wt = j.weights;
    if (h == 0) {
        for (int k = 0; k < K; k++)
            acc[k] = VD{};
    } else {
        const VD c0 = wt[0] - VD{};
        for (int k = 0; k < K; k++)
            SetPairProduct(acc[k], c0, rows[0] + x0 + k * kLanes, rows[n - 1] + x0 + k * kLanes);
        for (int32_t t = 1; t < h; t++) {
            const VD c = wt[t] - VD{};
            const double* a = rows[t] + x0;
            const double* b = rows[n - 1 - t] + x0;
            for (int k = 0; k < K; k++)
                AddPairProduct(acc[k], c, a + k * kLanes, b + k * kLanes);
        }
    }
    const VD c = wt[h] - VD{};
    for (int k = 0; k < K; k++)
        AddProduct<VD>(acc[k], c, rows[h] + x0 + k * kLanes);
}

// out[x] = the n weights times rows[0 .. n - 1][x], for x below w.
template <typename VD, int K>
NYRA_ALWAYS_INLINE void Down(const SeparableJob& j, const double* const* rows, int32_t w, double* out)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    constexpr int32_t kStep = K * kLanes;
    const int32_t n = j.n;
    const double* wt = j.weights;
    for (int32_t x0 = 0; x0 < w; x0 += kStep) {
        VD acc[K];
        if (j.pairs) {
            DownPairSums<VD, K>(j, rows, x0, acc);
        } else {
            for (int k = 0; k < K; k++)
                acc[k] = VD{};
            for (int32_t t = 0; t < n; t++) {
                const VD c = wt[t] - VD{};
                const double* a = rows[t] + x0;
                for (int k = 0; k < K; k++)
                    AddProduct<VD>(acc[k], c, a + k * kLanes);
            }
        }
        for (int k = 0; k < K; k++)
            memcpy(out + x0 + k * kLanes, &acc[k], sizeof(VD));
    }
}

// DownTile adds the pixel pairs of every other sum as fma(a, 1, b), which is exactly a + b but
// runs on the multipliers' ports; the adders' are the busier ones there. (The 1 is hidden from
// the optimiser, which would make it an addition again.)
template <typename VD>
NYRA_ALWAYS_INLINE void PairSum(VD& s, const VD& a, const VD& b, const VD&)
{
    s = a + b;
}
#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX512 inline void PairSum(Double8& s, const Double8& a, const Double8& b, const Double8& one)
{
    s = (Double8)_mm512_fmadd_pd((__m512d)a, (__m512d)one, (__m512d)b);
}
NYRA_TARGET_AVX2 inline void PairSum(Double4& s, const Double4& a, const Double4& b, const Double4& one)
{
    s = (Double4)_mm256_fmadd_pd((__m256d)a, (__m256d)one, (__m256d)b);
}
#endif

// R neighbouring output rows of DownPairSums at once, K vectors wide: acc[i K + k] from rows
// i .. i + n - 1 at column x0 + k lanes, each lane's sum in the same order. Step t adds rows
// t + i and n - 1 - t + i to output i, so from one step to the next the two windows of R rows
// in registers slide by one row each: two loads per step and vector for all R outputs instead
// of 2 R.
template <typename VD, int R, int K>
NYRA_ALWAYS_INLINE void DownTile(const SeparableJob& j, const double* const* rows, int32_t x0, VD* acc)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    const int32_t n = j.n, h = j.h;
    const double* wt = j.weights;
    VD top[R * K], bottom[R * K];
    for (int i = 0; i < R; i++)
        for (int k = 0; k < K; k++)
            memcpy(&top[i * K + k], rows[i] + x0 + k * kLanes, sizeof(VD));
    if (h == 0) {
        const VD c = wt[0] - VD{};
        for (int i = 0; i < R * K; i++)
            acc[i] = c * top[i];
        return;
    }
    for (int i = 0; i < R; i++)
        for (int k = 0; k < K; k++)
            memcpy(&bottom[i * K + k], rows[n - 1 + i] + x0 + k * kLanes, sizeof(VD));
    const VD c0 = wt[0] - VD{};
    for (int i = 0; i < R * K; i++)
        acc[i] = c0 * (top[i] + bottom[i]);
    VD one = 1.0 - VD{};
    __asm__("" : "+v"(one));
    for (int32_t t = 1; t < h; t++) {
        for (int i = 0; i < (R - 1) * K; i++)
            top[i] = top[i + K];
        for (int k = 0; k < K; k++)
            memcpy(&top[(R - 1) * K + k], rows[t + R - 1] + x0 + k * kLanes, sizeof(VD));
        for (int i = R * K - 1; i >= K; i--)
            bottom[i] = bottom[i - K];
        for (int k = 0; k < K; k++)
            memcpy(&bottom[k], rows[n - 1 - t] + x0 + k * kLanes, sizeof(VD));
        const VD c = wt[t] - VD{};
        for (int i = 0; i < R * K; i++) {
            VD p;
            if (i % 2)
                PairSum(p, top[i], bottom[i], one);
            else
                p = top[i] + bottom[i];
            acc[i] += c * p;
        }
    }
    for (int i = 0; i < (R - 1) * K; i++)
        top[i] = top[i + K];
    for (int k = 0; k < K; k++)
        memcpy(&top[(R - 1) * K + k], rows[h + R - 1] + x0 + k * kLanes, sizeof(VD));
    const VD c = wt[h] - VD{};
    for (int i = 0; i < R * K; i++)
        acc[i] += c * top[i];
}

// A vector of Gaussian sums rounded into o: all of it, or the first len pixels at a row's
// ragged end.
template <typename VD>
NYRA_ALWAYS_INLINE void StoreRounded(const VD& acc, int32_t len, uint16_t* o)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    if (len == kLanes) {
        RoundSumVector(acc, o);
    } else {
        double sums[kLanes];
        memcpy(sums, &acc, sizeof(VD));
        RoundRow(sums, len, o);
    }
}

// kDownRows neighbouring rows of Gaussian Blur, rounded: out[i] from rows[i .. i + n - 1], each
// lane's sum in the order Down adds it, tiles of R rows and K vectors at a time from registers
// (DownTile). The rows of a column stay in the first-level cache between the tiles that read
// them.
template <typename VD, int R, int K>
NYRA_ALWAYS_INLINE void DownRowsTiled(const SeparableJob& j, const double* const* rows, int32_t w,
                                      uint16_t* const* out)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    static_assert(kDownRows % R == 0, "whole tiles");
    static_assert(K * kLanes <= kSlack, "tile wider than the slack");
    for (int32_t x0 = 0; x0 < w; x0 += K * kLanes) {
        for (int32_t i0 = 0; i0 < kDownRows; i0 += R) {
            VD acc[R * K];
            DownTile<VD, R, K>(j, rows + i0, x0, acc);
            for (int i = 0; i < R; i++)
                for (int k = 0; k < K && x0 + k * kLanes < w; k++)
                    StoreRounded(acc[i * K + k], std::min(kLanes, w - x0 - k * kLanes),
                                 out[i0 + i] + x0 + k * kLanes);
        }
    }
}

// Two neighbouring rows of Laplace's smoothing in the defined order, rounded: out0 from
// rows[0 .. n - 1], out1 from rows[1 .. n]; each row is loaded once for both sums. spill: room
// for a block's sums of both rows (the last block, which reaches past the row).

template <typename VD, int K>
NYRA_ALWAYS_INLINE void DownPair(const SeparableJob& j, const double* const* rows, int32_t w, uint16_t* out0,
                                 uint16_t* out1, double* spill)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    constexpr int32_t kStep = K * kLanes;
    static_assert(2 * kStep <= kSlack, "a block's two rows of sums fit a row of sums");
    const int32_t n = j.n;
    const double* wt = j.weights;
    for (int32_t x0 = 0; x0 < w; x0 += kStep) {
        VD acc0[K], acc1[K];
        for (int k = 0; k < K; k++) {
            VD v;
            memcpy(&v, rows[0] + x0 + k * kLanes, sizeof(VD));
            acc0[k] = VD{};
            acc0[k] += (wt[0] - VD{}) * v;
            acc1[k] = VD{};
        }
        for (int32_t t = 1; t < n; t++) {
            const VD c0 = wt[t] - VD{}, c1 = wt[t - 1] - VD{};
            const double* a = rows[t] + x0;
            for (int k = 0; k < K; k++) {
                VD v;
                memcpy(&v, a + k * kLanes, sizeof(VD));
                acc0[k] += c0 * v;
                acc1[k] += c1 * v;
            }
        }
        const VD c1 = wt[n - 1] - VD{};
        for (int k = 0; k < K; k++)
            AddProduct<VD>(acc1[k], c1, rows[n] + x0 + k * kLanes);
        if (x0 + kStep <= w) {
            for (int k = 0; k < K; k++) {
                RoundVector(acc0[k], out0 + x0 + k * kLanes);
                RoundVector(acc1[k], out1 + x0 + k * kLanes);
            }
            continue;
        }
        // The last block reaches past the row: only its first pixels are kept.
        memcpy(spill, acc0, sizeof acc0);
        memcpy(spill + kStep, acc1, sizeof acc1);
        RoundRow(spill, w - x0, out0 + x0);
        RoundRow(spill + kStep, w - x0, out1 + x0);
    }
}

// A band's rings: which input row each slot of the across ring holds (-1 none), and which
// smoothed row each Laplace slot holds.
struct BandRows {
    int32_t w, height, n, h;
    int32_t flat;  // doubles of a row filtered across: w, or striped kStripes S
    size_t rowDoubles;
    double* line;
    double* across;
    double* sums;
    uint16_t* smooth;
    int32_t acrossRow[kLargestFilterMask + kDownRows];
    int32_t smoothRow[kSmoothSlots];
    bool striped;
    StripedShape shape;
    uint16_t* pad;         // striped: the padded input row
    uint16_t* stripes;     // its entries
    uint16_t* rounded[2];  // two striped rows of smoothed pixels

    int32_t Clamp(int32_t r) const { return r < 0 ? 0 : (r >= height ? height - 1 : r); }
    uint16_t* SmoothSlot(int32_t r) const { return smooth + (size_t)(r % kSmoothSlots) * ((size_t)w + 2); }
};

// (Helpers of the band body are always inlined: a separate copy would be built for the
// baseline and run the wide vectors in pieces.)

#if NYRA_HAVE_AVX2_PATH
// Laplace's row src striped, as doubles (each is read n times), and filtered across into out.
// This and the unstriping run out of line, in a copy for each wide path: inlined at each use
// of a filtered or smoothed row they doubled the time this file takes to compile.
template <typename VD, int K>
NYRA_ALWAYS_INLINE void StripedAcross(const SeparableJob& j, const BandRows& b, const uint16_t* src,
                                      double* out, const uint16_t* next)
{
    const StripedShape& st = b.shape;
    StripeRow<kStripes>(src, b.w, b.h, st.S, st.E, st.padLength, b.pad, b.stripes);
    for (int32_t i = 0; i < st.E * kStripes; i++)
        b.line[i] = b.stripes[i];
    Across<VD, K, kStripes>(j, b.line, b.flat, out, next);
}

NYRA_TARGET_AVX2 __attribute__((noinline)) void StripedAcrossAvx2(const SeparableJob& j, const BandRows& b,
                                                                  const uint16_t* src, double* out,
                                                                  const uint16_t* next)
{
    StripedAcross<Double4, kStripedVectors256>(j, b, src, out, next);
}

NYRA_TARGET_AVX512 __attribute__((noinline)) void StripedAcrossAvx512(const SeparableJob& j,
                                                                      const BandRows& b, const uint16_t* src,
                                                                      double* out, const uint16_t* next)
{
    StripedAcross<Double8, kVectors512>(j, b, src, out, next);
}

NYRA_TARGET_AVX2 __attribute__((noinline)) void UnstripeRowAvx2(const uint16_t* striped, int32_t S, int32_t w,
                                                                uint16_t* out)
{
    UnstripeRow<kStripes>(striped, S, w, out);
}
#endif

// Row r filtered across. The n + 1 rows two neighbouring vertical sums read are consecutive,
// so they sit in distinct slots and filtering one never evicts another.
template <typename VD, int K>
NYRA_ALWAYS_INLINE const double* AcrossRow(const SeparableJob& j, BandRows& b, const FilterBand& band,
                                           int32_t r)
{
    const int32_t slot = r % (b.n + kDownRows), w = b.w, h = b.h;
    double* out = b.across + (size_t)slot * b.rowDoubles;
    if (b.acrossRow[slot] != r) {
        const uint16_t* src = band.Row(r);
        const uint16_t* next = band.RowAhead(r + 1);
        bool done = false;
#if NYRA_HAVE_AVX2_PATH
        if constexpr (sizeof(VD) >= 32) {
            if (j.pairs && h > 0) {
                if constexpr (sizeof(VD) == 64)
                    AcrossPixels<Biased512, kAcrossBlocks512>(j, src, w, b.line, out, next);
                else
                    AcrossPixels<Biased256, kAcrossBlocks256>(j, src, w, b.line, out, next);
                done = true;
            } else if (b.striped) {
                if constexpr (sizeof(VD) == 64)
                    StripedAcrossAvx512(j, b, src, out, next);
                else
                    StripedAcrossAvx2(j, b, src, out, next);
                done = true;
            }
        }
#endif
        if (!done) {
            // Every pixel converted once: the plain sums (Laplace) read each n times.
            PadRow(src, w, h, b.line);
            Across<VD, K>(j, b.line, w, out, next);
        }
        b.acrossRow[slot] = r;
    }
    return out;
}

// A striped row of smoothed pixels into the w pixels of out.
inline void Unstripe([[maybe_unused]] const BandRows& b, [[maybe_unused]] const uint16_t* striped,
                     [[maybe_unused]] uint16_t* out)
{
#if NYRA_HAVE_AVX2_PATH
    UnstripeRowAvx2(striped, b.shape.S, b.w, out);
#endif
}

// Row r smoothed (filtered across, then down), rounded into out.
template <typename VD, int K>
NYRA_ALWAYS_INLINE void SmoothInto(const SeparableJob& j, BandRows& b, const FilterBand& band, int32_t r,
                                   uint16_t* out)
{
    const double* rows[kLargestFilterMask];
    for (int32_t k = 0; k < b.n; k++)
        rows[k] = AcrossRow<VD, K>(j, b, band, b.Clamp(r - b.h + k));
    Down<VD, K>(j, rows, b.flat, b.sums);
    RoundRow(b.sums, b.flat, b.striped ? b.rounded[0] : out);
    if (b.striped)
        Unstripe(b, b.rounded[0], out);
}

// Smoothed row r (Laplace) with its edge pixels repeated once on each side; points at column 0.
// A missing row is smoothed together with the next one, which the next output row will ask
// for; four slots keep the two rows the current output row still reads.
template <typename VD, int K>
NYRA_ALWAYS_INLINE const uint16_t* SmoothRow(const SeparableJob& j, BandRows& b, const FilterBand& band,
                                             int32_t r)
{
    const int32_t w = b.w, n = b.n, h = b.h;
    uint16_t* s = b.SmoothSlot(r);
    if (b.smoothRow[r % kSmoothSlots] == r)
        return s + 1;
    if (n == 0) {
        memcpy(s + 1, band.Row(r), (size_t)w * sizeof(uint16_t));
    } else if (r - h >= 0 && r + 1 + h < b.height) {
        const double* rows[kLargestFilterMask + 1];
        for (int32_t k = 0; k <= n; k++)
            rows[k] = AcrossRow<VD, K>(j, b, band, r - h + k);
        uint16_t* next = b.SmoothSlot(r + 1);
        uint16_t* const out0 = b.striped ? b.rounded[0] : s + 1;
        uint16_t* const out1 = b.striped ? b.rounded[1] : next + 1;
        DownPair<VD, kPairVectors>(j, rows, b.flat, out0, out1, b.sums);
        if (b.striped) {
            Unstripe(b, out0, s + 1);
            Unstripe(b, out1, next + 1);
        }
        next[0] = next[1];
        next[w + 1] = next[w];
        b.smoothRow[(r + 1) % kSmoothSlots] = r + 1;
    } else {
        SmoothInto<VD, K>(j, b, band, r, s + 1);  // near the top or bottom edge
    }
    s[0] = s[1];
    s[w + 1] = s[w];
    b.smoothRow[r % kSmoothSlots] = r;
    return s + 1;
}

// The last steps of Unsharp Mask and Laplace take two vectors of doubles at a time with AVX2
// and AVX-512: the pixels as one vector of 32-bit integers (PixelInts), widened with one load
// each and converted with one instruction per vector of doubles (GCC 12 made several of each
// from the generic vector conversions).
template <typename VD>
struct PixelInts;
template <>
struct PixelInts<Double4> {
    typedef Int8 Type;
};
template <>
struct PixelInts<Double8> {
    typedef Int16 Type;
};

// Unsharp Mask on one row: out[x] = RoundClamp((v - b) * factor + v), v = in[x] and b =
// blurred[x], the same two double operations a vector at a time with AVX2 and AVX-512 (the
// baseline, and the rest, one by one). out may be in itself.
template <typename VD>
NYRA_ALWAYS_INLINE void UnsharpRow(const uint16_t* in, const uint16_t* blurred, uint16_t* out, int32_t w,
                                   double factor)
{
    int32_t x = 0;
#if NYRA_HAVE_AVX2_PATH
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    if constexpr (kLanes >= 4) {
        typedef typename PixelInts<VD>::Type VI;
        const VD f = factor - VD{};
        for (; x + 2 * kLanes <= w; x += 2 * kLanes) {
            VI pv, pb;
            WidenPixels(in + x, &pv);
            WidenPixels(blurred + x, &pb);
            VD v[2], b[2];
            ToDoubles(pv, &v[0], &v[1]);
            ToDoubles(pb, &b[0], &b[1]);
            for (int32_t i = 0; i < 2; i++)
                RoundVector((v[i] - b[i]) * f + v[i], out + x + i * kLanes);
        }
    }
#endif
    for (; x < w; x++) {
        const double v = in[x];
        out[x] = RoundClamp((v - (double)blurred[x]) * factor + v);
    }
}

#if NYRA_HAVE_AVX2_PATH
// The wide copies out of line: inlined at each of its three uses, the row cost the file a
// fifth of its compile time.
NYRA_TARGET_AVX2 __attribute__((noinline)) void UnsharpRowAvx2(const uint16_t* in, const uint16_t* blurred,
                                                               uint16_t* out, int32_t w, double factor)
{
    UnsharpRow<Double4>(in, blurred, out, w, factor);
}

NYRA_TARGET_AVX512 __attribute__((noinline)) void
UnsharpRowAvx512(const uint16_t* in, const uint16_t* blurred, uint16_t* out, int32_t w, double factor)
{
    UnsharpRow<Double8>(in, blurred, out, w, factor);
}
#endif

// UnsharpRow in the copy of VD's path.
template <typename VD>
NYRA_ALWAYS_INLINE void UnsharpRowFor(const uint16_t* in, const uint16_t* blurred, uint16_t* out, int32_t w,
                                      double factor)
{
#if NYRA_HAVE_AVX2_PATH
    if constexpr (sizeof(VD) == 64)
        return UnsharpRowAvx512(in, blurred, out, w, factor);
    else if constexpr (sizeof(VD) == 32)
        return UnsharpRowAvx2(in, blurred, out, w, factor);
#endif
    UnsharpRow<VD>(in, blurred, out, w, factor);
}

// One output row of Laplace: s rows padded by one pixel on each side, v the unsmoothed row.
// The Laplacian in 32-bit integers, then the same two double operations per pixel, a vector at
// a time with AVX2 and AVX-512.
template <typename VD>
NYRA_ALWAYS_INLINE void LaplaceRow(const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                                   const uint16_t* v, int32_t w, double factor, uint16_t* out)
{
    int32_t x = 0;
#if NYRA_HAVE_AVX2_PATH
    constexpr int32_t kLanes = (int32_t)(sizeof(VD) / sizeof(double));
    if constexpr (kLanes >= 4) {
        typedef typename PixelInts<VD>::Type VI;
        const VD f = factor - VD{};
        for (; x + 2 * kLanes <= w; x += 2 * kLanes) {
            VI m, l, r, u, d, pv;
            WidenPixels(mid + x, &m);
            WidenPixels(mid + x - 1, &l);
            WidenPixels(mid + x + 1, &r);
            WidenPixels(up + x, &u);
            WidenPixels(down + x, &d);
            WidenPixels(v + x, &pv);
            VD lap[2], val[2];
            ToDoubles(4 * m - l - r - d - u, &lap[0], &lap[1]);
            ToDoubles(pv, &val[0], &val[1]);
            for (int32_t i = 0; i < 2; i++)
                RoundVector(lap[i] * f + val[i], out + x + i * kLanes);
        }
    }
#endif
    for (; x < w; x++) {
        const int32_t d = 4 * (int32_t)mid[x] - (int32_t)mid[x - 1] - (int32_t)mid[x + 1] - (int32_t)down[x]
                          - (int32_t)up[x];
        out[x] = RoundClamp((double)d * factor + (double)v[x]);
    }
}

// Where row i of a sweep from row y is blurred: Gaussian Blur's output row itself; for Unsharp
// Mask a row of the band's scratch, since the output row is also the input row it combines.
inline uint16_t* BlurredRow(const SeparableJob& j, const BandRows& b, const FilterBand& band, int32_t y,
                            int32_t i)
{
    return j.unsharp ? b.smooth + (size_t)i * b.w : band.OutRow(y + i);
}

// Row i of the sweep from row y is blurred (BlurredRow): Unsharp Mask combines it with the
// input row, read here for the last time, into the output row.
template <typename VD>
NYRA_ALWAYS_INLINE void BlurredRowDone(const SeparableJob& j, const BandRows& b, FilterBand& band, int32_t y,
                                       int32_t i)
{
    if (j.unsharp)
        UnsharpRowFor<VD>(band.Row(y + i), BlurredRow(j, b, band, y, i), band.OutRow(y + i), band.width,
                          j.factor);
    band.RowDone(y + i);
}

template <typename VD, int K>
NYRA_ALWAYS_INLINE void SeparableRows(const SeparableJob& j, FilterBand& band, uint8_t* scratch)
{
    BandRows b;
    b.w = band.width;
    b.height = band.height;
    b.n = j.n;
    b.h = j.h;
    const Layout l = LayoutFor(j.n, b.w);
    b.rowDoubles = Align64(((size_t)b.w + kSlack) * sizeof(double)) / sizeof(double);
    b.line = reinterpret_cast<double*>(scratch + l.line);
    b.across = reinterpret_cast<double*>(scratch + l.across);
    b.sums = reinterpret_cast<double*>(scratch + l.down);
    b.smooth = reinterpret_cast<uint16_t*>(scratch + l.smooth);
    b.striped = NYRA_HAVE_AVX2_PATH && sizeof(VD) >= 32 && j.laplace && j.n > 0;
    b.shape = StripedShapeFor(j.n, b.w);
    b.flat = b.striped ? kStripes * b.shape.S : b.w;
    b.pad = reinterpret_cast<uint16_t*>(scratch + l.stripes);
    b.stripes = b.pad + Align64(b.shape.padLength * sizeof(uint16_t)) / sizeof(uint16_t);
    b.rounded[0] = b.stripes + Align64((size_t)b.shape.E * kStripes * sizeof(uint16_t)) / sizeof(uint16_t);
    b.rounded[1] = b.rounded[0] + Align64((size_t)b.shape.S * kStripes * sizeof(uint16_t)) / sizeof(uint16_t);
    // The slack feeds only lanes past the row's end, which are never stored; zeros keep them
    // ordinary numbers.
    memset(scratch, 0, l.smooth);
    std::fill(b.acrossRow, b.acrossRow + kLargestFilterMask + kDownRows, -1);
    std::fill(b.smoothRow, b.smoothRow + kSmoothSlots, -1);

    if (!j.laplace) {
        int32_t y = band.y0;
        // Whole sweeps of kDownRows rows where every row they read lies inside the image; the
        // band's ring holds them all (Run asks for it).
        for (; y + kDownRows <= band.y1; y += kDownRows) {
            if (y - b.h < 0 || y + kDownRows - 1 + b.h >= b.height) {
                for (int32_t i = 0; i < kDownRows; i++) {
                    SmoothInto<VD, K>(j, b, band, y + i, BlurredRow(j, b, band, y, i));
                    BlurredRowDone<VD>(j, b, band, y, i);
                }
                continue;
            }
            const double* rows[kLargestFilterMask + kDownRows];
            for (int32_t k = 0; k < b.n + kDownRows - 1; k++)
                rows[k] = AcrossRow<VD, K>(j, b, band, y - b.h + k);
            uint16_t* out[kDownRows];
            for (int32_t i = 0; i < kDownRows; i++)
                out[i] = BlurredRow(j, b, band, y, i);
            if constexpr (sizeof(VD) == 64)
                DownRowsTiled<VD, kDownTile512, 1>(j, rows, b.w, out);
            else
                DownRowsTiled<VD, kDownTileNarrow, kDownTileNarrowVectors>(j, rows, b.w, out);
            for (int32_t i = 0; i < kDownRows; i++)
                BlurredRowDone<VD>(j, b, band, y, i);
        }
        for (; y < band.y1; y++) {
            SmoothInto<VD, K>(j, b, band, y, BlurredRow(j, b, band, y, 0));
            BlurredRowDone<VD>(j, b, band, y, 0);
        }
        return;
    }
    for (int32_t y = band.y0; y < band.y1; y++) {
        const uint16_t* up = SmoothRow<VD, K>(j, b, band, b.Clamp(y - 1));
        const uint16_t* mid = SmoothRow<VD, K>(j, b, band, y);
        const uint16_t* down = SmoothRow<VD, K>(j, b, band, b.Clamp(y + 1));
        LaplaceRow<VD>(up, mid, down, band.Row(y), b.w, j.factor, band.OutRow(y));
        band.RowDone(y);
    }
}

void SeparableBase(const SeparableJob& j, FilterBand& band, uint8_t* scratch)
{
    SeparableRows<Double2, kVectors>(j, band, scratch);
}

#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX2 void SeparableAvx2(const SeparableJob& j, FilterBand& band, uint8_t* scratch)
{
    SeparableRows<Double4, kVectors>(j, band, scratch);
}

NYRA_TARGET_AVX512 void SeparableAvx512(const SeparableJob& j, FilterBand& band, uint8_t* scratch)
{
    SeparableRows<Double8, kVectors512>(j, band, scratch);
}
#endif

void SeparableBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const SeparableJob& j = *static_cast<const SeparableJob*>(context);
#if NYRA_HAVE_AVX2_PATH
    switch (SimdLevel()) {
    case 2: SeparableAvx512(j, band, scratch); return;
    case 1: SeparableAvx2(j, band, scratch); return;
    default: break;
    }
#endif
    SeparableBase(j, band, scratch);
}

bool Run(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t halo,
         const SeparableJob& job)
{
    if (!src || !dst || width <= 0 || height <= 0 || job.n < 0 || job.n > kLargestFilterMask)
        return false;
    // Gaussian Blur and Unsharp Mask read each input row into their ring of rows filtered
    // across, and Unsharp Mask once more just before it writes that row: neither reads a row
    // after writing it, so their rows go straight into the image. Laplace keeps a ring.
    const int32_t rowsAhead = job.laplace ? 1 : kBodyCopiesInput;
    return RunFilterBands(src, dst, width, height, halo, 32, LayoutFor(job.n, width).total, SeparableBand,
                          const_cast<SeparableJob*>(&job), rowsAhead);
}

}  // namespace

bool SeparableBlur(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                   const double* weights)
{
    if (n < 1)
        return false;
    const SeparableJob job{weights, n, n / 2, true, false, 0.0, false};
    return Run(src, dst, width, height, n / 2, job);
}

bool UnsharpBands(uint16_t* pixels, int32_t width, int32_t height, int32_t n, const double* weights,
                  double factor)
{
    if (n < 1)
        return false;
    const SeparableJob job{weights, n, n / 2, true, false, factor, true};
    return Run(pixels, pixels, width, height, n / 2, job);
}

bool LaplaceBands(uint16_t* pixels, int32_t width, int32_t height, int32_t n, const double* weights,
                  double factor)
{
    const SeparableJob job{weights, n, n / 2, false, true, factor, false};
    return Run(pixels, pixels, width, height, n > 0 ? n / 2 + 1 : 1, job);
}
