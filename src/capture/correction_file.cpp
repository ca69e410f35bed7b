// Correction files (SN<serial>.CAL): the header's byte form, the path rule, the gain map of a
// build, applying a file to a frame, and the crash-safe write. All file access goes through
// the SettingsFileOps table in use, so tests can fail any call. A file that is missing,
// foreign, made for another frame size or cut short never fails a capture: the frame stays as
// the sensor delivered it. Writing never truncates the old file in place: the new one is
// complete and flushed under a temporary name before it replaces the old one.
#include "capture/correction_file.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/log.h"
#include "base/text.h"
#include "settings/settings_file_ops.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "gain maps are read and written in place as little-endian 16-bit values"
#endif

namespace {

const char kMagic[4] = {'N', 'Y', 'R', 'F'};

void Put16(uint8_t* at, uint16_t v)
{
    at[0] = (uint8_t)v;
    at[1] = (uint8_t)(v >> 8);
}

uint16_t Get16(const uint8_t* at)
{
    return (uint16_t)(at[0] | at[1] << 8);
}

// Copies at most 32 bytes of text into a zeroed field; returns the count copied.
uint16_t FillField(char (&field)[kCorrectionTextChars], const char* text)
{
    memset(field, 0, sizeof field);
    size_t n = text ? strnlen(text, sizeof field) : 0;
    memcpy(field, text ? text : "", n);
    return (uint16_t)n;
}

}  // namespace

const char* CorrectionModelName(int32_t variant)
{
    return variant == 3 ? "Size3" : variant == 2 ? "SMS" : "Standard";
}

CorrectionHeader MakeCorrectionHeader(int32_t width, int32_t height, int32_t frameCount, const char* serial,
                                      int32_t variant)
{
    CorrectionHeader h;
    memset(&h, 0, sizeof h);
    memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kCorrectionFormatVersion;
    h.width = (uint16_t)width;
    h.height = (uint16_t)height;
    h.frameCount = (uint16_t)frameCount;
    h.serialLength = FillField(h.serial, serial);
    h.modelLength = FillField(h.model, CorrectionModelName(variant));
    return h;
}

void EncodeCorrectionHeader(const CorrectionHeader& h, uint8_t out[kCorrectionHeaderSize])
{
    memset(out, 0, kCorrectionHeaderSize);
    memcpy(out, h.magic, 4);
    Put16(out + offsetof(CorrectionHeader, version), h.version);
    Put16(out + offsetof(CorrectionHeader, width), h.width);
    Put16(out + offsetof(CorrectionHeader, height), h.height);
    Put16(out + offsetof(CorrectionHeader, frameCount), h.frameCount);
    Put16(out + offsetof(CorrectionHeader, serialLength), h.serialLength);
    memcpy(out + offsetof(CorrectionHeader, serial), h.serial, sizeof h.serial);
    Put16(out + offsetof(CorrectionHeader, modelLength), h.modelLength);
    memcpy(out + offsetof(CorrectionHeader, model), h.model, sizeof h.model);
}

