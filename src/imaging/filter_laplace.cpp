// Laplace Edge Enhancement (21) and its separable Gaussian pre-smoothing.
// Inputs: a W x H block, mask size and level. The pre-smoothing runs only for masks above 3;
// the Laplacian then uses the four direct neighbours with clamped coordinates.
// The separable passes add their products in the defined order (k = -h..h) for every pixel;
// the loops run across a row so that several pixels are computed at once.
// Speed: normally the whole filter runs in row bands (filter_separable.cpp); the block-wise
// form below takes over when the bands cannot get their memory.
// Failure: without the output block the image is unchanged; without the pre-smoothed block
// the Laplacian works on the unsmoothed image; the separable Gaussian falls back to a box
// filter when its weights or its block of doubles are missing, and to a copy after that.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/filter_convolve.h"
#include "imaging/filter_separable.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

NYRA_VECTORIZE_LOOPS

namespace {

// Box filter of n over rows then columns with running 64-bit sums, truncating divisions.
void BoxFallback(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n)
{
    const size_t count = (size_t)width * height;
    FilterBuffer<int32_t> mid(count);
    if (!mid) {
        memcpy(dst, src, count * sizeof(uint16_t));
        return;
    }
    const int32_t h = n / 2;
    for (int32_t y = 0; y < height; y++) {
        const uint16_t* row = src + (size_t)y * width;
        int64_t sum = 0;
        for (int32_t k = -h; k <= h; k++)
            sum += row[std::min(std::max(k, 0), width - 1)];
        for (int32_t x = 0; x < width; x++) {
            mid[(size_t)y * width + x] = (int32_t)(sum / n);
            sum += row[std::min(x + h + 1, width - 1)];
            sum -= row[std::max(x - h, 0)];
        }
    }
    for (int32_t x = 0; x < width; x++) {
        int64_t sum = 0;
        for (int32_t k = -h; k <= h; k++)
            sum += mid[(size_t)std::min(std::max(k, 0), height - 1) * width + x];
        for (int32_t y = 0; y < height; y++) {
            int64_t v = sum / n;
            dst[(size_t)y * width + x] = (uint16_t)(v < 0 ? 0 : (v > 65535 ? 65535 : v));
            sum += mid[(size_t)std::min(y + h + 1, height - 1) * width + x];
            sum -= mid[(size_t)std::max(y - h, 0) * width + x];
        }
    }
}

// The 1-D Gaussian of the pre-smoothing: sigma = n / 6 (at least 0.5), normalised to sum 1.
void SmoothingWeights(int32_t n, double* weights)
{
    const int32_t h = n / 2;
    double sigma = (double)n / 6.0;
    if (sigma < 0.5)
        sigma = 0.5;
    double sum = 0.0;
    for (int32_t k = -h; k <= h; k++) {
        double w = std::exp(-(double)(k * k) / (2.0 * sigma * sigma));
        weights[k + h] = w;
        sum += w;
    }
    for (int32_t k = 0; k < n; k++)
        weights[k] = weights[k] / sum;
}

}  // namespace

void SeparableGaussian(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t mask)
{
    size_t count = PixelCount(width, height);
    int32_t n = NormaliseMask(mask);
    if (!src || !dst || count == 0)
        return;
    if (n == 0) {
        memcpy(dst, src, count * sizeof(uint16_t));
        return;
    }
    const int32_t h = n / 2;
    FilterBuffer<double> weights((size_t)n);
    FilterBuffer<double> across(count);
    FilterBuffer<double> line((size_t)width + 2 * h);
    if (!weights || !across || !line) {
        BoxFallback(src, dst, width, height, n);
        return;
    }
    SmoothingWeights(n, weights.data());

    // Horizontal: each pixel's sum in the order k = -h..h, over an edge-repeated row.
    double* pad = line.data();
    for (int32_t y = 0; y < height; y++) {
        const uint16_t* row = src + (size_t)y * width;
        for (int32_t i = 0; i < width + 2 * h; i++)
            pad[i] = row[std::min(std::max(i - h, 0), width - 1)];
        double* out = across.data() + (size_t)y * width;
        for (int32_t x = 0; x < width; x++)
            out[x] = 0.0;
        for (int32_t k = 0; k < n; k++) {
            const double w = weights[k];
            const double* in = pad + k;
            for (int32_t x = 0; x < width; x++)
                out[x] += w * in[x];
        }
    }
    // Vertical, rounded into the destination.
    double* acc = pad;  // at least width long
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++)
            acc[x] = 0.0;
        for (int32_t k = -h; k <= h; k++) {
            const double w = weights[k + h];
            const double* in = across.data() + (size_t)std::min(std::max(y + k, 0), height - 1) * width;
            for (int32_t x = 0; x < width; x++)
                acc[x] += w * in[x];
        }
        uint16_t* out = dst + (size_t)y * width;
        for (int32_t x = 0; x < width; x++)
            out[x] = RoundClamp(acc[x]);
    }
}

void LaplaceEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level)
{
    size_t count = PixelCount(width, height);
    if (!pixels || count == 0)
        return;
    // Row bands first: the whole filter in one pass with a few rows of memory per band.
    const int32_t n = mask > 3 ? NormaliseMask(mask) : 0;
    double weights[kLargestFilterMask];
    if (n > 0)
        SmoothingWeights(n, weights);
    if (LaplaceBands(pixels, width, height, n, weights, (double)level / 100.0))
        return;
    // Short of memory: the same result through whole-image blocks, with the fallbacks of each.
    FilterBuffer<uint16_t> out(count);
    if (!out)
        return;
    FilterBuffer<uint16_t> smoothed(mask > 3 ? count : 0);
    const uint16_t* s = pixels;
    if (smoothed) {
        SeparableGaussian(pixels, smoothed.data(), width, height, mask);
        s = smoothed.data();
    }
    const double factor = (double)level / 100.0;
    for (int32_t y = 0; y < height; y++) {
        const uint16_t* row = s + (size_t)y * width;
        const uint16_t* up = s + (size_t)(y > 0 ? y - 1 : 0) * width;
        const uint16_t* down = s + (size_t)(y + 1 < height ? y + 1 : y) * width;
        const uint16_t* v = pixels + (size_t)y * width;
        uint16_t* o = out.data() + (size_t)y * width;
        for (int32_t x = 0; x < width; x++) {
            int32_t left = row[x > 0 ? x - 1 : 0];
            int32_t right = row[x + 1 < width ? x + 1 : x];
            int32_t d = 4 * row[x] - left - right - down[x] - up[x];
            o[x] = RoundClamp((double)d * factor + (double)v[x]);
        }
    }
    memcpy(pixels, out.data(), count * sizeof(uint16_t));
}
