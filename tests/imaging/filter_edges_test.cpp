// Worked values and identities of the individual filters: the numbers the filter definitions
// quote, range ends, geometry examples and the neighbourhood filters' borders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "filter_images.h"
#include "imaging/filter_convolve.h"
#include "imaging/filter_geometry.h"
#include "imaging/filter_median.h"
#include "imaging/filter_tone.h"

namespace {

using Pixels = std::vector<uint16_t>;

uint16_t One(void (*f)(uint16_t*, size_t, int32_t), int32_t param, uint16_t v)
{
    f(&v, 1, param);
    return v;
}

TEST(ToneFilters, QuotedValues)
{
    EXPECT_EQ(One(AdjustBrightness, -10, 10000), 3446);
    EXPECT_EQ(One(AdjustContrast, 10, 40000), 40723);
    EXPECT_EQ(One(DarkenDynamicRange, 5, 0), 9);
    EXPECT_EQ(One(DarkenDynamicRange, 5, 32768), 809);
    EXPECT_EQ(One(DarkenDynamicRange, 5, 65535), 65535);
    EXPECT_EQ(One(GammaCorrect, 75, 32768), 26008);
    Pixels lighten = {0, 32768, 65535};
    LightenDynamicRange(lighten.data(), 3);
    EXPECT_EQ(lighten, (Pixels{256, 46341, 65535}));
}

TEST(ToneFilters, RangeEnds)
{
    Pixels ramp(65536);
    for (size_t i = 0; i < ramp.size(); i++)
        ramp[i] = (uint16_t)i;

    Pixels p = ramp;
    InvertImage(p.data(), p.size());
    InvertImage(p.data(), p.size());
    EXPECT_EQ(p, ramp);

    p = ramp;
    AdjustBrightness(p.data(), p.size(), 100);
    EXPECT_EQ(p, Pixels(65536, 65535));
    p = ramp;
    AdjustBrightness(p.data(), p.size(), -100);
    EXPECT_EQ(p, Pixels(65536, 0));
    p = ramp;
    AdjustContrast(p.data(), p.size(), -150);
    EXPECT_EQ(p, Pixels(65536, 32768));

    Pixels d50 = ramp, d51 = ramp;
    DarkenDynamicRange(d50.data(), d50.size(), 50);
    DarkenDynamicRange(d51.data(), d51.size(), 51);
    EXPECT_EQ(d50[32768], 255);  // k = 1.0: 65536^0.5 - 1
    EXPECT_EQ(d51[32768], 112);  // k = 5.1: 334233.6^0.5 / 5.1 - 1
    EXPECT_EQ(d50[65535], 65535);
    EXPECT_EQ(d51[65535], 65535);

    p = ramp;
    EqualizeImage(p.data(), p.size());
    EXPECT_EQ(*std::max_element(p.begin(), p.end()), 65534);

    for (int32_t g : {100, 0, -40}) {
        p = ramp;
        GammaCorrect(p.data(), p.size(), g);
        EXPECT_EQ(p, ramp) << g;
    }
}

TEST(ToneFilters, HistogramHelpers)
{
    Pixels flat(100, 1000);
    int32_t low = -1, high = -1;
    HistogramClipPoints(flat.data(), flat.size(), 0.005, &low, &high);
    EXPECT_EQ(low, 1000);
    EXPECT_EQ(high, 1001);
    Pixels white(10, 65535);
    HistogramClipPoints(white.data(), white.size(), 0.005, &low, &high);
    EXPECT_EQ(low, 65535);
    EXPECT_EQ(high, 65536);  // "high above low" holds even past the pixel range

    Pixels any = {5, 9000, 40000};
    EXPECT_EQ(HistogramPercentile(any.data(), 3, 0.0), 0);
    EXPECT_EQ(HistogramPercentile(any.data(), 3, -1.0), 0);
    EXPECT_EQ(HistogramPercentile(any.data(), 3, 1.0), 65535);
    EXPECT_EQ(HistogramPercentile(any.data(), 3, 0.5), 5);  // t = 1: first value reaching it
    EXPECT_EQ(HistogramPercentile(any.data(), 3, 0.7), 9000);

    // Ends outside the pixel range and gamma 0 (treated as 1).
    Pixels curve = {0, 1000, 2000, 65535};
    ApplyLevelCurve(curve.data(), 4, -1000, 3000, 0.0);
    EXPECT_EQ(curve, (Pixels{16384, 32768, 49151, 65535}));
    curve = {10, 20};
    ApplyLevelCurve(curve.data(), 2, 20, 20, 1.0);  // high becomes low + 1
    EXPECT_EQ(curve, (Pixels{0, 0}));
}

TEST(ToneFilters, OutOfRangeFractionsAndGammas)
{
    // A threshold past the pixel count is the pixel count: nothing exceeds it, so the clip
    // points stay at the full range, and no huge or infinite product is cast to an integer.
    Pixels any = {5, 9000, 40000};
    const double inf = std::numeric_limits<double>::infinity();
    for (double f : {1.0, 7e18, 1e300, inf}) {
        int32_t low = -1, high = -1;
        HistogramClipPoints(any.data(), any.size(), f, &low, &high);
        EXPECT_EQ(low, 0) << f;
        EXPECT_EQ(high, 65535) << f;
    }
    EXPECT_EQ(HistogramPercentile(any.data(), any.size(), inf), 65535);

    // A gamma that is not a finite number acts as 1 (a straight stretch), not a black image.
    for (double g : {std::nan(""), inf}) {
        Pixels curve = {0, 1000, 2000, 65535};
        ApplyLevelCurve(curve.data(), 4, -1000, 3000, g);
        EXPECT_EQ(curve, (Pixels{16384, 32768, 49151, 65535})) << g;
    }
}

TEST(ToneFilters, NormalizationsKeepFlatImagesAndExtremes)
{
    Pixels flat(50, 1234);
    NormalizeImage(flat.data(), flat.size());
    EXPECT_EQ(flat, Pixels(50, 1234));

    // 0 and 65535 are not counted and stay where they are.
    Pixels p;
    for (int i = 0; i < 1000; i++)
        p.push_back((uint16_t)(10000 + i * 10));
    p.push_back(0);
    p.push_back(65535);
    Pixels q = p;
    AdaptiveNormalize(q.data(), q.size(), 2, 2);
    EXPECT_EQ(q[1000], 0);
    EXPECT_EQ(q[1001], 65535);
    EXPECT_EQ(q[0], 0);  // below the 2 % point
    EXPECT_EQ(q[999], 65535);
    EXPECT_GT(q[500], 30000);
    EXPECT_LT(q[500], 35000);
}

TEST(ToneFilters, LevelPivotAndDefaults)
{
    Pixels ramp(65536);
    for (size_t i = 0; i < ramp.size(); i++)
        ramp[i] = (uint16_t)i;
    // Default percentages 0, 50, 100: low 0, high 65535, gamma 1 -> unchanged.
    Pixels p = ramp;
    LevelAdjustByPercentage(p.data(), p.size(), 0, 50, 100);
    EXPECT_EQ(p, ramp);
    // Pivot 133 with 128 / 148: x = 0.25, gamma 0.5 -> the quarter point lands on mid-grey.
    Pixels pivot = ramp, linear = ramp;
    LevelAdjust(pivot.data(), pivot.size(), 128, 133, 148);
    LevelAdjust(linear.data(), linear.size(), 128, 138, 148);
    int32_t lo, hi;
    HistogramClipPoints(ramp.data(), ramp.size(), 0.005, &lo, &hi);
    EXPECT_EQ(linear[lo], 0);
    EXPECT_EQ(linear[hi], 65535);
    int32_t quarter = lo + (hi - lo) / 4;
    EXPECT_NEAR(pivot[quarter], 32768, 8);
}

Pixels Seq(size_t n)
{
    Pixels p(n);
    for (size_t i = 0; i < n; i++)
        p[i] = (uint16_t)('a' + i);
    return p;
}

// Sides that are and are not whole blocks of eight, both ways round.
TEST(Geometry, QuarterTurnsMovePixelsAsDefined)
{
    for (const auto& side : {std::pair<int32_t, int32_t>{64, 40}, {37, 29}, {8, 71}, {5, 3}}) {
        const int32_t w = side.first, h = side.second;
        const Pixels src = Seq((size_t)w * h);
        for (bool clockwise : {true, false}) {
            Image16 im{w, h, static_cast<uint16_t*>(malloc(src.size() * 2))};
            memcpy(im.pixels, src.data(), src.size() * 2);
            RotateQuarter(&im, clockwise);
            Pixels want(src.size());
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++)
                    want[clockwise ? (size_t)x * h + (h - 1 - y) : (size_t)(w - 1 - x) * h + y] =
                        src[(size_t)y * w + x];
            EXPECT_EQ(Pixels(im.pixels, im.pixels + src.size()), want) << w << "x" << h << " " << clockwise;
            free(im.pixels);
        }
    }
}

