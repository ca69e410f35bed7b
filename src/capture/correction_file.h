// Correction files: one per sensor serial, "<folder>\SN<serial>.CAL", holding a per-pixel gain
// map (thousandths) that evens out the sensor's pixel-to-pixel and shading differences. The
// record, its byte form, the gain arithmetic, the flat-field step of a capture and the
// crash-safe writer of a correction-file build.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/settings_record.h"

constexpr size_t kCorrectionHeaderSize = 128;
constexpr uint16_t kCorrectionFormatVersion = 2;
constexpr uint16_t kGainUnity = 1000;  // gain 1.0; also stored where no gain can be computed
constexpr uint16_t kGainMin = 100;
constexpr uint16_t kGainMax = 5000;
constexpr size_t kCorrectionTextChars = 32;  // serial and model name fields

// The 128-byte header, field by field (little-endian on disk; see Encode/Decode). The gain map
// follows it: width x height unsigned 16-bit gains, row 0 first, in the sensor's pixel order.
struct CorrectionHeader {
    char magic[4];     // "NYRF"
    uint16_t version;  // 2
    uint16_t width;
    uint16_t height;
    uint16_t frameCount;  // blank frames averaged
    uint8_t zero1[8];
    uint16_t serialLength;              // at most 32
    char serial[kCorrectionTextChars];  // no terminator when 32 long
    uint8_t zero2[34];
    uint16_t modelLength;  // at most 32
    char model[kCorrectionTextChars];
    uint8_t zero3[6];
};
static_assert(sizeof(CorrectionHeader) == kCorrectionHeaderSize, "");
static_assert(offsetof(CorrectionHeader, version) == 4, "");
static_assert(offsetof(CorrectionHeader, width) == 6, "");
static_assert(offsetof(CorrectionHeader, height) == 8, "");
static_assert(offsetof(CorrectionHeader, frameCount) == 10, "");
static_assert(offsetof(CorrectionHeader, serialLength) == 20, "");
static_assert(offsetof(CorrectionHeader, serial) == 22, "");
static_assert(offsetof(CorrectionHeader, modelLength) == 88, "");
static_assert(offsetof(CorrectionHeader, model) == 90, "");
static_assert(offsetof(CorrectionHeader, zero3) == 122, "");

// "Size3" for variant 3, "SMS" for 2, "Standard" for any other.
const char* CorrectionModelName(int32_t variant);

// A header for a new file: magic, version 2, sizes, frame count, serial and model name (each
// cut at 32 bytes), every other byte zero.
CorrectionHeader MakeCorrectionHeader(int32_t width, int32_t height, int32_t frameCount, const char* serial,
                                      int32_t variant);

void EncodeCorrectionHeader(const CorrectionHeader& header, uint8_t out[kCorrectionHeaderSize]);
// False when fewer than 128 bytes are given or the magic is not "NYRF"; the other fields are
// informative and taken as they are.
bool DecodeCorrectionHeader(const uint8_t* bytes, size_t size, CorrectionHeader* header);

// "%s\SN%s.CAL" with folder ("." when empty) and serial, cut at 259 characters into
// out[size]; returns the length of the whole path before the cut.
size_t CorrectionFilePath(char* out, size_t size, const char* folder, const char* serial);

// The build's averaging: sums holds, per pixel, the sum of frameCount raw frames (frameCount
// below 1 counts as 1). Each pixel's mean is compared with the mean of the 100 x 100 centre
// block: gain = reference x 1000 / mean, kept when within 100..5000, else 1000 (also for a
// mean of 0). Writes width x height gains.
void ComputeGainMap(const uint32_t* sums, int32_t frameCount, int32_t width, int32_t height, uint16_t* gains);

// pixel = gain x pixel / 1000, rounded to nearest, clipped to 65535.
void ApplyGainMap(uint16_t* pixels, size_t count, const uint16_t* gains);

// Reads the gain map of a correction file made for a width x height frame into
// gains[width x height]. False when the file cannot be opened, its header is short or foreign,
// its size fields differ, or the map is short.
bool ReadCorrectionFile(const char* path, int32_t width, int32_t height, uint16_t* gains);

// The flat-field step of a capture: corrects the frame in place with the file at path and
// logs "applied flat-field correction", or logs the "no matching .CAL" line and leaves the
// frame as the sensor delivered it (dark corrected). True when the frame was corrected.
bool ApplyCorrectionFile(uint16_t* pixels, int32_t width, int32_t height, const char* path);

// Writes a correction file crash-safely: header and gains into "<path minus .CAL>.<pid>.tmp" in
// the same folder, flushed, then moved over path. A failure removes the temporary file and
// leaves any previous file at path untouched. The folder must exist, and the temporary name
// must fit in 259 characters. gains holds width x height values; serial and variant fill the
// informative header fields. True when the new file is in place.
bool WriteCorrectionFile(const char* path, const char* serial, int32_t variant, int32_t width, int32_t height,
                         int32_t frameCount, const uint16_t* gains);
