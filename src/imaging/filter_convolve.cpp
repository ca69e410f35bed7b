// Weighted-sum neighbourhood filters: Gaussian Blur (19), Gaussian Edge Enhancement (20),
// Laplace Edge Enhancement (21), Sharpen (22) and Smooth (23), with clamped borders.
// Inputs: a W x H block, the mask size and level of a filter entry. Output: the same block.
// Method: Gaussian Blur and Sharpen weights depend only on a neighbour's squared distance from
// the middle, so the pixels of each distance are first added as integers (exact) and each sum
// is multiplied by its weight once; a 21 x 21 Sharpen needs 61 products per pixel, not 441.
// Smooth is an exact integer box sum. The sums follow a different order from a row-by-row
// loop, which can move a result across a rounding boundary only when the exact sum lies
// within a few ulps of x.5.
// Gaussian Blur and Sharpen write back in place through row bands (filter_bands.h) instead of
// a second image-sized block; the result is the same.
// Failure: without the output block, the weights or the working rows, the image is unchanged.
#include "imaging/filter_convolve.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "imaging/filter_bands.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

constexpr int32_t kMaxHalf = kLargestFilterMask / 2;
constexpr int32_t kMaxPairs = (kMaxHalf + 1) * (kMaxHalf + 2) / 2;

// The neighbours at offsets (+-a, +-b) and (+-b, +-a), a >= b >= 0, share one weight.
struct RadialKernel {
    int32_t n, h;
    int32_t groupCount;
    int32_t groupFirst[kMaxPairs];
    int32_t groupSize[kMaxPairs];
    double groupWeight[kMaxPairs];
    int16_t pairA[kMaxPairs];
    int16_t pairB[kMaxPairs];
};

void BuildRadialKernel(int32_t n, const double* weights, RadialKernel* k)
{
    int32_t h = n / 2;
    k->n = n;
    k->h = h;
    int32_t count = 0;
    int32_t order[kMaxPairs];
    int32_t dist[kMaxPairs];
    for (int32_t a = 0; a <= h; a++) {
        for (int32_t b = 0; b <= a; b++) {
            k->pairA[count] = (int16_t)a;
            k->pairB[count] = (int16_t)b;
            dist[count] = a * a + b * b;
            order[count] = count;
            count++;
        }
    }
    std::sort(order, order + count, [&](int32_t x, int32_t y) {
        return dist[x] != dist[y] ? dist[x] < dist[y] : x < y;
    });
    int16_t sortedA[kMaxPairs], sortedB[kMaxPairs];
    for (int32_t i = 0; i < count; i++) {
        sortedA[i] = k->pairA[order[i]];
        sortedB[i] = k->pairB[order[i]];
    }
    memcpy(k->pairA, sortedA, sizeof(int16_t) * count);
    memcpy(k->pairB, sortedB, sizeof(int16_t) * count);
    k->groupCount = 0;
    for (int32_t i = 0; i < count; i++) {
        int32_t d = dist[order[i]];
        if (i == 0 || d != dist[order[i - 1]]) {
            int32_t g = k->groupCount++;
            k->groupFirst[g] = i;
            k->groupSize[g] = 0;
            k->groupWeight[g] = weights[(size_t)(h + k->pairA[i]) * n + (h + k->pairB[i])];
        }
        k->groupSize[k->groupCount - 1]++;
    }
}

constexpr int32_t kBlock = 32;  // pixels whose sums stay in registers across all groups

size_t RadialVrowBytes(int32_t h, int32_t width)
{
    size_t bytes = (size_t)(h + 1) * ((size_t)width + 2 * h + kBlock) * sizeof(int32_t);
    return (bytes + 63) & ~(size_t)63;
}

// One block of kBlock output pixels starting at column x0. v[a] points at the vertical pair
// sums for row offset a (v[0] the middle row), already shifted by h so that v[a][x] is the
// column of output pixel x. Integer sums of each equal-weight group first, then one product.
NYRA_ALWAYS_INLINE void RadialBlock(const RadialKernel& k, int32_t* const* v, int32_t x0,
                                    double* __restrict out)
{
    double acc[kBlock];
    for (int32_t i = 0; i < kBlock; i++)
        acc[i] = 0.0;
    const int32_t* __restrict v0 = v[0] + x0;
    for (int32_t g = 0; g < k.groupCount; g++) {
        int32_t s[kBlock];
        for (int32_t i = 0; i < kBlock; i++)
            s[i] = 0;
        const int32_t first = k.groupFirst[g], last = first + k.groupSize[g];
        for (int32_t p = first; p < last; p++) {
            const int32_t a = k.pairA[p], b = k.pairB[p];
            const int32_t* __restrict va = v[a] + x0;
            const int32_t* __restrict vb = v[b] + x0;
            if (a == 0) {
                for (int32_t i = 0; i < kBlock; i++)
                    s[i] += v0[i];
            } else if (b == 0) {
                for (int32_t i = 0; i < kBlock; i++)
                    s[i] += va[i] + v0[i - a] + v0[i + a];
            } else if (a == b) {
                for (int32_t i = 0; i < kBlock; i++)
                    s[i] += va[i - a] + va[i + a];
            } else {
                for (int32_t i = 0; i < kBlock; i++)
                    s[i] += va[i - b] + va[i + b] + vb[i - a] + vb[i + a];
            }
        }
        const double wt = k.groupWeight[g];
        for (int32_t i = 0; i < kBlock; i++)
            acc[i] += wt * (double)s[i];
    }
    for (int32_t i = 0; i < kBlock; i++)
        out[i] = acc[i];
}

