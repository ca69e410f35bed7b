// The post-capture filter chain (ApplyFilterChain).
// Inputs: an Image16 whose block comes from malloc, and a filter list. Entries that are
// disabled or restricted to a modality other than "IO" are passed over; types outside 0..23
// do nothing. Zero parameters are replaced by the catalogue's "If 0" values.
// Polarity: without an active Invert entry the chain inverts the image once, before the first
// entry when no active level entry exists, else right after the first active level entry.
// Speed: consecutive tone entries (and the implicit inversion) are composed into one table
// and the pixels are mapped once. Each entry's curve is still built from the histogram of the
// image it would have seen (the histogram is carried through the composed tables), so the
// result equals running the entries one by one.
// Memory: every filter releases its blocks before the next one runs; a tone run holds only
// its tables and histograms. If those cannot be obtained the entries run one by one.
#include "imaging/filter_chain.h"

#include <cstring>

#include "base/text.h"
#include "imaging/filter_catalogue.h"
#include "imaging/filter_convolve.h"
#include "imaging/filter_geometry.h"
#include "imaging/filter_median.h"
#include "imaging/filter_support.h"
#include "imaging/filter_tone.h"

namespace {

bool NeedsHistogram(int32_t type)
{
    return type == FilterEqualize || type == FilterLevel || type == FilterLevelPercent
           || type == FilterNormalize || type == FilterAdaptiveNormalization;
}

// One tone entry on its own, through the filters' public entry points.
void RunToneAlone(Image16* image, int32_t type, const int32_t p[3], int32_t lowClip)
{
    uint16_t* px = image->pixels;
    size_t n = PixelCount(image->width, image->height);
    switch (type) {
    case FilterInvert: InvertImage(px, n); break;
    case FilterAdaptiveNormalization: AdaptiveNormalize(px, n, p[0], p[1]); break;
    case FilterBrightness: AdjustBrightness(px, n, p[0]); break;
    case FilterContrast: AdjustContrast(px, n, p[0]); break;
    case FilterDynamicDarken: DarkenDynamicRange(px, n, p[0]); break;
    case FilterDynamicLighten: LightenDynamicRange(px, n); break;
    case FilterEqualize: EqualizeImage(px, n); break;
    case FilterGamma: GammaCorrect(px, n, p[0]); break;
    case FilterLevel: LevelAdjust(px, n, p[0], p[1], p[2], lowClip); break;
    case FilterLevelPercent: LevelAdjustByPercentage(px, n, p[0], p[1], p[2]); break;
    case FilterNormalize: NormalizeImage(px, n); break;
    default: break;
    }
}

// A run of consecutive tone entries composed into one table.
class ToneRun {
public:
    ToneRun(Image16* image, int32_t lowClip)
        : image_(image), lowClip_(lowClip), table_(kToneTableSize), step_(kToneTableSize),
          histogram_(kToneTableSize), spare_(kToneTableSize)
    {
        usable_ = table_ && step_ && histogram_ && spare_;
    }

    void Add(int32_t type, const int32_t p[3])
    {
        if (!usable_) {
            RunToneAlone(image_, type, p, lowClip_);
            return;
        }
        size_t n = PixelCount(image_->width, image_->height);
        if (NeedsHistogram(type) && !histogramValid_) {
            // The histogram of the pixels as the pending table would leave them.
            HistogramThrough(image_->pixels, n, pending_ ? table_.data() : nullptr, histogram_.data());
            histogramValid_ = true;
        }
        if (!BuildToneTable(type, p, histogramValid_ ? histogram_.data() : nullptr, n, lowClip_,
                            step_.data())) {
            return;  // this entry leaves the image as it is
        }
        uint16_t* t = table_.data();
        const uint16_t* e = step_.data();
        if (pending_) {
            for (size_t v = 0; v < kToneTableSize; v++)
                t[v] = e[t[v]];
        } else {
            memcpy(t, e, kToneTableSize * sizeof(uint16_t));
            pending_ = true;
        }
        if (histogramValid_) {
            uint32_t* moved = spare_.data();
            memset(moved, 0, kToneTableSize * sizeof(uint32_t));
            const uint32_t* h = histogram_.data();
            for (size_t v = 0; v < kToneTableSize; v++)
                moved[e[v]] += h[v];
            memcpy(histogram_.data(), moved, kToneTableSize * sizeof(uint32_t));
        }
    }

