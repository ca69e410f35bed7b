// Exposure classification (block mean -> dose -> level, one log line) and the stamping of the
// exposure indicator from a per-level mask cache.
// The cache is lock-free and safe when two workers stamp at once (a worker whose capture was
// abandoned can finish during the next capture): a stamp takes the level's mask out of its
// slot, uses it, and puts it back only if the slot is still empty; a mask it could not put back
// is freed. So no mask is ever freed while another thread reads it.
#include "capture/exposure.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "base/log.h"

namespace {

struct CachedMask {
    int32_t side;
    uint8_t* bits;  // side x side, from the builder (malloc)
};

std::atomic<CachedMask*> MaskCache[3];
std::atomic<IndicatorGlyphBuilder> GlyphBuilder{BuildIndicatorGlyph};

void FreeMask(CachedMask* mask)
{
    if (mask) {
        free(mask->bits);
        delete mask;
    }
}

void EmptyCache()
{
    for (auto& slot : MaskCache)
        FreeMask(slot.exchange(nullptr));
}

int32_t LevelIndex(ExposureLevel level)
{
    return level == ExposureHigh ? 2 : level == ExposurePerfect ? 1 : 0;
}

// The level's mask for this side, taken out of the cache or newly built; null without one.
CachedMask* TakeMask(int32_t index, ExposureLevel level, int32_t side)
{
    CachedMask* mask = MaskCache[index].exchange(nullptr);
    if (mask && mask->side == side)
        return mask;
    FreeMask(mask);
    uint8_t* bits = GlyphBuilder.load()(level, side);
    if (!bits)
        return nullptr;
    mask = new (std::nothrow) CachedMask{side, bits};
    if (!mask)
        free(bits);
    return mask;
}

void ReturnMask(int32_t index, CachedMask* mask)
{
    CachedMask* empty = nullptr;
    if (!MaskCache[index].compare_exchange_strong(empty, mask))
        FreeMask(mask);
}

}  // namespace

const char* ExposureLogName(ExposureLevel level)
{
    static const char* const kNames[3] = {"LOW (L)", "PERFECT (P)", "HIGH (H)"};
    return kNames[LevelIndex(level)];
}

const char* ExposureLetter(ExposureLevel level)
{
    static const char* const kLetters[3] = {"L", "P", "H"};
    return kLetters[LevelIndex(level)];
}

double ExposureRawMean(const uint16_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width < 8 || height < 8)
        return 0.0;
    const int32_t side = width < 2000 ? 100 : 200;
    int32_t x0 = width < 2000 ? 600 : width / 2 - 100;
    if (x0 + side > width)
        x0 = (width - side) / 2;
    int32_t y0 = 700;
    if (y0 + side > height)
        y0 = (height - side) / 2;
    x0 = x0 < 0 ? 0 : x0;
    y0 = y0 < 0 ? 0 : y0;
    // A frame smaller than the block (no supported sensor gives one): the block is clipped to
    // the frame and the mean taken over what is left.
    const int32_t x1 = x0 + side < width ? x0 + side : width;
    const int32_t y1 = y0 + side < height ? y0 + side : height;
    uint64_t sum = 0;
    for (int32_t y = y0; y < y1; y++) {
        const uint16_t* row = pixels + (size_t)y * (size_t)width;
        for (int32_t x = x0; x < x1; x++)
            sum += row[x];
    }
    return (double)sum / ((double)(x1 - x0) * (double)(y1 - y0));
}

ExposureLevel LevelForRawMean(double rawMean)
{
    // Compared as raw means (100 and 200 uGy x 13.6 = 1360 and 2720, exact in binary), so a
    // mean on a bound is classed by the bound and never by the rounding of a division.
    if (rawMean < kLowDoseBound * 136 / 10)
        return ExposureLow;
    return rawMean > kHighDoseBound * 136 / 10 ? ExposureHigh : ExposurePerfect;
}

ExposureLevel ClassifyExposure(const uint16_t* pixels, int32_t width, int32_t height)
{
    double rawMean = ExposureRawMean(pixels, width, height);
    ExposureLevel level = LevelForRawMean(rawMean);
    LogTrace("   exposure: rawMean=%.1f -> %.1f uGy -> %s", rawMean, rawMean / kRawCountsPerMicroGray,
             ExposureLogName(level));
    return level;
}

IndicatorGlyphBuilder SetIndicatorGlyphBuilder(IndicatorGlyphBuilder builder)
{
    IndicatorGlyphBuilder before = GlyphBuilder.exchange(builder ? builder : BuildIndicatorGlyph);
    EmptyCache();
    return before;
}

bool StampExposureIndicator(uint16_t* pixels, int32_t width, int32_t height, ExposureLevel level)
{
    const int32_t side = width < 2000 ? 72 : 120;
    const int32_t margin = width < 2000 ? 10 : 20;
    if (!pixels || width < side + margin || height < side + margin)
        return false;
    const int32_t index = LevelIndex(level);
    CachedMask* mask = TakeMask(index, level, side);
    if (!mask)
        return false;
    // Mask row 0 is the top of the symbol; the image is turned upside down afterwards, so the
    // mask's last row goes into image row `margin`.
    for (int32_t r = 0; r < side; r++) {
        const uint8_t* bits = mask->bits + (size_t)(side - 1 - r) * (size_t)side;
        uint16_t* row = pixels + (size_t)(margin + r) * (size_t)width + (width - margin - side);
        for (int32_t c = 0; c < side; c++)
            if (bits[c])
                row[c] = 65535;
    }
    ReturnMask(index, mask);
    return true;
}
