// Weighted-sum neighbourhood filters (types 19..23): Gaussian Blur, Gaussian Edge Enhancement,
// Laplace Edge Enhancement, Sharpen and Smooth. Each works on a W x H block in place, every
// output pixel computed from the unchanged input, and leaves the block unchanged when it cannot
// get its working memory. Mask sizes
// below 3 act as 3 and even sizes as the next odd one; sizes above 255 are refused.
#pragma once
#include <cstdint>

void SmoothFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask);
void GaussianBlur(uint16_t* pixels, int32_t width, int32_t height, int32_t mask);
void GaussianEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level);
void LaplaceEdgeEnhance(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level);
void SharpenFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask, int32_t level);

// Gaussian Blur from src into dst (both W x H). Returns false, with dst a copy of src, when
// the weights or the working rows cannot be obtained.
bool GaussianBlurInto(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t mask);
// Laplace's pre-smoothing: horizontal then vertical Gaussian, falling back to a box filter and
// then to a plain copy when memory runs short.
void SeparableGaussian(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t mask);

// The n x n kernels as the filters use them, row-major (n = normalised mask). Return false
// when the mask is refused. Exposed for the tests and the benchmark.
bool GaussianBlurWeights(int32_t mask, double* weights /* n*n */, int32_t* n);
// Gaussian Blur's kernel as the n weights whose products across and down make it.
bool GaussianBlurAxisWeights(int32_t mask, double* weights /* n */, int32_t* n);
bool SharpenWeights(int32_t mask, int32_t level, double* weights /* n*n */, int32_t* n);