TEST(Geometry, QuarterTurnsOfTheWorkedExample)
{
    // Rows (a b c) and (d e f).
    Image16 im{3, 2, static_cast<uint16_t*>(malloc(6 * 2))};
    Pixels src = Seq(6);
    memcpy(im.pixels, src.data(), 12);
    RotateQuarter(&im, true);
    ASSERT_EQ(im.width, 2);
    ASSERT_EQ(im.height, 3);
    EXPECT_EQ(Pixels(im.pixels, im.pixels + 6), (Pixels{'d', 'a', 'e', 'b', 'f', 'c'}));
    RotateQuarter(&im, false);
    EXPECT_EQ(Pixels(im.pixels, im.pixels + 6), src);
    RotateQuarter(&im, false);
    EXPECT_EQ(Pixels(im.pixels, im.pixels + 6), (Pixels{'c', 'f', 'b', 'e', 'a', 'd'}));
    for (int i = 0; i < 3; i++)
        RotateQuarter(&im, false);
    EXPECT_EQ(im.width, 3);
    EXPECT_EQ(Pixels(im.pixels, im.pixels + 6), src);
    free(im.pixels);
}

TEST(Geometry, FlipsAndHalfTurn)
{
    const int32_t w = 5, h = 3;
    Pixels src = Seq(w * h);
    Pixels p = src;
    FlipHorizontal(p.data(), w, h);
    EXPECT_EQ(p[2], src[2]);  // middle column of an odd width stays
    EXPECT_EQ(p[0], src[4]);
    FlipVertical(p.data(), w, h);
    EXPECT_EQ(p[7], src[7]);  // centre pixel stays
    Pixels half = src;
    Rotate180(half.data(), half.size());
    EXPECT_EQ(p, half);
    Pixels row = Seq(4);
    FlipVertical(row.data(), 4, 1);
    EXPECT_EQ(row, Seq(4));
    FlipHorizontal(p.data(), w, h);
    FlipHorizontal(p.data(), w, h);
    EXPECT_EQ(p, half);
}