// Vertical pair sums of one output row into padded columns (edge columns repeated):
// v[0] is the middle row, v[a] the rows a above and a below added.
NYRA_ALWAYS_INLINE void VerticalPairs(const FilterBand& band, int32_t y, int32_t h,
                                      int32_t* const* v)
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

// scratch: h + 1 rows of rowLength int32 (the padded width plus a block of slack, so the last
// block may read past the image), then width + kBlock doubles.
NYRA_ALWAYS_INLINE void RadialRowsBody(const RadialKernel& k, FilterBand& band, uint8_t* scratch)
{
    const int32_t h = k.h, w = band.width;
    const size_t rowLength = (size_t)w + 2 * h + kBlock;
    int32_t* vrows = reinterpret_cast<int32_t*>(scratch);
    double* acc = reinterpret_cast<double*>(scratch + RadialVrowBytes(h, w));
    // The slack past the padded width only feeds pixels that are never written out.
    memset(vrows, 0, (size_t)(h + 1) * rowLength * sizeof(int32_t));
    int32_t* v[kMaxHalf + 1];
    for (int32_t a = 0; a <= h; a++)
        v[a] = vrows + (size_t)a * rowLength + h;
    for (int32_t y = band.y0; y < band.y1; y++) {
        VerticalPairs(band, y, h, v);
        for (int32_t x0 = 0; x0 < w; x0 += kBlock)
            RadialBlock(k, v, x0, acc + x0);
        uint16_t* out = band.OutRow(y);
        for (int32_t x = 0; x < w; x++)
            out[x] = RoundClamp(acc[x]);
        band.RowDone(y);
    }
}

void RadialRowsBase(const RadialKernel& k, FilterBand& band, uint8_t* scratch)
{
    RadialRowsBody(k, band, scratch);
}

NYRA_TARGET_AVX2 void RadialRowsAvx2(const RadialKernel& k, FilterBand& band, uint8_t* scratch)
{
    RadialRowsBody(k, band, scratch);
}

NYRA_TARGET_AVX512 void RadialRowsAvx512(const RadialKernel& k, FilterBand& band,
                                         uint8_t* scratch)
{
    RadialRowsBody(k, band, scratch);
}

void RadialBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const RadialKernel& k = *static_cast<const RadialKernel*>(context);
    switch (SimdLevel()) {
    case 2: RadialRowsAvx512(k, band, scratch); break;
    case 1: RadialRowsAvx2(k, band, scratch); break;
    default: RadialRowsBase(k, band, scratch); break;
    }
}

// dst = src convolved with an n x n kernel whose weights depend only on the distance from the
// middle; dst may be src. False (dst untouched) without memory.
bool RadialConvolve(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height,
                    int32_t n, const double* weights)
{
    FilterBuffer<RadialKernel> kernel(1);
    if (!kernel)
        return false;
    BuildRadialKernel(n, weights, kernel.data());
    const int32_t h = n / 2;
    size_t scratch = RadialVrowBytes(h, width) + ((size_t)width + kBlock) * sizeof(double);
    return RunFilterBands(src, dst, width, height, h, 32, scratch, RadialBand, kernel.data());
}

// Smooth: exact integer window sums (vertical running column sums, then a horizontal slide).
struct BoxJob {
    const uint16_t* padded;
    int32_t pw, width, n;
    uint16_t* dst;
    std::atomic<bool> failed{false};
};

void BoxBand(void* context, int32_t y0, int32_t y1)
{
    BoxJob* job = static_cast<BoxJob*>(context);
    const int32_t n = job->n, pw = job->pw, w = job->width;
    FilterBuffer<uint32_t> cols((size_t)pw);
    if (!cols) {
        job->failed.store(true);
        return;
    }
    uint32_t* col = cols.data();
    memset(col, 0, sizeof(uint32_t) * pw);
    for (int32_t i = 0; i < n; i++) {
        const uint16_t* r = job->padded + (size_t)(y0 + i) * pw;
        for (int32_t x = 0; x < pw; x++)
            col[x] += r[x];
    }
    const double scale = 1.0 / (double)(n * n);
    for (int32_t y = y0; y < y1; y++) {
        uint32_t sum = 0;
        for (int32_t j = 0; j < n; j++)
            sum += col[j];
        uint16_t* out = job->dst + (size_t)y * w;
        for (int32_t x = 0; x < w; x++) {
            out[x] = RoundClamp((double)sum * scale);
            if (x + 1 < w)
                sum += col[x + n] - col[x];
        }
        if (y + 1 < y1) {
            const uint16_t* leave = job->padded + (size_t)y * pw;
            const uint16_t* enter = job->padded + (size_t)(y + n) * pw;
            for (int32_t x = 0; x < pw; x++)
                col[x] += (uint32_t)enter[x] - (uint32_t)leave[x];
        }
    }
}

