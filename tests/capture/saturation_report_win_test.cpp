// The saturation report against the stand-in library: the read it asks for and the figures it
// shows, a read that never comes back while the host's thread keeps answering (and refuses a
// capture meanwhile), and the refusal while a capture runs.
#include "capture/sensor_task_fixture_win.h"

#include "capture/capture_driver.h"
#include "capture/sensor_tasks.h"

std::deque<int> SensorTask::Answers;
std::vector<std::string> SensorTask::Captions;

namespace {

using SaturationReport = SensorTask;

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(SaturationReport, ReportsTheFiguresOfARawFrame)
{
    Config(smsDir, "frame=flat:16000\nexposure_ms=20\n");
    NyraShowSaturation(nullptr);
    EXPECT_EQ(Captions, std::vector<std::string>{"X-ray Saturation Information"});
    EXPECT_TRUE(Has(Calls(smsDir), "HPK_GetXrayImage h=0x1001 capbits=64 capacity=8871220 mode=3 start="))
        << Calls(smsDir);
    EXPECT_TRUE(Has(Calls(smsDir), " integ=5000"));
    EXPECT_TRUE(Has(
        Log(), "   saturation: Nyra Sensor '811234'  Size 2\r\n\r\nMax pixel value : 16000  (of 65535)\r\n"
               "Mean value      : 16000\r\nPeak level      : 24% of full scale\r\n"
               "Saturated pixels: 2217800  (100%)"))
        << Log();
    EXPECT_EQ(BackendDevice.load(), 0) << "the sensor is released after the report";
    EXPECT_EQ(CaptureInProgress.load(), 0);
}

// A capture asked for from a timer message served during the read.
void* capturedDuringRead;

void CALLBACK CaptureDuringRead(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    capturedDuringRead = RunCapture("SEDCaptureImage16", 0, 0);
}

TEST_F(SaturationReport, AReadThatNeverReturnsIsAbortedAtTheTimeoutWhileTheHostAnswers)
{
    Config(smsDir, "read=hang\n");
    UseSettings([](NyraSettings* s) { s->captureTimeoutSeconds = 5; });
    // A capture asked for from a message served during the read is refused at once.
    capturedDuringRead = reinterpret_cast<void*>(1);
    SetTimer(nullptr, 0, 1000, CaptureDuringRead);
    int ticks = 0;
    DWORD elapsed = RunServed(NyraShowSaturation, &ticks);
    EXPECT_EQ(capturedDuringRead, nullptr);
    EXPECT_TRUE(Has(Log(), "   -> CANCEL (capture already in progress; re-entrant call rejected)"));
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 9000u);
    EXPECT_GE(ticks, 15) << "the host's messages were served during the read";
    EXPECT_TRUE(Has(Log(), "   no X-ray within 5 s -> aborting capture pipe"));
    EXPECT_TRUE(Has(Log(), "   saturation: Capture failed: ")) << Log();
    EXPECT_EQ(Captions, std::vector<std::string>{"X-ray Saturation Information"});
}

TEST_F(SaturationReport, RefusedWhileACaptureRuns)
{
    CaptureInProgress.store(1);
    NyraShowSaturation(nullptr);
    EXPECT_EQ(Captions, std::vector<std::string>{"X-ray Saturation"});
    EXPECT_EQ(CaptureInProgress.load(), 1);
    EXPECT_FALSE(Has(Calls(smsDir), "HPK_GetXray"));
}

}  // namespace