TEST(Neighbourhood, MediansRemoveSpecks)
{
    const int32_t w = 11, h = 11;
    Pixels p(w * h, 100);
    p[5 * w + 5] = 60000;
    MedianFilter(p.data(), w, h, 3);
    EXPECT_EQ(p, Pixels(w * h, 100));

    Pixels block(w * h, 100);
    for (int y = 4; y <= 6; y++)
        for (int x = 4; x <= 6; x++)
            block[y * w + x] = 60000;
    Pixels b3 = block, b7 = block;
    MedianFilter(b3.data(), w, h, 3);
    EXPECT_EQ(b3[5 * w + 5], 60000);
    EXPECT_EQ(b3[4 * w + 4], 100);  // a corner of the block sees 4 of 9
    MedianFilter(b7.data(), w, h, 7);
    EXPECT_EQ(b7, Pixels(w * h, 100));

    // Mask 4 acts as 5 and 1 as 3.
    Pixels r = testimg::Random(20, 20, 8).px, r4 = r, r5 = r, r1 = r, r3 = r;
    MedianFilter(r4.data(), 20, 20, 4);
    MedianFilter(r5.data(), 20, 20, 5);
    MedianFilter(r1.data(), 20, 20, 1);
    MedianFilter(r3.data(), 20, 20, 3);
    EXPECT_EQ(r4, r5);
    EXPECT_EQ(r1, r3);
}

