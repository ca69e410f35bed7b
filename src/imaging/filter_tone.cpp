// Tone and level filters (types 0..10) as 65536-entry curves: every filter builds its curve
// once (from the histogram where the curve depends on the image) and maps the pixels through
// it, which equals the per-pixel definition because a pixel's result depends only on its value.
// Large images are counted and mapped in slices, one per filter thread.
// Edge policy: parameters are never rejected; each curve clamps or substitutes as defined.
// Normalize needs no histogram: it stretches between the smallest and largest value.
// Failure: without memory for the table (or a histogram the curve needs) the pixels stay as
// they are; Invert, Brightness, Contrast and Normalize then compute per pixel instead.
#include "imaging/filter_tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/filter_entry.h"
#include "imaging/filter_support.h"
#include "imaging/filter_tone_pow.h"

std::atomic<int32_t> CaptureLowClip{-1};

namespace {

constexpr int32_t kTop = 65535;

double BrightnessValue(int32_t v, double offset)
{
    return v + offset;
}

uint16_t Brightness(int32_t v, int32_t level)
{
    return TruncClamp(BrightnessValue(v, (double)level / 100.0 * 65535.0));
}

uint16_t Contrast(int32_t v, double factor)
{
    return TruncClamp((double)(v - 32768) * factor + 32768.0);
}

double ContrastFactor(int32_t level)
{
    double f = (double)level / 100.0 + 1.0;
    return f > 0.0 ? f : 0.0;
}

uint16_t Stretch(int32_t v, int32_t lo, double scale)
{
    return TruncClamp((double)(v - lo) * scale);
}

// Normalize's curve: m .. M (m < M) stretched over 0 .. 65535.
void StretchTable(int32_t m, int32_t M, uint16_t* table)
{
    const double scale = 65535.0 / (double)(M - m);
    for (int32_t i = 0; i <= kTop; i++)
        table[i] = Stretch(i, m, scale);
}

uint16_t Adaptive(int32_t v, int32_t lo, int32_t hi, double scale)
{
    if (v <= lo)
        return 0;
    if (v >= hi)
        return kTop;
    return TruncClamp((double)(v - lo) * scale);
}

// Smallest and largest value present; false when there are no pixels.
bool HistogramRange(const uint32_t* h, int32_t* m, int32_t* M)
{
    int32_t lo = 0;
    while (lo <= kTop && h[lo] == 0)
        lo++;
    if (lo > kTop)
        return false;
    int32_t hi = kTop;
    while (h[hi] == 0)
        hi--;
    *m = lo;
    *M = hi;
    return true;
}

// trunc(count x fraction) as an unsigned threshold, limited to 0..count: a fraction of 1 or
// more (or +Inf) already passes every pixel, and a product beyond 2^64 has no integer form.
uint64_t TailThreshold(size_t count, double fraction)
{
    double product = (double)count * fraction;
    if (!(product > 0.0))
        return 0;  // also NaN
    if (product >= (double)count)
        return count;
    return (uint64_t)product;
}

void ClipPointsFrom(const uint32_t* h, size_t count, double fraction, int32_t* low, int32_t* high)
{
    uint64_t t = TailThreshold(count, fraction);
    int32_t lo = 0, hi = kTop;
    uint64_t sum = 0;
    for (int32_t i = 0; i <= kTop; i++) {
        sum += h[i];
        if (sum > t) {
            lo = i;
            break;
        }
    }
    sum = 0;
    for (int32_t i = kTop; i >= 0; i--) {
        sum += h[i];
        if (sum > t) {
            hi = i;
            break;
        }
    }
    if (hi <= lo)
        hi = lo + 1;
    *low = lo;
    *high = hi;
}

int32_t PercentileFrom(const uint32_t* h, size_t count, double fraction)
{
    uint64_t t = TailThreshold(count, fraction);
    uint64_t sum = 0;
    for (int32_t i = 0; i <= kTop; i++) {
        sum += h[i];
        if (sum >= t)
            return i;
    }
    return kTop;
}

// gamma placing the pivot on mid-grey, from the adjusted minimum and maximum.
double PivotGamma(int64_t pivot, int64_t minimum, int64_t maximum)
{
    if (minimum >= maximum)
        return 1.0;
    double x = (double)(pivot - minimum) / (double)(maximum - minimum);
    if (x <= 0.0 || x >= 1.0)
        return 1.0;
    return std::log(0.5) / std::log(x);
}

// The curves with a power: PowerCurve asks fill(i, &x, &y) for entry i's base and exponent,
// takes PowNear's x^y for a chunk of entries at a time (vectors where the processor has them)
// and hands each to entry(i, x, y, power), which settles it or falls back to std::pow.
constexpr int32_t kPowerChunk = 256;

template <typename Fill, typename Entry>
void PowerCurve(Fill fill, Entry entry)
{
    const PowNear near;
    double x[kPowerChunk], y[kPowerChunk], power[kPowerChunk];
    for (int32_t i0 = 0; i0 <= kTop; i0 += kPowerChunk) {
        for (int32_t i = 0; i < kPowerChunk; i++)
            fill(i0 + i, &x[i], &y[i]);
        near.Row(x, y, power, kPowerChunk);
        for (int32_t i = 0; i < kPowerChunk; i++)
            entry(i0 + i, x[i], y[i], power[i]);
    }
}

void LevelCurveTable(int64_t low, int64_t high, double gamma, uint16_t* table)
{
    if (high <= low)
        high = low + 1;
    // A NaN exponent would turn every entry into 0 (a black image); +Inf into a step.
    if (!(gamma > 0.0) || !std::isfinite(gamma))
        gamma = 1.0;
    double scale = 1.0 / (double)(high - low);
    auto level = [&](int32_t i) {
        double t = ((double)i - (double)low) * scale;
        if (t < 0.0)
            t = 0.0;
        if (t > 1.0)
            t = 1.0;
        return t;
    };
    // pow(t, 1) is t; the default Level Adjustment is a straight line.
    if (gamma == 1.0) {
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = RoundClamp(level(i) * 65535.0);
        return;
    }
    PowerCurve(
        [&](int32_t i, double* x, double* y) {
            *x = level(i);
            *y = gamma;
        },
        [&](int32_t i, double x, double y, double power) {
            const int32_t settled = SettledFloor(power * 65535.0, 0.5);
            table[i] = settled >= 0 ? (uint16_t)(settled < kTop ? settled : kTop)
                                    : RoundClamp(std::pow(x, y) * 65535.0);
        });
}

// Rounded toward zero after adding 0.5, as Level Adjustment defines its ends (may be negative).
int64_t RoundTowardZero(double x)
{
    double y = x + 0.5;
    if (y >= 9.0e18)
        return INT64_MAX / 4;
    if (y <= -9.0e18)
        return INT64_MIN / 4;
    return (int64_t)y;
}

}  // namespace

