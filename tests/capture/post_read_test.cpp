// The post-read processing as a whole: the order of its steps on a small frame whose result
// can be worked out by hand, when the correction file is used, and that the capture's clip
// point travels as an argument rather than through the process-wide value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/correction_file.h"
#include "capture/log_lines.h"
#include "capture/post_read.h"
#include "imaging/filter_catalogue.h"
#include "imaging/filter_tone.h"
#include "settings/settings_fixture.h"

namespace {

uint8_t* FullMask(ExposureLevel, int32_t side)
{
    uint8_t* m = static_cast<uint8_t*>(malloc((size_t)side * side));
    memset(m, 1, (size_t)side * side);
    return m;
}

// Runs the processing on a malloc'd copy, as the worker owns its frame.
std::vector<uint16_t> Process(const std::vector<uint16_t>& in, int32_t* w, int32_t* h,
                              const PostReadInput& input, PostReadResult* result)
{
    Image16 frame{*w, *h, static_cast<uint16_t*>(malloc(in.size() * 2))};
    memcpy(frame.pixels, in.data(), in.size() * 2);
    ProcessCapturedFrame(&frame, input, result);
    std::vector<uint16_t> out(frame.pixels, frame.pixels + (size_t)frame.width * frame.height);
    *w = frame.width;
    *h = frame.height;
    free(frame.pixels);
    return out;
}

FilterEntry Entry(int32_t type)
{
    FilterEntry e{};
    SetFilterDefaults(&e, type);
    return e;
}

class PostRead : public SettingsFileTest {};

}  // namespace

