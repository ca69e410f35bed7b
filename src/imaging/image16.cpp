// Frame sizes, the DIB layout the host receives, and the fixed clean-up applied to a frame
// before packing: edge-run repair (dark and saturated borders) and corner blackening.
// All in place on row-major 16-bit pixels; a null pixel pointer or a too small image leaves
// everything unchanged. The DIB block itself is allocated by PackDib16 (pack_dib_win.cpp).
#include "imaging/image16.h"

#include <algorithm>
#include <cstring>

void FrameSizeForVariant(int32_t variant, int32_t* width, int32_t* height)
{
    int32_t w = 1300, h = 1706;
    if (variant == 3) {
        w = 2580;
        h = 1706;
    } else if (variant == 4) {
        w = 1000;
        h = 1506;
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
}

// The width rounded up to an even number of pixels, two bytes each: every row is a multiple
// of four bytes, and an odd row ends with one zero pad value.
uint32_t DibStride(int32_t width)
{
    if (width <= 0)
        return 0;
    return (((uint32_t)width + 1u) & ~1u) * 2u;
}

uint32_t DibBlockSize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    uint64_t stride = (((uint64_t)width + 1) & ~1ull) * 2;
    uint64_t size = kDibHeaderSize + stride * (uint64_t)height;
    return size > 0xFFFFFFFFull ? 0 : (uint32_t)size;
}

static void Put16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

void WriteDib16(uint8_t* out, int32_t width, int32_t height, const uint16_t* pixels)
{
    uint32_t stride = DibStride(width);
    Put32(out + 0, kDibHeaderSize);              // biSize
    Put32(out + 4, (uint32_t)width);             // biWidth
    Put32(out + 8, (uint32_t)height);            // biHeight > 0: rows stored bottom-up
    Put16(out + 12, 1);                          // biPlanes
    Put16(out + 14, 16);                         // biBitCount
    Put32(out + 16, 0);                          // biCompression = BI_RGB
    Put32(out + 20, stride * (uint32_t)height);  // biSizeImage
    Put32(out + 24, (uint32_t)kDibPelsPerMeter);
    Put32(out + 28, (uint32_t)kDibPelsPerMeter);
    Put32(out + 32, 0);  // biClrUsed
    Put32(out + 36, 0);  // biClrImportant
    if (!pixels)
        return;
    uint8_t* rows = out + kDibHeaderSize;
    for (int32_t r = 0; r < height; r++) {
        const uint16_t* src = pixels + (size_t)r * (size_t)width;
        uint8_t* dst = rows + (size_t)(height - 1 - r) * stride;
        for (int32_t c = 0; c < width; c++)
            Put16(dst + 2 * (size_t)c, src[c]);
    }
}

// --- edge-run repair ---------------------------------------------------------------------
// A run of bad pixels at an edge shorter than a third of the smaller side is replaced by the
// first good pixel after it. A longer run, or an edge whose first pixel is good, stays.

template <typename IsBad>
static void RepairLine(uint16_t* line, ptrdiff_t step, int32_t length, int32_t limit, IsBad bad)
{
    int32_t k = 0;
    while (k < limit && bad(line[k * step]))
        k++;
    if (k > 0 && k < limit)
        for (int32_t i = 0; i < k; i++)
            line[i * step] = line[k * step];

    uint16_t* end = line + (ptrdiff_t)(length - 1) * step;
    k = 0;
    while (k < limit && bad(end[-k * step]))
        k++;
    if (k > 0 && k < limit)
        for (int32_t i = 0; i < k; i++)
            end[-i * step] = end[-k * step];
}

template <typename IsBad>
static void FillEdgeRuns(uint16_t* pixels, int32_t width, int32_t height, IsBad bad)
{
    if (!pixels || width < 8 || height < 8)
        return;
    int32_t limit = std::min(width, height) / 3;
    for (int32_t r = 0; r < height; r++)
        RepairLine(pixels + (size_t)r * (size_t)width, 1, width, limit, bad);
    for (int32_t c = 0; c < width; c++)
        RepairLine(pixels + c, width, height, limit, bad);
}

void FillDarkEdgeRuns(uint16_t* pixels, int32_t width, int32_t height)
{
    FillEdgeRuns(pixels, width, height, [](uint16_t v) { return v <= 32; });
}

void FillSaturatedEdgeRuns(uint16_t* pixels, int32_t width, int32_t height)
{
    FillEdgeRuns(pixels, width, height, [](uint16_t v) { return v >= 60000; });
}

// --- corners -----------------------------------------------------------------------------
// Right-angled triangles with legs of D + 1 pixels cut from both ends of the first rows; for
// the size 3 sensor also a wedge widening to 800 pixels either side of the centre in the last
// 450 rows. The worker turns the image upside down afterwards, so these land at the bottom
// corners and the top centre of the picture.
void BlackenCorners(uint16_t* pixels, int32_t width, int32_t height, int32_t variant)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const int32_t d = variant == 3 ? 280 : 269;
    for (int32_t r = 0; r <= d && r < height; r++) {
        uint16_t* row = pixels + (size_t)r * (size_t)width;
        int32_t n = std::min(d - r, width - 1);
        for (int32_t k = 0; k <= n; k++) {
            row[k] = 0;
            row[width - 1 - k] = 0;
        }
    }
    if (variant != 3)
        return;
    const int32_t s = std::max(0, height - 450);
    const int32_t span = std::max(1, height - 1 - s);
    const int32_t centre = width / 2;
    for (int32_t r = s; r < height; r++) {
        int64_t g = (int64_t)(r - s) * 1600 / (2 * (int64_t)span);
        if (g <= 0)
            continue;
        int32_t from = (int32_t)std::max<int64_t>(0, centre - g);
        int32_t to = (int32_t)std::min<int64_t>(width - 1, centre + g);
        uint16_t* row = pixels + (size_t)r * (size_t)width;
        std::fill(row + from, row + to + 1, (uint16_t)0);
    }
}
