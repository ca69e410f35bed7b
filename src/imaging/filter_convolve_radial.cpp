// Radial convolution: the engine of Sharpen (a kernel whose weights depend only on a
// neighbour's distance from the middle), with clamped borders.
// Inputs: a W x H block, the n x n weights; output: the block convolved (in place through row
// bands, filter_bands.h, which equals a second block copied back).
// Method: the pixels of one squared distance (a class) are added as integers, which is exact,
// and each class sum is multiplied by its weight once. For the Sharpen kernel (weight c / d)
// the classes whose distances are integer multiples m of one root, d = m sqrt(q), are scaled
// by integers L / m and added as integers too, so a group costs one product by c / (L sqrt q)
// (a 21 x 21 Sharpen: 32 products per pixel instead of 441; filter_radial_shape.h). The order
// of the additions differs from a row-by-row loop, which can move a result across a rounding
// boundary only when the exact sum lies within a few ulps of x.5.
// Each output row first adds the rows above and below it in pairs (the kernel is symmetric),
// then sums the terms across, a block of output pixels at a time. The masks up to 21 (all a
// stored list holds) run code compiled for their shape, in strips of 256 columns whose pair
// rows have a fixed stride, so every term is one load at an offset known when compiling; with
// AVX2 or AVX-512, the masks from 11 run it on striped rows, whose term loads are all aligned.
// Larger masks, and kernels whose classes cannot merge, loop over the terms of a plan built
// at run time, whole rows at a time. Both forms add the same sums in the same order. Sharpen 21, measured on one
// machine, plan against compiled: 32-bit build under Wine 50 -> 41 ms with AVX-512, 76 -> 44
// with AVX2, 160 -> 90 on the baseline; 64-bit 38 -> 38, 46 -> 42, 102 -> 83.
// Failure: without the plan or the working rows nothing is written and false is returned.
#include "imaging/filter_convolve_radial.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imaging/filter_bands.h"
#include "imaging/filter_doubles.h"
#include "imaging/filter_radial_shape.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_stripes.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

constexpr int32_t kMaxHalf = kLargestFilterMask / 2;
constexpr int32_t kBlock = 96;  // widest block of output pixels (AVX-512, six vectors)

// Compiled shapes: masks up to 2 kCompiledHalf + 1, in strips of kStrip output columns with
// kMargin columns on each side, so that the pair rows have a stride known when compiling.
constexpr int32_t kCompiledHalf = 10;
constexpr int32_t kStrip = 256;
constexpr int32_t kMargin = 16;
constexpr int32_t kCompiledStride = kStrip + 2 * kMargin;
static_assert(kMargin >= kCompiledHalf, "margins narrower than the window");

// Vectors per block of the compiled shapes: with eight vector registers (32-bit x86) one,
// else two (measured: Sharpen 21, 32-bit AVX-512, 41 against 43 ms; 64-bit, 38 against 39).
#if NYRA_WIDE_REGISTERS
constexpr int kCompiledVectors = 2;
#else
constexpr int kCompiledVectors = 1;
#endif
// With AVX2 and AVX-512 the compiled masks from kStripedFrom run on striped rows (below).
// Striping and unstriping cost about 0.7 ms a frame (2580 x 1706), so the smallest masks keep
// the strips (measured on both paths and widths: mask 9 up to 1 ms faster in strips, 11 faster
// striped).
constexpr int32_t kStripedFrom = 11;
std::atomic<int32_t> CompiledShapes{1};  // SetRadialShapesCompiled

struct RadialPlan {
    RadialShape<kMaxHalf> shape;
    double groupWeight[RadialShape<kMaxHalf>::kPairs];
    ptrdiff_t termOffset[RadialShape<kMaxHalf>::kTerms];  // bytes: (row * stride + column) * 4
};

