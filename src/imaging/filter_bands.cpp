// Row bands that write back in place (see filter_bands.h for the scheme).
// Inputs: the image, the output (possibly the image), the halo of the filter. Failure: when
// any band's memory cannot be obtained nothing is written and the caller leaves the image.
#include "imaging/filter_bands.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/filter_support.h"

void FilterBand::RowDone(int32_t y)
{
    if (!ring_)
        return;
    // Input row y - halo has served its last output row; its own result can replace it.
    int32_t done = y - halo_;
    if (done >= y0)
        memcpy(dst_ + (size_t)done * width, OutRow(done), (size_t)width * sizeof(uint16_t));
}

void FilterBand::Finish()
{
    if (!ring_)
        return;
    for (int32_t y = std::max(y0, y1 - halo_); y < y1; y++)
        memcpy(dst_ + (size_t)y * width, OutRow(y), (size_t)width * sizeof(uint16_t));
}

namespace {

constexpr int32_t kMaxBands = 16;

struct BandRun {
    FilterBand bands[kMaxBands];
    uint8_t* scratch[kMaxBands] = {};
    FilterBandBody body;
    void* context;
};

void RunBand(void* context, int32_t begin, int32_t end)
{
    (void)end;
    BandRun* run = static_cast<BandRun*>(context);
    // begin is the band index (one task per band).
    FilterBand& band = run->bands[begin];
    run->body(run->context, band, run->scratch[begin]);
    band.Finish();
}

void* AlignedBlock(size_t bytes, void** base)
{
    *base = FilterAlloc(bytes + 64);
    if (!*base)
        return nullptr;
    uintptr_t p = ((uintptr_t)*base + 63) & ~(uintptr_t)63;
    return reinterpret_cast<void*>(p);
}

}  // namespace

bool RunFilterBands(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t halo,
                    int32_t minRowsPerBand, size_t scratchBytes, FilterBandBody body, void* context,
                    int32_t rowsAhead)
{
    if (!src || !dst || width <= 0 || height <= 0 || halo < 0 || rowsAhead < 0)
        return false;
    int32_t count = std::min(FilterThreadCount(), kMaxBands);
    count = std::max(1, std::min(count, height / std::max(1, minRowsPerBand)));
    const bool inPlace = src == dst;
    const size_t row = (size_t)width;

    BandRun run;
    run.body = body;
    run.context = context;
    void* blocks[kMaxBands] = {};
    bool ok = true;
    for (int32_t b = 0; b < count; b++) {
        FilterBand& band = run.bands[b];
        band.y0 = (int32_t)((int64_t)height * b / count);
        band.y1 = (int32_t)((int64_t)height * (b + 1) / count);
        band.width = width;
        band.height = height;
        band.src_ = src;
        band.dst_ = dst;
        band.halo_ = halo;
        size_t topRows = 0, bottomRows = 0, ringRows = 0;
        if (inPlace) {
            band.topFirst_ = std::max(0, band.y0 - halo);
            topRows = (size_t)(band.y0 - band.topFirst_);
            bottomRows = (size_t)(std::min(height, band.y1 + halo) - band.y1);
            ringRows = rowsAhead == kBodyCopiesInput ? 0 : (size_t)halo + (size_t)rowsAhead;
        }
        size_t scratch = Align64(scratchBytes);
        size_t rows = topRows + bottomRows + ringRows;
        uint8_t* base = static_cast<uint8_t*>(AlignedBlock(scratch + rows * row * 2, &blocks[b]));
        if (!base) {
            ok = false;
            break;
        }
        run.scratch[b] = base;
        uint16_t* rowsBase = reinterpret_cast<uint16_t*>(base + scratch);
        if (inPlace) {
            band.top_ = topRows ? rowsBase : nullptr;
            band.bottom_ = bottomRows ? rowsBase + topRows * row : nullptr;
            band.ring_ = ringRows ? rowsBase + (topRows + bottomRows) * row : nullptr;
            band.ringRows_ = (int32_t)ringRows;
        }
    }
    if (ok) {
        // Halo copies first, while every row still holds its input.
        for (int32_t b = 0; b < count; b++) {
            FilterBand& band = run.bands[b];
            if (band.top_)
                memcpy(band.top_, src + (size_t)band.topFirst_ * row,
                       (size_t)(band.y0 - band.topFirst_) * row * 2);
            if (band.bottom_)
                memcpy(band.bottom_, src + (size_t)band.y1 * row,
                       (size_t)(std::min(height, band.y1 + halo) - band.y1) * row * 2);
        }
        ForEachTask(count, RunBand, &run);
    }
    for (int32_t b = 0; b < count; b++)
        free(blocks[b]);
    return ok;
}
