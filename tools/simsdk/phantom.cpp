// Synthetic intra-oral phantom (see phantom.h). Works in millimetres at the sensor's pitch, so
// every frame size shows the same anatomy at true scale: the narrow frames hold two whole teeth
// and parts of their neighbours, the wide one five teeth. Each pixel sums the attenuation along
// its ray (soft tissue, alveolar bone, enamel shell, dentine, pulp, periodontal gap and lamina
// dura) and turns it into counts with exp(-A), read from a table. Trabecular texture comes from a
// quarter-resolution grid of thresholded value noise; quantum noise from an integer hash, so
// frames are repeatable for a seed. Null pixels or a non-positive size leave nothing written.
// The unexposed border is one pixel wide on purpose: the display chain's level step clips 0.5 %
// of the pixels at each end, and a border above that share would become its upper clip point
// and squeeze the whole exposed field into a sliver of the display range.
#include "phantom.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

constexpr double kMmPerPixel = 0.02;
constexpr double kPi = 3.14159265358979;

// Attenuation per millimetre of path (arbitrary units tuned for the plug-in's default display
// chain) and the tissue depths the rays cross.
constexpr double kEnamelMu = 0.20;
constexpr double kDentineMu = 0.10;
constexpr double kBoneMu = 0.045;
constexpr double kBoneDepth = 10.0;     // mm of alveolar process along the ray
constexpr double kSoftTissue = 0.55;    // cheek and gingiva everywhere in the field
constexpr double kFullDose = 6100.0;    // counts behind no tissue at all
constexpr double kFullDoseRoot = 78.1;  // its square root
constexpr double kDarkOffset = 60.0;    // counts without any dose
constexpr int kExpSteps = 1024;         // table steps per unit of attenuation
constexpr double kMaxAttenuation = 8.0;

enum class Crown { Pointed, Premolar, Molar };

struct ToothShape {
    double centre;     // mm right of the frame's middle
    double halfWidth;  // crown half-width at its widest, mm
    double cuspTop;    // row of the highest cusp tip, mm from the top
    double neck;       // cemento-enamel junction, mm
    double apex;       // root tip, mm
    double depth;      // bucco-lingual thickness of the crown, mm
    Crown crown;
    int roots;  // 1 or 2 visible roots
};

// A canine, two premolars and three molars from left to right; the tooth at 2.6 mm sits
// under the classification block of every frame size.
const ToothShape kTeeth[] = {
    {-22.0, 3.7, 3.0, 11.5, 28.0, 8.0, Crown::Pointed, 1},
    {-14.0, 3.5, 3.4, 11.2, 25.5, 8.8, Crown::Premolar, 1},
    {-6.6, 3.5, 3.3, 11.0, 25.0, 8.8, Crown::Premolar, 1},
    {2.6, 5.2, 3.6, 10.6, 23.8, 10.0, Crown::Molar, 2},
    {13.3, 5.0, 3.9, 10.7, 23.0, 9.8, Crown::Molar, 2},
    {23.5, 4.7, 4.3, 10.9, 22.0, 9.4, Crown::Molar, 2},
};
constexpr int kToothCount = (int)(sizeof kTeeth / sizeof kTeeth[0]);

uint32_t Hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

double Unit(uint32_t h)
{
    return (double)(h & 0xFFFFFF) * (1.0 / 16777215.0);
}

// Smooth step of t clamped to 0..1.
double Ramp(double t)
{
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return t * t * (3 - 2 * t);
}

double Smooth(double edge0, double edge1, double x)
{
    return Ramp((x - edge0) / (edge1 - edge0));
}

// Length of the chord through an ellipse of the given depth at normalised radius squared r2.
double Chord(double depth, double r2)
{
    return r2 < 1.0 ? depth * std::sqrt(1.0 - r2) : 0.0;
}