// Each group's weight, from the weight of its first class; false when a class's weight is not
// its multiple of the group's (weights not of the form c / d), so the classes cannot merge.
template <int32_t H>
bool GroupWeights(const RadialShape<H>& s, int32_t n, const double* weights, double* groupWeight)
{
    const int32_t h = n / 2;
    bool consistent = true;
    for (int32_t e = 0; e < s.classCount; e++) {
        const int32_t g = s.classGroup[e];
        const double w = weights[(size_t)(h + s.classA[e]) * n + (h + s.classB[e])];
        const double lcm = (double)s.groupLcm[g];
        if (e == 0 || s.classGroup[e - 1] != g)
            groupWeight[g] = w * (double)s.classRoot[e] / lcm;
        const double expected = groupWeight[g] * (lcm / s.classRoot[e]);
        if (std::fabs(expected - w) > 1e-12 * std::fabs(w))
            consistent = false;
    }
    return consistent;
}

// The plan for any mask: the shape merged where the weights allow, one group per class
// otherwise, and each term's byte offset in pair rows of the given stride.
void BuildPlan(RadialPlan* p, int32_t n, int32_t stride, const double* weights)
{
    BuildRadialShape(n, true, &p->shape);
    if (!GroupWeights(p->shape, n, weights, p->groupWeight)) {
        BuildRadialShape(n, false, &p->shape);
        GroupWeights(p->shape, n, weights, p->groupWeight);
    }
    for (int32_t t = 0; t < p->shape.termCount; t++)
        p->termOffset[t] = ((ptrdiff_t)p->shape.termRow[t] * stride + p->shape.termColumn[t]) * 4;
}

template <int32_t N>
struct CompiledShape {
    static constexpr RadialShape<N / 2> kShape = MakeRadialShape<N / 2>(N);
};

// The group weights and class multiples of compiled mask n, N .. 2 kCompiledHalf + 1; false
// when n has no compiled shape or its weights do not merge as the shape does.
template <int32_t N = 3>
bool CompiledWeights(int32_t n, const double* weights, double* groupWeight, int32_t* multiple)
{
    if (n == N) {
        constexpr const RadialShape<N / 2>& sh = CompiledShape<N>::kShape;
        for (int32_t c = 0; c < sh.classCount; c++)
            multiple[c] = sh.classMultiple[c];
        return GroupWeights(sh, N, weights, groupWeight);
    }
    if constexpr (N < 2 * kCompiledHalf + 1)
        return CompiledWeights<N + 2>(n, weights, groupWeight, multiple);
    return false;
}

size_t PairRowBytes(int32_t h, int32_t stride)
{
    return Align64((size_t)(h + 1) * (size_t)stride * sizeof(int32_t));
}

// Pair rows of output row y for columns x0 - h .. x0 + width + h - 1 (clamped to the image):
// v[0] is the row itself, v[a] the rows a above and a below added; v[a][j] is column x0 + j.
NYRA_ALWAYS_INLINE void VerticalPairs(const FilterBand& band, int32_t y, int32_t h, int32_t x0, int32_t width,
                                      int32_t* const* v)
{
    const int32_t w = band.width;
    const int32_t first = x0 - h < 0 ? -x0 : -h;                  // the columns inside the image,
    const int32_t end = x0 + width + h > w ? w - x0 : width + h;  // first .. end - 1
    for (int32_t a = 0; a <= h; a++) {
        const uint16_t* __restrict up = band.Row(y - a) + x0;
        const uint16_t* __restrict dn = band.Row(y + a) + x0;
        int32_t* __restrict va = v[a];
        if (a == 0) {
            for (int32_t j = first; j < end; j++)
                va[j] = up[j];
        } else {
            for (int32_t j = first; j < end; j++)
                va[j] = (int32_t)up[j] + (int32_t)dn[j];
        }
        for (int32_t j = -h; j < first; j++)
            va[j] = va[first];
        for (int32_t j = end; j < width + h; j++)
            va[j] = va[end - 1];
    }
}

