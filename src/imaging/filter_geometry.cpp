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
    // Tiles keep both the reads and the writes within a few cache lines.
    const int32_t kTile = 64;
    for (int32_t y0 = 0; y0 < h; y0 += kTile) {
        int32_t y1 = std::min(h, y0 + kTile);
        for (int32_t x0 = 0; x0 < w; x0 += kTile) {
            int32_t x1 = std::min(w, x0 + kTile);
            for (int32_t y = y0; y < y1; y++) {
                const uint16_t* row = src + (size_t)y * w;
                for (int32_t x = x0; x < x1; x++) {
                    // Output rows are h pixels long.
                    if (clockwise)
                        dst[(size_t)x * h + (h - 1 - y)] = row[x];
                    else
                        dst[(size_t)(w - 1 - x) * h + y] = row[x];
                }
            }
        }
    }
    free(image->pixels);
    image->pixels = out.release();
    image->width = h;
    image->height = w;
}
