// nyra-pipeline's program logic. Every input is read and checked before anything is written,
// so bad input ends with one line on standard error, exit status 2 and no output file.
// Settings are accepted and repaired as the plug-in accepts and repairs them: a settings.dat
// the plug-in would read (magic "NYRP", version 1 to 3, full length) or a host blob carrying
// settings ("NYRS", 2052 bytes), then ValidateSettings. The processing is the plug-in's own
// (ProcessCapturedFrame), so for the same inputs the pixels are the ones the host receives.
#include "pipeline_tool.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/post_read.h"
#include "imaging/image16.h"
#include "png_preview.h"
#include "settings/host_blob.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"

namespace {

const char kUsage[] =
    "usage: nyra-pipeline --frame FILE --width W --height H --variant V [--settings FILE | --blob FILE] "
    "[--cal FILE]\n"
    "                     [--out FILE] [--dib FILE] [--png FILE] [--repeat N]\n"
    "  --frame     raw little-endian uint16 frame, W x H, row 0 first, as the sensor read returns it\n"
    "  --variant   the sensor's size variant (0 to 4)\n"
    "  --settings  a settings.dat;  --blob  a 2052-byte host blob;  neither: the defaults\n"
    "  --cal       a correction file, applied when the image return type is 0 and it matches\n"
    "  --out       the delivered image as raw little-endian uint16, top row first (prints WxH)\n"
    "  --dib       the DIB block the host receives;  --png  an 8-bit preview\n"
    "  --repeat    process N times and print pipeline_ms=<median ms> (processing only)\n";

constexpr int32_t kMaxSide = 16384;

struct Options {
    std::string frame, settings, blob, cal, out, dib, png;
    int32_t width = 0, height = 0, variant = -1, repeat = 0;
};

struct BadInput {
    std::string message;
};

bool ParseInt(const std::string& text, int32_t low, int32_t high, int32_t* value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long v = strtol(text.c_str(), nullptr, 10);
    if (v < low || v > high)
        return false;
    *value = (int32_t)v;
    return true;
}

// Parses argv into *options; returns "" or the reason it cannot.
std::string Parse(int argc, const char* const* argv, Options* o, bool* help)
{
    struct Text {
        const char* name;
        std::string* value;
    } const texts[] = {{"--frame", &o->frame}, {"--settings", &o->settings}, {"--blob", &o->blob},
                       {"--cal", &o->cal},     {"--out", &o->out},           {"--dib", &o->dib},
                       {"--png", &o->png}};
    struct Number {
        const char* name;
        int32_t* value;
        int32_t low, high;
    } const numbers[] = {{"--width", &o->width, 1, kMaxSide},
                         {"--height", &o->height, 1, kMaxSide},
                         {"--variant", &o->variant, 0, 4},
                         {"--repeat", &o->repeat, 1, 100000}};
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            *help = true;
            return "";
        }
        bool known = false;
        for (const Text& t : texts) {
            if (arg != t.name)
                continue;
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return arg + " needs a file name";
            *t.value = argv[++i];
            known = true;
        }
        for (const Number& n : numbers) {
            if (arg != n.name)
                continue;
            if (i + 1 >= argc || !ParseInt(argv[i + 1], n.low, n.high, n.value))
                return arg + " needs a whole number from " + std::to_string(n.low) + " to "
                       + std::to_string(n.high);
            i++;
            known = true;
        }
        if (!known)
            return "unknown option '" + arg + "' (see --help)";
    }
    if (o->frame.empty() || o->width == 0 || o->height == 0 || o->variant < 0)
        return "--frame, --width, --height and --variant are required (see --help)";
    if (!o->settings.empty() && !o->blob.empty())
        return "give --settings or --blob, not both";
    return "";
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

std::vector<uint8_t> ReadInput(const std::string& path, const char* what)
{
    std::vector<uint8_t> bytes;
    if (!ReadWhole(path, &bytes))
        throw BadInput{std::string("cannot read the ") + what + " '" + path + "'"};
    return bytes;
}

NyraSettings LoadSettings(const Options& o)
{
    NyraSettings s;
    memset(&s, 0, sizeof s);
    if (!o.settings.empty()) {
        std::vector<uint8_t> bytes = ReadInput(o.settings, "settings file");
        if (!DecodeSettingsFile(bytes.data(), bytes.size(), &s, nullptr))
            throw BadInput{"'" + o.settings + "' is not a settings file the plug-in reads"};
    } else if (!o.blob.empty()) {
        std::vector<uint8_t> bytes = ReadInput(o.blob, "host blob");
        HostConfigBlob blob;
        if (bytes.size() != sizeof blob)
            throw BadInput{"'" + o.blob + "' is not a " + std::to_string(sizeof blob) + "-byte host blob"};
        memcpy(&blob, bytes.data(), sizeof blob);
        if (!BlobHasSettings(blob))
            throw BadInput{"'" + o.blob + "' carries no settings (magic is not NYRS)"};
        s = blob.settings;
    } else {
        SettingsDefaults(&s);
    }
    ValidateSettings(&s);
    return s;
}