// K vectors of output pixels from column base[0] on, from a plan: integer class sums,
// integer group sums, then per group one product added to the running double sums, in group
// order. Integer sums do not depend on their order, so with AVX-512 (registers to spare) a
// class of multiple 1 adds straight into its group's sum.
template <typename VI, typename VD, int K, bool kOnesDirect = sizeof(VI) == 64>
NYRA_ALWAYS_INLINE void PlanBlock(const RadialPlan& p, const int32_t* base, double* out)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VI) / sizeof(int32_t));
    const RadialShape<kMaxHalf>& sh = p.shape;
    VD acc[2 * K];
    for (int k = 0; k < 2 * K; k++)
        acc[k] = VD{};
    int32_t c = 0, t = 0;
    for (int32_t g = 0; g < sh.groupCount; g++) {
        VI s[K];
        for (int k = 0; k < K; k++)
            s[k] = VI{};
        for (const int32_t classEnd = sh.groupClassEnd[g]; c < classEnd; c++) {
            const int32_t termEnd = sh.classTermEnd[c];
            if (kOnesDirect && sh.classMultiple[c] == 1) {
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
            const int32_t m = sh.classMultiple[c];
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

// Straight-line sums as written: without this, GCC regroups a block's hundreds of additions
// into trees whose operands no register file holds, and defers the products of the double
// sums to the end of the block, keeping every group's converted sum on the stack till then.
template <typename V>
NYRA_ALWAYS_INLINE void InOrder(V& v)
{
    asm volatile("" : "+v"(v));
}

// Where the pair rows lie: row by row in a strip (kCompiledStride columns of int32 each), or
// striped, every entry holding one vector of each of the H + 1 pair rows.
struct RowsLayout {
    template <typename VI, int32_t H>
    static constexpr ptrdiff_t Term(int32_t row, int32_t column)
    {
        return ((ptrdiff_t)row * kCompiledStride + column) * 4;
    }
    template <typename VI, int32_t H>
    static constexpr ptrdiff_t Vector(int k)
    {
        return (ptrdiff_t)k * (ptrdiff_t)sizeof(VI);
    }
};

struct StripedLayout {
    template <typename VI, int32_t H>
    static constexpr ptrdiff_t Term(int32_t row, int32_t column)
    {
        return ((ptrdiff_t)column * (H + 1) + row) * (ptrdiff_t)sizeof(VI);
    }
    template <typename VI, int32_t H>
    static constexpr ptrdiff_t Vector(int k)
    {
        return (ptrdiff_t)k * (H + 1) * (ptrdiff_t)sizeof(VI);
    }
};

// Term T of compiled mask N, for K vectors of output pixels: its pair row added into the class
// sums cs, or straight into the group sums s for a class of multiple 1; the class sums scaled
// into s after its last term; the group's products added to acc after its last term.
template <typename VI, typename VD, int K, int32_t N, typename At, int32_t T>
NYRA_ALWAYS_INLINE void CompiledTerm(const char* base, const double* groupWeight, const int32_t* multiple,
                                     VI* s, VI* cs, VD* acc)
{
    constexpr const RadialShape<N / 2>& sh = CompiledShape<N>::kShape;
    constexpr int32_t c = sh.termClass[T];
    constexpr int32_t g = sh.classGroup[c];
    constexpr bool direct = sh.classMultiple[c] == 1;
    constexpr bool classStarts = T == 0 || sh.termClass[T - 1] != c;
    constexpr bool classEnds = T + 1 == sh.termCount || sh.termClass[T + 1] != c;
    constexpr bool firstClass = c == 0 || sh.classGroup[c - 1] != g;  // of its group
    constexpr bool groupEnds = classEnds && (c + 1 == sh.classCount || sh.classGroup[c + 1] != g);
    constexpr ptrdiff_t offset = At::template Term<VI, N / 2>(sh.termRow[T], sh.termColumn[T]);
    for (int k = 0; k < K; k++) {
        VI v;
        memcpy(&v, base + offset + At::template Vector<VI, N / 2>(k), sizeof(VI));
        if (direct) {
            s[k] = firstClass && classStarts ? v : s[k] + v;
            InOrder(s[k]);
        } else {
            cs[k] = classStarts ? v : cs[k] + v;
            InOrder(cs[k]);
        }
    }
    if constexpr (!direct && classEnds) {
        // The multiple is read at run time: as a constant, GCC turns each product into a
        // chain of shifts and subtractions.
        const int32_t m = multiple[c];
        for (int k = 0; k < K; k++)
            s[k] = firstClass ? cs[k] * m : s[k] + cs[k] * m;
    }
    if constexpr (groupEnds) {
        const VD w = groupWeight[g] - VD{};  // a broadcast (x - 0 is x, also for -0)
        for (int k = 0; k < K; k++) {
            VD lo, hi;
            ToDoubles(s[k], &lo, &hi);
            acc[2 * k] += w * lo;
            acc[2 * k + 1] += w * hi;
            InOrder(acc[2 * k]);
            InOrder(acc[2 * k + 1]);
        }
    }
}

template <typename VI, typename VD, int K, int32_t N, typename At, size_t... T>
NYRA_ALWAYS_INLINE void CompiledTerms(const char* base, const double* groupWeight, const int32_t* multiple,
                                      VD* acc, std::index_sequence<T...>)
{
    VI s[K], cs[K];
    (CompiledTerm<VI, VD, K, N, At, (int32_t)T>(base, groupWeight, multiple, s, cs, acc), ...);
}

// The sums of K vectors of output pixels from column base[0] on (acc: 2 K vectors of
// doubles), through the compiled shape of mask N.
template <typename VI, typename VD, int K, int32_t N, typename At = RowsLayout>
NYRA_ALWAYS_INLINE void CompiledSums(const double* groupWeight, const int32_t* multiple, const void* base,
                                     VD* acc)
{
    for (int k = 0; k < 2 * K; k++)
        acc[k] = VD{};
    // The weights and multiples are read in each block rather than once for all: their
    // broadcasts would take every register.
    asm("" : "+r"(groupWeight), "+r"(multiple));
    CompiledTerms<VI, VD, K, N, At>(reinterpret_cast<const char*>(base), groupWeight, multiple, acc,
                                    std::make_index_sequence<CompiledShape<N>::kShape.termCount>{});
}

struct RadialJob {
    const RadialPlan* plan;  // null: the compiled shape of mask n
    const double* groupWeight;
    const int32_t* multiple;  // of each class, for the compiled shape
    int32_t n, h;
    int32_t strip, stride;  // of the plan: whole rows
};

// Output pixels x0 .. x0 + width - 1 of a strip into px, from its pair rows (v0: row 0).
// sums: room for one block of doubles.
typedef void (*StripSums)(const RadialJob& j, const int32_t* v0, int32_t width, double* sums, uint16_t* px);

template <typename VI, typename VD, int32_t N>
NYRA_ALWAYS_INLINE void CompiledStrip(const RadialJob& j, const int32_t* v0, int32_t width, double* sums,
                                      uint16_t* px)
{
    constexpr int K = kCompiledVectors;
    constexpr int32_t kHalf = (int32_t)(sizeof(VD) / sizeof(double));  // pixels per double vector
    VD acc[2 * K];
    int32_t x = 0;
    for (; x + 2 * K * kHalf <= width; x += 2 * K * kHalf) {
        CompiledSums<VI, VD, K, N>(j.groupWeight, j.multiple, v0 + x, acc);
        for (int k = 0; k < 2 * K; k++)
            RoundVector(acc[k], px + x + k * kHalf);
    }
    if (x < width) {  // a block past the strip's end: only its first pixels are kept
        CompiledSums<VI, VD, K, N>(j.groupWeight, j.multiple, v0 + x, acc);
        memcpy(sums, acc, sizeof acc);
        RoundRow(sums, width - x, px + x);
    }
}

template <int32_t N>
void CompiledStripBase(const RadialJob& j, const int32_t* v0, int32_t width, double* sums, uint16_t* px)
{
    CompiledStrip<Int4, Double2, N>(j, v0, width, sums, px);
}

#if NYRA_HAVE_AVX2_PATH
template <int32_t N>
NYRA_TARGET_AVX2 void CompiledStripAvx2(const RadialJob& j, const int32_t* v0, int32_t width, double* sums,
                                        uint16_t* px)
{
    CompiledStrip<Int8, Double4, N>(j, v0, width, sums, px);
}

template <int32_t N>
NYRA_TARGET_AVX512 void CompiledStripAvx512(const RadialJob& j, const int32_t* v0, int32_t width,
                                            double* sums, uint16_t* px)
{
    CompiledStrip<Int16, Double8, N>(j, v0, width, sums, px);
}
#endif

// The compiled strip of mask n (N .. 2 kCompiledHalf + 1) for a SIMD level; null for other
// masks, and for those that run striped rows.
template <int32_t N = 3>
StripSums CompiledStripFor(int simd, int32_t n)
{
    if (n == N) {
#if NYRA_HAVE_AVX2_PATH
        if (simd > 0) {
            if constexpr (N < kStripedFrom)
                return simd == 2 ? CompiledStripAvx512<N> : CompiledStripAvx2<N>;
            return nullptr;
        }
#endif
        (void)simd;
        return CompiledStripBase<N>;
    }
    if constexpr (N < 2 * kCompiledHalf + 1)
        return CompiledStripFor<N + 2>(simd, n);
    return nullptr;
}

// ---- striped rows (AVX2, AVX-512) -------------------------------------------------------
// With eight or sixteen lanes, many term loads of the strips straddle two cache lines (a term
// is one column over from the next). Striped, the row is cut into L stripes of S columns (L
// the lanes) and lane l of entry e holds column l S + e, so a block's terms are whole aligned
// vectors: entry e + c holds every lane's neighbour c columns over. Input rows are striped
// once each, into a ring of n rows; each entry of the pair rows holds one vector of each of
// them (StripedLayout), and the sums of an output row are unstriped as they are written.
// Sharpen 21, measured: AVX-512 64-bit 37 -> 31.3 ms, 32-bit under Wine 40.5 -> 34 ms; AVX2
// 64-bit 40 -> 35, 32-bit 42 -> 38. (The baseline's 16-byte loads straddle rarely; it
// measured no gain.)
#if NYRA_HAVE_AVX2_PATH
constexpr int32_t kMostStripes = 16;
constexpr int32_t kPairTile = 16;  // entries of pair rows built at a time

typedef void (*StripedSums)(const RadialJob& j, const void* pairs, int32_t entries, uint16_t* out);

// out[e * L + l] = output pixel of lane l at entry e, for entries 0 .. entries - 1 (rounded
// up to whole blocks); pairs: the pair rows' vectors at entry 0.
template <typename VI, typename VD, int32_t N>
NYRA_ALWAYS_INLINE void StripedEntries(const RadialJob& j, const void* pairs, int32_t entries, uint16_t* out)
{
    constexpr int K = kCompiledVectors;
    constexpr int32_t L = (int32_t)(sizeof(VI) / sizeof(int32_t)), kHalf = L / 2;
    const VI* p = static_cast<const VI*>(pairs);
    for (int32_t e = 0; e < entries; e += K) {
        VD acc[2 * K];
        CompiledSums<VI, VD, K, N, StripedLayout>(j.groupWeight, j.multiple, p + e * (N / 2 + 1), acc);
        for (int k = 0; k < 2 * K; k++)
            RoundVector(acc[k], out + (size_t)e * L + k * kHalf);
    }
}

template <int32_t N>
NYRA_TARGET_AVX2 void StripedEntriesAvx2(const RadialJob& j, const void* pairs, int32_t entries,
                                         uint16_t* out)
{
    StripedEntries<Int8, Double4, N>(j, pairs, entries, out);
}

template <int32_t N>
NYRA_TARGET_AVX512 void StripedEntriesAvx512(const RadialJob& j, const void* pairs, int32_t entries,
                                             uint16_t* out)
{
    StripedEntries<Int16, Double8, N>(j, pairs, entries, out);
}

template <int32_t N = kStripedFrom>
StripedSums StripedEntriesFor(int simd, int32_t n)
{
    if (n == N)
        return simd == 2 ? StripedEntriesAvx512<N> : StripedEntriesAvx2<N>;
    if constexpr (N < 2 * kCompiledHalf + 1)
        return StripedEntriesFor<N + 2>(simd, n);
    return nullptr;
}

// A band's striped working memory: the input row with its edges repeated (one stripe's reach
// past the last), the ring of striped input rows, the pair rows and the striped output row.
struct Stripes {
    int32_t S, entries;                   // entries of a striped row: S + 2 h and a block of slack
    size_t padLength, rowLength;          // pixels
    size_t pad, ring, pairs, out, total;  // byte offsets
};

// For L stripes; each part is largest for the most stripes.
Stripes StripesFor(int32_t L, int32_t w, int32_t h)
{
    Stripes st;
    st.S = (w + L - 1) / L;
    st.entries = st.S + 2 * h + kCompiledVectors;
    st.padLength = (size_t)L * st.S + 2 * h + kCompiledVectors;
    st.rowLength = Align64((size_t)st.entries * L * sizeof(uint16_t)) / sizeof(uint16_t);
    st.pad = 0;
    st.ring = Align64(st.padLength * sizeof(uint16_t));
    st.pairs = st.ring + (size_t)(2 * h + 1) * st.rowLength * sizeof(uint16_t);
    st.out = st.pairs + (size_t)st.entries * (h + 1) * L * sizeof(int32_t);
    st.total = st.out + Align64(((size_t)st.S + kCompiledVectors) * L * sizeof(uint16_t));
    return st;
}

template <typename VI>
NYRA_ALWAYS_INLINE void StripedRows(const RadialJob& j, StripedSums sums, FilterBand& band, uint8_t* scratch)
{
    constexpr int32_t L = (int32_t)(sizeof(VI) / sizeof(int32_t));
    const int32_t w = band.width, h = j.h, n = 2 * h + 1;
    const Stripes st = StripesFor(L, w, h);
    const int32_t S = st.S, E = st.entries;
    uint16_t* pad = reinterpret_cast<uint16_t*>(scratch + st.pad);
    uint16_t* ring = reinterpret_cast<uint16_t*>(scratch + st.ring);
    VI* pairs = reinterpret_cast<VI*>(scratch + st.pairs);
    uint16_t* striped = reinterpret_cast<uint16_t*>(scratch + st.out);
    int32_t ringRow[kLargestFilterMask];  // the input row each slot holds
    for (int32_t i = 0; i < n; i++)
        ringRow[i] = INT32_MIN;
    for (int32_t y = band.y0; y < band.y1; y++) {
        const uint16_t* in[kLargestFilterMask];  // rows y - h .. y + h
        for (int32_t i = -h; i <= h; i++) {
            const int32_t r = y + i, slot = ((r % n) + n) % n;
            uint16_t* row = ring + (size_t)slot * st.rowLength;
            if (ringRow[slot] != r) {
                StripeRow<L>(band.Row(r), w, h, S, E, st.padLength, pad, row);
                ringRow[slot] = r;
            }
            in[i + h] = row;
        }
        // A tile of entries at a time, pair row by pair row: the two input rows' pointers stay
        // in registers and the tile's stores in the first-level cache. Each tile also asks for
        // its share of the next input row, which would otherwise be waited for in StripeRow.
        const uint16_t* next = band.RowAhead(y + h + 1);
        for (int32_t e0 = 0; e0 < E; e0 += kPairTile) {
            const int32_t e1 = std::min(E, e0 + kPairTile);
            PrefetchRowLines(next, e0 * L, std::min(e1 * L, w));
            for (int32_t a = 0; a <= h; a++) {
                const uint16_t* up = in[h - a];
                const uint16_t* dn = in[h + a];
                for (int32_t e = e0; e < e1; e++) {
                    VI v, d;
                    WidenPixels(up + (size_t)e * L, &v);
                    if (a > 0) {
                        WidenPixels(dn + (size_t)e * L, &d);
                        v += d;
                    }
                    pairs[(size_t)e * (h + 1) + a] = v;
                }
            }
        }
        sums(j, pairs + (size_t)h * (h + 1), S, striped);
        UnstripeRow<L>(striped, S, w, band.OutRow(y));
        band.RowDone(y);
    }
}

NYRA_TARGET_AVX2 void StripedRowsAvx2(const RadialJob& j, StripedSums sums, FilterBand& band,
                                      uint8_t* scratch)
{
    StripedRows<Int8>(j, sums, band, scratch);
}

NYRA_TARGET_AVX512 void StripedRowsAvx512(const RadialJob& j, StripedSums sums, FilterBand& band,
                                          uint8_t* scratch)
{
    StripedRows<Int16>(j, sums, band, scratch);
}
#endif

// The rows of a band, strip by strip: through the compiled strip, one vector per block, or
// from the plan, K vectors per block. scratch: h + 1 pair rows of `stride` int32 (a strip, its
// margins and a block of slack so the last block may read past it), then the strip's sums.
template <typename VI, typename VD, int K>
NYRA_ALWAYS_INLINE void RadialRows(const RadialJob& j, StripSums compiled, FilterBand& band, uint8_t* scratch)
{
    constexpr int32_t kLanes = (int32_t)(sizeof(VI) / sizeof(int32_t));
    static_assert(K * kLanes <= kBlock && kStrip % (kCompiledVectors * kLanes) == 0,
                  "blocks do not fit the strips");
    const int32_t w = band.width, h = j.h;
    const int32_t step = (compiled ? kCompiledVectors : K) * kLanes;
    const int32_t strip = compiled ? kStrip : j.strip;
    const int32_t stride = compiled ? kCompiledStride : j.stride;
    int32_t* rows = reinterpret_cast<int32_t*>(scratch);
    double* sums = reinterpret_cast<double*>(scratch + PairRowBytes(h, stride));
    int32_t* v[kMaxHalf + 1];
    for (int32_t a = 0; a <= h; a++)
        v[a] = rows + (size_t)a * stride + (compiled ? kMargin : h);
    for (int32_t y = band.y0; y < band.y1; y++) {
        uint16_t* out = band.OutRow(y);
        for (int32_t x0 = 0; x0 < w; x0 += strip) {
            const int32_t width = w - x0 < strip ? w - x0 : strip;
            // Blocks past the last column only feed pixels that are never written out.
            VerticalPairs(band, y, h, x0, (width + step - 1) / step * step, v);
            if (compiled) {
                compiled(j, v[0], width, sums, out + x0);
                continue;
            }
            for (int32_t x = 0; x < width; x += step)
                PlanBlock<VI, VD, K>(*j.plan, v[0] + x, sums + x);
            RoundRow(sums, width, out + x0);
        }
        band.RowDone(y);
    }
}

// Vectors per block of the plan: 32-bit x86 has eight vector registers, x86_64 sixteen
// (thirty-two with AVX-512); four vectors (six with AVX-512) keep every lane's running sum in
// a register.
#if NYRA_WIDE_REGISTERS
constexpr int kVectors = 4;
constexpr int kVectors512 = 6;  // 12 double and 12 integer sums of the 32 registers
#else
constexpr int kVectors = 2;
constexpr int kVectors512 = 2;
#endif

void RadialRowsBase(const RadialJob& j, StripSums compiled, FilterBand& band, uint8_t* scratch)
{
    RadialRows<Int4, Double2, kVectors>(j, compiled, band, scratch);
}

#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX2 void RadialRowsAvx2(const RadialJob& j, StripSums compiled, FilterBand& band,
                                     uint8_t* scratch)
{
    RadialRows<Int8, Double4, kVectors>(j, compiled, band, scratch);
}

NYRA_TARGET_AVX512 void RadialRowsAvx512(const RadialJob& j, StripSums compiled, FilterBand& band,
                                         uint8_t* scratch)
{
    RadialRows<Int16, Double8, kVectors512>(j, compiled, band, scratch);
}
#endif

void RadialBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const RadialJob& j = *static_cast<const RadialJob*>(context);
    const int simd = SimdLevel();
    const StripSums compiled = j.plan ? nullptr : CompiledStripFor(simd, j.n);
#if NYRA_HAVE_AVX2_PATH
    switch (simd) {
    case 2:
        if (!j.plan && j.n >= kStripedFrom)
            StripedRowsAvx512(j, StripedEntriesFor(simd, j.n), band, scratch);
        else
            RadialRowsAvx512(j, compiled, band, scratch);
        return;
    case 1:
        if (!j.plan && j.n >= kStripedFrom)
            StripedRowsAvx2(j, StripedEntriesFor(simd, j.n), band, scratch);
        else
            RadialRowsAvx2(j, compiled, band, scratch);
        return;
    default: break;
    }
#endif
    RadialRowsBase(j, compiled, band, scratch);
}

}  // namespace

