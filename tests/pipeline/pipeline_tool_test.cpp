// nyra-pipeline's logic in every build: bad input writes nothing, and a generated full-size
// frame gives the same delivered pixels natively and in the Windows build (one checksum for
// both, the indicator hidden since only Windows draws it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/correction_file.h"
#include "pipeline_tool.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"
#include "support/test_support.h"

namespace {

// Frame from integer arithmetic only, so it is the same everywhere: a bright field falling off
// to the sides, a darker tooth-like band, a dark column on the left edge, noise from a fixed
// linear congruential generator.
std::vector<uint8_t> FrameBytes(int32_t w, int32_t h)
{
    std::vector<uint8_t> bytes((size_t)w * h * 2);
    uint32_t state = 2024u;
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            int64_t dx = x - w / 2, dy = y - h / 2;
            int64_t v = 30000 - 8000 * dx * dx / ((int64_t)w * w / 4) - 4000 * dy * dy / ((int64_t)h * h / 4);
            if (x > w / 3 && x < w / 2 && y > h / 5)
                v -= 12000;
            if (x < 2)
                v = 10;
            state = state * 1664525u + 1013904223u;
            v += (int64_t)(state >> 23) - 256;
            uint16_t p = (uint16_t)(v < 0 ? 0 : v);
            bytes[2 * ((size_t)y * w + x)] = (uint8_t)p;
            bytes[2 * ((size_t)y * w + x) + 1] = (uint8_t)(p >> 8);
        }
    }
    return bytes;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        hash ^= b;
        hash *= 1099511628211ull;
    }
    return hash;
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun Tool(std::vector<std::string> args)
{
    args.insert(args.begin(), "nyra-pipeline");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ToolRun run{RunPipelineTool((int)argv.size(), argv.data(), out, err), "", ""};
    for (auto [file, text] : {std::pair<FILE*, std::string*>{out, &run.out}, {err, &run.err}}) {
        rewind(file);
        for (int c; (c = fgetc(file)) != EOF;)
            *text += (char)c;
        fclose(file);
    }
    return run;
}

}  // namespace

TEST(PipelineTool, BadInputWritesNothing)
{
    TempDir dir;
    const std::string frame = dir.file("f.raw"), out = dir.file("out.raw");
    ASSERT_TRUE(WriteFileBytes(frame, std::vector<uint8_t>(100 * 90 * 2)));
    NyraSettings s;
    SettingsDefaults(&s);
    std::vector<uint8_t> future(kSettingsFileSize);
    EncodeSettingsFile(s, future.data());
    future[4] = 4;  // a version the plug-in does not read
    ASSERT_TRUE(WriteFileBytes(dir.file("v4.dat"), future));
    // More cases run against the program itself in cli_test.sh.
    const std::vector<std::vector<std::string>> cases = {
        {"--frame", frame, "--width", "100", "--height", "89", "--variant", "1"},
        {"--frame", frame, "--width", "100", "--height", "90", "--variant", "1", "--settings",
         dir.file("v4.dat")},
        {"--frame", frame, "--width", "100", "--height", "90", "--variant", "1", "--blob", frame,
         "--settings", frame},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.end(), {"--out", out});
        ToolRun run = Tool(args);
        EXPECT_EQ(run.status, 2) << args[5];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(FileExists(out));
    }
}

TEST(PipelineTool, SamePixelsInEveryBuild)
{
    TempDir dir;
    const std::string frame = dir.file("f.raw"), settings = dir.file("settings.dat");
    ASSERT_TRUE(WriteFileBytes(frame, FrameBytes(1300, 1706)));
    NyraSettings s;
    SettingsDefaults(&s);
    s.hideExposureIndicator = 1;
    std::vector<uint8_t> bytes(kSettingsFileSize);
    EncodeSettingsFile(s, bytes.data());
    ASSERT_TRUE(WriteFileBytes(settings, bytes));

    ToolRun run = Tool({"--frame", frame, "--width", "1300", "--height", "1706", "--variant", "1",
                        "--settings", settings, "--out", dir.file("out.raw"), "--dib", dir.file("out.dib")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1300x1706\n");
    EXPECT_EQ(run.err, "");
    std::vector<uint8_t> out = ReadFileBytes(dir.file("out.raw"));
    ASSERT_EQ(out.size(), 1300u * 1706 * 2);
    printf("[ golden ] pipeline: %016llx\n", (unsigned long long)Fnv1a(out));
    EXPECT_EQ(Fnv1a(out), 0x61fb00f6cd6c778eull);
    // The DIB holds the same rows bottom-up: its last row is the image's top row.
    std::vector<uint8_t> dib = ReadFileBytes(dir.file("out.dib"));
    ASSERT_EQ(dib.size(), 40u + 2600 * 1706);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2600, dib.end() - 2600));
}

TEST(PipelineTool, BlobSettingsAndCorrectionFile)
{
    // Fully corrected, no filters, corners or indicator, from a host blob: a flat frame of 1000
    // and a correction file of gains 2.0 give 2000 away from the cleared rows and the mark; a
    // file made for another frame size is passed over.
    TempDir dir;
    const std::string frame = dir.file("f.raw"), blob = dir.file("blob.bin"), out = dir.file("out.raw");
    std::vector<uint8_t> raw(100 * 90 * 2);
    for (size_t i = 0; i < raw.size(); i += 2)
        raw[i] = 1000 & 0xFF, raw[i + 1] = 1000 >> 8;
    ASSERT_TRUE(WriteFileBytes(frame, raw));
    HostConfigBlob b{};
    b.version = kHostBlobVersion;
    memcpy(b.magic, "NYRS", 4);
    SettingsDefaults(&b.settings);
    b.settings.imageReturnType = 0;
    b.settings.applyImageFiltering = 0;
    b.settings.hideExposureIndicator = 1;
    b.settings.makeCornersBlack = 0;  // its triangles would cover this small frame
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&b);
    ASSERT_TRUE(WriteFileBytes(blob, std::vector<uint8_t>(bytes, bytes + sizeof b)));
    const std::vector<uint16_t> gains(100 * 90, 2000);
    ASSERT_TRUE(WriteCorrectionFile(dir.file("SN1.CAL").c_str(), "1", 1, 100, 90, 5, gains.data()));
    ASSERT_TRUE(WriteCorrectionFile(dir.file("SN2.CAL").c_str(), "2", 1, 100, 89, 5, gains.data()));

    for (const char* cal : {"SN1.CAL", "SN2.CAL"}) {
        ToolRun run = Tool({"--frame", frame, "--width", "100", "--height", "90", "--variant", "1", "--blob",
                            blob, "--cal", dir.file(cal), "--out", out});
        ASSERT_EQ(run.status, 0) << run.err;
        const bool matches = cal[2] == '1';
        EXPECT_EQ(run.err.find("--cal not applied") == std::string::npos, matches) << run.err;
        std::vector<uint8_t> image = ReadFileBytes(out);
        ASSERT_EQ(image.size(), raw.size());
        const size_t centre = 2 * (45 * 100 + 50);
        EXPECT_EQ(image[centre] | image[centre + 1] << 8, matches ? 2000 : 1000) << cal;
    }
}
