// The options dialog through SEDDisplayOptions, driven by window messages from inside its own
// message loop as a user would drive it: what OK writes to settings.dat and the host's blob,
// what Cancel leaves alone, the per-model controls, the sensor tasks' saves, and a save that
// cannot replace the old file.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "exports/options_host_win.h"
#include "resources/resource.h"

namespace {

int Selection(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

TEST(OptionsDialog, OkStoresEveryPageIntoTheFileAndTheBlob)
{
    TempDir calibration;
    WriteFileBytes(calibration.file("SN1.CAL"), {1});
    CreateDirectoryA(calibration.file("x.CAL").c_str(), nullptr);  // a folder is not a correction file
    static std::string folder;
    folder = calibration.path();
    OptionsHost o([](NyraSettings& s) {
        s.suspendDelayMinutes = 15;  // no item carries 15
        s.imageCalibration = 2.5;
        strcpy(s.models[0].correctionDir, folder.c_str());
    });

    HWND dialog = nullptr, hw = nullptr, img = nullptr, cal = nullptr;
    UiScript script;
    script.then(WaitFor(&dialog, "Digital Xray Options")).run([&] {
        hw = PageWith(dialog, IDC_HW_MODEL), img = PageWith(dialog, IDC_IMG_SAVE_RAW);
        cal = PageWith(dialog, IDC_CAL_FACTOR);
        EXPECT_TRUE(IsWindowVisible(hw));
        EXPECT_FALSE(IsWindowVisible(img));
        EXPECT_EQ(TextOf(dialog, IDC_OPTIONS_VERSION), "Nyra Pro  v0.11.2");
        EXPECT_EQ(Selection(hw, IDC_HW_SUSPEND), 0);
        EXPECT_EQ(TextOf(hw, IDC_HW_CAL_COUNT), "1 .CAL file(s) found.");
        EXPECT_EQ(TextOf(hw, IDC_HW_TIMEOUT), "300");
        EXPECT_EQ(GetNextDlgTabItem(dialog, GetDlgItem(dialog, IDC_OPTIONS_TAB), FALSE),
                  GetDlgItem(hw, IDC_HW_SHOW_SWITCH))
            << "Tab goes from the tabs into the page";
        SIZE ideal = {};  // buttons answer this only from common controls 6
        EXPECT_TRUE(SendMessageA(GetDlgItem(dialog, IDOK), BCM_GETIDEALSIZE, 0, (LPARAM)&ideal));

        Toggle(hw, IDC_HW_SHOW_SWITCH);
        Toggle(hw, IDC_HW_LOGGING);
        Type(hw, IDC_HW_TIMEOUT, "120");
        Type(hw, IDC_HW_START, "450");
        ChooseItem(hw, IDC_HW_MODEL, 2);
        EXPECT_EQ(TextOf(hw, IDC_HW_START), "435");
        Type(hw, IDC_HW_START, "500");
        ChooseItem(hw, IDC_HW_MODEL, 0);
        EXPECT_EQ(TextOf(hw, IDC_HW_START), "450");
        EXPECT_EQ(TextOf(hw, IDC_HW_CAL_COUNT), "1 .CAL file(s) found.");

        ChooseItem(hw, IDC_HW_MODE, 2);  // Manual Detection / Manual Integration
        EXPECT_FALSE(Enabled(hw, IDC_HW_START));
        EXPECT_FALSE(Enabled(hw, IDC_HW_STOP));
        EXPECT_TRUE(Enabled(hw, IDC_HW_TIME));
        EXPECT_EQ(TextOf(hw, IDC_HW_MODE_TEXT), "Manual trigger with a fixed integration time.");
        ChooseItem(hw, IDC_HW_MODE, 1);
        EXPECT_TRUE(Enabled(hw, IDC_HW_START));
        EXPECT_FALSE(Enabled(hw, IDC_HW_STOP));

        ClickTab(GetDlgItem(dialog, IDC_OPTIONS_TAB), 0);
        EXPECT_TRUE(IsWindowVisible(img));
        EXPECT_FALSE(IsWindowVisible(hw));
        Toggle(img, IDC_IMG_APPLY_FILTERING);
        Toggle(img, IDC_IMG_SAVE_RAW);
        Toggle(img, IDC_IMG_SHOW_INDICATOR);

        ClickTab(GetDlgItem(dialog, IDC_OPTIONS_TAB), 2);
        EXPECT_EQ(TextOf(cal, IDC_CAL_FACTOR), "2.500000");
        Type(cal, IDC_CAL_FACTOR, "abc");
        Click(dialog, IDOK);
    });
    o.show(script);

    NyraSettings file = o.savedFile();
    HostConfigBlob blob = o.currentBlob();
    EXPECT_EQ(memcmp(blob.magic, "NYRS", 4), 0);
    EXPECT_EQ(memcmp(&blob.settings, &file, sizeof file), 0) << "the blob and the file hold the same record";
    EXPECT_EQ(file.showSwitchSensorButton, 0);
    EXPECT_EQ(file.enableLogging, 1);
    EXPECT_EQ(file.captureTimeoutSeconds, 120);
    EXPECT_EQ(file.suspendDelayMinutes, 5);
    EXPECT_EQ(file.sensorModel, 0);
    EXPECT_EQ(file.models[0].startThreshold, 450);
    EXPECT_EQ(file.models[0].integrationMode, 1);
    EXPECT_EQ(file.models[2].startThreshold, 500);
    EXPECT_EQ(file.applyImageFiltering, 0);
    EXPECT_EQ(file.saveRawImage, 1);
    EXPECT_EQ(file.hideExposureIndicator, 1);
    EXPECT_EQ(file.imageCalibration, 1.0);
}

TEST(OptionsDialog, CancelLeavesFileAndBlobAlone_SensorTasksSaveFirst)
{
    OptionsHost o;
    const HostConfigBlob before = o.currentBlob();
    HWND dialog = nullptr, hw = nullptr, question = nullptr;
    UiScript script;
    script.then(WaitFor(&dialog, "Digital Xray Options")).run([&] {
        hw = PageWith(dialog, IDC_HW_MODEL);
        Type(hw, IDC_HW_TIMEOUT, "99");
        Toggle(hw, IDC_HW_CORNERS_BLACK);
        Click(dialog, IDCANCEL);
    });
    o.show(script);
    HostConfigBlob after = o.currentBlob();
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
    EXPECT_FALSE(FileExists(o.settingsPath()));

    // Declining the saturation notice saves nothing; a correction-file build saves first, and a
    // Cancel afterwards keeps what it saved.
    UiScript tasks;
    int quiet = 0;
    tasks.then(WaitFor(&dialog, "Digital Xray Options"))
        .run([&] {
            hw = PageWith(dialog, IDC_HW_MODEL);
            Type(hw, IDC_HW_TIMEOUT, "99");
            Click(hw, IDC_HW_SATURATION);
        })
        .then(WaitFor(&question, "Display X-ray Saturation Information", true))
        .run([&] { PostMessageA(question, WM_COMMAND, IDNO, 0); })
        .then([&] { return FindDialog("Display X-ray Saturation Information", true) == nullptr; })
        .run([&] {
            EXPECT_FALSE(FileExists(o.settingsPath()));
            Click(hw, IDC_HW_CREATE_CAL);
        })
        .then([&] {
            // Whatever the build asks or reports, the user declines or acknowledges it.
            if (HWND box = FindDialog("Create a correction file", true)) {
                PostMessageA(box, WM_COMMAND, IDNO, 0);
                PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
                quiet = 0;
            }
            return ++quiet > 10;
        })
        .run([&] { Click(dialog, IDCANCEL); });
    o.show(tasks);
    ASSERT_TRUE(FileExists(o.settingsPath()));
    EXPECT_EQ(o.savedFile().captureTimeoutSeconds, 99);
    EXPECT_EQ(o.currentBlob().settings.captureTimeoutSeconds, 99);
}

TEST(OptionsDialog, FailedSaveKeepsTheOldFileAndTellsTheUser)
{
    OptionsHost o;
    NyraSettings old;
    SettingsDefaults(&old);
    std::vector<uint8_t> oldBytes(kSettingsFileSize);
    EncodeSettingsFile(old, oldBytes.data());
    ASSERT_TRUE(WriteFileBytes(o.settingsPath(), oldBytes));
    // A reader that does not share deletion (a backup or virus scanner, say) blocks the
    // replacement of the old file.
    HANDLE reader = CreateFileA(o.settingsPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    HWND dialog = nullptr, warning = nullptr;
    UiScript script;
    script.then(WaitFor(&dialog, "Digital Xray Options"))
        .run([&] {
            Type(PageWith(dialog, IDC_HW_MODEL), IDC_HW_TIMEOUT, "77");
            Click(dialog, IDOK);
        })
        .then(WaitFor(&warning, "Digital Xray Options", true))
        .run([&] {
            Screenshot(warning, "options_save_failed");
            PostMessageA(warning, WM_COMMAND, IDOK, 0);
        });
    o.show(script);
    SetFileAttributesA(o.settingsPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(o.settingsPath()), oldBytes);
    EXPECT_EQ(o.currentBlob().settings.captureTimeoutSeconds, 77);
}

}  // namespace