TEST(Neighbourhood, FastNoiseRemovalKeepsTheBorder)
{
    Pixels tiny = {1, 60000, 3, 4};
    FastNoiseRemoval(tiny.data(), 2, 2);
    EXPECT_EQ(tiny, (Pixels{1, 60000, 3, 4}));
    const ref::Image r = testimg::Random(9, 6, 9);
    Pixels p = r.px;
    FastNoiseRemoval(p.data(), 9, 6);
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 9; x++)
            if (x == 0 || y == 0 || x == 8 || y == 5) {
                EXPECT_EQ(p[y * 9 + x], r.px[y * 9 + x]);
            }
}

TEST(Neighbourhood, SmoothingKeepsLevelsAndEdges)
{
    Pixels flat(30 * 20, 777);
    Pixels s = flat, g = flat;
    SmoothFilter(s.data(), 30, 20, 21);
    GaussianBlur(g.data(), 30, 20, 15);
    EXPECT_EQ(s, flat);
    EXPECT_EQ(g, flat);
    // The largest mask (255) on white: window sums just below 2^32.
    Pixels white(300 * 3, 65535), w = white;
    SmoothFilter(w.data(), 300, 3, 255);
    EXPECT_EQ(w, white);

    // A vertical step: the blur is symmetric about it, so the edge does not move.
    Pixels step(40 * 10);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 40; x++)
            step[y * 40 + x] = x < 20 ? 10000 : 50000;
    GaussianBlur(step.data(), 40, 10, 7);
    for (int d = 0; d < 5; d++)
        EXPECT_EQ(step[5 * 40 + 19 - d] + step[5 * 40 + 20 + d], 60000) << d;
}

TEST(Neighbourhood, EnhancementLevels)
{
    const Pixels in = testimg::Frame(40, 30, 10).px;
    Pixels p = in;
    GaussianEdgeEnhance(p.data(), 40, 30, 5, 0);
    EXPECT_EQ(p, in);
    p = in;
    LaplaceEdgeEnhance(p.data(), 40, 30, 9, 0);
    EXPECT_EQ(p, in);

    // Mask 3 has no pre-smoothing, mask 5 does (and 1 acts as 3).
    Pixels m1 = in, m3 = in, m5 = in;
    LaplaceEdgeEnhance(m1.data(), 40, 30, 1, 50);
    LaplaceEdgeEnhance(m3.data(), 40, 30, 3, 50);
    LaplaceEdgeEnhance(m5.data(), 40, 30, 5, 50);
    EXPECT_EQ(m1, m3);
    EXPECT_NE(m3, m5);

    p = in;
    SharpenFilter(p.data(), 40, 30, 21, 100);
    EXPECT_EQ(p, Pixels(in.size(), 0));

    // Level 0: the middle weight is 2 and the others add up to -1.
    double w[9];
    int32_t n = 0;
    ASSERT_TRUE(SharpenWeights(3, 0, w, &n));
    EXPECT_EQ(n, 3);
    EXPECT_DOUBLE_EQ(w[4], 2.0);
    EXPECT_NEAR(w[0] + w[1] + w[2] + w[3] + w[5] + w[6] + w[7] + w[8], -1.0, 1e-12);
    double w21[441];
    ASSERT_TRUE(SharpenWeights(21, 20, w21, &n));
    EXPECT_NEAR(w21[220], 2.35, 0.01);
}

TEST(Neighbourhood, RefusedMasksLeaveTheImage)
{
    const Pixels in = testimg::Random(8, 8, 11).px;
    Pixels p = in;
    MedianFilter(p.data(), 8, 8, 1001);
    SharpenFilter(p.data(), 8, 8, 100000, 20);
    SmoothFilter(p.data(), 8, 8, INT32_MAX);
    GaussianBlur(p.data(), 8, 8, 257);
    EXPECT_EQ(p, in);
}

}  // namespace
