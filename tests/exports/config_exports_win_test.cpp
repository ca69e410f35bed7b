// Host configuration exports through the built DLL: texts cut to size - 1 with the source
// length returned, blob acceptance and seeding, version and fixed answers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exports/plugin_host.h"
#include "settings/host_blob.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"

typedef uint32_t(__stdcall* TextFn)(char*, int32_t);
typedef uint32_t(__stdcall* BlobGetFn)(void*);
typedef uint32_t(__stdcall* BlobSetFn)(const void*, uint32_t);
typedef uint32_t(__stdcall* NoArgFn)();

TEST(ConfigExports, SensorIdentityCutToBufferWithFullLength)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    char buffer[8];
    memset(buffer, 0x55, sizeof buffer);
    EXPECT_EQ(host.fn<TextFn>("SEDGetCurrentSensorID")(buffer, 4), 8u);
    EXPECT_STREQ(buffer, "Nyr");
    EXPECT_EQ((uint8_t)buffer[4], 0x55);
    EXPECT_EQ(host.fn<TextFn>("SEDGetCurrentSensorDefinition")(nullptr, 100), 8u);
    EXPECT_EQ(host.fn<TextFn>("SEDGetCurrentStatus")(buffer, 3), 1u);
    EXPECT_STREQ(buffer, "Re");
    EXPECT_EQ(host.fn<NoArgFn>("SEDGetSEDVersion")(), 0x20000u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDGetConfigurationAndOptionsSize")(), 2052u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDGetCurrentPort")(), 0u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDSwitchSensor")(), 1u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDPostMount")(), 1u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDGetNumberOfDiagnosticMessages")(), 0u);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)(void*)>("SEDIsBGCActive")(buffer), 0u);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)(void*)>("SEDImportNativeImage")(nullptr), 1u);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)(void*, int32_t, int32_t, int32_t, int32_t)>("SEDReorientImage16")(
                  nullptr, 1, 2, 3, 4),
              0u);
}

TEST(ConfigExports, BlobVersionAndSizeRules)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    host.setDevicesDir(host.dir().path());  // settings.dat is looked for in <dir>\Nyra

    std::vector<uint8_t> blob(kHostBlobSize, 0xEE);
    EXPECT_EQ(host.fn<BlobGetFn>("SEDGetConfigurationAndOptions")(blob.data()), 1u);
    EXPECT_EQ(blob[0] | blob[1] << 8 | blob[2] << 16 | blob[3] << 24, 0x10000);
    for (size_t i = 4; i < blob.size(); i++)
        ASSERT_EQ(blob[i], 0) << "an unset blob is handed out as version and zeros, byte " << i;

    // Wrong size or version: the current blob stays.
    std::vector<uint8_t> other(kHostBlobSize, 0);
    other[0] = 0x00, other[1] = 0x00, other[2] = 0x02;  // version 0x20000
    other[4] = 'N', other[5] = 'Y', other[6] = 'R', other[7] = 'S';
    EXPECT_EQ(host.fn<BlobSetFn>("SEDSetConfigurationAndOptions")(other.data(), kHostBlobSize), 1u);
    EXPECT_EQ(host.fn<BlobSetFn>("SEDSetConfigurationAndOptions")(blob.data(), 2048), 1u);
    std::vector<uint8_t> now(kHostBlobSize);
    host.fn<BlobGetFn>("SEDGetConfigurationAndOptions")(now.data());
    EXPECT_EQ(now, blob);

    // Accepted with its reserved tail as the host gave it.
    HostConfigBlob mine;
    memset(&mine, 0, sizeof mine);
    mine.version = kHostBlobVersion;
    memcpy(mine.magic, "NYRS", 4);
    SettingsDefaults(&mine.settings);
    mine.settings.captureTimeoutSeconds = 42;
    memset(mine.reserved, 0xAB, sizeof mine.reserved);
    host.fn<BlobSetFn>("SEDSetConfigurationAndOptions")(&mine, sizeof mine);
    host.fn<BlobGetFn>("SEDGetConfigurationAndOptions")(now.data());
    EXPECT_EQ(memcmp(now.data(), &mine, sizeof mine), 0);
}

TEST(ConfigExports, EmptyBlobSeededFromSettingsFile)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    std::string devices = host.dir().path();
    CreateDirectoryA((devices + "\\Nyra").c_str(), nullptr);
    NyraSettings saved;
    SettingsDefaults(&saved);
    saved.captureTimeoutSeconds = 77;
    std::vector<uint8_t> file(kSettingsFileSize);
    EncodeSettingsFile(saved, file.data());
    ASSERT_TRUE(WriteFileBytes(devices + "\\Nyra\\settings.dat", file));
    host.setDevicesDir(devices);

    std::vector<uint8_t> blob(kHostBlobSize, 0);
    host.fn<BlobGetFn>("SEDGetConfigurationAndOptions")(blob.data());  // version 0x10000, no magic
    memset(blob.data() + 1808, 0x5A, 244);
    host.fn<BlobSetFn>("SEDSetConfigurationAndOptions")(blob.data(), kHostBlobSize);
    HostConfigBlob seeded;
    host.fn<BlobGetFn>("SEDGetConfigurationAndOptions")(&seeded);
    EXPECT_TRUE(BlobHasSettings(seeded));
    EXPECT_EQ(seeded.settings.captureTimeoutSeconds, 77);
    EXPECT_EQ(seeded.reserved[0], 0x5A) << "the reserved tail is not touched by seeding";
}
