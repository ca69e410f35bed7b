// The fast filters against the per-pixel reference over a table of sizes, masks and images.
// Tone filters, medians, Smooth, the Laplace filter and geometry must match bit for bit. The
// weighted sums of Gaussian Blur, Gaussian Edge Enhancement and Sharpen add equal-weight
// pixels first (a different summation order), which may move a result by 1 when the exact
// sum lies within a few ulps of x.5; those cases are counted and must stay rare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "filter_images.h"
#include "filter_reference.h"
#include "imaging/filter_convolve.h"
#include "imaging/filter_convolve_radial.h"
#include "imaging/filter_median.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"
#include "imaging/filter_tone.h"

namespace {

struct Size {
    int32_t w, h;
};
const Size kSizes[] = {{1, 1}, {2, 2}, {3, 7}, {64, 33}, {257, 129}};

struct Source {
    const char* name;
    std::function<ref::Image(int32_t, int32_t)> make;
};
const Source kSources[] = {
    {"random", [](int32_t w, int32_t h) { return testimg::Random(w, h, 1234u + w * 7 + h); }},
    {"frame", [](int32_t w, int32_t h) { return testimg::Frame(w, h, 99u + w + h); }},
    {"flat0", [](int32_t w, int32_t h) { return testimg::Flat(w, h, 0); }},
    {"flat65535", [](int32_t w, int32_t h) { return testimg::Flat(w, h, 65535); }},
};

// Reference cost grows with the window: the largest size runs the end masks only.
std::vector<int32_t> MasksFor(const Size& s, int32_t largest)
{
    std::vector<int32_t> masks;
    if (s.w * s.h > 10000) {
        masks = {3, 5, 7, 9, 11, largest};  // 7 .. 11: a row longer than one strip of their networks
    } else {
        for (int32_t m = 3; m <= largest; m += 2)
            masks.push_back(m);
    }
    return masks;
}

struct Mismatch {
    size_t count = 0;
    int maxDiff = 0;
};

Mismatch Compare(const ref::Image& expected, const ref::Image& got)
{
    Mismatch m;
    for (size_t i = 0; i < expected.px.size(); i++) {
        int d = std::abs((int)expected.px[i] - (int)got.px[i]);
        if (d) {
            m.count++;
            m.maxDiff = std::max(m.maxDiff, d);
        }
    }
    return m;
}

using FastFn = std::function<void(uint16_t*, int32_t, int32_t, int32_t)>;
using RefFn = std::function<void(ref::Image&, int32_t)>;

// Runs fast and reference over every size, source and mask. exact: every pixel equal;
// otherwise off-by-one results are counted into *rounding and *pixels.
// A flat image must stay flat through every neighbourhood filter (flatStays), so there the
// reference is not needed.
void Sweep(const char* what, int32_t largest, FastFn fast, RefFn slow, bool exact, size_t* rounding = nullptr,
           size_t* pixels = nullptr, bool flatStays = true)
{
    for (const Size& s : kSizes) {
        for (const Source& src : kSources) {
            const bool flat = src.name[0] == 'f' && src.name[1] == 'l';
            ref::Image input = src.make(s.w, s.h);
            for (int32_t mask : MasksFor(s, largest)) {
                ref::Image expected = input;
                if (!flat || !flatStays)
                    slow(expected, mask);
                ref::Image got = input;
                fast(got.px.data(), s.w, s.h, mask);
                Mismatch m = Compare(expected, got);
                std::string label = std::string(what) + " " + src.name + " " + std::to_string(s.w) + "x"
                                    + std::to_string(s.h) + " mask " + std::to_string(mask);
                if (exact) {
                    ASSERT_EQ(m.count, 0u) << label;
                } else {
                    ASSERT_LE(m.maxDiff, 1) << label;
                    *rounding += m.count;
                    *pixels += expected.px.size();
                }
                if (flat && flatStays) {
                    ASSERT_EQ(got.px, input.px) << label << ": a flat image must stay flat";
                }
            }
        }
    }
}

TEST(FilterExactness, MediansMatchBitForBit)
{
    // Every vector path (baseline, AVX2, AVX-512 where the processor has them) against one
    // reference run.
    auto bothPaths = [](uint16_t* p, int32_t w, int32_t h, int32_t m) {
        std::vector<uint16_t> in(p, p + (size_t)w * h);
        MedianFilter(p, w, h, m);
        bool same = true;
        for (int level : {0, 1}) {
            std::vector<uint16_t> other = in;
            SetSimdLimit(level);
            MedianFilter(other.data(), w, h, m);
            SetSimdLimit(2);
            same = same && std::equal(other.begin(), other.end(), p);
        }
        if (!same)
            p[0] ^= 1;  // makes the comparison with the reference fail (once: twice would undo it)
    };
    Sweep("median", 21, bothPaths, ref::Median, true);
    for (int level : {0, 1, 2}) {
        SetSimdLimit(level);
        Sweep(
            "fast noise", 3, [](uint16_t* p, int32_t w, int32_t h, int32_t) { FastNoiseRemoval(p, w, h); },
            [](ref::Image& im, int32_t) { ref::FastNoise(im); }, true);
        // Rows of just under and over one vector of inner pixels (8, 16 and 32 lanes).
        for (int32_t w : {9, 10, 17, 18, 33, 34}) {
            ref::Image expected = testimg::Random(w, 4, (uint32_t)w), got = expected;
            ref::FastNoise(expected);
            FastNoiseRemoval(got.px.data(), w, 4);
            EXPECT_EQ(Compare(expected, got).count, 0u) << "fast noise " << w << " wide, path " << level;
        }
    }
    SetSimdLimit(2);
}

// The histogram median walks across empty stretches by blocks of 256 values: windows that
// hold two far-apart levels (with and without a little noise), the ends of the range, and
// plateaus where the entering and leaving values are equal. Mask 27 fills 31 lanes of the
// ring's columns (five rows at a time), 31 every lane (a row pair), 33 no longer fits them.
TEST(FilterExactness, HistogramMedianAcrossGapsAndPlateaus)
{
    const int32_t w = 90, h = 40;
    std::vector<ref::Image> inputs;
    for (uint16_t low : {0, 300, 1024}) {
        for (uint16_t high : {1279, 40000, 65535}) {
            ref::Image im = testimg::Random(w, h, 7u + low + high);
            for (int32_t y = 0; y < h; y++) {
                for (int32_t x = 0; x < w; x++) {
                    uint16_t& v = im.px[(size_t)y * w + x];
                    const bool top = ((x / 13) + (y / 9)) % 2 == 0 || x > 70;
                    const int32_t noise = (y % 3 == 0) ? (int32_t)(v % 5) - 2 : 0;
                    v = (uint16_t)std::min(65535, std::max(0, (top ? high : low) + noise));
                }
            }
            inputs.push_back(im);
        }
    }
    // 90 columns: the 7 x 7 network ends each row with a vector overlapping the one before.
    for (const ref::Image& input : inputs) {
        for (int32_t mask : {7, 21, 27, 31, 33}) {
            ref::Image expected = input;
            ref::Median(expected, mask);
            for (int level : {0, 1, 2}) {
                ref::Image got = input;
                SetSimdLimit(level);
                MedianFilter(got.px.data(), w, h, mask);
                SetSimdLimit(2);
                ASSERT_EQ(Compare(expected, got).count, 0u)
                    << "levels " << input.px[0] << "/" << input.px[(size_t)w - 1] << " mask " << mask
                    << " path " << level;
            }
        }
    }
}

TEST(FilterExactness, SmoothAndLaplaceMatchBitForBit)
{
    for (int level : {0, 1, 2}) {
        SetSimdLimit(level);
        Sweep("smooth", 21, SmoothFilter, ref::Smooth, true);
    }
    for (int simd : {0, 1, 2}) {
        SetSimdLimit(simd);
        for (int32_t level : {0, 3, 100}) {
            Sweep(
                "laplace", 21,
                [level](uint16_t* p, int32_t w, int32_t h, int32_t m) {
                    LaplaceEdgeEnhance(p, w, h, m, level);
                },
                [level](ref::Image& im, int32_t m) { ref::Laplace(im, m, level); }, true);
        }
    }
    SetSimdLimit(2);
}

TEST(FilterExactness, WeightedSumsDifferOnlyAtRoundingBoundaries)
{
    size_t rounding = 0, pixels = 0;
    for (int level : {0, 1, 2}) {
        SetSimdLimit(level);
        Sweep("gaussian", 15, GaussianBlur, ref::Gaussian, false, &rounding, &pixels);
    }
    SetSimdLimit(2);
    for (bool compiled : {false, true}) {
        SetRadialShapesCompiled(compiled);
        for (int32_t level : {0, 20, 100}) {
            // Level 100 makes every weight 0: the output is 0 everywhere, flat or not.
            Sweep(
                "sharpen", 21,
                [level](uint16_t* p, int32_t w, int32_t h, int32_t m) { SharpenFilter(p, w, h, m, level); },
                [level](ref::Image& im, int32_t m) { ref::Sharpen(im, m, level); }, false, &rounding, &pixels,
                level != 100);
        }
    }
    SetRadialShapesCompiled(true);
    for (int32_t level : {0, 100}) {
        Sweep(
            "unsharp", 21,
            [level](uint16_t* p, int32_t w, int32_t h, int32_t m) { GaussianEdgeEnhance(p, w, h, m, level); },
            [level](ref::Image& im, int32_t m) { ref::Unsharp(im, m, level); }, false, &rounding, &pixels);
    }
    printf("[ weighted ] %zu of %zu pixels off by one (%.2e)\n", rounding, pixels,
           pixels ? (double)rounding / pixels : 0.0);
    EXPECT_LE((double)rounding, 1e-4 * (double)pixels);
}

TEST(FilterExactness, WeightedSumsOnAFrameMatchExactly)
{
    // Sharpen adds the classes of one root as scaled integers: every vector path, and masks
    // whose groups are split to keep those integers within 32 bits (21 and above).
    ref::Image input = testimg::Frame(200, 150, 5);
    for (int32_t mask : {3, 5, 21, 31}) {
        ref::Image expected = input;
        ref::Sharpen(expected, mask, 20);
        for (int level : {0, 1, 2}) {
            ref::Image got = input;
            SetSimdLimit(level);
            SharpenFilter(got.px.data(), got.w, got.h, mask, 20);
            EXPECT_EQ(Compare(expected, got).count, 0u) << "sharpen " << mask << " path " << level;
        }
        SetSimdLimit(2);
    }
    // The masks up to 21 have a compiled form beside the plan; both add the same sums in the
    // same order. (The narrow frames: rows cut into stripes shorter than the window, or
    // narrower than the stripes.)
    for (const ref::Image& frame : {input, testimg::Frame(37, 23, 6), testimg::Frame(5, 4, 7)}) {
        for (int32_t mask = 3; mask <= 21; mask += 2) {
            for (int level : {0, 1, 2}) {
                SetSimdLimit(level);
                ref::Image planned = frame, compiled = frame;
                SetRadialShapesCompiled(false);
                SharpenFilter(planned.px.data(), frame.w, frame.h, mask, 20);
                SetRadialShapesCompiled(true);
                SharpenFilter(compiled.px.data(), frame.w, frame.h, mask, 20);
                EXPECT_EQ(planned.px, compiled.px)
                    << frame.w << " wide, sharpen " << mask << " path " << level;
            }
        }
    }
    // Unsharp Mask and Gaussian Blur: every path gives the baseline's pixels (a 37-wide frame
    // leaves a ragged end after the vectors).
    for (const ref::Image& frame : {input, testimg::Frame(37, 23, 6)}) {
        std::vector<uint16_t> want[3];
        for (int level : {0, 1, 2}) {
            SetSimdLimit(level);
            ref::Image got[3] = {frame, frame, frame};
            GaussianEdgeEnhance(got[0].px.data(), frame.w, frame.h, 5, 100);
            GaussianBlur(got[1].px.data(), frame.w, frame.h, 3);
            GaussianBlur(got[2].px.data(), frame.w, frame.h, 15);
            for (int i = 0; i < 3; i++) {
                if (level == 0)
                    want[i] = got[i].px;
                EXPECT_EQ(got[i].px, want[i]) << frame.w << " wide, case " << i << " path " << level;
            }
        }
    }
    SetRadialShapesCompiled(true);
    SetSimdLimit(2);
    for (int32_t mask : {3, 5, 15}) {
        ref::Image expected = input, got = input;
        ref::Gaussian(expected, mask);
        GaussianBlur(got.px.data(), got.w, got.h, mask);
        EXPECT_EQ(Compare(expected, got).count, 0u) << "gaussian " << mask;
    }
}

// Tone filters over random and frame images and the ends of their parameter ranges.
TEST(FilterExactness, ToneFiltersMatchBitForBit)
{
    struct Case {
        const char* name;
        std::function<void(uint16_t*, size_t)> fast;
        std::function<void(ref::Image&)> slow;
    };
    std::vector<Case> cases;
    for (int32_t b : {-150, -100, -10, 0, 1, 37, 100})
        cases.push_back({"brightness", [b](uint16_t* p, size_t n) { AdjustBrightness(p, n, b); },
                         [b](ref::Image& im) { ref::Brightness(im, b); }});
    for (int32_t c : {-150, -100, -37, 0, 10, 100, 400})
        cases.push_back({"contrast", [c](uint16_t* p, size_t n) { AdjustContrast(p, n, c); },
                         [c](ref::Image& im) { ref::Contrast(im, c); }});
    for (int32_t p : {-3, 0, 1, 5, 50, 51, 100, 250})
        cases.push_back({"darken", [p](uint16_t* px, size_t n) { DarkenDynamicRange(px, n, p); },
                         [p](ref::Image& im) { ref::Darken(im, p); }});
    cases.push_back({"lighten", LightenDynamicRange, ref::Lighten});
    cases.push_back({"equalize", EqualizeImage, ref::Equalize});
    cases.push_back({"normalize", NormalizeImage, ref::Normalize});
    for (int32_t g : {-5, 0, 1, 75, 100, 101, 1000})
        cases.push_back({"gamma", [g](uint16_t* p, size_t n) { GammaCorrect(p, n, g); },
                         [g](ref::Image& im) { ref::Gamma(im, g); }});
    struct Three {
        int32_t a, b, c;
    };
    for (Three t : {Three{128, 138, 148},
                    {0, 0, 0},
                    {0, 128, 255},
                    {255, 255, 255},
                    {128, 133, 148},
                    {-20, 400, 300},
                    {200, 10, 100}}) {
        cases.push_back({"level", [t](uint16_t* p, size_t n) { LevelAdjust(p, n, t.a, t.b, t.c); },
                         [t](ref::Image& im) { ref::Level(im, t.a, t.b, t.c, -1); }});
    }
    for (Three t :
         {Three{0, 50, 100}, {0, 0, 0}, {1, 50, 99}, {10, 20, 90}, {100, 100, 100}, {-5, 60, 200}}) {
        cases.push_back({"level%",
                         [t](uint16_t* p, size_t n) { LevelAdjustByPercentage(p, n, t.a, t.b, t.c); },
                         [t](ref::Image& im) { ref::LevelPercent(im, t.a, t.b, t.c); }});
    }
    for (int32_t a : {0, 1, 2, 50, 80})
        cases.push_back({"adaptive", [a](uint16_t* p, size_t n) { AdaptiveNormalize(p, n, a, 50 - a / 2); },
                         [a](ref::Image& im) { ref::Adaptive(im, a, 50 - a / 2); }});

    ref::Image ramp = testimg::Flat(256, 256, 0);  // every value once: every entry of a curve
    for (size_t i = 0; i < ramp.px.size(); i++)
        ramp.px[i] = (uint16_t)i;
    const ref::Image inputs[] = {testimg::Random(97, 61, 3), testimg::Frame(160, 120, 4),
                                 testimg::Flat(5, 5, 1000), testimg::Flat(1, 1, 65535), ramp};
    for (const Case& c : cases) {
        for (const ref::Image& input : inputs) {
            ref::Image expected = input, got = input;
            c.slow(expected);
            c.fast(got.px.data(), got.px.size());
            ASSERT_EQ(Compare(expected, got).count, 0u) << c.name << " " << input.w << "x" << input.h;
        }
    }
}

}  // namespace