bool IsToneFilter(int32_t type)
{
    return type >= FilterInvert && type <= FilterNormalize;
}

namespace {

// The passes over every pixel (a histogram, a mapping through a curve) run in one slice per
// filter thread, each slice at least this long: a thread's start costs about what counting or
// mapping a hundred thousand pixels does.
constexpr size_t kPixelsPerSlice = (size_t)1 << 17;

int32_t SliceCount(size_t count)
{
    const size_t most = count / kPixelsPerSlice;
    return most < 2 ? 1 : (int32_t)std::min<size_t>(most, (size_t)FilterThreadCount());
}

struct PixelPass {
    const uint16_t* pixels;
    uint16_t* out;  // mapping: the pixels themselves; histogram: null
    size_t count;
    const uint16_t* table;  // the curve to map through (histogram: applied first, or null)
    uint32_t* counts;       // histogram: 65536 counters per slice
    int32_t slices;

    size_t Start(int32_t slice) const
    {
        return (size_t)((uint64_t)count * (uint64_t)slice / (uint64_t)slices);
    }
    uint32_t* Counts(int32_t slice) const { return counts + (size_t)slice * kToneTableSize; }
};

void MapSlice(void* context, int32_t slice, int32_t)
{
    const PixelPass& pass = *static_cast<const PixelPass*>(context);
    uint16_t* p = pass.out;
    const uint16_t* t = pass.table;
    for (size_t i = pass.Start(slice), end = pass.Start(slice + 1); i < end; i++)
        p[i] = t[p[i]];
}

void CountSlice(void* context, int32_t slice, int32_t)
{
    const PixelPass& pass = *static_cast<const PixelPass*>(context);
    const uint16_t* p = pass.pixels;
    const uint16_t* t = pass.table;
    uint32_t* h = pass.Counts(slice);
    memset(h, 0, kToneTableSize * sizeof(uint32_t));
    const size_t end = pass.Start(slice + 1);
    if (t) {
        for (size_t i = pass.Start(slice); i < end; i++)
            h[t[p[i]]]++;
    } else {
        for (size_t i = pass.Start(slice); i < end; i++)
            h[p[i]]++;
    }
}

}  // namespace

