// The engine behind Sharpen: n x n kernels whose weights depend only on a neighbour's
// distance from the middle. Internal to imaging/.
#pragma once
#include <cstdint>

// dst = src convolved with the n x n kernel `weights` (row-major), clamped borders; dst may be
// src. Where the off-centre weights are one constant over the distance (the Sharpen kernel),
// classes whose distances are integer multiples of one root are added as integers first.
// False (dst untouched) without memory.
bool RadialConvolve(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t n,
                    const double* weights);

// Test hook: false runs every mask through a plan, true (the default) the masks up to 21
// through their compiled shapes. Both give the same pixels.
void SetRadialShapesCompiled(bool compiled);