bool DecodeCorrectionHeader(const uint8_t* bytes, size_t size, CorrectionHeader* h)
{
    if (!bytes || size < kCorrectionHeaderSize || memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return false;
    memcpy(h, bytes, sizeof *h);  // the texts and zero fields as stored
    h->version = Get16(bytes + offsetof(CorrectionHeader, version));
    h->width = Get16(bytes + offsetof(CorrectionHeader, width));
    h->height = Get16(bytes + offsetof(CorrectionHeader, height));
    h->frameCount = Get16(bytes + offsetof(CorrectionHeader, frameCount));
    h->serialLength = Get16(bytes + offsetof(CorrectionHeader, serialLength));
    h->modelLength = Get16(bytes + offsetof(CorrectionHeader, modelLength));
    return true;
}

size_t CorrectionFilePath(char* out, size_t size, const char* folder, const char* serial)
{
    char path[kPathChars];
    const char* dir = folder && folder[0] ? folder : ".";
    if (!serial)
        serial = "";
    FormatText(path, sizeof path, "%s\\SN%s.CAL", dir, serial);
    CopyText(out, size, path);
    return strlen(dir) + strlen("\\SN") + strlen(serial) + strlen(".CAL");
}

void ComputeGainMap(const uint32_t* sums, int32_t frameCount, int32_t width, int32_t height, uint16_t* gains)
{
    if (!sums || !gains || width <= 0 || height <= 0)
        return;
    const uint32_t n = frameCount < 1 ? 1u : (uint32_t)frameCount;
    const uint32_t half = n / 2;
    // A pixel's mean in unsigned arithmetic, as the sums were accumulated.
    auto mean = [&](size_t i) { return (sums[i] + half) / n; };

    const int32_t r0 = height / 2 - 50 > 0 ? height / 2 - 50 : 0;
    const int32_t r1 = r0 + 100 < height ? r0 + 100 : height;
    const int32_t c0 = width / 2 - 50 > 0 ? width / 2 - 50 : 0;
    const int32_t c1 = c0 + 100 < width ? c0 + 100 : width;
    uint64_t blockSum = 0;
    for (int32_t r = r0; r < r1; r++)
        for (int32_t c = c0; c < c1; c++)
            blockSum += mean((size_t)r * (size_t)width + (size_t)c);
    const uint64_t blockCount = (uint64_t)(r1 - r0) * (uint64_t)(c1 - c0);
    const double ref = blockCount ? (double)blockSum / (double)blockCount : 1.0;

    const size_t count = (size_t)width * (size_t)height;
    for (size_t i = 0; i < count; i++) {
        uint32_t a = mean(i);
        uint16_t gain = kGainUnity;
        if (a != 0) {
            double g = ref * 1000.0 / (double)a + 0.5;
            if (g >= kGainMin && g < kGainMax + 1)
                gain = (uint16_t)g;
        }
        gains[i] = gain;
    }
}

void ApplyGainMap(uint16_t* pixels, size_t count, const uint16_t* gains)
{
    for (size_t i = 0; i < count; i++) {
        uint32_t v = (uint32_t)gains[i] * pixels[i] + 500u;
        pixels[i] = v >= 65536000u ? 65535 : (uint16_t)(v / 1000u);
    }
}

bool ReadCorrectionFile(const char* path, int32_t width, int32_t height, uint16_t* gains)
{
    if (!path || !gains || width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return false;
    const SettingsFileOps& ops = SettingsFiles();
    SettingsFileHandle file = ops.openRead(path);
    if (!file)
        return false;
    uint8_t bytes[kCorrectionHeaderSize];
    CorrectionHeader header;
    bool ok = ReadUpTo(ops, file, bytes, sizeof bytes) == sizeof bytes
              && DecodeCorrectionHeader(bytes, sizeof bytes, &header) && header.width == (uint16_t)width
              && header.height == (uint16_t)height;
    if (ok) {
        const uint32_t mapBytes = (uint32_t)width * (uint32_t)height * 2u;
        // The map is little-endian like the machines the plug-in runs on: read in place.
        ok = ReadUpTo(ops, file, reinterpret_cast<uint8_t*>(gains), mapBytes) == mapBytes;
    }
    ops.close(file);
    return ok;
}

bool ApplyCorrectionFile(uint16_t* pixels, int32_t width, int32_t height, const char* path)
{
    if (!pixels || width <= 0 || height <= 0)
        return false;
    const size_t count = (size_t)width * (size_t)height;
    std::unique_ptr<uint16_t[]> gains(new (std::nothrow) uint16_t[count]);
    if (!gains || !ReadCorrectionFile(path, width, height, gains.get())) {
        LogTrace("   fully-corrected requested but no matching .CAL (%s) \x97 dark-corrected only",
                 path ? path : "");
        return false;
    }
    ApplyGainMap(pixels, count, gains.get());
    LogTrace("   applied flat-field correction: %s", path);
    return true;
}

bool WriteCorrectionFile(const char* path, const char* serial, int32_t variant, int32_t width, int32_t height,
                         int32_t frameCount, const uint16_t* gains)
{
    if (!path || !path[0] || !gains || width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return false;
    const SettingsFileOps& ops = SettingsFiles();
    // "<path without .CAL>.<pid>.tmp": beside the final file, so the move stays within one
    // folder, and outside the *.CAL pattern, so a stray one is never counted as a calibration.
    char tempPath[kPathChars];
    size_t stem = strlen(path);
    if (stem >= 4 && CompareNoCase(path + stem - 4, ".CAL") == 0)
        stem -= 4;
    char suffix[24];
    size_t suffixLength = FormatText(suffix, sizeof suffix, ".%lu.tmp", (unsigned long)ops.processId());
    if (stem + suffixLength >= sizeof tempPath)
        return false;
    memcpy(tempPath, path, stem);
    memcpy(tempPath + stem, suffix, suffixLength + 1);

    uint8_t header[kCorrectionHeaderSize];
    EncodeCorrectionHeader(MakeCorrectionHeader(width, height, frameCount, serial, variant), header);
    const uint32_t mapBytes = (uint32_t)width * (uint32_t)height * 2u;

    SettingsFileHandle file = ops.createTemp(tempPath);
    if (!file)
        return false;
    bool written = WriteAll(ops, file, header, sizeof header)
                   && WriteAll(ops, file, reinterpret_cast<const uint8_t*>(gains), mapBytes);
    // Unflushed data may not be on disk yet; moving it over the old file could leave neither
    // after a power cut, so a failed flush is a failed write.
    bool flushed = written && ops.flush(file);
    ops.close(file);
    if (!flushed || !ops.moveReplace(tempPath, path)) {
        ops.remove(tempPath);
        return false;
    }
    return true;
}
