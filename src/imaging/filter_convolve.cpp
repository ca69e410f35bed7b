// Weighted-sum neighbourhood filters: Gaussian Blur (19), Gaussian Edge Enhancement (20),
// Laplace Edge Enhancement (21), Sharpen (22) and Smooth (23), with clamped borders.
// Inputs: a W x H block, the mask size and level of a filter entry. Output: the same block.
// Method: the Gaussian Blur kernel is the product of one 1-D Gaussian across and down, so it
// runs as two passes (filter_separable.cpp). Sharpen weights depend only on a neighbour's
// distance from the middle; it runs the radial engine (filter_convolve_radial.cpp), which adds
// equal-weight pixels as integers. Both write back in place through row bands. Smooth is an
// exact integer box sum.
// Failure: without the output block, the weights or the working rows, the image is unchanged.
#include "imaging/filter_convolve.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "imaging/filter_convolve_radial.h"
#include "imaging/filter_separable.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

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
    RadialConvolve(pixels, pixels, width, height, n, weights.data(), true);
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

void GaussianEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level)
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
