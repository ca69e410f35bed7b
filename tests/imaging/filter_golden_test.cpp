// Golden checksums: the same chains over the same integer-built frame must give the same
// pixels in every build (native, and the Windows build under Wine), because the filters use
// plain IEEE double arithmetic without contraction. A change in any of these numbers means
// the delivered images changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/filter_catalogue.h"
#include "imaging/filter_chain.h"
#include "imaging/filter_convolve.h"

namespace {

// A sensor-polarity frame from integer arithmetic only (no library maths), so the input is
// the same everywhere: a bright field falling off towards the corners, two darker ellipses
// with ramped edges, and noise from a fixed linear congruential generator.
std::vector<uint16_t> IntegerFrame(int32_t w, int32_t h)
{
    std::vector<uint16_t> px((size_t)w * h);
    uint32_t state = 12345u;
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            int64_t dx = x - w / 2, dy = y - h / 2;
            int64_t v =
                42000 - (6000 * (dx * dx * 4 / ((int64_t)w * w) + 0) + 6000 * dy * dy * 4 / ((int64_t)h * h));
            int64_t ex = x - w / 3, ey = y - h / 2;
            int64_t e = ex * ex * 10000 / ((int64_t)(w / 6) * (w / 6))
                        + ey * ey * 10000 / ((int64_t)(h / 4) * (h / 4));
            if (e < 10000)
                v -= 20000;
            else if (e < 12000)
                v -= 20000 * (12000 - e) / 2000;
            int64_t fx = x - 2 * w / 3, fy = y - h / 2;
            int64_t f = fx * fx * 10000 / ((int64_t)(w / 7) * (w / 7))
                        + fy * fy * 10000 / ((int64_t)(h / 5) * (h / 5));
            if (f < 10000)
                v -= 15000 + (10000 - f);
            state = state * 1664525u + 1013904223u;
            v += (int64_t)(state >> 24) - 128;  // noise of +-128
            px[(size_t)y * w + x] = (uint16_t)(v < 0 ? 0 : (v > 65535 ? 65535 : v));
        }
    }
    return px;
}

// FNV-1a over the size and the pixels.
uint64_t Checksum(const Image16& im)
{
    uint64_t hash = 1469598103934665603ull;
    auto add = [&](uint8_t b) {
        hash ^= b;
        hash *= 1099511628211ull;
    };
    for (int32_t v : {im.width, im.height})
        for (int i = 0; i < 4; i++)
            add((uint8_t)(v >> (8 * i)));
    for (size_t i = 0; i < (size_t)im.width * im.height; i++) {
        add((uint8_t)im.pixels[i]);
        add((uint8_t)(im.pixels[i] >> 8));
    }
    return hash;
}

uint64_t RunChain(int32_t w, int32_t h, const FilterEntry* list, int32_t count)
{
    std::vector<uint16_t> frame = IntegerFrame(w, h);
    Image16 im{w, h, static_cast<uint16_t*>(malloc(frame.size() * 2))};
    memcpy(im.pixels, frame.data(), frame.size() * 2);
    ApplyFilterChain(&im, list, count);
    uint64_t sum = Checksum(im);
    free(im.pixels);
    return sum;
}

FilterEntry Entry(int32_t type, int32_t p1 = 0, int32_t p2 = 0)
{
    FilterEntry e{};
    SetFilterDefaults(&e, type);
    if (p1)
        e.param1 = p1;
    if (p2)
        e.param2 = p2;
    return e;
}

TEST(FilterGolden, DefaultChainGivesTheSamePixelsInEveryBuild)
{
    FilterEntry list[kMaxFilters];
    int32_t count = 0;
    DefaultFilterList(&count, list);
    uint64_t sum = RunChain(320, 420, list, count);
    printf("[ golden ] default chain 320x420: %016llx\n", (unsigned long long)sum);
    EXPECT_EQ(sum, 0x0af13c37fe36e57bull);
}

TEST(FilterGolden, EveryFilterTypeGivesTheSamePixelsInEveryBuild)
{
    // One list per group so that a difference points at its filters.
    const std::vector<std::vector<FilterEntry>> lists = {
        {Entry(1), Entry(2), Entry(3), Entry(4), Entry(5), Entry(6)},
        {Entry(7), Entry(8), Entry(9), Entry(10)},
        {Entry(11), Entry(12), Entry(13, 9), Entry(19, 15)},
        {Entry(20, 9), Entry(21, 7, 40), Entry(23, 7)},
        {Entry(16), Entry(14), Entry(17), Entry(15), Entry(18), Entry(16)},
    };
    const uint64_t expected[] = {0xf13d25a1f35f8e4eull, 0xe1fc728f4ad6e255ull, 0x3b2205acdd69e52bull,
                                 0x6323a4003e39bb09ull, 0xd4e527304a02afa0ull};
    for (size_t i = 0; i < lists.size(); i++) {
        uint64_t sum = RunChain(97, 83, lists[i].data(), (int32_t)lists[i].size());
        printf("[ golden ] list %zu: %016llx\n", i, (unsigned long long)sum);
        EXPECT_EQ(sum, expected[i]) << "list " << i;
    }
}

}  // namespace