TEST_F(PostRead, StepsInOrder)
{
    // 100 x 90, every value distinct and mid-range; one dark pixel on the left edge of row 20.
    const int W = 100, H = 90;
    std::vector<uint16_t> in((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            in[(size_t)y * W + x] = (uint16_t)(20000 + 100 * x + 37 * y);
    in[20 * W] = 5;
    NyraSettings s = DefaultSettings();
    s.imageReturnType = 1;
    s.makeCornersBlack = 0;  // its triangles would cover this small frame
    s.hideExposureIndicator = 0;
    s.filterCount = 1;
    s.filters[0] = Entry(FilterFlipHorizontal);
    SetIndicatorGlyphBuilder(FullMask);

    int32_t w = W, h = H;
    PostReadResult r;
    std::vector<uint16_t> out = Process(in, &w, &h, {&s, 1, "7", nullptr}, &r);
    SetIndicatorGlyphBuilder(nullptr);

    // Worked out backwards from the delivered picture: the turn upside down (buffer row y), the
    // chain's inversion and horizontal flip undone by the mirror (column x stays x), the dark
    // pixel repaired from its neighbour before the chain, three rows cleared at each end, then
    // the mark complemented, and the indicator (10 from the right, rows 10..81) over it all.
    ASSERT_EQ(w, W);
    ASSERT_EQ(h, H);
    in[20 * W] = in[20 * W + 1];
    for (int row = 0; row < H; row++) {
        const int y = H - 1 - row;
        for (int x = 0; x < W; x++) {
            uint16_t v = y < 3 || y >= H - 3 ? 0 : (uint16_t)(65535 - in[(size_t)y * W + x]);
            if (y < kMarkRows && x < kMarkColumns && kMark[y][x])
                v = (uint16_t)(65535 - v);
            if (y >= 10 && y < 82 && x >= W - 82 && x < W - 10)
                v = 65535;
            ASSERT_EQ(out[(size_t)row * W + x], v) << "row " << row << " column " << x;
        }
    }
    EXPECT_TRUE(r.indicatorStamped);
    EXPECT_FALSE(r.corrected);
    EXPECT_EQ(r.level, ExposureHigh);
    EXPECT_EQ(Untimed(Log()), "   exposure: rawMean=26594.2 -> 1955.5 uGy -> HIGH (H)\n"
                              "   applied 1 post-capture filter(s) -> 100x90\n"
                              "   final image min=0 max=65535 mean="
                                  + std::to_string(r.stats.mean)
                                  + "\n"
                                    "   edge max (excl corners): top=0 bottom=0 left=0 right=0\n");

    // A rotation in the chain: every later step works on the new size and block.
    s.filters[0] = Entry(FilterRotate90);
    s.hideExposureIndicator = 1;
    w = W, h = H;
    out = Process(in, &w, &h, {&s, 1, "7", nullptr}, &r);
    EXPECT_EQ(w, H);
    EXPECT_EQ(h, W);
    EXPECT_FALSE(r.indicatorStamped);
}

TEST_F(PostRead, CorrectionFileOnlyForFullyCorrectedImages)
{
    const int W = 20, H = 10;
    std::vector<uint8_t> file(kCorrectionHeaderSize + W * H * 2);
    EncodeCorrectionHeader(MakeCorrectionHeader(W, H, 1, "7", 1), file.data());
    for (size_t i = kCorrectionHeaderSize; i < file.size(); i += 2)
        file[i] = 2000 & 0xFF, file[i + 1] = 2000 >> 8;
    ASSERT_TRUE(WriteFileBytes(data.file("SN7.CAL"), file));

    NyraSettings s = DefaultSettings();
    s.applyImageFiltering = 0;
    s.makeCornersBlack = 0;
    CopyText(s.models[0].correctionDir, sizeof s.models[0].correctionDir, data.path().c_str());
    const std::vector<uint16_t> in((size_t)W * H, 1000);
    for (int type : {0, 1, 2}) {
        s.imageReturnType = type;
        int32_t w = W, h = H;
        PostReadResult r;
        std::vector<uint16_t> out = Process(in, &w, &h, {&s, 1, "7", nullptr}, &r);
        EXPECT_EQ(r.corrected, type == 0);
        EXPECT_EQ(out[5 * W + 5], type == 0 ? 2000 : 1000) << type;
    }
    // The file of another serial, or one given by path, is looked for where it is said to be.
    s.imageReturnType = 0;
    int32_t w = W, h = H;
    PostReadResult r;
    Process(in, &w, &h, {&s, 1, "8", nullptr}, &r);
    EXPECT_FALSE(r.corrected);
    std::string given = data.file("SN7.CAL");
    Process(in, &w, &h, {&s, 3, "8", given.c_str()}, &r);
    EXPECT_TRUE(r.corrected);
}

TEST_F(PostRead, ClipPointTravelsWithTheCaptureNotThroughTheGlobal)
{
    // A worker whose capture was abandoned may publish or read CaptureLowClip while a later
    // capture filters: the processing must neither read nor write it.
    const int W = 120, H = 100;
    std::vector<uint16_t> in((size_t)W * H);
    for (size_t i = 0; i < in.size(); i++)
        in[i] = (uint16_t)(3000 + (i * 7919) % 40000);
    NyraSettings s = DefaultSettings();
    s.filterCount = 1;
    s.filters[0] = Entry(FilterLevel);  // 128, 138, 148
    int32_t w = W, h = H;
    PostReadResult quiet, disturbed;
    CaptureLowClip.store(-1);
    std::vector<uint16_t> a = Process(in, &w, &h, {&s, 1, "7", nullptr}, &quiet);
    CaptureLowClip.store(100);
    std::vector<uint16_t> b = Process(in, &w, &h, {&s, 1, "7", nullptr}, &disturbed);
    EXPECT_EQ(CaptureLowClip.load(), 100);
    CaptureLowClip.store(-1);
    EXPECT_EQ(a, b);
    int32_t low = 0, high = 0;
    HistogramClipPoints(in.data(), in.size(), 0.005, &low, &high);
    EXPECT_EQ(quiet.lowClip, low);
    EXPECT_EQ(disturbed.lowClip, low);
}
