// Out of memory: make the 1st, 2nd, ... block request of a filter fail until one run gets all
// it asks for. After every run the image must be either exactly as it was or the complete
// result, never a mixture. (Filters with a defined fallback, such as Laplace working on the
// unsmoothed image or Level Adjustment without its histogram, are left to their own tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "filter_images.h"
#include "imaging/filter_catalogue.h"
#include "imaging/filter_chain.h"
#include "imaging/filter_convolve.h"
#include "imaging/filter_geometry.h"
#include "imaging/filter_median.h"
#include "imaging/filter_support.h"
#include "imaging/filter_tone.h"

namespace {

struct Case {
    const char* name;
    std::function<void(Image16*)> run;
};

struct Outcome {
    int32_t w, h;
    std::vector<uint16_t> px;
    bool operator==(const Outcome& o) const { return w == o.w && h == o.h && px == o.px; }
};

Outcome RunCase(const Case& c, const ref::Image& in)
{
    Image16 im{in.w, in.h, static_cast<uint16_t*>(malloc(in.px.size() * 2))};
    memcpy(im.pixels, in.px.data(), in.px.size() * 2);
    c.run(&im);
    Outcome out{im.width, im.height,
                std::vector<uint16_t>(im.pixels, im.pixels + (size_t)im.width * im.height)};
    free(im.pixels);
    return out;
}

TEST(FilterFaults, AFailedRequestLeavesTheImageOrTheWholeResult)
{
    auto n = [](Image16* im) { return (size_t)im->width * im->height; };
    const std::vector<Case> cases = {
        {"brightness", [&](Image16* im) { AdjustBrightness(im->pixels, n(im), 30); }},
        {"contrast", [&](Image16* im) { AdjustContrast(im->pixels, n(im), 30); }},
        {"darken", [&](Image16* im) { DarkenDynamicRange(im->pixels, n(im), 20); }},
        {"lighten", [&](Image16* im) { LightenDynamicRange(im->pixels, n(im)); }},
        {"equalize", [&](Image16* im) { EqualizeImage(im->pixels, n(im)); }},
        {"gamma", [&](Image16* im) { GammaCorrect(im->pixels, n(im), 75); }},
        {"level%", [&](Image16* im) { LevelAdjustByPercentage(im->pixels, n(im), 2, 40, 98); }},
        {"adaptive", [&](Image16* im) { AdaptiveNormalize(im->pixels, n(im), 2, 2); }},
        {"median3", [](Image16* im) { MedianFilter(im->pixels, im->width, im->height, 3); }},
        {"median5", [](Image16* im) { MedianFilter(im->pixels, im->width, im->height, 5); }},
        {"median21", [](Image16* im) { MedianFilter(im->pixels, im->width, im->height, 21); }},
        {"fastnoise", [](Image16* im) { FastNoiseRemoval(im->pixels, im->width, im->height); }},
        {"smooth", [](Image16* im) { SmoothFilter(im->pixels, im->width, im->height, 5); }},
        {"gaussian", [](Image16* im) { GaussianBlur(im->pixels, im->width, im->height, 7); }},
        {"unsharp", [](Image16* im) { GaussianEdgeEnhance(im->pixels, im->width, im->height, 5, 100); }},
        {"sharpen", [](Image16* im) { SharpenFilter(im->pixels, im->width, im->height, 21, 20); }},
        {"flipv", [](Image16* im) { FlipVertical(im->pixels, im->width, im->height); }},
        {"rotate", [](Image16* im) { RotateQuarter(im, true); }},
    };
    const ref::Image in = testimg::Frame(70, 90, 13);
    const Outcome original{in.w, in.h, in.px};
    for (const Case& c : cases) {
        const Outcome full = RunCase(c, in);
        ASSERT_FALSE(full == original) << c.name << " should change this image";
        bool fired = true;
        for (int32_t skip = 0; fired && skip < 64; skip++) {
            SetFilterAllocationFault(skip);
            Outcome got = RunCase(c, in);
            fired = SetFilterAllocationFault(-1) < 0;
            EXPECT_TRUE(got == original || got == full) << c.name << ", request " << skip + 1 << " failing";
            if (!fired) {
                EXPECT_TRUE(got == full) << c.name;
            }
        }
        EXPECT_FALSE(fired) << c.name << " asked for more than 64 blocks";
    }
}

// Without memory for the composed tone tables the chain runs its tone entries one by one,
// with the same result.
TEST(FilterFaults, ToneRunFallsBackToSingleEntries)
{
    FilterEntry list[4];
    SetFilterDefaults(&list[0], 1);  // Adaptive Normalization
    SetFilterDefaults(&list[1], 6);  // Equalize
    SetFilterDefaults(&list[2], 7);  // Gamma
    SetFilterDefaults(&list[3], 2);  // Brightness
    const Case chain = {"chain", [&](Image16* im) { ApplyFilterChain(im, list, 4); }};
    const ref::Image in = testimg::Frame(50, 40, 14);
    const Outcome full = RunCase(chain, in);
    for (int32_t skip = 0; skip < 4; skip++) {
        SetFilterAllocationFault(skip);
        Outcome got = RunCase(chain, in);
        EXPECT_LT(SetFilterAllocationFault(-1), 0) << "the fault should have fired";
        EXPECT_TRUE(got == full) << "request " << skip + 1 << " failing";
    }
}

// Normalize looks its values up in a table; without one it computes each pixel, alike.
TEST(FilterFaults, NormalizeWithoutItsTableComputesTheSame)
{
    ref::Image in = testimg::Frame(60, 40, 16);
    for (uint16_t& v : in.px)
        v = (uint16_t)(v / 3 + 7000);  // a narrower range, which normalizing widens
    std::vector<uint16_t> table = in.px, direct = in.px;
    NormalizeImage(table.data(), table.size());
    SetFilterAllocationFault(0);
    NormalizeImage(direct.data(), direct.size());
    EXPECT_LT(SetFilterAllocationFault(-1), 0);
    EXPECT_NE(table, in.px);
    EXPECT_EQ(direct, table);
}

// Laplace's pre-smoothing without memory for its weights falls back to a box filter of the
// same size: truncated means over the clamped row, then over the clamped column.
TEST(FilterFaults, SeparableGaussianFallsBackToABoxFilter)
{
    const ref::Image in = testimg::Random(23, 17, 15);
    for (int32_t n : {5, 9}) {
        const int32_t h = n / 2;
        std::vector<int64_t> mid(in.px.size());
        for (int32_t y = 0; y < in.h; y++)
            for (int32_t x = 0; x < in.w; x++) {
                int64_t sum = 0;
                for (int32_t k = -h; k <= h; k++)
                    sum += in.at(x + k, y);
                mid[(size_t)y * in.w + x] = sum / n;
            }
        std::vector<uint16_t> expected(in.px.size());
        for (int32_t y = 0; y < in.h; y++)
            for (int32_t x = 0; x < in.w; x++) {
                int64_t sum = 0;
                for (int32_t k = -h; k <= h; k++)
                    sum += mid[(size_t)std::min(std::max(y + k, 0), in.h - 1) * in.w + x];
                expected[(size_t)y * in.w + x] = (uint16_t)(sum / n);
            }
        std::vector<uint16_t> got(in.px.size());
        SetFilterAllocationFault(0);
        SeparableGaussian(in.px.data(), got.data(), in.w, in.h, n);
        EXPECT_LT(SetFilterAllocationFault(-1), 0);
        EXPECT_EQ(got, expected) << "mask " << n;

        std::vector<uint16_t> gauss(in.px.size());
        SeparableGaussian(in.px.data(), gauss.data(), in.w, in.h, n);
        EXPECT_EQ(gauss, ref::SeparableGaussian(in, n).px) << "mask " << n;
    }
}

}  // namespace
