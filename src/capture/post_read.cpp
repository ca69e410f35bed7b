// ProcessCapturedFrame: every step between the sensor read and packing the DIB, in the order
// the delivered picture depends on. Mirror, corners, mark and indicator are placed for the
// buffer as it stands before the final upside-down turn, which puts the mark in the bottom-left
// and the indicator in the bottom-right corner of the picture the host shows.
// Only the inputs are read: the settings snapshot, the sensor facts and the correction file.
// The clip point is handed to the chain as an argument and returned, never published here.
#include "capture/post_read.h"

#include "base/log.h"
#include "base/text.h"
#include "capture/correction_file.h"
#include "imaging/filter_chain.h"
#include "imaging/filter_tone.h"

void ProcessCapturedFrame(Image16* frame, const PostReadInput& in, PostReadResult* out)
{
    PostReadResult result{};
    result.level = ExposureLow;
    result.lowClip = 0;
    if (!frame || !frame->pixels || frame->width <= 0 || frame->height <= 0 || !in.settings) {
        if (out)
            *out = result;
        return;
    }
    const NyraSettings& settings = *in.settings;

    if (settings.imageReturnType == 0) {
        char path[kPathChars];
        if (in.correctionPath) {
            CopyText(path, sizeof path, in.correctionPath);
        } else {
            const CapturePlan plan = PlanCapture(in.variant, settings);
            CorrectionFilePath(path, sizeof path, settings.models[plan.modelIndex].correctionDir, in.serial);
        }
        result.corrected = ApplyCorrectionFile(frame->pixels, frame->width, frame->height, path);
    }

    result.level = ClassifyExposure(frame->pixels, frame->width, frame->height);

    int32_t low = 0, high = 65535;
    HistogramClipPoints(frame->pixels, (size_t)frame->width * (size_t)frame->height, 0.005, &low, &high);
    result.lowClip = low;

    FillDarkEdgeRuns(frame->pixels, frame->width, frame->height);
    if (settings.applyImageFiltering && settings.filterCount > 0) {
        ApplyFilterChain(frame, settings.filters, settings.filterCount, result.lowClip);
        LogTrace("   applied %d post-capture filter(s) -> %dx%d", (int)settings.filterCount,
                 (int)frame->width, (int)frame->height);
    }

    uint16_t* pixels = frame->pixels;
    const int32_t width = frame->width, height = frame->height;
    MirrorRows(pixels, width, height);
    if (settings.makeCornersBlack)
        BlackenCorners(pixels, width, height, in.variant);
    FillSaturatedEdgeRuns(pixels, width, height);
    ClearTopAndBottomRows(pixels, width, height);
    StampMark(pixels, width, height);
    if (!settings.hideExposureIndicator)
        result.indicatorStamped = StampExposureIndicator(pixels, width, height, result.level);
    FlipRows(pixels, width, height);

    result.stats = ComputeFrameStats(pixels, width, height);
    LogTrace("   final image min=%u max=%u mean=%u", result.stats.minimum, result.stats.maximum,
             result.stats.mean);
    result.edges = ComputeEdgeMaxima(pixels, width, height);
    LogTrace("   edge max (excl corners): top=%u bottom=%u left=%u right=%u", result.edges.top,
             result.edges.bottom, result.edges.left, result.edges.right);
    if (out)
        *out = result;
}
