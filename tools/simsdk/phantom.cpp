// Synthetic intra-oral phantom (see phantom.h). Pure arithmetic on normalised coordinates so
// every frame size gets the same picture; noise from an integer hash, so frames are repeatable.
#include "phantom.h"

#include <cmath>

namespace {

uint32_t Hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

// Attenuation of one tooth centred at cx (normalised units), 0 outside it.
double Tooth(double u, double v, double cx)
{
    const double crownTop = 0.16, crownBottom = 0.45, rootEnd = 0.92;
    double halfWidth;
    if (v < crownTop || v > rootEnd)
        return 0.0;
    if (v < crownBottom) {
        double t = (v - crownTop) / (crownBottom - crownTop);
        halfWidth = 0.075 + 0.02 * std::sin(t * 3.14159265358979);  // bulging crown
    } else {
        double t = (v - crownBottom) / (rootEnd - crownBottom);
        halfWidth = 0.075 * (1.0 - 0.8 * t);  // tapering root
    }
    double d = std::fabs(u - cx) / halfWidth;
    if (d >= 1.0)
        return 0.0;
    double edge = std::sqrt(1.0 - d * d);  // thicker in the middle
    double value = 16000.0 * edge;
    if (v < crownTop + 0.09)
        value += 14000.0 * edge;  // enamel cap
    double pulpHalf = v < crownBottom ? 0.018 : 0.018 * (1.0 - (v - crownBottom) / (rootEnd - crownBottom));
    if (v > crownTop + 0.12 && std::fabs(u - cx) < pulpHalf)
        value *= 0.55;  // pulp canal
    return value;
}

}  // namespace

void RenderPhantom(uint16_t* pixels, int width, int height, uint32_t seed)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const int margin = width / 100 > 4 ? width / 100 : 4;
    const double teeth[3] = {0.26, 0.74, 0.95};
    for (int y = 0; y < height; ++y) {
        double v = (y + 0.5) / height;
        for (int x = 0; x < width; ++x) {
            uint16_t* out = pixels + (size_t)y * width + x;
            if (x < margin || y < margin || x >= width - margin || y >= height - margin) {
                *out = (uint16_t)(62000 + Hash(seed ^ (uint32_t)(y * 7919 + x)) % 1500);
                continue;
            }
            double u = (x + 0.5) / width;
            double value = 900.0;                   // open air at the biting edge
            if (v > 0.12)
                value = 2000.0 + 300.0 * std::sin(u * 9.0 + v * 4.0);  // soft tissue
            if (v > 0.55) {                         // alveolar bone with trabecular texture
                double texture = std::sin(u * 180.0) * std::sin(v * 150.0 + u * 40.0);
                value += 4500.0 + 1200.0 * texture;
            }
            for (double cx : teeth)
                value += Tooth(u, v, cx);
            uint32_t h = Hash(seed * 2654435761u ^ (uint32_t)(y * 65537 + x));
            double noise = ((double)(h & 0xFFFF) / 65535.0 - 0.5) * 0.06;  // +-3 %
            value *= 1.0 + noise;
            *out = (uint16_t)(value < 0 ? 0 : value > 60000 ? 60000 : value);
        }
    }
}
