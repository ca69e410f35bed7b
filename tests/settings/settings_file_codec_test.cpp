// The settings.dat codec over byte spans: golden bytes, round trip, input cut at every
// length, foreign magic and unknown versions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "settings_fixture.h"

namespace {

TEST(SettingsFileCodec, GoldenBytesOfTheDefaults)
{
    std::vector<uint8_t> bytes(kSettingsFileSize);
    EncodeSettingsFile(DefaultSettings(), bytes.data());
    ASSERT_EQ(kSettingsFileSize, 1808u);
    struct {
        size_t offset;
        std::vector<uint8_t> expected;
    } const golden[] = {
        {0, {'N', 'Y', 'R', 'P', 3, 0, 0, 0}},
        {8 + 0, {1, 0, 0, 0}},                     // show switch sensor button
        {8 + 24, {10, 0, 0, 0}},                   // suspend delay
        {8 + 36, {0x2C, 0x01, 0, 0}},              // timeout 300
        {8 + 48, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},  // calibration 1.0
        {8 + 60, {1, 0, 0, 0, 0, 0, 0, 0}},        // follows detected, reserved
        {8 + 68, {1, 0, 0, 0, 0xB8, 0x01, 0, 0, 0xB5, 0x01, 0, 0, 0xF4, 0x01, 0, 0, 'C', ':', '\\'}},
        {8 + 68 + 276 + 4, {0xB3, 0x01, 0, 0, 0xB1, 0x01, 0, 0}},        // model 1 thresholds 435, 433
        {8 + 896, {7, 0, 0, 0, 13, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0}},    // count, despeckle 5
        {8 + 900 + 28 + 8, {128, 0, 0, 0, 138, 0, 0, 0, 148, 0, 0, 0}},  // level 128/138/148
        {8 + 900 + 56 + 8, {0xF6, 0xFF, 0xFF, 0xFF}},                    // brightness -10
        {8 + 1796, {0, 0, 0, 0}},
    };
    for (const auto& g : golden)
        for (size_t i = 0; i < g.expected.size(); i++)
            EXPECT_EQ(bytes[g.offset + i], g.expected[i]) << "offset " << g.offset + i;
}

TEST(SettingsFileCodec, RecordRoundTripsByteForByte)
{
    NyraSettings s;
    uint8_t* raw = reinterpret_cast<uint8_t*>(&s);
    for (size_t i = 0; i < sizeof s; i++)
        raw[i] = (uint8_t)(i * 7 + 3);
    std::vector<uint8_t> bytes(kSettingsFileSize + 5, 0xEE);  // trailing bytes are ignored
    EncodeSettingsFile(s, bytes.data());
    NyraSettings back;
    uint32_t version = 0;
    ASSERT_TRUE(DecodeSettingsFile(bytes.data(), bytes.size(), &back, &version));
    EXPECT_EQ(version, 3u);
    EXPECT_EQ(memcmp(&s, &back, sizeof s), 0);
}

TEST(SettingsFileCodec, InputCutAtEveryLengthIsRefusedWithoutTouchingTheOutput)
{
    const std::vector<uint8_t> bytes = SettingsFileBytes(2, DefaultSettings());
    for (size_t n = 0; n < kSettingsFileSize; n++) {
        NyraSettings out;
        memset(&out, 0x55, sizeof out);
        uint32_t version = 77;
        ASSERT_FALSE(DecodeSettingsFile(bytes.data(), n, &out, &version)) << n;
        ASSERT_EQ(version, 77u);
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(&out);
        for (size_t i = 0; i < sizeof out; i++)
            ASSERT_EQ(raw[i], 0x55) << "length " << n << " byte " << i;
        EXPECT_EQ(DecodeSettingsHeader(bytes.data(), n, &version), n >= kSettingsHeaderSize) << n;
    }
    NyraSettings out;
    EXPECT_TRUE(DecodeSettingsFile(bytes.data(), kSettingsFileSize, &out, nullptr));
    EXPECT_FALSE(DecodeSettingsFile(nullptr, kSettingsFileSize, &out, nullptr));
    EXPECT_FALSE(DecodeSettingsFile(bytes.data(), kSettingsFileSize, nullptr, nullptr));
}

TEST(SettingsFileCodec, OnlyVersionsOneToThreeWithTheMagicAreAccepted)
{
    const NyraSettings s = DefaultSettings();
    const uint32_t versions[] = {0, 1, 2, 3, 4, 0x100, 0x03000000, 0xFFFFFFFF};
    for (uint32_t v : versions) {
        std::vector<uint8_t> bytes = SettingsFileBytes(v, s);
        NyraSettings out;
        uint32_t got = 0;
        bool known = v >= 1 && v <= 3;
        EXPECT_EQ(DecodeSettingsFile(bytes.data(), bytes.size(), &out, &got), known) << v;
        EXPECT_EQ(DecodeSettingsHeader(bytes.data(), bytes.size(), &got), known) << v;
        if (known) {
            EXPECT_EQ(got, v);
        }
    }
    std::vector<uint8_t> foreign = SettingsFileBytes(3, s);
    const char* magics[] = {"NYRS", "nyrp", "PRYN", "\0YRP"};
    for (const char* m : magics) {
        memcpy(foreign.data(), m, 4);
        NyraSettings out;
        EXPECT_FALSE(DecodeSettingsFile(foreign.data(), foreign.size(), &out, nullptr)) << m;
    }
}

}  // namespace
