// The worker's model choice, timer text, read notes and finishing steps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/capture_plan.h"

static NyraSettings SettingsWithDistinctModels()
{
    NyraSettings s;
    memset(&s, 0, sizeof s);
    for (int i = 0; i < kModelCount; i++) {
        s.models[i].integrationMode = i;
        s.models[i].startThreshold = 100 + i;
        s.models[i].stopThreshold = 200 + i;
        s.models[i].integrationTimeMs = 300 + i;
    }
    return s;
}

TEST(PlanCapture, ModelAndFrameByVariant)
{
    NyraSettings s = SettingsWithDistinctModels();
    struct Case {
        int variant, width, height, model, size;
        const char* name;
    } cases[] = {
        {3, 2580, 1706, 2, 3, "Size 3"},      {4, 1000, 1506, 0, 1, "Standard"},
        {2, 1300, 1706, 1, 2, "SMS Variant"}, {1, 1300, 1706, 0, 2, "Standard"},
        {0, 1300, 1706, 0, 2, "Standard"},
    };
    for (const Case& c : cases) {
        CapturePlan p = PlanCapture(c.variant, s);
        EXPECT_EQ(p.width, c.width) << c.variant;
        EXPECT_EQ(p.height, c.height) << c.variant;
        EXPECT_EQ(p.modelIndex, c.model) << c.variant;
        EXPECT_EQ(p.sizeNumber, c.size) << c.variant;
        EXPECT_STREQ(p.modelName, c.name);
        EXPECT_EQ(p.mode, c.model + 1);
        EXPECT_EQ(p.startThreshold, 100 + c.model);
        EXPECT_EQ(p.stopThreshold, 200 + c.model);
        EXPECT_EQ(p.integrationMs, 300 + c.model);
    }
}

TEST(PlanCapture, CorrectionFlagOffOnlyForRawImages)
{
    NyraSettings s = SettingsWithDistinctModels();
    for (int type : {0, 1, 2}) {
        s.imageReturnType = type;
        EXPECT_EQ(PlanCapture(2, s).correction, type != 2) << type;
    }
}

TEST(CaptureTexts, TimerSwitchesToMinutesAtSixty)
{
    char text[64];
    FormatTimerText(text, sizeof text, 0);
    EXPECT_STREQ(text, "Active 0 seconds");
    FormatTimerText(text, sizeof text, 59);
    EXPECT_STREQ(text, "Active 59 seconds");
    FormatTimerText(text, sizeof text, 60);
    EXPECT_STREQ(text, "Active 1 minute(s) 0 seconds");
    FormatTimerText(text, sizeof text, 3725);
    EXPECT_STREQ(text, "Active 62 minute(s) 5 seconds");
}

TEST(CaptureTexts, ReadNotes)
{
    EXPECT_STREQ(ReadNote(7, 7, 10000), "<< FLAT/STALE buffer (no real read)");
    EXPECT_STREQ(ReadNote(1, 9, 2999), "<< returned too fast \x97 likely NOT X-ray-triggered");
    EXPECT_STREQ(ReadNote(1, 9, 3000), "");
}

TEST(FrameSteps, StatsEdgesAndRowOperations)
{
    const int w = 241, h = 242;
    std::vector<uint16_t> px((size_t)w * h, 10);
    px[0] = 0;                            // a corner: outside the edge ranges
    px[120] = 500;                        // top row: the only counted column at this width
    px[121] = 900;                        // top row, just past the counted range
    px[(size_t)(h - 1) * w + 120] = 600;  // bottom row, first counted column
    px[(size_t)121 * w] = 700;            // left column, inside
    px[(size_t)119 * w + (w - 1)] = 800;  // right column, row 119: left out
    FrameStats st = ComputeFrameStats(px.data(), w, h);
    EXPECT_EQ(st.minimum, 0u);
    EXPECT_EQ(st.maximum, 900u);
    EdgeMaxima e = ComputeEdgeMaxima(px.data(), w, h);
    EXPECT_EQ(e.top, 500u);
    EXPECT_EQ(e.bottom, 600u);
    EXPECT_EQ(e.left, 700u);
    EXPECT_EQ(e.right, 10u);
    EdgeMaxima narrow = ComputeEdgeMaxima(px.data(), 240, 242);
    EXPECT_EQ(narrow.top, 0u);
    EXPECT_EQ(narrow.bottom, 0u);

    std::vector<uint16_t> img = {1, 2, 3, 4, 5, 6};  // 3 x 2
    MirrorRows(img.data(), 3, 2);
    EXPECT_EQ(img, (std::vector<uint16_t>{3, 2, 1, 6, 5, 4}));
    FlipRows(img.data(), 3, 2);
    EXPECT_EQ(img, (std::vector<uint16_t>{6, 5, 4, 3, 2, 1}));

    std::vector<uint16_t> tall(2 * 7, 9);
    ClearTopAndBottomRows(tall.data(), 2, 7);
    EXPECT_EQ(tall, (std::vector<uint16_t>{0, 0, 0, 0, 0, 0, 9, 9, 0, 0, 0, 0, 0, 0}));
    std::vector<uint16_t> low(2 * 5, 9);
    ClearTopAndBottomRows(low.data(), 2, 5);
    EXPECT_EQ(low, std::vector<uint16_t>(10, 9));
}

TEST(FrameSteps, MeanRoundsDown)
{
    std::vector<uint16_t> px = {1, 2};
    EXPECT_EQ(ComputeFrameStats(px.data(), 2, 1).mean, 1u);
    EXPECT_EQ(ComputeFrameStats(px.data(), 0, 0).minimum, 65535u);
}

TEST(PlanCapture, SensorTasksFollowTheDetectedSensorOrTheHardwarePage)
{
    NyraSettings s = SettingsWithDistinctModels();
    s.modelFollowsDetected = 1;
    s.sensorModel = 0;
    EXPECT_EQ(TaskModelIndex(3, s), 2);
    EXPECT_EQ(TaskModelIndex(2, s), 1);
    EXPECT_EQ(TaskModelIndex(4, s), 0);
    s.modelFollowsDetected = 0;
    s.sensorModel = 1;
    EXPECT_EQ(TaskModelIndex(3, s), 1);
    s.sensorModel = 7;
    EXPECT_EQ(TaskModelIndex(3, s), 0);

    SensorSlot slot{};
    strcpy(slot.serial, "200042");
    slot.variant = 4;
    char entry[65];
    FormatSwitchEntry(entry, sizeof entry, slot);
    EXPECT_STREQ(entry, "Size 1  (200042)");
}
