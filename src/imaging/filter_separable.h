// Row-band engine for kernels that are the product of one 1-D kernel across and the same one
// down: Gaussian Blur, the blur of Unsharp Mask and Laplace's pre-smoothing. Internal to
// imaging/.
#pragma once
#include <cstdint>

// dst = src through the n weights horizontally, then vertically (clamped borders), rounded
// and clamped; dst may be src. The weights must be symmetric and not negative, adding up to
// about one (Gaussian weights): each pass adds the two pixels of one weight first, which
// rounds differently from a row-major n x n sum only when the exact result lies within a few
// ulps of x.5. False (dst untouched) without memory.
bool SeparableBlur(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                   const double* weights);

// Unsharp Mask in place: every pixel v becomes (v - b) x factor + v, rounded and clamped,
// where b is the pixel SeparableBlur gives. False (image untouched) without memory.
bool UnsharpBands(uint16_t* pixels, int32_t width, int32_t height, int32_t n, const double* weights,
                  double factor);

// Laplace Edge Enhancement in place: with n > 0 the image is first smoothed through the n
// weights in the defined order (each pass adds its products from the first weight to the
// last, every smoothed pixel rounded and clamped), then every pixel v becomes
// D x factor + v, D the four-neighbour Laplacian of the smoothed image. With n = 0 the
// Laplacian is taken of the image itself. False (image untouched) without memory.
bool LaplaceBands(uint16_t* pixels, int32_t width, int32_t height, int32_t n, const double* weights,
                  double factor);
