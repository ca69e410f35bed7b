// Correction files: gain arithmetic, the header's bytes, the path rule, what the reader
// refuses (with the capture's fallback line), and the crash-safe write under injected faults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture/correction_file.h"
#include "capture/log_lines.h"
#include "settings/settings_fixture.h"

namespace {

std::vector<uint8_t> FileBytes(const CorrectionHeader& header, const std::vector<uint16_t>& gains)
{
    std::vector<uint8_t> bytes(kCorrectionHeaderSize + gains.size() * 2);
    EncodeCorrectionHeader(header, bytes.data());
    for (size_t i = 0; i < gains.size(); i++) {
        bytes[kCorrectionHeaderSize + 2 * i] = (uint8_t)gains[i];
        bytes[kCorrectionHeaderSize + 2 * i + 1] = (uint8_t)(gains[i] >> 8);
    }
    return bytes;
}

}  // namespace

TEST(GainMap, GainsAgainstTheCentreReference)
{
    // 200 x 200, three frames summed; the centre block (rows and columns 50..149) averages 3000.
    const int w = 200, h = 200, frames = 3;
    std::vector<uint32_t> sums((size_t)w * h, 3000 * frames);
    struct Case {
        int index;
        uint32_t sum;
        uint16_t gain;
    } const cases[] = {
        {0, 3000 * 3, 1000},      // equal to the reference
        {1, 1500 * 3, 2000},      // half
        {2, 600 * 3, 5000},       // a fifth
        {3, 599 * 3, 1000},       // below a fifth: 5008 is out of range
        {4, 31000 * 3, 1000},     // over ten times: 96.8 is out of range
        {5, 30000 * 3, 100},      // exactly ten times
        {6, 0, 1000},             // no signal
        {7, 2 * 3 - 1, 1000},     // mean (5 + 1) / 3 = 2 -> 1500000, out of range
        {8, 2999 * 3 + 1, 1000},  // mean rounds to 2999 -> 1000.33 -> 1000
    };
    for (const Case& c : cases)
        sums[c.index] = c.sum;
    std::vector<uint16_t> gains((size_t)w * h);
    ComputeGainMap(sums.data(), frames, w, h, gains.data());
    for (const Case& c : cases)
        EXPECT_EQ(gains[c.index], c.gain) << c.index;
    EXPECT_EQ(gains[(size_t)w * h - 1], 1000);
}

TEST(GainMap, ApplyRoundsAndClips)
{
    std::vector<uint16_t> px = {65535, 1000, 3, 0, 40000, 65534};
    const std::vector<uint16_t> gains = {1000, 1500, 1166, 5000, 2000, 999};
    ApplyGainMap(px.data(), px.size(), gains.data());
    EXPECT_EQ(px, (std::vector<uint16_t>{65535, 1500, 3, 0, 65535, 65468}));
}

TEST(CorrectionHeader, GoldenBytes)
{
    uint8_t b[kCorrectionHeaderSize];
    EncodeCorrectionHeader(MakeCorrectionHeader(1300, 1706, 10, "AB12", 2), b);
    std::vector<uint8_t> expected(kCorrectionHeaderSize, 0);
    const uint8_t head[] = {'N', 'Y', 'R', 'F', 2, 0, 0x14, 0x05, 0xAA, 0x06, 10, 0};
    memcpy(expected.data(), head, sizeof head);
    expected[20] = 4;
    memcpy(&expected[22], "AB12", 4);
    expected[88] = 3;
    memcpy(&expected[90], "SMS", 3);
    EXPECT_EQ(std::vector<uint8_t>(b, b + sizeof b), expected);

    // A 33-character serial keeps 32 bytes and no terminator; the model name follows the variant.
    EncodeCorrectionHeader(MakeCorrectionHeader(2580, 1706, 1, std::string(33, 'S').c_str(), 3), b);
    EXPECT_EQ(b[20], 32);
    EXPECT_EQ(std::string((const char*)b + 22, 32), std::string(32, 'S'));
    EXPECT_EQ(b[54], 0);
    EXPECT_EQ(std::string((const char*)b + 90), "Size3");
    EXPECT_STREQ(CorrectionModelName(0), "Standard");
    EXPECT_STREQ(CorrectionModelName(4), "Standard");

    CorrectionHeader back;
    ASSERT_TRUE(DecodeCorrectionHeader(b, sizeof b, &back));
    EXPECT_EQ(back.width, 2580);
    EXPECT_EQ(back.frameCount, 1);
    EXPECT_FALSE(DecodeCorrectionHeader(b, sizeof b - 1, &back));
}

