// Defaults and repair of the settings record: golden defaults, bytes without a default left
// alone, every repair rule at its edges, and the filter-list rules as the settings see them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/text.h"
#include "settings/settings.h"

namespace {

NyraSettings Filled(uint8_t byte)
{
    NyraSettings s;
    memset(&s, byte, sizeof s);
    return s;
}

NyraSettings Defaults()
{
    NyraSettings s = Filled(0);
    SettingsDefaults(&s);
    return s;
}

TEST(SettingsDefaults, EveryFieldHasItsDefault)
{
    NyraSettings s = Filled(0xAB);
    SettingsDefaults(&s);
    EXPECT_EQ(s.showSwitchSensorButton, 1);
    EXPECT_EQ(s.closeHardwareEachCapture, 1);
    EXPECT_EQ(s.closeHardwareAfterLayout, 1);
    EXPECT_EQ(s.makeCornersBlack, 1);
    EXPECT_EQ(s.enableLogging, 0);
    EXPECT_EQ(s.allowSuspend, 1);
    EXPECT_EQ(s.suspendDelayMinutes, 10);
    EXPECT_EQ(s.imageReturnType, 1);
    EXPECT_EQ(s.correctionImageCount, 10u);
    EXPECT_EQ(s.captureTimeoutSeconds, 300);
    EXPECT_EQ(s.applyImageFiltering, 1);
    EXPECT_EQ(s.saveRawImage, 0);
    EXPECT_EQ(s.imageCalibration, 1.0);
    EXPECT_EQ(s.sensorModel, 0);
    EXPECT_EQ(s.modelFollowsDetected, 1);
    EXPECT_EQ(s.reserved, 0);
    EXPECT_EQ(s.hideExposureIndicator, 0);
    const int32_t start[3] = {440, 435, 435}, stop[3] = {437, 433, 433};
    for (int i = 0; i < kModelCount; i++) {
        EXPECT_EQ(s.models[i].integrationMode, 1);
        EXPECT_EQ(s.models[i].startThreshold, start[i]);
        EXPECT_EQ(s.models[i].stopThreshold, stop[i]);
        EXPECT_EQ(s.models[i].integrationTimeMs, 500);
        EXPECT_STREQ(s.models[i].correctionDir, "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra");
    }
    EXPECT_STREQ(kDefaultDataDir, "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra");

    // The default filter list, with the per-type new-entry parameters.
    struct {
        int32_t type, p1, p2, p3;
    } const expected[7] = {
        {13, 5, 0, 0}, {8, 128, 138, 148}, {2, -10, 0, 0}, {3, 10, 0, 0},
        {7, 75, 0, 0}, {22, 21, 20, 0},    {12, 5, 0, 0},
    };
    ASSERT_EQ(s.filterCount, 7);
    for (int k = 0; k < 7; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(s.filters[k].type, expected[k].type);
        EXPECT_EQ(s.filters[k].enabled, 1);
        EXPECT_EQ(s.filters[k].param1, expected[k].p1);
        EXPECT_EQ(s.filters[k].param2, expected[k].p2);
        EXPECT_EQ(s.filters[k].param3, expected[k].p3);
        EXPECT_EQ(s.filters[k].modality[0], '\0');
    }
}

TEST(SettingsDefaults, BytesWithoutADefaultAreLeftAlone)
{
    NyraSettings s = Filled(0xAB);
    SettingsDefaults(&s);
    const size_t textEnd = strlen(kDefaultDataDir) + 1;
    for (int i = 0; i < kModelCount; i++)
        for (size_t b = textEnd; b < sizeof s.models[i].correctionDir; b++)
            ASSERT_EQ((uint8_t)s.models[i].correctionDir[b], 0xAB) << "model " << i << " byte " << b;
    const uint8_t* tail = reinterpret_cast<const uint8_t*>(&s.filters[7]);
    for (size_t b = 0; b < sizeof(FilterEntry) * (kMaxFilters - 7); b++)
        ASSERT_EQ(tail[b], 0xAB) << "filter slot byte " << b;
    SettingsDefaults(nullptr);  // ignored
}

TEST(ValidateSettings, DefaultsAreAlreadyValid)
{
    NyraSettings s = Defaults();
    NyraSettings v = s;
    ValidateSettings(&v);
    EXPECT_EQ(memcmp(&s, &v, sizeof s), 0);
    ValidateSettings(nullptr);  // ignored
}

// Each row: a field, a stored value and the value after repair.
struct IntRepair {
    const char* name;
    int32_t NyraSettings::*field;
    int32_t stored;
    int32_t repaired;
};

TEST(ValidateSettings, ScalarFieldsAreRepairedAtTheirEdges)
{
    const IntRepair cases[] = {
        {"suspend delay 0", &NyraSettings::suspendDelayMinutes, 0, 10},
        {"suspend delay -3", &NyraSettings::suspendDelayMinutes, -3, 10},
        {"suspend delay 1", &NyraSettings::suspendDelayMinutes, 1, 1},
        {"suspend delay 45", &NyraSettings::suspendDelayMinutes, 45, 45},
        {"timeout 3", &NyraSettings::captureTimeoutSeconds, 3, 5},
        {"timeout 4", &NyraSettings::captureTimeoutSeconds, 4, 5},
        {"timeout 5", &NyraSettings::captureTimeoutSeconds, 5, 5},
        {"timeout 600", &NyraSettings::captureTimeoutSeconds, 600, 600},
        {"timeout 601", &NyraSettings::captureTimeoutSeconds, 601, 600},
        {"timeout 1000", &NyraSettings::captureTimeoutSeconds, 1000, 600},
        {"timeout INT_MIN", &NyraSettings::captureTimeoutSeconds, INT32_MIN, 5},
        {"model -1", &NyraSettings::sensorModel, -1, 0},
        {"model 2", &NyraSettings::sensorModel, 2, 2},
        {"model 3", &NyraSettings::sensorModel, 3, 0},
        {"hide indicator 7", &NyraSettings::hideExposureIndicator, 7, 1},
        {"hide indicator -1", &NyraSettings::hideExposureIndicator, -1, 1},
        {"hide indicator 0", &NyraSettings::hideExposureIndicator, 0, 0},
        {"follows detected 0", &NyraSettings::modelFollowsDetected, 0, 1},
        {"follows detected 9", &NyraSettings::modelFollowsDetected, 9, 1},
        {"reserved 42", &NyraSettings::reserved, 42, 0},
        // Plain flags are not normalised: any non-zero value means on.
        {"logging 5", &NyraSettings::enableLogging, 5, 5},
        {"corners -2", &NyraSettings::makeCornersBlack, -2, -2},
        {"return type 9", &NyraSettings::imageReturnType, 9, 9},
    };
    for (const IntRepair& c : cases) {
        NyraSettings s = Defaults();
        s.*c.field = c.stored;
        ValidateSettings(&s);
        EXPECT_EQ(s.*c.field, c.repaired) << c.name;
    }
}

// Any stored delay survives validation, so the conversion to ms must not wrap 32 bits.
TEST(SuspendDelayMs, ClampsInsteadOfWrapping)
{
    EXPECT_EQ(SuspendDelayMs(10), 600000u);
    EXPECT_EQ(SuspendDelayMs(71582), 4294920000u);
    EXPECT_EQ(SuspendDelayMs(71583), 4294920000u);  // 71,583 x 60,000 would wrap to 12.7 s
    EXPECT_EQ(SuspendDelayMs(INT32_MAX), 4294920000u);
    EXPECT_EQ(SuspendDelayMs(-5), 0u);
}

TEST(ValidateSettings, CalibrationNotGreaterThanZeroBecomesOne)
{
    const double cases[][2] = {
        {0.0, 1.0},
        {-0.0, 1.0},
        {-2.5, 1.0},
        {1e-300, 1e-300},
        {2.5, 2.5},
        {std::numeric_limits<double>::quiet_NaN(), 1.0},
        {-std::numeric_limits<double>::infinity(), 1.0},
    };
    for (const auto& c : cases) {
        NyraSettings s = Defaults();
        s.imageCalibration = c[0];
        ValidateSettings(&s);
        EXPECT_EQ(s.imageCalibration, c[1]) << c[0];
    }
}

struct ModelRepair {
    const char* name;
    int32_t SensorModelParams::*field;
    int32_t stored;
    int32_t repaired;
};

TEST(ValidateSettings, ModelParametersAreRepairedInEveryBlock)
{
    const ModelRepair cases[] = {
        {"mode -1", &SensorModelParams::integrationMode, -1, 1},
        {"mode 0", &SensorModelParams::integrationMode, 0, 0},
        {"mode 2", &SensorModelParams::integrationMode, 2, 2},
        {"mode 3", &SensorModelParams::integrationMode, 3, 1},
        {"start -7", &SensorModelParams::startThreshold, -7, 0},
        {"start 70000", &SensorModelParams::startThreshold, 70000, 65535},
        {"start 65535", &SensorModelParams::startThreshold, 65535, 65535},
        {"stop -1", &SensorModelParams::stopThreshold, -1, 0},
        {"stop 65536", &SensorModelParams::stopThreshold, 65536, 65535},
        {"time 0", &SensorModelParams::integrationTimeMs, 0, 1},
        {"time -5", &SensorModelParams::integrationTimeMs, -5, 1},
        {"time 60000", &SensorModelParams::integrationTimeMs, 60000, 60000},
        {"time 60001", &SensorModelParams::integrationTimeMs, 60001, 60000},
    };
    for (const ModelRepair& c : cases) {
        for (int i = 0; i < kModelCount; i++) {
            NyraSettings s = Defaults();
            s.models[i].*c.field = c.stored;
            ValidateSettings(&s);
            EXPECT_EQ(s.models[i].*c.field, c.repaired) << c.name << " in model " << i;
        }
    }
}

TEST(ValidateSettings, UnterminatedCorrectionFolderIsTerminated)
{
    NyraSettings s = Defaults();
    for (int i = 0; i < kModelCount; i++)
        memset(s.models[i].correctionDir, 'x', sizeof s.models[i].correctionDir);
    ValidateSettings(&s);
    for (int i = 0; i < kModelCount; i++) {
        EXPECT_EQ(strlen(s.models[i].correctionDir), (size_t)kPathChars - 1);
        EXPECT_EQ(s.models[i].correctionDir[0], 'x');
    }
}

TEST(ValidateSettings, UntrustworthyFilterListIsReplacedByTheDefaults)
{
    const NyraSettings defaults = Defaults();
    struct Case {
        const char* name;
        int32_t count;
        int badEntry;  // index whose type becomes badType, or -1
        int32_t badType;
    } const cases[] = {
        {"count 0", 0, -1, 0},
        {"count 33", 33, -1, 0},
        {"count -1", -1, -1, 0},
        {"count 5, fourth entry type 24", 5, 3, 24},
        {"count 5, first entry type -1", 5, 0, -1},
    };
    for (const Case& c : cases) {
        NyraSettings s = Defaults();
        for (int k = 0; k < kMaxFilters; k++) {
            s.filters[k].type = FilterInvert;
            s.filters[k].param1 = 99;
        }
        s.filterCount = c.count;
        if (c.badEntry >= 0)
            s.filters[c.badEntry].type = c.badType;
        ValidateSettings(&s);
        EXPECT_EQ(s.filterCount, 7) << c.name;
        EXPECT_EQ(memcmp(s.filters, defaults.filters, 7 * sizeof(FilterEntry)), 0) << c.name;
    }
}

TEST(ValidateSettings, ValidFilterListIsRepairedEntryByEntry)
{
    NyraSettings s = Defaults();
    s.filterCount = 5;
    s.filters[0] = FilterEntry{FilterSharpen, 0, 8, 150, 77, "io"};
    s.filters[1] = FilterEntry{FilterGaussianBlur, 1, 16, 0, 0, "XR"};
    memcpy(s.filters[2].modality, "IOIOIOIO", 8);  // unterminated
    s.filters[2].type = FilterBrightness;
    s.filters[2].param1 = -500;  // brightness is not limited here
    s.filters[3] = FilterEntry{FilterSharpen, 1, 40, -3, 0, "IO"};
    s.filters[4] = FilterEntry{FilterDynamicDarken, 1, 0, 0, 0, ""};
    s.filters[5] = FilterEntry{99, 1, 0, 0, 0, "XR"};  // beyond the count: ignored
    ValidateSettings(&s);

    ASSERT_EQ(s.filterCount, 5);
    EXPECT_STREQ(s.filters[0].modality, "io");  // IO in any case is kept as written
    EXPECT_EQ(s.filters[0].enabled, 0);         // enabled is left as stored
    EXPECT_EQ(s.filters[0].param1, 9);          // even mask -> next odd
    EXPECT_EQ(s.filters[0].param2, 100);
    EXPECT_EQ(s.filters[0].param3, 77);
    EXPECT_STREQ(s.filters[1].modality, "");
    EXPECT_EQ(s.filters[1].param1, 15);  // Gaussian blur masks stop at 15
    EXPECT_EQ(s.filters[2].modality[7], '\0');
    EXPECT_STREQ(s.filters[2].modality, "");  // "IOIOIOI" is not "IO"
    EXPECT_EQ(s.filters[2].param1, -500);
    EXPECT_EQ(s.filters[3].param1, 21);
    EXPECT_EQ(s.filters[3].param2, 0);
    EXPECT_STREQ(s.filters[3].modality, "IO");
    EXPECT_EQ(s.filters[4].param1, 1);
    EXPECT_EQ(s.filters[5].type, 99);
    EXPECT_STREQ(s.filters[5].modality, "XR");
}

TEST(ApplyDataDirToModels, DefaultAndEmptyFoldersFollowTheDataFolder)
{
    NyraSettings s = Defaults();
    CopyText(s.models[0].correctionDir, kPathChars, "c:\\apteryx\\apteryx imaging\\devices\\nyra");
    s.models[1].correctionDir[0] = '\0';
    CopyText(s.models[2].correctionDir, kPathChars, "E:\\Cal");
    ApplyDataDirToModels(&s, "D:\\Img\\Nyra");
    EXPECT_STREQ(s.models[0].correctionDir, "D:\\Img\\Nyra");
    EXPECT_STREQ(s.models[1].correctionDir, "D:\\Img\\Nyra");
    EXPECT_STREQ(s.models[2].correctionDir, "E:\\Cal");

    NyraSettings untouched = Defaults();
    ApplyDataDirToModels(&untouched, "");
    EXPECT_STREQ(untouched.models[0].correctionDir, kDefaultDataDir);
    // A folder that merely starts with the default is the user's own.
    CopyText(untouched.models[1].correctionDir, kPathChars,
             "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra\\Cal");
    ApplyDataDirToModels(&untouched, "D:\\Img\\Nyra");
    EXPECT_STREQ(untouched.models[1].correctionDir, "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra\\Cal");
}

}  // namespace