// Smoothly interpolated lattice noise in 0..1 (cell units).
double ValueNoise(double x, double y, uint32_t salt)
{
    double fx = std::floor(x), fy = std::floor(y);
    int32_t ix = (int32_t)fx, iy = (int32_t)fy;
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    uint32_t row0 = Hash((uint32_t)iy + salt), row1 = Hash((uint32_t)iy + 1u + salt);
    uint32_t col0 = (uint32_t)ix * 0x9E3779B1u, col1 = (uint32_t)(ix + 1) * 0x9E3779B1u;
    double a = Unit(Hash(col0 ^ row0)), b = Unit(Hash(col1 ^ row0));
    double c = Unit(Hash(col0 ^ row1)), d = Unit(Hash(col1 ^ row1));
    double top = a + (b - a) * tx;
    double bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

// Trabecular pattern around 0: rounded marrow spaces (negative) in a mesh of struts, from three
// octaves on turned axes so the lattice leaves no horizontal or vertical grain.
double Trabecular(double xMm, double yMm)
{
    double a = ValueNoise(xMm * 2.6 + yMm * 1.5, yMm * 2.6 - xMm * 1.5, 0x51u);
    double b = ValueNoise(xMm * 2.9 - yMm * 4.1, yMm * 2.9 + xMm * 4.1 + 7.0, 0xA7u);
    double c = ValueNoise(xMm * 6.3 + yMm * 2.2, yMm * 6.3 - xMm * 2.2, 0x3Cu);
    double n = 0.45 * a + 0.35 * b + 0.2 * c;
    return 1.0 - 2.0 * Smooth(0.3, 0.72, n);
}

// Occlusal outline of a crown: mm below the cusp tips at normalised position u (-1..1).
double OcclusalDrop(Crown crown, double u)
{
    switch (crown) {
    case Crown::Pointed: return 2.6 * std::pow(std::fabs(u), 1.4);
    case Crown::Premolar: return 0.7 * 0.5 * (1.0 + std::cos(2.0 * kPi * u)) + 0.8 * u * u;
    case Crown::Molar: return 1.0 * 0.5 * (1.0 + std::cos(2.0 * kPi * u)) + 0.5 * u * u;
    }
    return 0.0;
}

// Crown half-width at row y: widest a third of the way down, narrowing towards the neck.
double CrownHalfWidth(const ToothShape& t, double y)
{
    double widest = t.cuspTop + 0.35 * (t.neck - t.cuspTop);
    if (y < widest) {
        double s = (widest - y) / (widest - t.cuspTop);
        return t.halfWidth * (1.0 - 0.08 * s * s);
    }
    double s = (y - widest) / (t.neck - widest);
    return t.halfWidth * (1.0 - 0.30 * s * s);
}

struct RootSpan {
    double centre;     // mm, relative to the tooth
    double halfWidth;  // mm
    double depth;      // mm
    double canal;      // canal half-width, mm
    double invHalf, invCanal;
};

// The roots crossing row y (below the neck): one trunk, then one or two tapering roots.
// Around a molar's furcation both the trunk and the pair are returned (count 3) with the
// pair's weight, so the split fades in instead of starting at a hard row.
int RootsAt(const ToothShape& t, double y, RootSpan out[3], double* pairWeight)
{
    const double neckHalf = t.halfWidth * 0.70;
    double t01 = (y - t.neck) / (t.apex - t.neck);
    if (t01 < 0.0 || t01 >= 1.0)
        return 0;
    double round = std::sqrt(1.0 - std::pow(t01, 6.0));  // rounded apex
    // At the neck a root continues the crown's outline, depth and pulp without a step.
    if (t.roots == 1) {
        double half = neckHalf * (1.0 - 0.62 * t01) * round;
        out[0] = {0.04 * t.halfWidth * t01 * t01,  half, t.depth * (1.0 - 0.35 * t01) * round,
                  0.22 * half * (1.0 - 0.5 * t01), 0.0,  0.0};
        return 1;
    }
    const double furcation = 0.28, fade = 0.07;
    if (t01 < furcation + fade) {
        double f = t01 / furcation;
        double half = neckHalf * (1.0 - 0.12 * f);
        out[2] = {0.0, half, t.depth * (1.0 - 0.15 * f), 0.22 * half, 0.0, 0.0};
        *pairWeight = Smooth(furcation - fade, furcation + fade, t01);
        if (t01 < furcation - fade) {
            out[0] = out[2];
            return 1;
        }
    }
    double s = t01 > furcation ? (t01 - furcation) / (1.0 - furcation) : 0.0;
    double half = neckHalf * 0.50 * (1.0 - 0.5 * s) * round;
    double apart = neckHalf * (0.44 + 0.25 * s) + 0.5 * s * s;
    double curve = 0.35 * s * s;  // both roots bend distally
    double depth = t.depth * 0.85 * (1.0 - 0.4 * s) * round;
    out[0] = {-apart + curve, half, depth, 0.20 * half, 0.0, 0.0};
    out[1] = {apart + curve, half, depth, 0.20 * half, 0.0, 0.0};
    return t01 < furcation + fade ? 3 : 2;
}

// Attenuation of one root relative to the bone it displaces, plus its periodontal gap (dark)
// and lamina dura (bright) where bone surrounds it.
double RootAttenuation(const RootSpan& r, double dx, double bone)
{
    double d = std::fabs(dx - r.centre);
    double edge = d - r.halfWidth;
    if (edge >= 0.0) {
        if (edge < 0.07)
            return -0.035 * bone;
        if (edge < 0.24)
            return 0.09 * bone * Smooth(0.07, 0.11, edge) * (1.0 - Smooth(0.18, 0.24, edge));
        return 0.0;
    }
    double nx = d * r.invHalf;
    double cx = d * r.invCanal;
    double outer = Chord(r.depth, nx * nx);
    double canal = Chord(r.depth * 0.35, cx * cx);
    return kDentineMu * (outer - canal) - kBoneMu * bone * outer;
}

// What a crown's cross-section looks like at one row, worked out once per row.
struct CrownRow {
    double y, depth;
    double invHalf;       // 1 / outer half-width
    double enamel;        // shell thickness on the sides, mm
    double invInnerHalf;  // 1 / dentine core half-width, 0 where there is none
    double invPulpHalf;   // 1 / pulp chamber half-width
};

CrownRow MakeCrownRow(const ToothShape& t, double y)
{
    CrownRow r;
    double half = CrownHalfWidth(t, y);
    double down = (y - t.cuspTop) / (t.neck - t.cuspTop);
    r.y = y;
    r.depth = t.depth;
    r.invHalf = 1.0 / half;
    r.enamel = 1.3 * (1.0 - Smooth(0.55, 1.0, down));
    double innerHalf = half - r.enamel;
    r.invInnerHalf = innerHalf > 0.2 ? 1.0 / innerHalf : 0.0;
    r.invPulpHalf = 1.0 / (half * (0.28 - 0.06 * Smooth(0.6, 1.0, down)));  // narrows into the canal
    return r;
}

// Attenuation of a crown at dx on its row: enamel shell over dentine around the pulp chamber.
// top: the occlusal outline's row at dx; roofDrop: how far below it the pulp roof lies.
double CrownAttenuation(const CrownRow& r, double dx, double top, double roofDrop)
{
    const double round = 1.6, invRound = 1.0 / round;  // how far the outline rounds off in depth
    double over = top + round - r.y;
    over = over > 0.0 ? over * invRound : 0.0;
    double nx = dx * r.invHalf;
    double outer = Chord(r.depth, nx * nx + over * over);
    if (outer <= 0.0)
        return 0.0;

    double inner = 0.0;
    if (r.invInnerHalf > 0.0) {
        double innerTop = top + 1.7 * (1.0 - 0.4 * Ramp((std::fabs(nx) - 0.6) * 2.5));
        double o = innerTop + round - r.y;
        o = o > 0.0 ? o * invRound : 0.0;
        double ix = dx * r.invInnerHalf;
        inner = Chord(r.depth - 2.0 * r.enamel, ix * ix + o * o);
    }
    double pulp = 0.0;
    double roof = top + roofDrop;
    if (r.y > roof) {
        double o = roof + 1.2 - r.y;
        o = o > 0.0 ? o / 1.2 : 0.0;
        double px = dx * r.invPulpHalf;
        pulp = Chord(r.depth * 0.35, px * px + o * o);
    }
    return kEnamelMu * (outer - inner) + kDentineMu * (inner - pulp);
}

// The unexposed border reads near full scale.
uint16_t Border(uint32_t seed, int y, int x)
{
    return (uint16_t)(62000 + Hash(seed ^ ((uint32_t)y * 7919u + (uint32_t)x)) % 1500);
}

}  // namespace

