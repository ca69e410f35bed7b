// The worker's decisions and frame steps that need no sensor and no Windows, kept apart so they
// are tested natively: the model choice by size variant, the timer text, read diagnostics,
// statistics, edge maxima, and the row mirror, clear and flip of the finishing steps.
#include "capture/capture_plan.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "imaging/image16.h"

CapturePlan PlanCapture(int32_t variant, const NyraSettings& settings)
{
    CapturePlan plan{};
    FrameSizeForVariant(variant, &plan.width, &plan.height);
    plan.modelIndex = variant == 3 ? 2 : variant == 2 ? 1 : 0;
    plan.sizeNumber = SizeNumberForVariant(variant);
    static const char* const kModelNames[kModelCount] = {"Standard", "SMS Variant", "Size 3"};
    plan.modelName = kModelNames[plan.modelIndex];
    const SensorModelParams& model = settings.models[plan.modelIndex];
    plan.mode = (uint8_t)(model.integrationMode + 1);
    plan.startThreshold = model.startThreshold;
    plan.stopThreshold = model.stopThreshold;
    plan.integrationMs = model.integrationTimeMs;
    plan.correction = settings.imageReturnType != 2;
    return plan;
}

int32_t SizeNumberForVariant(int32_t variant)
{
    return variant == 3 ? 3 : variant == 4 ? 1 : 2;
}

int32_t TaskModelIndex(int32_t variant, const NyraSettings& settings)
{
    int32_t index = settings.sensorModel;
    if (settings.modelFollowsDetected)
        index = variant == 2 ? 1 : variant == 3 ? 2 : 0;
    return index >= 0 && index < kModelCount ? index : 0;
}

void FormatSwitchEntry(char* out, size_t size, const SensorSlot& slot)
{
    FormatText(out, size, "Size %d  (%s)", (int)SizeNumberForVariant(slot.variant), slot.serial);
}

void FormatTimerText(char* out, size_t size, uint32_t seconds)
{
    if (seconds < 60)
        FormatText(out, size, "Active %lu seconds", (unsigned long)seconds);
    else
        FormatText(out, size, "Active %lu minute(s) %lu seconds", (unsigned long)(seconds / 60),
                   (unsigned long)(seconds % 60));
}

const char* ReadNote(uint32_t minimum, uint32_t maximum, uint32_t elapsedMs)
{
    if (minimum == maximum)
        return "<< FLAT/STALE buffer (no real read)";
    if (elapsedMs < 3000)
        return "<< returned too fast \x97 likely NOT X-ray-triggered";
    return "";
}

FrameStats ComputeFrameStats(const uint16_t* pixels, int32_t width, int32_t height)
{
    FrameStats stats{65535, 0, 0};
    uint64_t count = width > 0 && height > 0 ? (uint64_t)width * (uint64_t)height : 0;
    uint64_t sum = 0;
    for (uint64_t i = 0; i < count; i++) {
        uint32_t v = pixels[i];
        stats.minimum = std::min(stats.minimum, v);
        stats.maximum = std::max(stats.maximum, v);
        sum += v;
    }
    stats.mean = (uint32_t)(sum / (count ? count : 1));
    return stats;
}

EdgeMaxima ComputeEdgeMaxima(const uint16_t* pixels, int32_t width, int32_t height)
{
    EdgeMaxima edges{0, 0, 0, 0};
    if (width > 240) {
        const uint16_t* top = pixels;
        const uint16_t* bottom = pixels + (size_t)(height - 1) * (size_t)width;
        for (int32_t c = 120; c <= width - 121; c++) {
            edges.top = std::max<uint32_t>(edges.top, top[c]);
            edges.bottom = std::max<uint32_t>(edges.bottom, bottom[c]);
        }
    }
    if (height > 240) {
        for (int32_t r = 120; r <= height - 121; r++) {
            const uint16_t* row = pixels + (size_t)r * (size_t)width;
            edges.left = std::max<uint32_t>(edges.left, row[0]);
            edges.right = std::max<uint32_t>(edges.right, row[width - 1]);
        }
    }
    return edges;
}

void MirrorRows(uint16_t* pixels, int32_t width, int32_t height)
{
    for (int32_t r = 0; r < height; r++) {
        uint16_t* row = pixels + (size_t)r * (size_t)width;
        std::reverse(row, row + width);
    }
}

void ClearTopAndBottomRows(uint16_t* pixels, int32_t width, int32_t height)
{
    if (width <= 0 || height < 6)
        return;
    size_t threeRows = 3 * (size_t)width;
    memset(pixels, 0, threeRows * sizeof(uint16_t));
    memset(pixels + (size_t)(height - 3) * (size_t)width, 0, threeRows * sizeof(uint16_t));
}

void FlipRows(uint16_t* pixels, int32_t width, int32_t height)
{
    for (int32_t r = 0; r < height / 2; r++)
        std::swap_ranges(pixels + (size_t)r * (size_t)width, pixels + (size_t)(r + 1) * (size_t)width,
                         pixels + (size_t)(height - 1 - r) * (size_t)width);
}