TEST(CorrectionPath, FolderSerialAndCut)
{
    char path[kPathChars];
    EXPECT_EQ(CorrectionFilePath(path, sizeof path, "", "X9"), 10u);
    EXPECT_STREQ(path, ".\\SNX9.CAL");
    CorrectionFilePath(path, sizeof path, "D:\\Cal", "123");
    EXPECT_STREQ(path, "D:\\Cal\\SN123.CAL");
    std::string longFolder(255, 'f');
    EXPECT_EQ(CorrectionFilePath(path, sizeof path, longFolder.c_str(), "123"), 265u);
    EXPECT_EQ(strlen(path), 259u);
}

class CorrectionFiles : public SettingsFileTest {
public:
    std::string CalPath() const { return data.file("SN7.CAL"); }
};

TEST_F(CorrectionFiles, AppliedWhenItMatchesElseTheFrameStaysAsRead)
{
    const int w = 8, h = 4;
    std::vector<uint16_t> gains((size_t)w * h, 2000);
    const std::vector<uint8_t> good = FileBytes(MakeCorrectionHeader(w, h, 5, "7", 1), gains);
    std::vector<uint8_t> foreign = good;
    foreign[3] = 'X';
    std::vector<uint8_t> truncated(good.begin(), good.end() - 1);
    std::vector<uint8_t> otherSize = FileBytes(MakeCorrectionHeader(w, h + 1, 5, "7", 1), gains);
    std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 127);

    for (const auto* bytes : {&foreign, &truncated, &otherSize, &shortHeader}) {
        ASSERT_TRUE(WriteFileBytes(CalPath(), *bytes));
        ClearLog();
        std::vector<uint16_t> px((size_t)w * h, 100);
        EXPECT_FALSE(ApplyCorrectionFile(px.data(), w, h, CalPath().c_str()));
        EXPECT_EQ(px, std::vector<uint16_t>((size_t)w * h, 100));
        EXPECT_EQ(Untimed(Log()), "   fully-corrected requested but no matching .CAL (" + CalPath()
                                      + ") \x97 dark-corrected only\n");
    }
    ASSERT_TRUE(WriteFileBytes(CalPath(), good));
    ClearLog();
    std::vector<uint16_t> px((size_t)w * h, 100);
    EXPECT_TRUE(ApplyCorrectionFile(px.data(), w, h, CalPath().c_str()));
    EXPECT_EQ(px, std::vector<uint16_t>((size_t)w * h, 200));
    EXPECT_EQ(Untimed(Log()), "   applied flat-field correction: " + CalPath() + "\n");
}

// Fail the 1st, 2nd, ... file call of a write until one completes. After each run either the
// new file is complete or the old one is byte-identical, and no temporary file is left.
TEST_F(CorrectionFiles, WriteFaultLoopKeepsTheOldCalibration)
{
    const int w = 6, h = 5;
    const std::vector<uint16_t> oldGains((size_t)w * h, 1200), newGains((size_t)w * h, 900);
    const std::vector<uint8_t> oldBytes = FileBytes(MakeCorrectionHeader(w, h, 10, "7", 3), oldGains);
    const std::vector<uint8_t> newBytes = FileBytes(MakeCorrectionHeader(w, h, 20, "7", 3), newGains);
    for (bool persistent : {false, true}) {
        for (int n = 1;; n++) {
            ASSERT_LT(n, 20) << "the write never completed";
            ASSERT_TRUE(WriteFileBytes(CalPath(), oldBytes));
            FaultOps::Arm(n, persistent);
            SetSettingsFileOps(FaultOps::Table());
            bool ok = WriteCorrectionFile(CalPath().c_str(), "7", 3, w, h, 20, newGains.data());
            SetSettingsFileOps(nullptr);
            if (!persistent || !FaultOps::fired) {
                EXPECT_EQ(DataFiles(), std::vector<std::string>{"SN7.CAL"}) << n;
            }
            if (!FaultOps::fired) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(ReadFileBytes(CalPath()), newBytes);
                EXPECT_GE(n, 6) << "create, two writes, flush, move";
                break;
            }
            EXPECT_FALSE(ok) << n;
            EXPECT_EQ(ReadFileBytes(CalPath()), oldBytes) << n;
        }
    }
}
