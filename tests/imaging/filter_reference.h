// Slow, obvious per-pixel versions of every filter and of the chain, written straight from
// the filter definitions, for the tests to compare the fast code against. Test code only.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/filter_entry.h"

namespace ref {

struct Image {
    int32_t w = 0, h = 0;
    std::vector<uint16_t> px;
    uint16_t at(int32_t x, int32_t y) const  // clamped coordinates
    {
        x = std::min(std::max(x, 0), w - 1);
        y = std::min(std::max(y, 0), h - 1);
        return px[(size_t)y * w + x];
    }
};

inline uint16_t Trunc(double y)
{
    if (!(y >= 0.0))
        return 0;
    if (y >= 65535.0)
        return 65535;
    return (uint16_t)(int64_t)y;
}
inline uint16_t Round(double x)
{
    return Trunc(x + 0.5);
}

inline int32_t Mask(int32_t n)
{
    return n < 3 ? 3 : (n % 2 == 0 ? n + 1 : n);
}

// ---- tone -------------------------------------------------------------------------------

inline std::vector<uint32_t> Histogram(const Image& im)
{
    std::vector<uint32_t> h(65536, 0);
    for (uint16_t v : im.px)
        h[v]++;
    return h;
}

inline void Invert(Image& im)
{
    for (auto& v : im.px)
        v = (uint16_t)(65535 - v);
}

inline void Brightness(Image& im, int32_t b)
{
    for (auto& v : im.px)
        v = Trunc(v + (double)b / 100 * 65535);
}

inline void Contrast(Image& im, int32_t c)
{
    double f = std::max(0.0, (double)c / 100 + 1);
    for (auto& v : im.px)
        v = Trunc((double)(v - 32768) * f + 32768);
}

inline void Darken(Image& im, int32_t p)
{
    double k = p < 1 ? 1.0 / 50 : p <= 50 ? p / 50.0 : p <= 100 ? p / 10.0 : 10.0;
    double base = k * 65536;
    for (auto& v : im.px)
        v = Round(std::max(0.0, std::pow(base, v / 65535.0) / k - 1));
}

inline void Lighten(Image& im)
{
    for (auto& v : im.px)
        v = Round(std::sqrt((v + 1) / 65536.0) * 65535);
}

inline void Equalize(Image& im)
{
    if (im.px.empty())
        return;
    auto h = Histogram(im);
    std::vector<uint16_t> cdf(65536);
    double c = 0;
    for (int i = 0; i < 65536; i++) {
        c = std::min(1.0, c + (double)h[i] / im.px.size());
        cdf[i] = std::min<uint16_t>(Round(c * 65534), 65534);
    }
    for (auto& v : im.px)
        v = cdf[v];
}

inline void Gamma(Image& im, int32_t g)
{
    if (g <= 0 || g == 100)
        return;
    double e = 100.0 / g;
    for (auto& v : im.px)
        v = Trunc(std::min(65535.0, std::pow(v / 65535.0, e) * 65535));
}

inline void ClipPoints(const Image& im, double f, int32_t* low, int32_t* high)
{
    auto h = Histogram(im);
    uint64_t t = (uint64_t)(im.px.size() * f);
    *low = 0;
    *high = 65535;
    uint64_t s = 0;
    for (int i = 0; i < 65536; i++)
        if ((s += h[i]) > t) {
            *low = i;
            break;
        }
    s = 0;
    for (int i = 65535; i >= 0; i--)
        if ((s += h[i]) > t) {
            *high = i;
            break;
        }
    if (*high <= *low)
        *high = *low + 1;
}

inline int32_t Percentile(const Image& im, double f)
{
    if (f <= 0)
        return 0;
    if (f >= 1)
        return 65535;
    auto h = Histogram(im);
    uint64_t t = (uint64_t)(im.px.size() * f), s = 0;
    for (int i = 0; i < 65536; i++)
        if ((s += h[i]) >= t)
            return i;
    return 65535;
}

inline void LevelCurve(Image& im, int64_t low, int64_t high, double gamma)
{
    if (high <= low)
        high = low + 1;
    if (gamma <= 0)
        gamma = 1;
    for (auto& v : im.px) {
        double t = (double)(v - low) * (1.0 / (double)(high - low));
        t = std::min(1.0, std::max(0.0, t));
        v = Round(std::pow(t, gamma) * 65535);
    }
}

inline double PivotGamma(int64_t pivot, int64_t mn, int64_t mx)
{
    double x = (double)(pivot - mn) / (double)(mx - mn);
    if (mn >= mx || x <= 0 || x >= 1)
        return 1;
    return std::log(0.5) / std::log(x);
}

inline void Level(Image& im, int32_t p1, int32_t p2, int32_t p3, int32_t lowClip)
{
    int64_t mn = std::max(0, p1), mx = std::min(255, p3);
    if (mx <= mn)
        mx = mn + 1;
    int32_t lo, hi;
    ClipPoints(im, 0.005, &lo, &hi);
    if (lowClip >= 0)
        lo = std::min(lo, lowClip);
    double span = std::max(1, hi - lo);
    int64_t low = (int64_t)((mn - 128) / 255.0 * span + lo + 0.5);
    int64_t high = (int64_t)((mx - 148) / 255.0 * span + hi + 0.5);
    LevelCurve(im, low, high, PivotGamma(p2, mn, mx));
}

inline void LevelPercent(Image& im, int32_t p1, int32_t p2, int32_t p3)
{
    int64_t mn = std::max(0, p1), mx = std::min(100, p3);
    if (mx <= mn)
        mx = mn + 1;
    int32_t low = Percentile(im, mn / 100.0), high = Percentile(im, mx / 100.0);
    LevelCurve(im, low, high, PivotGamma(p2, mn, mx));
}

inline void Normalize(Image& im)
{
    if (im.px.empty())
        return;
    auto [a, b] = std::minmax_element(im.px.begin(), im.px.end());
    int32_t m = *a, M = *b;
    if (m >= M)
        return;
    for (auto& v : im.px)
        v = Trunc((v - m) * (65535.0 / (M - m)));
}

inline void Adaptive(Image& im, int32_t a, int32_t b)
{
    a = std::min(50, std::max(0, a));
    b = std::min(50, std::max(0, b));
    auto h = Histogram(im);
    double total = 0;
    for (int i = 1; i <= 65534; i++)
        total += h[i];
    int64_t lowCount = (int64_t)(a / 100.0 * total), highCount = (int64_t)(b / 100.0 * total);
    int32_t lo = 1, hi = 65534;
    int64_t s = 0;
    for (int i = 1; i <= 65534; i++)
        if ((s += h[i]) >= lowCount) {
            lo = i;
            break;
        }
    s = 0;
    for (int j = 65534; j >= 1; j--)
        if ((s += h[j]) >= highCount) {
            hi = j;
            break;
        }
    if (hi <= lo)
        return;
    for (auto& v : im.px)
        v = v <= lo ? 0 : v >= hi ? 65535 : Trunc((v - lo) * (65535.0 / (hi - lo)));
}

// ---- neighbourhood ----------------------------------------------------------------------

inline void FastNoise(Image& im)
{
    if (im.w < 3 || im.h < 3)
        return;
    Image out = im;
    for (int y = 1; y < im.h - 1; y++)
        for (int x = 1; x < im.w - 1; x++) {
            uint16_t v[5] = {im.at(x, y - 1), im.at(x - 1, y), im.at(x, y), im.at(x + 1, y), im.at(x, y + 1)};
            std::sort(v, v + 5);
            out.px[(size_t)y * im.w + x] = v[2];
        }
    im = out;
}

inline void Median(Image& im, int32_t mask)
{
    int n = Mask(mask), h = n / 2;
    Image out = im;
    std::vector<uint16_t> win(n * n);
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            int k = 0;
            for (int i = -h; i <= h; i++)
                for (int j = -h; j <= h; j++)
                    win[k++] = im.at(x + j, y + i);
            std::sort(win.begin(), win.end());
            out.px[(size_t)y * im.w + x] = win[n * n / 2];
        }
    im = out;
}