bool HistogramOf(const uint16_t* pixels, size_t count, uint32_t* h)
{
    return HistogramThrough(pixels, count, nullptr, h);
}

bool HistogramThrough(const uint16_t* pixels, size_t count, const uint16_t* table, uint32_t* h)
{
    // Several slices count apart and are added up; without room for their counters, one slice
    // counts into h.
    int32_t slices = SliceCount(count);
    FilterBuffer<uint32_t> apart(slices > 1 ? (size_t)slices * kToneTableSize : 0);
    if (!apart)
        slices = 1;
    PixelPass pass{pixels, nullptr, count, table, slices > 1 ? apart.data() : h, slices};
    ForEachTask(slices, CountSlice, &pass);
    for (int32_t s = 1; s < slices; s++) {
        const uint32_t* c = pass.Counts(s);
        for (size_t v = 0; v < kToneTableSize; v++)
            pass.counts[v] += c[v];
    }
    if (slices > 1)
        memcpy(h, pass.counts, kToneTableSize * sizeof(uint32_t));
    return true;
}

void MapThroughTable(uint16_t* pixels, size_t count, const uint16_t* table)
{
    PixelPass pass{pixels, pixels, count, table, nullptr, SliceCount(count)};
    ForEachTask(pass.slices, MapSlice, &pass);
}

