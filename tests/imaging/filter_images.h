// Deterministic test images: random, flat and a synthetic intra-oral frame (smooth exposure
// field, rounded bright shapes with soft edges, sensor noise and a few dead and hot pixels).
#pragma once
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "filter_reference.h"

namespace testimg {

inline ref::Image Flat(int32_t w, int32_t h, uint16_t v)
{
    ref::Image im;
    im.w = w;
    im.h = h;
    im.px.assign((size_t)w * h, v);
    return im;
}

inline ref::Image Random(int32_t w, int32_t h, uint32_t seed)
{
    ref::Image im = Flat(w, h, 0);
    std::mt19937 rng(seed);
    for (auto& v : im.px)
        v = (uint16_t)(rng() & 0xFFFF);
    return im;
}

// Sensor-polarity frame: bright background, darker where the shapes absorb.
inline ref::Image Frame(int32_t w, int32_t h, uint32_t seed)
{
    ref::Image im = Flat(w, h, 0);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 180.0);
    const double cx = w * 0.5, cy = h * 0.55;
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            double u = (x - cx) / (w * 0.5), v = (y - cy) / (h * 0.5);
            double field = 42000.0 - 6000.0 * (u * u + v * v);
            // Two rounded "crowns" and a "root" with soft edges.
            double s = 0.0;
            double d1 = std::hypot((x - w * 0.33) / (w * 0.16), (y - h * 0.45) / (h * 0.22));
            double d2 = std::hypot((x - w * 0.67) / (w * 0.15), (y - h * 0.47) / (h * 0.21));
            double d3 = std::hypot((x - w * 0.50) / (w * 0.05), (y - h * 0.75) / (h * 0.25));
            s += 22000.0 / (1.0 + std::exp((d1 - 1.0) * 18.0));
            s += 24000.0 / (1.0 + std::exp((d2 - 1.0) * 18.0));
            s += 15000.0 / (1.0 + std::exp((d3 - 1.0) * 12.0));
            double value = field - s + noise(rng);
            im.px[(size_t)y * w + x] = (uint16_t)std::lround(std::min(65535.0, std::max(0.0, value)));
        }
    }
    for (int i = 0; i < 12; i++) {
        size_t at = rng() % im.px.size();
        im.px[at] = (i % 2) ? 65535 : 0;
    }
    return im;
}

}  // namespace testimg