void RenderPhantom(uint16_t* pixels, int width, int height, uint32_t seed)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const double middle = width * kMmPerPixel * 0.5;

    std::vector<float> expTable((size_t)(kMaxAttenuation * kExpSteps) + 2);
    for (size_t i = 0; i < expTable.size(); ++i)
        expTable[i] = (float)std::exp(-(double)i / kExpSteps);

    // Alveolar crest per column: a septum peaks between neighbouring teeth, and only there does
    // the crest show a sharp cortical rim (septum weight 1); over a tooth the bone fades in.
    std::vector<float> crest((size_t)width), septum((size_t)width);
    for (int x = 0; x < width; ++x) {
        double xMm = (x + 0.5) * kMmPerPixel - middle;
        double level = 12.6 + 0.35 * std::sin(xMm * 0.23 + 0.7);
        double weight = 0.0;
        for (int i = 0; i + 1 < kToothCount; ++i) {
            double gap =
                0.5
                * (kTeeth[i].centre + kTeeth[i].halfWidth + kTeeth[i + 1].centre - kTeeth[i + 1].halfWidth);
            double d = (xMm - gap) / 1.6;
            weight += std::exp(-d * d);
        }
        weight = weight > 1.0 ? 1.0 : weight;
        crest[(size_t)x] = (float)(level - 0.9 * weight);
        septum[(size_t)x] = (float)weight;
    }

    // Trabecular texture on a grid of 4 x 4 pixel cells, interpolated per pixel.
    const int cell = 4;
    const int gridW = width / cell + 2, gridH = height / cell + 2;
    double highestCrest = 1e9;
    for (float c : crest)
        highestCrest = c < highestCrest ? c : highestCrest;
    const int firstBoneCell = (int)(highestCrest / kMmPerPixel) / cell - 1;
    std::vector<float> texture((size_t)gridW * gridH);
    for (int gy = firstBoneCell > 0 ? firstBoneCell : 0; gy < gridH; ++gy)
        for (int gx = 0; gx < gridW; ++gx)
            texture[(size_t)gy * gridW + gx] =
                (float)Trabecular(gx * cell * kMmPerPixel, gy * cell * kMmPerPixel);

    // Quantum mottle for this frame on the same grid: the scintillator spreads each photon's
    // light over a few pixels, so part of the noise is coarser than a pixel.
    std::vector<float> mottle((size_t)gridW * gridH);
    for (size_t i = 0; i < mottle.size(); ++i) {
        uint32_t h = Hash(seed * 40503u ^ (uint32_t)i * 0x27d4eb2du ^ 0x5bd1e995u);
        mottle[i] = (float)(Unit(h) + Unit(h >> 8 ^ h << 16) - 1.0);
    }

    // Per tooth and column: the occlusal outline and the pulp roof below it, whose horns rise
    // under the cusps; cached because they need powers and cosines.
    std::vector<float> drop((size_t)kToothCount * width), roofDrop((size_t)kToothCount * width);
    for (int i = 0; i < kToothCount; ++i)
        for (int x = 0; x < width; ++x) {
            double u = ((x + 0.5) * kMmPerPixel - middle - kTeeth[i].centre) / kTeeth[i].halfWidth;
            u = u < -1 ? -1 : u > 1 ? 1 : u;
            drop[(size_t)i * width + x] = (float)OcclusalDrop(kTeeth[i].crown, u);
            roofDrop[(size_t)i * width + x] = (float)(3.5 + 0.35 * (1.0 + std::cos(kPi * u / 0.22)));
        }
    // Where the air between the arches gives way to cheek, per column.
    std::vector<float> airLine((size_t)width);
    for (int x = 0; x < width; ++x)
        airLine[(size_t)x] = (float)(2.0 + 0.5 * std::sin((x + 0.5) * kMmPerPixel * 0.31 + 1.0));

    std::vector<double> row((size_t)width);
    std::vector<double> bone((size_t)width);
    std::vector<float> textureRow((size_t)gridW), mottleRow((size_t)gridW);  // this row's grid line
    for (int y = 0; y < height; ++y) {
        uint16_t* out = pixels + (size_t)y * width;
        if (y == 0 || y == height - 1) {
            for (int x = 0; x < width; ++x)
                out[x] = Border(seed, y, x);
            continue;
        }
        const double yMm = (y + 0.5) * kMmPerPixel;
        const int gy = y / cell;
        const float fy = (float)(y % cell) / cell;
        for (int gx = 0; gx < gridW; ++gx) {
            size_t at = (size_t)gy * gridW + gx;
            textureRow[(size_t)gx] = texture[at] + (texture[at + gridW] - texture[at]) * fy;
            mottleRow[(size_t)gx] = mottle[at] + (mottle[at + gridW] - mottle[at]) * fy;
        }
        const float* tr = textureRow.data();
        const float* mr = mottleRow.data();

        for (int x = 0; x < width; ++x) {
            // Cheek and gingiva, thinning towards the biting edge where air lies between the arches.
            double line = airLine[(size_t)x];
            double soft = yMm < line + 1.6 ? kSoftTissue * (0.35 + 0.65 * Smooth(line - 0.8, line + 1.6, yMm))
                                           : kSoftTissue;
            double rise = crest[(size_t)x] + 2.0 - 1.4 * septum[(size_t)x];
            double b = yMm <= crest[(size_t)x] ? 0.0
                       : yMm >= rise           ? 1.0
                                               : Smooth(crest[(size_t)x], rise, yMm);
            double a = soft;
            if (b > 0.0) {
                int gx = x / cell;
                double trab = tr[gx] + (tr[gx + 1] - tr[gx]) * ((x % cell) * (1.0 / cell));
                double deeper = 1.0 + 0.12 * Smooth(14.0, 30.0, yMm);
                a += b * kBoneMu * kBoneDepth * deeper * (1.0 + 0.10 * trab);
                double c = (yMm - crest[(size_t)x]) / 0.4;  // cortical rim of the crest
                c = 1.0 - c * c;
                a += c > 0.0 ? 0.08 * septum[(size_t)x] * c * c : 0.0;
            }
            row[(size_t)x] = a;
            bone[(size_t)x] = b;
        }

        for (int i = 0; i < kToothCount; ++i) {
            const ToothShape& t = kTeeth[i];
            if (yMm < t.cuspTop || yMm >= t.apex)
                continue;
            double centre = middle + t.centre;
            int x0 = (int)std::floor((centre - t.halfWidth - 0.5) / kMmPerPixel);
            int x1 = (int)std::ceil((centre + t.halfWidth + 0.9) / kMmPerPixel);
            x0 = x0 < 0 ? 0 : x0;
            x1 = x1 > width ? width : x1;
            RootSpan roots[3];
            double pairWeight = 1.0;
            int rootCount = yMm >= t.neck ? RootsAt(t, yMm, roots, &pairWeight) : 0;
            for (int k = 0; k < rootCount; ++k) {
                roots[k].invHalf = roots[k].halfWidth > 0.0 ? 1.0 / roots[k].halfWidth : 0.0;
                roots[k].invCanal = roots[k].canal > 0.0 ? 1.0 / roots[k].canal : 1e9;
            }
            CrownRow crownRow = yMm < t.neck ? MakeCrownRow(t, yMm) : CrownRow{};
            for (int x = x0; x < x1; ++x) {
                double dx = (x + 0.5) * kMmPerPixel - centre;
                if (yMm < t.neck) {
                    size_t at = (size_t)i * width + x;
                    row[(size_t)x] += CrownAttenuation(crownRow, dx, t.cuspTop + drop[at], roofDrop[at]);
                } else if (rootCount == 1) {
                    row[(size_t)x] += RootAttenuation(roots[0], dx, bone[(size_t)x]);
                } else if (rootCount >= 2) {
                    double a = RootAttenuation(roots[0], dx, bone[(size_t)x]);
                    double b = RootAttenuation(roots[1], dx, bone[(size_t)x]);
                    double pair = std::fabs(a) > std::fabs(b) ? a : b;
                    if (rootCount == 3)
                        pair = pair * pairWeight
                               + RootAttenuation(roots[2], dx, bone[(size_t)x]) * (1.0 - pairWeight);
                    row[(size_t)x] += pair;
                }
            }
        }

        for (int x = 0; x < width; ++x) {
            if (x == 0 || x == width - 1) {
                out[x] = Border(seed, y, x);
                continue;
            }
            double a = row[(size_t)x];
            a = a < 0.0 ? 0.0 : a > kMaxAttenuation ? kMaxAttenuation : a;
            double pos = a * kExpSteps;
            int k = (int)pos;
            double e = expTable[(size_t)k] + (expTable[(size_t)k + 1] - expTable[(size_t)k]) * (pos - k);
            double counts = kFullDose * e;
            double spread = kFullDoseRoot * expTable[(size_t)k >> 1];  // about sqrt(counts)
            // Quantum noise, spread with the square root of the counts: per pixel, roughly
            // Gaussian (sum of two uniforms), plus the interpolated mottle.
            uint32_t h = Hash(seed * 2654435761u ^ ((uint32_t)y * 65537u + (uint32_t)x));
            double fine = (double)((h & 0xFFFF) + (h >> 16)) * (1.0 / 65535.0) - 1.0;
            int gx = x / cell;
            double grain = mr[gx] + (mr[gx + 1] - mr[gx]) * ((x % cell) * (1.0 / cell));
            double value = kDarkOffset + counts + spread * (1.6 * fine + 2.6 * grain);
            out[x] = (uint16_t)(value < 1.0 ? 1.0 : value > 60000.0 ? 60000.0 : value);
        }
    }
}