bool WriteWhole(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

// One run on a fresh malloc'd copy (the chain may replace the block).
Image16 ProcessCopy(const std::vector<uint16_t>& frame, const Options& o, const PostReadInput& input,
                    PostReadResult* result)
{
    Image16 image{o.width, o.height, static_cast<uint16_t*>(malloc(frame.size() * sizeof(uint16_t)))};
    if (!image.pixels)
        return Image16{0, 0, nullptr};
    memcpy(image.pixels, frame.data(), frame.size() * sizeof(uint16_t));
    ProcessCapturedFrame(&image, input, result);
    return image;
}

bool WriteOutputs(const Options& o, const Image16& image, FILE* err)
{
    const size_t count = (size_t)image.width * (size_t)image.height;
    auto fail = [&](const std::string& path) {
        fprintf(err, "nyra-pipeline: cannot write '%s'\n", path.c_str());
        return false;
    };
    if (!o.out.empty()) {
        std::vector<uint8_t> raw(count * 2);
        for (size_t i = 0; i < count; i++) {
            raw[2 * i] = (uint8_t)image.pixels[i];
            raw[2 * i + 1] = (uint8_t)(image.pixels[i] >> 8);
        }
        if (!WriteWhole(o.out, raw.data(), raw.size()))
            return fail(o.out);
    }
    if (!o.dib.empty()) {
        std::vector<uint8_t> dib(DibBlockSize(image.width, image.height), 0);
        WriteDib16(dib.data(), image.width, image.height, image.pixels);
        if (!WriteWhole(o.dib, dib.data(), dib.size()))
            return fail(o.dib);
    }
    if (!o.png.empty() && !WritePngPreview(o.png.c_str(), image.pixels, image.width, image.height))
        return fail(o.png);
    return true;
}

int Run(const Options& o, FILE* out, FILE* err)
{
    const NyraSettings settings = LoadSettings(o);
    std::vector<uint8_t> bytes = ReadInput(o.frame, "frame");
    const size_t count = (size_t)o.width * (size_t)o.height;
    if (bytes.size() != count * 2)
        throw BadInput{"'" + o.frame + "' holds " + std::to_string(bytes.size()) + " bytes, a "
                       + std::to_string(o.width) + " x " + std::to_string(o.height) + " frame "
                       + std::to_string(count * 2)};
    if (!o.cal.empty())
        ReadInput(o.cal, "correction file");  // must exist; whether it matches is the DLL's rule
    std::vector<uint16_t> frame(count);
    for (size_t i = 0; i < count; i++)
        frame[i] = (uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);

#ifndef _WIN32
    if (!settings.hideExposureIndicator)
        fprintf(err,
                "nyra-pipeline: the exposure indicator is left out (this build has no GDI to draw it)\n");
#endif
    // Without --cal there is no file to apply: the frame stays dark-corrected, as in the
    // plug-in when the sensor's correction file is missing.
    PostReadInput input{&settings, o.variant, "", o.cal.c_str()};
    std::vector<double> times;
    Image16 image{0, 0, nullptr};
    PostReadResult result{};
    for (int32_t run = 0; run < std::max(o.repeat, 1); run++) {
        free(image.pixels);
        auto t0 = std::chrono::steady_clock::now();
        image = ProcessCopy(frame, o, input, &result);
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (!image.pixels) {
            fprintf(err, "nyra-pipeline: out of memory\n");
            return 1;
        }
    }
    if (!o.cal.empty() && !result.corrected)
        fprintf(err, "nyra-pipeline: --cal not applied: %s\n",
                settings.imageReturnType != 0
                    ? "the image return type is not 0 (fully corrected)"
                    : "it was made for another frame size, or is not a correction file");
    bool written = WriteOutputs(o, image, err);
    if (written) {
        fprintf(out, "%dx%d\n", (int)image.width, (int)image.height);
        if (o.repeat > 0) {
            std::sort(times.begin(), times.end());
            fprintf(out, "pipeline_ms=%.2f\n", times[times.size() / 2]);
        }
    }
    free(image.pixels);
    return written ? 0 : 1;
}

}  // namespace

int RunPipelineTool(int argc, const char* const* argv, FILE* out, FILE* err)
{
    Options options;
    bool help = false;
    std::string problem = Parse(argc, argv, &options, &help);
    if (help) {
        fputs(kUsage, out);
        return 0;
    }
    if (!problem.empty()) {
        fprintf(err, "nyra-pipeline: %s\n", problem.c_str());
        return 2;
    }
    try {
        return Run(options, out, err);
    } catch (const BadInput& bad) {
        fprintf(err, "nyra-pipeline: %s\n", bad.message.c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        fprintf(err, "nyra-pipeline: out of memory\n");
        return 1;
    }
}
