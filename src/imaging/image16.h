// The 16-bit grey image every frame is handled as, and the fixed clean-up operations applied
// to a frame before it is handed to the host.
#pragma once
#include <cstddef>
#include <cstdint>

// Row-major, row 0 first, no padding; values use the full 0..65535 range.
struct Image16 {
    int32_t width;
    int32_t height;
    uint16_t* pixels;  // width * height values, owned by whoever allocated them
};

// Frame size by the sensor's size variant: 3 -> 2580 x 1706, 4 -> 1000 x 1506, else 1300 x 1706.
void FrameSizeForVariant(int32_t variant, int32_t* width, int32_t* height);

// DIB layout the host receives: BITMAPINFOHEADER (40 bytes), then bottom-up rows of
// little-endian 16-bit grey, each row padded to an even number of pixels.
constexpr uint32_t kDibHeaderSize = 40;
constexpr int32_t kDibPelsPerMeter = 50000;  // 20 um pixel pitch
uint32_t DibStride(int32_t width);
// 40 + stride * height, or 0 when a side is not positive or the size would not fit 32 bits.
uint32_t DibBlockSize(int32_t width, int32_t height);
// Writes the header and rows into out[DibBlockSize]; pixels may be null (rows left as they are).
// The caller provides a zeroed block, so pad bytes stay zero.
void WriteDib16(uint8_t* out, int32_t width, int32_t height, const uint16_t* pixels);

// One movable, zeroed global memory block holding the DIB, unlocked (an HGLOBAL the caller
// owns); null for a non-positive size or when allocation or locking fails. Windows only.
void* PackDib16(int32_t width, int32_t height, const uint16_t* pixels);

// In-place clean-up; each does nothing when pixels is null.
void FillDarkEdgeRuns(uint16_t* pixels, int32_t width, int32_t height);       // bad: value <= 32
void FillSaturatedEdgeRuns(uint16_t* pixels, int32_t width, int32_t height);  // bad: value >= 60000
void BlackenCorners(uint16_t* pixels, int32_t width, int32_t height, int32_t variant);
void StampMark(uint16_t* pixels, int32_t width, int32_t height);

constexpr int32_t kMarkRows = 35;
constexpr int32_t kMarkColumns = 85;
// The mark's cells, 0 or 1; row 0 lands on image row 0 (the bottom of the delivered picture).
extern const uint8_t (&kMark)[kMarkRows][kMarkColumns];
