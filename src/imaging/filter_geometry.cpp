// Flip and rotate filters (types 14..18), directions as seen with row 0 at the top.
// Inputs: a pixel block of width x height; RotateQuarter takes the whole Image16 because it
// replaces the block (malloc / free, the allocator of every pixel block the chain handles) and
// swaps the sides. Edge policy: a null block or a non-positive side does nothing.
// Failure: FlipVertical without its temporary row, RotateQuarter without its new block, leave
// the image exactly as it was.
#include "imaging/filter_geometry.h"

#include <algorithm>
#include <cstring>

#include "imaging/filter_support.h"
#include "imaging/filter_transpose.h"

void FlipHorizontal(uint16_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || PixelCount(width, height) == 0)
        return;
    for (int32_t y = 0; y < height; y++) {
        uint16_t* row = pixels + (size_t)y * width;
        std::reverse(row, row + width);
    }
}

void FlipVertical(uint16_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || PixelCount(width, height) == 0)
        return;
    FilterBuffer<uint16_t> temp((size_t)width);
    if (!temp)
        return;
    size_t rowBytes = (size_t)width * sizeof(uint16_t);
    for (int32_t y = 0; y < height / 2; y++) {
        uint16_t* a = pixels + (size_t)y * width;
        uint16_t* b = pixels + (size_t)(height - 1 - y) * width;
        memcpy(temp.data(), a, rowBytes);
        memcpy(a, b, rowBytes);
        memcpy(b, temp.data(), rowBytes);
    }
}

void Rotate180(uint16_t* pixels, size_t count)
{
    if (pixels)
        std::reverse(pixels, pixels + count);
}

void RotateQuarter(Image16* image, bool clockwise)
{
    if (!image || !image->pixels)
        return;
    const int32_t w = image->width, h = image->height;
    size_t n = PixelCount(w, h);
    if (n == 0)
        return;
    FilterBuffer<uint16_t> out(n);
    if (!out)
        return;
    const uint16_t* src = image->pixels;
    uint16_t* dst = out.data();
    // Output rows are h pixels long. Whole 8 x 8 blocks are transposed in registers (clockwise
    // with the input rows taken bottom up, so that each output row comes out in order), 32
    // input rows at a time so that every output row receives whole cache lines; the ragged
    // right and bottom edges go one pixel at a time.
    const int32_t w8 = w & ~7, h8 = h & ~7;
    for (int32_t ty = 0; ty < h8; ty += 32) {
        const int32_t ty1 = std::min(h8, ty + 32);
        for (int32_t x0 = 0; x0 < w8; x0 += 8) {
            for (int32_t y0 = ty; y0 < ty1; y0 += 8) {
                if (clockwise)
                    Transpose8x8(src + (size_t)(y0 + 7) * w + x0, -(ptrdiff_t)w,
                                 dst + (size_t)x0 * h + (h - 8 - y0), h);
                else
                    Transpose8x8(src + (size_t)y0 * w + x0, w, dst + (size_t)(w - 1 - x0) * h + y0,
                                 -(ptrdiff_t)h);
            }
        }
    }
    auto move = [&](int32_t x, int32_t y) {
        const uint16_t v = src[(size_t)y * w + x];
        if (clockwise)
            dst[(size_t)x * h + (h - 1 - y)] = v;
        else
            dst[(size_t)(w - 1 - x) * h + y] = v;
    };
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = y < h8 ? w8 : 0; x < w; x++)
            move(x, y);
    }
    free(image->pixels);
    image->pixels = out.release();
    image->width = h;
    image->height = w;
}
