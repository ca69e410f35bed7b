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

double Smooth(double edge0, double edge1, double x)
{
    double t = (x - edge0) / (edge1 - edge0);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return t * t * (3 - 2 * t);
}

// Attenuation of one tooth centred at cx (normalised units), 0 outside it: a rounded crown
// with an enamel cap, a neck, a tapering root with a rounded apex, and a pulp canal.
double Tooth(double u, double v, double cx)
{
    const double crownTop = 0.15, neck = 0.46, apex = 0.93;
    const double dx = u - cx;
    double halfWidth;
    if (v < neck) {
        double t = (v - crownTop) / (neck - crownTop);
        halfWidth = 0.105 + 0.025 * std::sin(t * 3.14159265358979) - 0.02 * t;  // bulging crown
    } else {
        double t = (v - neck) / (apex - neck);
        halfWidth = 0.085 * (1.0 - 0.55 * t) * std::sqrt(1.0 - t * t > 0 ? 1.0 - t * t : 0.0);  // root
    }
    double top = crownTop + 0.05 * (dx / 0.12) * (dx / 0.12);  // rounded occlusal surface
    if (v < top || v > apex || halfWidth <= 0)
        return 0.0;
    double d = std::fabs(dx) / halfWidth;
    if (d >= 1.0)
        return 0.0;
    double thickness = std::sqrt(1.0 - d * d);
    double value = 15000.0 * thickness;
    double enamelDepth = v - top;
    if (v < neck)
        value += 15000.0 * thickness * (1.0 - Smooth(0.07, 0.11, enamelDepth));  // enamel cap
    double pulpHalf = v < neck ? 0.03 * Smooth(0.12, 0.2, enamelDepth) : 0.03 * (1.0 - (v - neck) / (apex - neck));
    if (pulpHalf > 0)
        value *= 1.0 - 0.45 * (1.0 - Smooth(0.6 * pulpHalf, pulpHalf, std::fabs(dx)));  // pulp canal
    return value;
}

}  // namespace

void RenderPhantom(uint16_t* pixels, int width, int height, uint32_t seed)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const int margin = width / 100 > 4 ? width / 100 : 4;
    const double teeth[4] = {-0.02, 0.3, 0.7, 1.02};
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
            value += 1100.0 * Smooth(0.09, 0.13, v) * (1.0 + 0.15 * std::sin(u * 9.0 + v * 4.0));  // soft tissue
            double crest = 0.55 - 0.04 * std::cos((u - 0.5) * 6.2831853 * 2.0);  // septum rises between teeth
            double bone = Smooth(crest, crest + 0.04, v);                        // alveolar bone
            double texture = std::sin(u * 180.0) * std::sin(v * 150.0 + u * 40.0);
            value += bone * (4500.0 + 1200.0 * texture);
            for (double cx : teeth)
                value += Tooth(u, v, cx);
            uint32_t h = Hash(seed * 2654435761u ^ (uint32_t)(y * 65537 + x));
            double noise = ((double)(h & 0xFFFF) / 65535.0 - 0.5) * 0.06;  // +-3 %
            value *= 1.0 + noise;
            *out = (uint16_t)(value < 0 ? 0 : value > 60000 ? 60000 : value);
        }
    }
}