// Row-major weighted sum over the clamped window, rounded and clamped.
inline Image Convolve(const Image& im, int n, const std::vector<double>& w)
{
    int h = n / 2;
    Image out = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            double s = 0;
            for (int i = 0; i < n; i++)
                for (int j = 0; j < n; j++)
                    s += w[i * n + j] * im.at(x - h + j, y - h + i);
            out.px[(size_t)y * im.w + x] = Round(s);
        }
    return out;
}

inline void Smooth(Image& im, int32_t mask)
{
    int n = Mask(mask), h = n / 2;
    Image out = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            double s = 0;
            for (int i = -h; i <= h; i++)
                for (int j = -h; j <= h; j++)
                    s += im.at(x + j, y + i);
            out.px[(size_t)y * im.w + x] = Round(s * (1.0 / (n * n)));
        }
    im = out;
}

inline std::vector<double> GaussianWeights(int n)
{
    int h = n / 2;
    std::vector<double> w(n * n);
    double sum = 0;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            w[i * n + j] = std::exp(-(double)((i - h) * (i - h) + (j - h) * (j - h)) / (n * n));
            sum += w[i * n + j];
        }
    if (sum != 0)
        for (auto& x : w)
            x /= sum;
    return w;
}

inline void Gaussian(Image& im, int32_t mask)
{
    int n = Mask(mask);
    im = Convolve(im, n, GaussianWeights(n));
}