bool BuildToneTable(int32_t type, const int32_t p[3], const uint32_t* h, size_t count, int32_t lowClip,
                    uint16_t* table)
{
    switch (type) {
    case FilterInvert:
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = (uint16_t)(kTop - i);
        return true;
    case FilterBrightness: {
        double offset = (double)p[0] / 100.0 * 65535.0;
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = TruncClamp(BrightnessValue(i, offset));
        return true;
    }
    case FilterContrast: {
        double f = ContrastFactor(p[0]);
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = Contrast(i, f);
        return true;
    }
    case FilterDynamicDarken: {
        int32_t level = p[0];
        double k = level < 1      ? 1.0 / 50.0
                   : level <= 50  ? (double)level / 50.0
                   : level <= 100 ? (double)level / 10.0
                                  : 10.0;
        double base = k * 65536.0;
        PowerCurve(
            [&](int32_t i, double* x, double* y) {
                *x = base;
                *y = (double)i / 65535.0;
            },
            [&](int32_t i, double x, double y, double power) {
                // The entry is v + 0.5 = pow / k - 0.5 truncated, which is 0 wherever v is
                // negative (v > -1 here, and truncation goes toward zero).
                const int32_t settled = SettledFloor(power / k, -0.5);
                if (settled >= 0) {
                    table[i] = (uint16_t)(settled < kTop ? settled : kTop);
                } else {
                    double v = std::pow(x, y) / k - 1.0;
                    table[i] = RoundClamp(v > 0.0 ? v : 0.0);
                }
            });
        return true;
    }
    case FilterDynamicLighten:
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = RoundClamp(std::sqrt((double)(i + 1) / 65536.0) * 65535.0);
        return true;
    case FilterEqualize: {
        if (!h || count == 0)
            return false;
        double c = 0.0;
        for (int32_t i = 0; i <= kTop; i++) {
            c = c + (double)h[i] / (double)count;
            if (c > 1.0)
                c = 1.0;
            uint16_t v = RoundClamp(c * 65534.0);
            table[i] = v > 65534 ? 65534 : v;
        }
        return true;
    }
    case FilterGamma: {
        int32_t g = p[0];
        if (g <= 0 || g == 100)
            return false;
        double e = 100.0 / (double)g;
        PowerCurve(
            [&](int32_t i, double* x, double* y) {
                *x = (double)i / 65535.0;
                *y = e;
            },
            [&](int32_t i, double x, double y, double power) {
                const int32_t settled = SettledFloor(power * 65535.0, 0.0);
                if (settled >= 0) {
                    table[i] = (uint16_t)(settled < kTop ? settled : kTop);
                } else {
                    double v = std::pow(x, y) * 65535.0;
                    table[i] = TruncClamp(v > 65535.0 ? 65535.0 : v);
                }
            });
        return true;
    }
    case FilterLevel: {
        int64_t minimum = p[0] > 0 ? p[0] : 0;
        int64_t maximum = p[2] < 255 ? p[2] : 255;
        if (maximum <= minimum)
            maximum = minimum + 1;
        int32_t lo = 0, hi = kTop;
        if (h)
            ClipPointsFrom(h, count, 0.005, &lo, &hi);
        if (lowClip >= 0 && lowClip < lo)
            lo = lowClip;
        double span = hi - lo > 1 ? (double)(hi - lo) : 1.0;
        int64_t low = RoundTowardZero((double)(minimum - 128) / 255.0 * span + lo);
        int64_t high = RoundTowardZero((double)(maximum - 148) / 255.0 * span + hi);
        LevelCurveTable(low, high, PivotGamma(p[1], minimum, maximum), table);
        return true;
    }
    case FilterLevelPercent: {
        int64_t minimum = p[0] > 0 ? p[0] : 0;
        int64_t maximum = p[2] < 100 ? p[2] : 100;
        if (maximum <= minimum)
            maximum = minimum + 1;
        double fLow = (double)minimum / 100.0, fHigh = (double)maximum / 100.0;
        bool needHistogram = (fLow > 0.0 && fLow < 1.0) || (fHigh > 0.0 && fHigh < 1.0);
        if (needHistogram && !h)
            return false;
        int32_t low = fLow <= 0.0 ? 0 : fLow >= 1.0 ? kTop : PercentileFrom(h, count, fLow);
        int32_t high = fHigh <= 0.0 ? 0 : fHigh >= 1.0 ? kTop : PercentileFrom(h, count, fHigh);
        LevelCurveTable(low, high, PivotGamma(p[1], minimum, maximum), table);
        return true;
    }
    case FilterNormalize: {
        int32_t m, M;
        if (!h || !HistogramRange(h, &m, &M) || m >= M)
            return false;
        StretchTable(m, M, table);
        return true;
    }
    case FilterAdaptiveNormalization: {
        if (!h)
            return false;
        int32_t a = p[0] < 0 ? 0 : (p[0] > 50 ? 50 : p[0]);
        int32_t b = p[1] < 0 ? 0 : (p[1] > 50 ? 50 : p[1]);
        uint64_t sum = 0;
        for (int32_t i = 1; i < kTop; i++)
            sum += h[i];
        double total = (double)sum;
        uint64_t lowCount = (uint64_t)((double)a / 100.0 * total);
        uint64_t highCount = (uint64_t)((double)b / 100.0 * total);
        int32_t lo = 1, hi = 65534;
        sum = 0;
        for (int32_t i = 1; i <= 65534; i++) {
            sum += h[i];
            if (sum >= lowCount) {
                lo = i;
                break;
            }
        }
        sum = 0;
        for (int32_t j = 65534; j >= 1; j--) {
            sum += h[j];
            if (sum >= highCount) {
                hi = j;
                break;
            }
        }
        if (hi <= lo)
            return false;
        double scale = 65535.0 / (double)(hi - lo);
        for (int32_t i = 0; i <= kTop; i++)
            table[i] = Adaptive(i, lo, hi, scale);
        return true;
    }
    default: return false;
    }
}

namespace {

bool NeedsHistogram(int32_t type)
{
    return type == FilterEqualize || type == FilterLevel || type == FilterLevelPercent
           || type == FilterNormalize || type == FilterAdaptiveNormalization;
}

// One tone entry on its own: histogram if the curve needs one, table, one pass. lowClip
// matters only to Level Adjustment.
void RunTone(uint16_t* pixels, size_t count, int32_t type, int32_t p1, int32_t p2, int32_t p3,
             int32_t lowClip = -1)
{
    if (!pixels || count == 0)
        return;
    const int32_t p[3] = {p1, p2, p3};
    FilterBuffer<uint16_t> table(kToneTableSize);
    FilterBuffer<uint32_t> histogram(NeedsHistogram(type) ? kToneTableSize : 0);
    if (histogram)
        HistogramOf(pixels, count, histogram.data());
    if (!table) {
        // No table: the arithmetic filters still run per pixel; the others leave the image.
        if (type == FilterBrightness) {
            for (size_t i = 0; i < count; i++)
                pixels[i] = Brightness(pixels[i], p1);
        } else if (type == FilterContrast) {
            double f = ContrastFactor(p1);
            for (size_t i = 0; i < count; i++)
                pixels[i] = Contrast(pixels[i], f);
        } else if (type == FilterInvert) {
            for (size_t i = 0; i < count; i++)
                pixels[i] = (uint16_t)(kTop - pixels[i]);
        }
        return;
    }
    if (BuildToneTable(type, p, histogram.data(), count, lowClip, table.data()))
        MapThroughTable(pixels, count, table.data());
}

}  // namespace

