// The chain: which entries run, where the one implicit inversion goes, rotations that replace
// the block, CaptureLowClip, and whole lists against the per-pixel reference chain.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "filter_images.h"
#include "filter_reference.h"
#include "imaging/filter_catalogue.h"
#include "imaging/filter_chain.h"
#include "imaging/filter_support.h"
#include "imaging/filter_tone.h"

namespace {

FilterEntry E(int32_t type, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, const char* mod = "",
              int32_t enabled = 1)
{
    FilterEntry e{};
    e.type = type;
    e.enabled = enabled;
    e.param1 = p1;
    e.param2 = p2;
    e.param3 = p3;
    strncpy(e.modality, mod, sizeof(e.modality) - 1);
    return e;
}

// Runs the chain on a malloc'd copy, as the capture worker owns its frame.
ref::Image RunChain(const ref::Image& in, const std::vector<FilterEntry>& list, int32_t lowClip = -1)
{
    Image16 image{in.w, in.h, static_cast<uint16_t*>(malloc(in.px.size() * sizeof(uint16_t)))};
    memcpy(image.pixels, in.px.data(), in.px.size() * sizeof(uint16_t));
    ApplyFilterChain(&image, list.data(), (int32_t)list.size(), lowClip);
    ref::Image out;
    out.w = image.width;
    out.h = image.height;
    out.px.assign(image.pixels, image.pixels + (size_t)image.width * image.height);
    free(image.pixels);
    return out;
}

ref::Image RefChain(ref::Image im, const std::vector<FilterEntry>& list, int32_t lowClip = -1)
{
    ref::Chain(im, list.data(), (int32_t)list.size(), lowClip);
    return im;
}

TEST(FilterChain, ImplicitInversionPlacement)
{
    const ref::Image in = testimg::Frame(48, 40, 1);
    ref::Image inverted = in;
    ref::Invert(inverted);

    // No invert, no level entry: inverted before the first entry.
    ref::Image expected = inverted;
    ref::Brightness(expected, 10);
    EXPECT_EQ(RunChain(in, {E(FilterBrightness, 10)}).px, expected.px);

    // First active level entry at index 3: entries 0..3 see sensor polarity.
    std::vector<FilterEntry> list = {E(FilterGamma, 75),
                                     E(FilterBrightness, -10),
                                     E(FilterLevel, 128, 138, 148, "", 0),
                                     E(FilterLevelPercent, 2, 50, 98),
                                     E(FilterContrast, 10),
                                     E(FilterLevel, 128, 138, 148)};
    expected = in;
    ref::Gamma(expected, 75);
    ref::Brightness(expected, -10);
    ref::LevelPercent(expected, 2, 50, 98);
    ref::Invert(expected);
    ref::Contrast(expected, 10);
    ref::Level(expected, 128, 138, 148, -1);
    EXPECT_EQ(RunChain(in, list).px, expected.px);

    // An active Invert entry replaces the implicit inversion; two give sensor polarity back.
    EXPECT_EQ(RunChain(in, {E(FilterFlipHorizontal), E(FilterInvert)}).px,
              RefChain(in, {E(FilterFlipHorizontal), E(FilterInvert)}).px);
    EXPECT_EQ(RunChain(in, {E(FilterInvert), E(FilterInvert)}).px, in.px);
    // A disabled Invert does not count.
    EXPECT_EQ(RunChain(in, {E(FilterInvert, 0, 0, 0, "", 0)}).px, inverted.px);

    // All disabled, an empty list, or unknown types only: just inverted.
    EXPECT_EQ(RunChain(in, {E(FilterSharpen, 21, 20, 0, "", 0), E(FilterEqualize, 0, 0, 0, "", 0)}).px,
              inverted.px);
    EXPECT_EQ(RunChain(in, {}).px, inverted.px);
    EXPECT_EQ(RunChain(in, {E(30), E(-1), E(24)}).px, inverted.px);
}

TEST(FilterChain, ModalityDecidesWhetherAnEntryRuns)
{
    const ref::Image in = testimg::Frame(32, 24, 2);
    ref::Image expected = in;
    ref::Invert(expected);
    ref::Brightness(expected, 20);
    EXPECT_EQ(RunChain(in, {E(FilterBrightness, 20, 0, 0, "io")}).px, expected.px);
    EXPECT_EQ(RunChain(in, {E(FilterBrightness, 20, 0, 0, "IO")}).px, expected.px);
    ref::Image onlyInverted = in;
    ref::Invert(onlyInverted);
    EXPECT_EQ(RunChain(in, {E(FilterBrightness, 20, 0, 0, "CT")}).px, onlyInverted.px);
    // A restricted Invert entry that does not run leaves the implicit inversion in place.
    EXPECT_EQ(RunChain(in, {E(FilterInvert, 0, 0, 0, "CT")}).px, onlyInverted.px);

    FilterEntry unterminated = E(FilterBrightness, 20);
    memcpy(unterminated.modality, "IOIOIOIO", 8);
    EXPECT_FALSE(IsFilterEntryActive(unterminated));
}

TEST(FilterChain, RotationReplacesTheBlockAndSwapsTheSides)
{
    const ref::Image in = testimg::Random(1000, 1500, 3);
    Image16 image{1000, 1500, static_cast<uint16_t*>(malloc(in.px.size() * 2))};
    memcpy(image.pixels, in.px.data(), in.px.size() * 2);
    std::vector<FilterEntry> list = {E(FilterRotate90), E(FilterFlipVertical)};
    uint16_t* before = image.pixels;
    ApplyFilterChain(&image, list.data(), 2);
    EXPECT_EQ(image.width, 1500);
    EXPECT_EQ(image.height, 1000);
    EXPECT_NE(image.pixels, before);
    ref::Image expected = RefChain(in, list);
    ASSERT_EQ(expected.w, 1500);
    EXPECT_EQ(0, memcmp(image.pixels, expected.px.data(), expected.px.size() * 2));
    free(image.pixels);

    // Entries after the rotation see the new size (a flip over the new width).
    const ref::Image small = testimg::Random(7, 3, 4);
    std::vector<FilterEntry> turns = {E(FilterRotate90Ccw), E(FilterFlipHorizontal), E(FilterRotate90),
                                      E(FilterRotate180), E(FilterFastNoiseRemoval)};
    ref::Image got = RunChain(small, turns);
    ref::Image want = RefChain(small, turns);
    EXPECT_EQ(got.w, want.w);
    EXPECT_EQ(got.h, want.h);
    EXPECT_EQ(got.px, want.px);
}

TEST(FilterChain, ZeroParametersTakeTheCatalogueValues)
{
    const ref::Image in = testimg::Frame(40, 30, 5);
    ref::Image inverted = in;
    ref::Invert(inverted);
    // Gamma 0 acts as 100: only the implicit inversion remains.
    EXPECT_EQ(RunChain(in, {E(FilterGamma, 0)}).px, inverted.px);
    for (int32_t type :
         {FilterAdaptiveNormalization, FilterDynamicDarken, FilterNoiseRemoval, FilterDespeckle,
          FilterGaussianBlur, FilterUnsharpMask, FilterLaplace, FilterSharpen, FilterSmooth}) {
        std::vector<FilterEntry> list = {E(type)};
        EXPECT_EQ(RunChain(in, list).px, RefChain(in, list).px) << type;
    }
}

TEST(FilterChain, LevelAdjustmentTakesTheCaptureLowClip)
{
    // Own low clip point 2000 (everything at or above 2000); a capture clip point of 500 widens
    // it. The process-wide CaptureLowClip is not read: a late abandoned worker must not change
    // the running capture's image.
    ref::Image in = testimg::Flat(100, 100, 2000);
    for (size_t i = 0; i < in.px.size(); i++)
        in.px[i] = (uint16_t)(2000 + (i * 37) % 30000);
    std::vector<FilterEntry> list = {E(FilterLevel, 128, 138, 148), E(FilterInvert)};
    CaptureLowClip.store(700);
    ref::Image own = RunChain(in, list);
    ref::Image widened = RunChain(in, list, 500);
    CaptureLowClip.store(-1);
    EXPECT_EQ(widened.px, RefChain(in, list, 500).px);
    EXPECT_EQ(own.px, RefChain(in, list, -1).px);
    EXPECT_NE(own.px, widened.px);
    // The darkest pixel (2000) lands 1500 / span of the way up, not at the bottom (inverted).
    EXPECT_EQ(own.px[0], 65535);
    EXPECT_LT(widened.px[0], 65535);
}

TEST(FilterChain, ListsMatchTheReferenceChain)
{
    const ref::Image frame = testimg::Frame(96, 80, 6);
    const std::vector<std::vector<FilterEntry>> lists = {
        // Every tone filter in one run (composed into one table), around a level entry.
        {E(FilterDynamicLighten), E(FilterEqualize), E(FilterLevel, 100, 140, 200), E(FilterNormalize),
         E(FilterAdaptiveNormalization, 3, 4), E(FilterDynamicDarken, 51), E(FilterLevelPercent, 1, 40, 99),
         E(FilterGamma, 150), E(FilterContrast, -20)},
        // Tone runs broken by neighbourhood filters and geometry.
        {E(FilterNormalize), E(FilterSmooth, 5), E(FilterEqualize), E(FilterRotate90),
         E(FilterAdaptiveNormalization), E(FilterNoiseRemoval, 3), E(FilterLaplace, 5, 30)},
        {E(FilterInvert), E(FilterGaussianBlur, 7), E(FilterUnsharpMask, 5, 100), E(FilterInvert),
         E(FilterFlipVertical), E(FilterDespeckle, 7), E(FilterBrightness, 5)},
    };
    for (size_t i = 0; i < lists.size(); i++)
        EXPECT_EQ(RunChain(frame, lists[i]).px, RefChain(frame, lists[i]).px) << "list " << i;
}

TEST(FilterChain, DefaultChainOnAFrameMatchesTheReference)
{
    FilterEntry list[kMaxFilters];
    int32_t count = 0;
    DefaultFilterList(&count, list);
    const ref::Image frame = testimg::Frame(240, 180, 7);
    std::vector<FilterEntry> entries(list, list + count);
    ref::Image got = RunChain(frame, entries);
    ref::Image expected = RefChain(frame, entries);
    EXPECT_EQ(got.px, expected.px);
}

// Large frames are counted and mapped in slices, one per filter thread; any number of them
// gives the pixels of one. (Brightness, then Equalize: the chain's histogram is taken through
// the pending table.)
TEST(FilterChain, ToneSlicesGiveTheSamePixelsOnAnyNumberOfThreads)
{
    const ref::Image in = testimg::Frame(1200, 1000, 5);
    const std::vector<FilterEntry> list = {E(FilterBrightness, 10), E(FilterEqualize), E(FilterGamma, 80)};
    SetFilterThreadCount(1);
    const ref::Image one = RunChain(in, list);
    std::vector<uint16_t> alone = in.px;
    EqualizeImage(alone.data(), alone.size());
    for (int32_t threads : {2, 3, 9}) {
        SetFilterThreadCount(threads);
        EXPECT_EQ(one.px, RunChain(in, list).px) << threads << " threads";
        std::vector<uint16_t> sliced = in.px;
        EqualizeImage(sliced.data(), sliced.size());
        EXPECT_EQ(alone, sliced) << threads << " threads";
    }
    SetFilterThreadCount(0);
}

}  // namespace