inline void Unsharp(Image& im, int32_t mask, int32_t level)
{
    int n = Mask(mask);
    Image b = Convolve(im, n, GaussianWeights(n));
    for (size_t i = 0; i < im.px.size(); i++) {
        double v = im.px[i];
        im.px[i] = Round((v - b.px[i]) * (level / 400.0) + v);
    }
}

inline std::vector<double> SharpenWeights(int n, int32_t level)
{
    int h = n / 2;
    double s = level / 100.0, a = 0;
    std::vector<double> w(n * n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            if (i == h && j == h)
                continue;
            double d = std::sqrt((double)((i - h) * (i - h) + (j - h) * (j - h)));
            w[i * n + j] = -(s + 1) / d;
            a += w[i * n + j];
        }
    w[h * n + h] = (2 / std::pow(2.0, s)) * -a;
    double total = w[h * n + h] + a;
    for (auto& x : w)
        x = total != 0 ? x * (1 / total) : 0;
    return w;
}

inline void Sharpen(Image& im, int32_t mask, int32_t level)
{
    int n = Mask(mask);
    im = Convolve(im, n, SharpenWeights(n, level));
}

inline Image SeparableGaussian(const Image& im, int32_t mask)
{
    int n = Mask(mask), h = n / 2;
    double sigma = std::max(0.5, n / 6.0), sum = 0;
    std::vector<double> w(n);
    for (int k = -h; k <= h; k++)
        sum += w[k + h] = std::exp(-(double)(k * k) / (2 * sigma * sigma));
    for (auto& x : w)
        x /= sum;
    std::vector<double> tmp(im.px.size());
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            double s = 0;
            for (int k = -h; k <= h; k++)
                s += w[k + h] * im.at(x + k, y);
            tmp[(size_t)y * im.w + x] = s;
        }
    Image out = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            double s = 0;
            for (int k = -h; k <= h; k++)
                s += w[k + h] * tmp[(size_t)std::min(std::max(y + k, 0), im.h - 1) * im.w + x];
            out.px[(size_t)y * im.w + x] = Round(s);
        }
    return out;
}

inline void Laplace(Image& im, int32_t mask, int32_t level)
{
    Image s = mask > 3 ? SeparableGaussian(im, mask) : im;
    Image out = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            int d = 4 * s.at(x, y) - s.at(x - 1, y) - s.at(x + 1, y) - s.at(x, y + 1) - s.at(x, y - 1);
            out.px[(size_t)y * im.w + x] = Round(d * (level / 100.0) + im.px[(size_t)y * im.w + x]);
        }
    im = out;
}

