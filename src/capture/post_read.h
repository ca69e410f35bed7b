// The processing of a frame after the sensor read, as one function of its inputs: the frame,
// a settings snapshot, the sensor facts and the correction file. Apart from the log and the
// indicator masks (a cache safe to share) it reads and writes nothing process-wide, so a worker
// whose capture was abandoned and that finishes late cannot change a later capture; the
// capture's results, the clip point among them, travel back in PostReadResult. The DLL's
// worker and the offline pipeline tool both call it, so they deliver the same pixels.
#pragma once
#include <cstdint>

#include "capture/capture_plan.h"
#include "capture/exposure.h"
#include "imaging/image16.h"
#include "settings/settings_record.h"

struct PostReadInput {
    const NyraSettings* settings;  // the capture's snapshot (validated), never ActiveSettings
    int32_t variant;               // size variant the sensor reported
    const char* serial;            // the sensor's serial (correction file name)
    // Correction file to apply when the image return type is 0; null: the file of the serial
    // in the correction folder of the model chosen by the variant.
    const char* correctionPath;
};

struct PostReadResult {
    ExposureLevel level;
    int32_t lowClip;  // low clip point of the corrected, unfiltered frame
    bool corrected;   // the correction file was applied
    bool indicatorStamped;
    FrameStats stats;  // of the finished image
    EdgeMaxima edges;
};

// Turns a frame as the sensor read returned it into the image the host receives, in place:
// flat-field correction (return type 0), exposure classification, clip point, dark edge runs,
// the filter chain, row mirror, corners, saturated edge runs, three rows cleared at top and
// bottom, mark, exposure indicator (unless hidden), upside down, and the final statistics,
// each with its log line. frame->pixels must come from malloc: the chain may replace the
// block and swap width and height, and the frame then holds the new block. A step that cannot
// get memory is skipped; the image is always finished.
void ProcessCapturedFrame(Image16* frame, const PostReadInput& in, PostReadResult* out);