    void Flush()
    {
        if (pending_)
            MapThroughTable(image_->pixels, PixelCount(image_->width, image_->height), table_.data());
        pending_ = false;
        histogramValid_ = false;
    }

private:
    Image16* image_;
    int32_t lowClip_;
    FilterBuffer<uint16_t> table_;      // composition of the run so far
    FilterBuffer<uint16_t> step_;       // the entry being added
    FilterBuffer<uint32_t> histogram_;  // of the image as the composed table leaves it
    FilterBuffer<uint32_t> spare_;
    bool usable_ = false;
    bool pending_ = false;
    bool histogramValid_ = false;
};

void RunNeighbourhoodOrGeometry(Image16* image, int32_t type, const int32_t p[3])
{
    uint16_t* px = image->pixels;
    const int32_t w = image->width, h = image->height;
    switch (type) {
    case FilterFastNoiseRemoval: FastNoiseRemoval(px, w, h); break;
    case FilterNoiseRemoval:
    case FilterDespeckle: MedianFilter(px, w, h, p[0]); break;
    case FilterFlipHorizontal: FlipHorizontal(px, w, h); break;
    case FilterFlipVertical: FlipVertical(px, w, h); break;
    case FilterRotate90: RotateQuarter(image, true); break;
    case FilterRotate90Ccw: RotateQuarter(image, false); break;
    case FilterRotate180: Rotate180(px, PixelCount(w, h)); break;
    case FilterGaussianBlur: GaussianBlur(px, w, h, p[0]); break;
    case FilterUnsharpMask: GaussianEdgeEnhance(px, w, h, p[0], p[1]); break;
    case FilterLaplace: LaplaceEdgeEnhance(px, w, h, p[0], p[1]); break;
    case FilterSharpen: SharpenFilter(px, w, h, p[0], p[1]); break;
    case FilterSmooth: SmoothFilter(px, w, h, p[0]); break;
    default: break;  // unknown types do nothing
    }
}

}  // namespace

bool IsFilterEntryActive(const FilterEntry& entry)
{
    if (entry.enabled == 0)
        return false;
    char modality[sizeof(entry.modality) + 1];
    memcpy(modality, entry.modality, sizeof(entry.modality));
    modality[sizeof(entry.modality)] = '\0';  // a stored text may lack its terminator
    return modality[0] == '\0' || CompareNoCase(modality, "IO") == 0;
}

void ApplyFilterChain(Image16* image, const FilterEntry* entries, int32_t count, int32_t lowClip)
{
    if (!image || !image->pixels || PixelCount(image->width, image->height) == 0)
        return;
    if (!entries || count < 0)
        count = 0;

    bool hasInvert = false;
    int32_t firstLevel = -1;
    for (int32_t i = 0; i < count; i++) {
        if (!IsFilterEntryActive(entries[i]))
            continue;
        if (entries[i].type == FilterInvert)
            hasInvert = true;
        if (firstLevel < 0 && (entries[i].type == FilterLevel || entries[i].type == FilterLevelPercent))
            firstLevel = i;
    }
    const int32_t invertParams[3] = {0, 0, 0};
    ToneRun tones(image, lowClip);
    if (!hasInvert && firstLevel < 0)
        tones.Add(FilterInvert, invertParams);

    for (int32_t i = 0; i < count; i++) {
        const FilterEntry& e = entries[i];
        if (!IsFilterEntryActive(e))
            continue;
        int32_t p[3];
        EffectiveFilterParams(e, p);
        if (IsToneFilter(e.type)) {
            tones.Add(e.type, p);
        } else {
            tones.Flush();
            RunNeighbourhoodOrGeometry(image, e.type, p);
        }
        if (!hasInvert && i == firstLevel)
            tones.Add(FilterInvert, invertParams);
    }
    tones.Flush();
}