// Runs a filter that writes a second block from the image, then copies it back.
template <typename F>
void ThroughSecondBlock(uint16_t* pixels, size_t count, F compute)
{
    FilterBuffer<uint16_t> out(count);
    if (!out)
        return;
    if (compute(out.data()))
        memcpy(pixels, out.data(), count * sizeof(uint16_t));
}

}  // namespace

bool GaussianBlurWeights(int32_t mask, double* weights, int32_t* nOut)
{
    int32_t n = NormaliseMask(mask);
    if (n == 0)
        return false;
    const int32_t h = n / 2;
    double sum = 0.0;
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) {
            int32_t d2 = (i - h) * (i - h) + (j - h) * (j - h);
            double w = std::exp(-(double)d2 / (double)(n * n));
            weights[(size_t)i * n + j] = w;
            sum += w;
        }
    }
    if (sum != 0.0) {
        for (int32_t i = 0; i < n * n; i++)
            weights[i] = weights[i] / sum;
    }
    *nOut = n;
    return true;
}

bool SharpenWeights(int32_t mask, int32_t level, double* weights, int32_t* nOut)
{
    int32_t n = NormaliseMask(mask);
    if (n == 0)
        return false;
    const int32_t h = n / 2;
    const double s = (double)level / 100.0;
    double negativeSum = 0.0;
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) {
            if (i == h && j == h)
                continue;
            double d = std::sqrt((double)((i - h) * (i - h) + (j - h) * (j - h)));
            double w = -(s + 1.0) / d;
            weights[(size_t)i * n + j] = w;
            negativeSum += w;
        }
    }
    double middle = (2.0 / std::pow(2.0, s)) * -negativeSum;
    weights[(size_t)h * n + h] = middle;
    double total = middle + negativeSum;
    if (total != 0.0) {
        double scale = 1.0 / total;
        for (int32_t i = 0; i < n * n; i++)
            weights[i] = weights[i] * scale;
    } else {
        for (int32_t i = 0; i < n * n; i++)
            weights[i] = 0.0;
    }
    *nOut = n;
    return true;
}

bool GaussianBlurInto(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height,
                      int32_t mask)
{
    size_t count = PixelCount(width, height);
    if (!src || !dst || count == 0)
        return false;
    int32_t n = NormaliseMask(mask);
    FilterBuffer<double> weights(n > 0 ? (size_t)n * n : 0);
    if (!weights || !GaussianBlurWeights(mask, weights.data(), &n) ||
        !RadialConvolve(src, dst, width, height, n, weights.data())) {
        if (dst != src)
            memcpy(dst, src, count * sizeof(uint16_t));
        return false;
    }
    return true;
}

void GaussianBlur(uint16_t* pixels, int32_t width, int32_t height, int32_t mask)
{
    // In place: the bands write each finished row back once no later row needs its input.
    if (pixels)
        GaussianBlurInto(pixels, pixels, width, height, mask);
}

void SharpenFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level)
{
    size_t count = PixelCount(width, height);
    int32_t n = NormaliseMask(mask);
    if (!pixels || count == 0 || n == 0)
        return;
    FilterBuffer<double> weights((size_t)n * n);
    if (!weights || !SharpenWeights(mask, level, weights.data(), &n))
        return;
    RadialConvolve(pixels, pixels, width, height, n, weights.data());
}

void SmoothFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask)
{
    size_t count = PixelCount(width, height);
    int32_t n = NormaliseMask(mask);
    if (!pixels || count == 0 || n == 0)
        return;
    ThroughSecondBlock(pixels, count, [&](uint16_t* out) {
        uint16_t* p = MakePaddedCopy(pixels, width, height, n / 2);
        if (!p)
            return false;
        BoxJob job;
        job.padded = p;
        job.pw = width + 2 * (n / 2);
        job.width = width;
        job.n = n;
        job.dst = out;
        ForEachRowBand(height, 32, BoxBand, &job);
        free(p);
        return !job.failed.load();
    });
}

void GaussianEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask,
                         int32_t level)
{
    size_t count = PixelCount(width, height);
    if (!pixels || count == 0)
        return;
    FilterBuffer<uint16_t> blurred(count);
    if (!blurred)
        return;
    GaussianBlurInto(pixels, blurred.data(), width, height, mask);
    const double factor = (double)level / 400.0;
    for (size_t i = 0; i < count; i++) {
        double v = pixels[i];
        pixels[i] = RoundClamp((v - (double)blurred[i]) * factor + v);
    }
}
