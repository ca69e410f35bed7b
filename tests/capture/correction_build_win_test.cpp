// The correction-file build against the stand-in library: a series of blank frames answered
// through its dialogs gives the expected file, byte for byte; a read that never returns is a
// failed frame after the timeout, with the host's messages served meanwhile.
#include "capture/sensor_task_fixture_win.h"

#include "capture/sensor_tasks.h"

namespace {

using CorrectionBuild = SensorTask;

uint16_t U16(const std::vector<uint8_t>& b, size_t at)
{
    return (uint16_t)(b[at] | b[at + 1] << 8);
}

TEST_F(CorrectionBuild, AveragesTheBlankFramesIntoTheSensorsFile)
{
    // Left half 1000, right half 3000: the centre block straddles both, so the reference is
    // 2000 and the gains are 2000 on the left and 667 on the right.
    Config(smsDir, "frame=split:1000,3000\nexposure_ms=10\n");
    std::string folder = root.file("cal");
    UseSettings([&](NyraSettings* s) {
        s->correctionImageCount = 3;
        CopyText(s->models[0].correctionDir, sizeof s->models[0].correctionDir, folder.c_str());
    });
    Answers = {IDYES, IDOK, IDOK, IDOK, IDOK};
    BuildCorrectionFile(nullptr);
    EXPECT_EQ(Captions.size(), 5u) << "question, three frames, done";
    EXPECT_TRUE(Answers.empty());
    EXPECT_EQ(CountOf(Calls(smsDir), "HPK_GetXrayImage h=0x1001 capbits=64 capacity=8871220 mode="), 3)
        << Calls(smsDir);
    std::string path = folder + "\\SN811234.CAL";
    EXPECT_NE(Log().find("   correction file saved: " + path + " (3 frames)"), std::string::npos) << Log();

    std::vector<uint8_t> file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 128u + 2u * 1300 * 1706);
    std::vector<uint8_t> header(128, 0);
    memcpy(header.data(), "NYRF\x02\x00\x14\x05\xAA\x06\x03\x00", 12);
    header[20] = 6;
    memcpy(&header[22], "811234", 6);
    header[88] = 8;
    memcpy(&header[90], "Standard", 8);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    for (size_t row : {0u, 853u, 1705u}) {
        size_t at = 128 + row * 1300 * 2;
        EXPECT_EQ(U16(file, at), 2000u);
        EXPECT_EQ(U16(file, at + 649 * 2), 2000u);
        EXPECT_EQ(U16(file, at + 650 * 2), 667u);
        EXPECT_EQ(U16(file, at + 1299 * 2), 667u);
    }
    EXPECT_EQ(BackendDevice.load(), 0);
    EXPECT_EQ(CaptureInProgress.load(), 0);
}

TEST_F(CorrectionBuild, AHangingReadIsAFailedFrameAfterTheTimeout)
{
    Config(smsDir, "read=hang\n");
    UseSettings([](NyraSettings* s) {
        s->captureTimeoutSeconds = 5;
        s->correctionImageCount = 5;
    });
    Answers = {IDYES, IDOK, IDCANCEL, IDOK};
    int ticks = 0;
    DWORD elapsed = RunServed(BuildCorrectionFile, &ticks);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 9000u);
    EXPECT_GE(ticks, 15) << "the host's messages were served during the read";
    EXPECT_EQ(Captions.size(), 4u) << "question, frame 1, retry?, nothing captured";
    EXPECT_NE(Log().find("   correction frame 1 failed: "), std::string::npos) << Log();
    EXPECT_EQ(CaptureInProgress.load(), 0);
}

TEST_F(CorrectionBuild, RefusedWhileACaptureRuns)
{
    CaptureInProgress.store(1);
    Answers = {IDYES, IDOK};
    BuildCorrectionFile(nullptr);
    EXPECT_EQ(Captions.size(), 2u);
    EXPECT_EQ(CaptureInProgress.load(), 1);
    EXPECT_EQ(Calls(smsDir).find("USB_OpenDevice"), std::string::npos);
}

}  // namespace
