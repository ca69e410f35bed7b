// The preview written by --png: a linear stretch of the image's value range to 8 bits, so a
// picture of any exposure is visible; stb_image_write does the PNG encoding.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FOPEN_WIDE
#include <stb_image_write.h>

#include <algorithm>
#include <vector>

#include "png_preview.h"

bool WritePngPreview(const char* path, const uint16_t* pixels, int32_t width, int32_t height)
{
    const size_t count = (size_t)width * (size_t)height;
    if (!pixels || count == 0)
        return false;
    const auto range = std::minmax_element(pixels, pixels + count);
    const double lo = *range.first, span = *range.second > lo ? *range.second - lo : 1.0;
    std::vector<uint8_t> grey(count);
    for (size_t i = 0; i < count; i++)
        grey[i] = (uint8_t)((pixels[i] - lo) * 255.0 / span + 0.5);
    return stbi_write_png(path, width, height, 1, grey.data(), width) != 0;
}
