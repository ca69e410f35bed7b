// Options dialog rules without a window: selection by value, the mode table, the calibration
// factor, and the blob written on OK.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings.h"
#include "ui/options_model.h"

TEST(OptionsModel, StoredValueSelectsItsItemOrTheFirst)
{
    EXPECT_EQ(ComboIndexForValue(kSuspendCombo, 20), 2);
    EXPECT_EQ(ComboIndexForValue(kSuspendCombo, 15), 0);
    EXPECT_EQ(ComboIndexForValue(kCorrectionImagesCombo, 20), 2);
    EXPECT_EQ(ComboIndexForValue(kModelCombo, 7), 0);
}

TEST(OptionsModel, ModeDecidesWhichIntegrationControlsAreEnabled)
{
    struct Case {
        int32_t mode;
        bool start, stop, time;
    } cases[] = {{-1, true, true, false},
                 {0, true, true, false},
                 {1, true, false, true},
                 {2, false, false, true},
                 {9, false, false, false}};
    for (const Case& c : cases) {
        ModeControls m = ModeControlsFor(c.mode);
        EXPECT_EQ(m.startEnabled, c.start) << c.mode;
        EXPECT_EQ(m.stopEnabled, c.stop) << c.mode;
        EXPECT_EQ(m.timeEnabled, c.time) << c.mode;
    }
    EXPECT_STREQ(ModeControlsFor(9).description, ModeControlsFor(2).description);
}

TEST(OptionsModel, CalibrationFactorIsAPositiveFiniteNumberOrOne)
{
    EXPECT_EQ(ParseCalibrationFactor("2.5"), 2.5);
    for (const char* unusable : {"abc", "", "0", "-3", "nan", "inf", "1e999"})
        EXPECT_EQ(ParseCalibrationFactor(unusable), 1.0) << unusable;
    // Only 31 characters are read: the digits after them do not count.
    EXPECT_EQ(ParseCalibrationFactor("0.000000000000000000000000000001999"), 1.0);
    char text[32];
    FormatCalibrationFactor(2.5, text, sizeof text);
    EXPECT_STREQ(text, "2.500000");
}

TEST(OptionsModel, BlobGetsAValidatedCopyAndKeepsItsReservedTail)
{
    HostConfigBlob blob;
    memset(&blob, 0x5A, sizeof blob);
    NyraSettings s;
    SettingsDefaults(&s);
    s.captureTimeoutSeconds = 0;  // typed as nothing
    WriteSettingsIntoBlob(&blob, s);
    EXPECT_EQ(blob.version, kHostBlobVersion);
    EXPECT_EQ(memcmp(blob.magic, "NYRS", 4), 0);
    EXPECT_EQ(blob.settings.captureTimeoutSeconds, 5);
    EXPECT_EQ(s.captureTimeoutSeconds, 0) << "the working copy is not changed";
    EXPECT_EQ(blob.reserved[0], 0x5A);
    EXPECT_EQ(blob.reserved[243], 0x5A);
}