bool RadialConvolve(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                    const double* weights)
{
    if (n < 1 || n > kLargestFilterMask || width <= 0)
        return false;
    const int32_t h = n / 2;
    RadialJob job{nullptr, nullptr, nullptr, n, h, 0, 0};
    double compiledWeights[RadialShape<kCompiledHalf>::kPairs];
    int32_t compiledMultiples[RadialShape<kCompiledHalf>::kPairs];
    const bool compiled =
        CompiledShapes.load() != 0 && CompiledWeights(n, weights, compiledWeights, compiledMultiples);
    FilterBuffer<RadialPlan> plan(compiled ? 0 : 1);
    int32_t strip = kStrip, stride = kCompiledStride;
    if (compiled) {
        job.groupWeight = compiledWeights;
        job.multiple = compiledMultiples;
    } else {
        if (!plan)
            return false;
        strip = job.strip = width;
        stride = job.stride = width + kBlock + 2 * h;
        BuildPlan(plan.data(), n, stride, weights);
        job.plan = plan.data();
        job.groupWeight = plan.data()->groupWeight;
    }
    size_t scratch = PairRowBytes(h, stride) + ((size_t)strip + kBlock) * sizeof(double);
    int32_t rowsAhead = 1;
#if NYRA_HAVE_AVX2_PATH
    if (compiled && n >= kStripedFrom) {  // striped rows (AVX2, AVX-512)
        scratch = std::max(scratch, StripesFor(kMostStripes, width, h).total);
        // The striped rows read each input row once, into their own ring, before they write
        // its output row; the other forms read the input rows again for every output row.
        if (SimdLevel() >= 1)
            rowsAhead = kBodyCopiesInput;
    }
#endif
    return RunFilterBands(src, dst, width, height, h, 32, scratch, RadialBand, &job, rowsAhead);
}

void SetRadialShapesCompiled(bool compiled)
{
    CompiledShapes.store(compiled ? 1 : 0);
}