void InvertImage(uint16_t* pixels, size_t count)
{
    if (!pixels)
        return;
    for (size_t i = 0; i < count; i++)
        pixels[i] = (uint16_t)(kTop - pixels[i]);
}

void AdjustBrightness(uint16_t* pixels, size_t count, int32_t level)
{
    if (level != 0)
        RunTone(pixels, count, FilterBrightness, level, 0, 0);
}

void AdjustContrast(uint16_t* pixels, size_t count, int32_t level)
{
    RunTone(pixels, count, FilterContrast, level, 0, 0);
}

void DarkenDynamicRange(uint16_t* pixels, size_t count, int32_t level)
{
    RunTone(pixels, count, FilterDynamicDarken, level, 0, 0);
}

void LightenDynamicRange(uint16_t* pixels, size_t count)
{
    RunTone(pixels, count, FilterDynamicLighten, 0, 0, 0);
}

void EqualizeImage(uint16_t* pixels, size_t count)
{
    RunTone(pixels, count, FilterEqualize, 0, 0, 0);
}

void GammaCorrect(uint16_t* pixels, size_t count, int32_t gammaX100)
{
    RunTone(pixels, count, FilterGamma, gammaX100, 0, 0);
}

void LevelAdjust(uint16_t* pixels, size_t count, int32_t minimum, int32_t pivot, int32_t maximum,
                 int32_t lowClip)
{
    RunTone(pixels, count, FilterLevel, minimum, pivot, maximum, lowClip);
}

void LevelAdjustByPercentage(uint16_t* pixels, size_t count, int32_t minimum, int32_t pivot, int32_t maximum)
{
    RunTone(pixels, count, FilterLevelPercent, minimum, pivot, maximum);
}

void NormalizeImage(uint16_t* pixels, size_t count)
{
    if (!pixels || count == 0)
        return;
    uint16_t m = pixels[0], M = pixels[0];
    for (size_t i = 1; i < count; i++) {
        m = pixels[i] < m ? pixels[i] : m;
        M = pixels[i] > M ? pixels[i] : M;
    }
    if (m >= M)
        return;
    // Each value is stretched once and then looked up: half the time of converting every
    // pixel to double and back. Without the table, the same arithmetic per pixel.
    FilterBuffer<uint16_t> table(kToneTableSize);
    if (table) {
        StretchTable(m, M, table.data());
        MapThroughTable(pixels, count, table.data());
        return;
    }
    const double scale = 65535.0 / (double)(M - m);
    for (size_t i = 0; i < count; i++)
        pixels[i] = Stretch(pixels[i], m, scale);
}

void AdaptiveNormalize(uint16_t* pixels, size_t count, int32_t lowPercent, int32_t highPercent)
{
    RunTone(pixels, count, FilterAdaptiveNormalization, lowPercent, highPercent, 0);
}

void HistogramClipPoints(const uint16_t* pixels, size_t count, double fraction, int32_t* low, int32_t* high)
{
    int32_t lo = 0, hi = kTop;
    FilterBuffer<uint32_t> h(kToneTableSize);
    if (h && pixels) {
        HistogramOf(pixels, count, h.data());
        ClipPointsFrom(h.data(), count, fraction, &lo, &hi);
    }
    if (low)
        *low = lo;
    if (high)
        *high = hi;
}

int32_t HistogramPercentile(const uint16_t* pixels, size_t count, double fraction)
{
    if (fraction <= 0.0)
        return 0;
    if (fraction >= 1.0)
        return kTop;
    FilterBuffer<uint32_t> h(kToneTableSize);
    if (!h || !pixels)
        return fraction < 0.5 ? 0 : kTop;  // the widest range: a level curve then stretches least
    HistogramOf(pixels, count, h.data());
    return PercentileFrom(h.data(), count, fraction);
}

void ApplyLevelCurve(uint16_t* pixels, size_t count, int32_t low, int32_t high, double gamma)
{
    if (!pixels || count == 0)
        return;
    FilterBuffer<uint16_t> table(kToneTableSize);
    if (!table)
        return;
    LevelCurveTable(low, high, gamma, table.data());
    MapThroughTable(pixels, count, table.data());
}