// ---- geometry ---------------------------------------------------------------------------

inline void FlipH(Image& im)
{
    Image o = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++)
            o.px[(size_t)y * im.w + x] = im.px[(size_t)y * im.w + (im.w - 1 - x)];
    im = o;
}

inline void FlipV(Image& im)
{
    Image o = im;
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++)
            o.px[(size_t)y * im.w + x] = im.px[(size_t)(im.h - 1 - y) * im.w + x];
    im = o;
}

inline void Rotate(Image& im, bool clockwise)
{
    Image o;
    o.w = im.h;
    o.h = im.w;
    o.px.resize(im.px.size());
    for (int y = 0; y < im.h; y++)
        for (int x = 0; x < im.w; x++) {
            if (clockwise)
                o.px[(size_t)x * o.w + (im.h - 1 - y)] = im.px[(size_t)y * im.w + x];
            else
                o.px[(size_t)(im.w - 1 - x) * o.w + y] = im.px[(size_t)y * im.w + x];
        }
    im = o;
}

// ---- chain ------------------------------------------------------------------------------

inline bool Active(const FilterEntry& e)
{
    if (!e.enabled)
        return false;
    std::string m(e.modality, strnlen(e.modality, 8));
    for (auto& c : m)
        c = (char)toupper((unsigned char)c);
    return m.empty() || m == "IO";
}

inline void Run(Image& im, const FilterEntry& e, int32_t lowClip)
{
    int32_t p1 = e.param1, p2 = e.param2, p3 = e.param3;
    auto sub = [](int32_t& p, int32_t v) {
        if (p == 0)
            p = v;
    };
    switch (e.type) {
    case 0: Invert(im); break;
    case 1:
        sub(p1, 2);
        sub(p2, 2);
        Adaptive(im, p1, p2);
        break;
    case 2: Brightness(im, p1); break;
    case 3: Contrast(im, p1); break;
    case 4:
        sub(p1, 5);
        Darken(im, p1);
        break;
    case 5: Lighten(im); break;
    case 6: Equalize(im); break;
    case 7:
        sub(p1, 100);
        Gamma(im, p1);
        break;
    case 8: Level(im, p1, p2, p3, lowClip); break;
    case 9: LevelPercent(im, p1, p2, p3); break;
    case 10: Normalize(im); break;
    case 11: FastNoise(im); break;
    case 12:
        sub(p1, 3);
        Median(im, p1);
        break;
    case 13:
        sub(p1, 5);
        Median(im, p1);
        break;
    case 14: FlipH(im); break;
    case 15: FlipV(im); break;
    case 16: Rotate(im, true); break;
    case 17: Rotate(im, false); break;
    case 18:
        FlipH(im);
        FlipV(im);
        break;
    case 19:
        sub(p1, 5);
        Gaussian(im, p1);
        break;
    case 20:
        sub(p1, 3);
        sub(p2, 100);
        Unsharp(im, p1, p2);
        break;
    case 21:
        sub(p1, 3);
        sub(p2, 3);
        Laplace(im, p1, p2);
        break;
    case 22:
        sub(p1, 21);
        sub(p2, 20);
        Sharpen(im, p1, p2);
        break;
    case 23:
        sub(p1, 3);
        Smooth(im, p1);
        break;
    default: break;
    }
}

inline void Chain(Image& im, const FilterEntry* e, int32_t count, int32_t lowClip)
{
    bool invert = false;
    int firstLevel = -1;
    for (int i = 0; i < count; i++) {
        if (!Active(e[i]))
            continue;
        invert |= e[i].type == 0;
        if (firstLevel < 0 && (e[i].type == 8 || e[i].type == 9))
            firstLevel = i;
    }
    if (!invert && firstLevel < 0)
        Invert(im);
    for (int i = 0; i < count; i++) {
        if (!Active(e[i]))
            continue;
        Run(im, e[i], lowClip);
        if (!invert && i == firstLevel)
            Invert(im);
    }
}

}  // namespace ref
