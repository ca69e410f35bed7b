// Weighted-sum neighbourhood filters: Gaussian Blur (19), Gaussian Edge Enhancement (20),
// Laplace Edge Enhancement (21), Sharpen (22) and Smooth (23), with clamped borders.
// Inputs: a W x H block, the mask size and level of a filter entry. Output: the same block.
// Method: the Gaussian Blur kernel is the product of one 1-D Gaussian across and down, so it
// runs as two passes (filter_separable.cpp), which also combine each row of Gaussian Edge
// Enhancement with its unblurred row. Sharpen weights depend only on a neighbour's
// distance from the middle; it runs the radial engine (filter_convolve_radial.cpp), which adds
// equal-weight pixels as integers. Smooth is an exact integer box sum. All three write back in
// place through row bands.
// Failure: without the output block, the weights or the working rows, the image is unchanged.
#include "imaging/filter_convolve.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/filter_bands.h"
#include "imaging/filter_convolve_radial.h"
#include "imaging/filter_separable.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

// Smooth: exact integer window sums. A band keeps the vertical window sum of every padded
// column, moved down one row at a time (one row in, one out). A row's window sums are then
// differences of the running total of those column sums, exact in 32-bit arithmetic modulo
// 2^32 because every window sum is below 2^32: only that total is serial, the rest vectorises.
struct BoxJob {
    int32_t n;
};

size_t BoxScratchBytes(int32_t n, int32_t width)
{
    return (2 * ((size_t)width + (size_t)n - 1) + 1) * sizeof(uint32_t);
}

NYRA_ALWAYS_INLINE void BoxRows(const BoxJob& job, FilterBand& band, uint8_t* scratch)
{
    const int32_t n = job.n, h = n / 2, w = band.width, pw = w + 2 * h;
    uint32_t* col = reinterpret_cast<uint32_t*>(scratch);  // col[h + x]: image column x
    uint32_t* total = col + pw;                            // total[x]: col[0] + .. + col[x - 1]
    memset(col, 0, (size_t)pw * sizeof(uint32_t));
    for (int32_t i = -h; i <= h; i++) {
        const uint16_t* r = band.Row(band.y0 + i);
        for (int32_t x = 0; x < w; x++)
            col[h + x] += r[x];
    }
    const double scale = 1.0 / (double)(n * n);
    for (int32_t y = band.y0; y < band.y1; y++) {
        for (int32_t x = 0; x < h; x++) {  // the edge columns repeat the first and last pixel
            col[x] = col[h];
            col[h + w + x] = col[h + w - 1];
        }
        total[0] = 0;
        for (int32_t x = 0; x < pw; x++)
            total[x + 1] = total[x] + col[x];
        uint16_t* out = band.OutRow(y);
        for (int32_t x = 0; x < w; x++) {
            // The unsigned sum as a double through the signed conversion every vector unit has.
            const uint32_t sum = total[x + n] - total[x];
            const double s = (double)(int32_t)(sum ^ 0x80000000u) + 2147483648.0;
            out[x] = RoundClamp(s * scale);
        }
        if (y + 1 < band.y1) {
            const uint16_t* leave = band.Row(y - h);
            const uint16_t* enter = band.Row(y + h + 1);
            for (int32_t x = 0; x < w; x++)
                col[h + x] += (uint32_t)enter[x] - (uint32_t)leave[x];
        }
        band.RowDone(y);
    }
}

void BoxRowsBase(const BoxJob& job, FilterBand& band, uint8_t* scratch)
{
    BoxRows(job, band, scratch);
}

#if NYRA_HAVE_AVX2_PATH
NYRA_TARGET_AVX2 void BoxRowsAvx2(const BoxJob& job, FilterBand& band, uint8_t* scratch)
{
    BoxRows(job, band, scratch);
}

NYRA_TARGET_AVX512 void BoxRowsAvx512(const BoxJob& job, FilterBand& band, uint8_t* scratch)
{
    BoxRows(job, band, scratch);
}
#endif

void BoxBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const BoxJob& job = *static_cast<const BoxJob*>(context);
#if NYRA_HAVE_AVX2_PATH
    switch (SimdLevel()) {
    case 2: BoxRowsAvx512(job, band, scratch); return;
    case 1: BoxRowsAvx2(job, band, scratch); return;
    default: break;
    }
#endif
    BoxRowsBase(job, band, scratch);
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

// exp(-(i^2 + j^2) / n^2) is exp(-i^2 / n^2) times exp(-j^2 / n^2), and the sum of the n x n
// weights is the square of the sum of the n: the kernel divided by its sum is the product of
// these normalised weights across and down.
bool GaussianBlurAxisWeights(int32_t mask, double* weights, int32_t* nOut)
{
    int32_t n = NormaliseMask(mask);
    if (n == 0)
        return false;
    const int32_t h = n / 2;
    double sum = 0.0;
    for (int32_t i = 0; i < n; i++) {
        weights[i] = std::exp(-(double)((i - h) * (i - h)) / (double)(n * n));
        sum += weights[i];
    }
    for (int32_t i = 0; i < n; i++)
        weights[i] = weights[i] / sum;
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

bool GaussianBlurInto(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t mask)
{
    size_t count = PixelCount(width, height);
    if (!src || !dst || count == 0)
        return false;
    int32_t n = NormaliseMask(mask);
    FilterBuffer<double> weights(n > 0 ? (size_t)n : 0);
    if (!weights || !GaussianBlurAxisWeights(mask, weights.data(), &n)
        || !SeparableBlur(src, dst, width, height, n, weights.data())) {
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
    int32_t n = NormaliseMask(mask);
    if (!pixels || PixelCount(width, height) == 0 || n == 0)
        return;
    BoxJob job{n};
    RunFilterBands(pixels, pixels, width, height, n / 2, 32, BoxScratchBytes(n, width), BoxBand, &job);
}

void GaussianEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level)
{
    // Without its weights or its memory the filter leaves the image as it is, as the blur it
    // starts from would then be the image itself.
    int32_t n = NormaliseMask(mask);
    if (!pixels || PixelCount(width, height) == 0 || n == 0)
        return;
    FilterBuffer<double> weights((size_t)n);
    if (!weights || !GaussianBlurAxisWeights(mask, weights.data(), &n))
        return;
    UnsharpBands(pixels, width, height, n, weights.data(), (double)level / 400.0);
}