// The in-place row bands hand rows over at their borders; any number of bands must give the
// pixels of one band.
TEST(FilterExactness, AnyNumberOfBandsGivesTheSamePixels)
{
    const ref::Image input = testimg::Frame(150, 301, 12);
    const std::vector<std::function<void(uint16_t*)>> filters = {
        [](uint16_t* p) { MedianFilter(p, 150, 301, 3); },
        [](uint16_t* p) { MedianFilter(p, 150, 301, 5); },
        [](uint16_t* p) { MedianFilter(p, 150, 301, 7); },
        [](uint16_t* p) { MedianFilter(p, 150, 301, 21); },
        [](uint16_t* p) { SharpenFilter(p, 150, 301, 21, 20); },
        [](uint16_t* p) { GaussianBlur(p, 150, 301, 15); },
        [](uint16_t* p) { GaussianEdgeEnhance(p, 150, 301, 15, 100); },
        // Halos taller than a band.
        [](uint16_t* p) { MedianFilter(p, 150, 301, 81); },
        [](uint16_t* p) { SharpenFilter(p, 150, 301, 75, 20); },
    };
    for (size_t f = 0; f < filters.size(); f++) {
        std::vector<uint16_t> one = input.px;
        SetFilterThreadCount(1);
        filters[f](one.data());
        for (int32_t threads : {2, 3, 9}) {
            std::vector<uint16_t> many = input.px;
            SetFilterThreadCount(threads);
            filters[f](many.data());
            EXPECT_EQ(one, many) << "filter " << f << ", " << threads << " bands";
        }
        SetFilterThreadCount(0);
    }
}
