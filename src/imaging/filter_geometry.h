// Flip and rotate filters (types 14..18): they reorder pixels without changing any value.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/image16.h"

void FlipHorizontal(uint16_t* pixels, int32_t width, int32_t height);
// Leaves the image as it is when its temporary row cannot be obtained.
void FlipVertical(uint16_t* pixels, int32_t width, int32_t height);
void Rotate180(uint16_t* pixels, size_t count);
// Quarter turn into a new block from malloc; the old block is released with free() and the
// image takes the new one with width and height swapped. Without memory nothing changes.
void RotateQuarter(Image16* image, bool clockwise);
