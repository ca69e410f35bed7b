// The whole post-read processing of a frame (correction skipped, as with the default return
// type), with the default settings and all cores: what a capture costs between the read and
// the DIB.
#include <cstdlib>
#include <cstring>

#include "bench.h"
#include "capture/post_read.h"
#include "imaging/filter_support.h"
#include "settings/settings.h"

double PipelineMs(const uint16_t* frame, int w, int h)
{
    NyraSettings settings;
    memset(&settings, 0, sizeof settings);
    SettingsDefaults(&settings);
    ValidateSettings(&settings);
    const PostReadInput input{&settings, w > 2000 ? 3 : 1, "", nullptr};
    const size_t bytes = (size_t)w * h * sizeof(uint16_t);
    Image16 image{0, 0, nullptr};
    auto prepare = [&] {
        free(image.pixels);
        image = Image16{w, h, static_cast<uint16_t*>(malloc(bytes))};
        memcpy(image.pixels, frame, bytes);
    };
    SetFilterThreadCount(0);
    PostReadResult result;
    double ms = MedianMs(
        prepare, [&] { ProcessCapturedFrame(&image, input, &result); }, 5);
    free(image.pixels);
    return ms;
}
