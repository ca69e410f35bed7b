// The engine behind Gaussian Blur and Sharpen: n x n kernels whose weights depend only on a
// neighbour's distance from the middle. Internal to imaging/.
#pragma once
#include <cstdint>

// dst = src convolved with the n x n kernel `weights` (row-major), clamped borders; dst may be
// src. mergeInverseDistance: the off-centre weights are one constant over the distance (the
// Sharpen kernel), so classes whose distances are integer multiples of one root can be added
// as integers first. False (dst untouched) without memory.
bool RadialConvolve(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                    const double* weights, bool mergeInverseDistance);
