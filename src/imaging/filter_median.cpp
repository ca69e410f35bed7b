// The n x n median (types 12, 13) and the five-point cross median (type 11).
// Inputs: a W x H block and a mask size; borders repeat the edge pixel (the cross median
// instead leaves its one-pixel border as it is). Output: the element at index n*n / 2 of the
// sorted window, in place through a second block.
// Method: masks 3 and 5 run a selection network (a sorting network pruned to the comparators
// the middle output depends on) across a row of pixels at once, so the compiler can use
// vector min / max; larger masks slide a two-level histogram along each row and track the
// median as it moves, which costs O(n) per pixel instead of sorting n*n values.
// Failure: without the second block, the padded copy or a band's working memory the image is
// left unchanged.
#include "imaging/filter_median.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

namespace {

// ---- selection network ------------------------------------------------------------------

constexpr int32_t kMaxNetworkInputs = 32;   // 5 x 5 padded to a power of two
constexpr int32_t kMaxComparators = 256;
constexpr int32_t kChunk = 128;             // pixels per pass through the network

struct Comparator {
    uint8_t lo, hi;       // after the exchange lo holds the smaller value
    uint8_t keepLo, keepHi;
};

struct Network {
    int32_t inputs;   // real inputs; wires inputs..wires-1 hold 65535
    int32_t wires;
    int32_t output;   // wire holding the median
    int32_t count;
    Comparator c[kMaxComparators];
};

// Batcher's odd-even merge sort for `wires` (a power of two), pruned backwards from `output`.
void BuildMedianNetwork(int32_t inputs, Network* net)
{
    int32_t wires = 1;
    while (wires < inputs)
        wires *= 2;
    Comparator all[kMaxComparators * 2];
    int32_t total = 0;
    for (int32_t p = 1; p < wires; p *= 2) {
        for (int32_t k = p; k >= 1; k /= 2) {
            for (int32_t j = k % p; j + k < wires; j += 2 * k) {
                for (int32_t i = 0; i < k && i + j + k < wires; i++) {
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        all[total++] = Comparator{(uint8_t)(i + j), (uint8_t)(i + j + k), 1, 1};
                }
            }
        }
    }
    bool needed[kMaxNetworkInputs] = {};
    net->output = inputs / 2;
    needed[net->output] = true;
    Comparator kept[kMaxComparators * 2];
    int32_t count = 0;
    for (int32_t i = total - 1; i >= 0; i--) {
        Comparator c = all[i];
        c.keepLo = needed[c.lo];
        c.keepHi = needed[c.hi];
        if (!c.keepLo && !c.keepHi)
            continue;
        // A comparator against a padding wire that no earlier comparator touched would
        // change nothing; the simple form below keeps it (harmless).
        needed[c.lo] = needed[c.hi] = true;
        kept[count++] = c;
    }
    net->inputs = inputs;
    net->wires = wires;
    net->count = count;
    for (int32_t i = 0; i < count; i++)
        net->c[i] = kept[count - 1 - i];
}

struct NetworkJob {
    const Network* net;
    const uint16_t* padded;
    int32_t pw, width, n;
    uint16_t* dst;
};

NYRA_ALWAYS_INLINE void NetworkRowsBody(NetworkJob* job, int32_t y0, int32_t y1, uint16_t* wires)
{
    const Network& net = *job->net;
    const int32_t n = job->n, pw = job->pw, w = job->width;
    for (int32_t i = net.inputs; i < net.wires; i++)
        std::fill(wires + (size_t)i * kChunk, wires + (size_t)(i + 1) * kChunk, (uint16_t)65535);
    for (int32_t y = y0; y < y1; y++) {
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            const int32_t len = std::min(kChunk, w - x0);
            for (int32_t i = 0; i < n; i++) {
                const uint16_t* row = job->padded + (size_t)(y + i) * pw + x0;
                for (int32_t j = 0; j < n; j++)
                    memcpy(wires + (size_t)(i * n + j) * kChunk, row + j, len * sizeof(uint16_t));
            }
            for (int32_t k = 0; k < net.count; k++) {
                const Comparator c = net.c[k];
                uint16_t* __restrict a = wires + (size_t)c.lo * kChunk;
                uint16_t* __restrict b = wires + (size_t)c.hi * kChunk;
                if (c.keepLo && c.keepHi) {
                    for (int32_t x = 0; x < kChunk; x++) {
                        uint16_t lo = std::min(a[x], b[x]), hi = std::max(a[x], b[x]);
                        a[x] = lo;
                        b[x] = hi;
                    }
                } else if (c.keepLo) {
                    for (int32_t x = 0; x < kChunk; x++)
                        a[x] = std::min(a[x], b[x]);
                } else {
                    for (int32_t x = 0; x < kChunk; x++)
                        b[x] = std::max(a[x], b[x]);
                }
            }
            memcpy(job->dst + (size_t)y * w + x0, wires + (size_t)net.output * kChunk,
                   len * sizeof(uint16_t));
        }
    }
}

void NetworkRowsBase(NetworkJob* job, int32_t y0, int32_t y1, uint16_t* wires)
{
    NetworkRowsBody(job, y0, y1, wires);
}

NYRA_TARGET_AVX2 void NetworkRowsAvx2(NetworkJob* job, int32_t y0, int32_t y1, uint16_t* wires)
{
    NetworkRowsBody(job, y0, y1, wires);
}

void NetworkBand(void* context, int32_t y0, int32_t y1)
{
    NetworkJob* job = static_cast<NetworkJob*>(context);
    // Fixed size: the wires of one chunk live on the stack, no allocation can fail here.
    alignas(64) uint16_t wires[kMaxNetworkInputs * kChunk];
    if (UseAvx2())
        NetworkRowsAvx2(job, y0, y1, wires);
    else
        NetworkRowsBase(job, y0, y1, wires);
}

// ---- sliding histogram ------------------------------------------------------------------

struct HistogramJob {
    const uint16_t* padded;
    int32_t pw, width, n;
    uint16_t* dst;
    std::atomic<bool> failed{false};
};

void HistogramBand(void* context, int32_t y0, int32_t y1)
{
    HistogramJob* job = static_cast<HistogramJob*>(context);
    const int32_t n = job->n, pw = job->pw, w = job->width;
    // Window counts fit 16 bits: n*n <= 255*255.
    FilterBuffer<uint16_t> fineBuffer(65536);
    FilterBuffer<uint32_t> coarseBuffer(256);
    if (!fineBuffer || !coarseBuffer) {
        job->failed.store(true);
        return;
    }
    uint16_t* fine = fineBuffer.data();
    uint32_t* coarse = coarseBuffer.data();
    const int32_t k = n * n / 2;  // index of the median in the sorted window
    // Cleared once; each row takes its last window out again instead of clearing 128 KB.
    memset(fine, 0, 65536 * sizeof(uint16_t));
    memset(coarse, 0, 256 * sizeof(uint32_t));
    for (int32_t y = y0; y < y1; y++) {
        const uint16_t* top = job->padded + (size_t)y * pw;
        for (int32_t i = 0; i < n; i++) {
            for (int32_t j = 0; j < n; j++) {
                uint16_t v = top[(size_t)i * pw + j];
                fine[v]++;
                coarse[v >> 8]++;
            }
        }
        // less = number of window values below med.
        int32_t med = 0, less = 0;
        uint16_t* out = job->dst + (size_t)y * w;
        for (int32_t x = 0; x < w; x++) {
            if (x > 0) {
                for (int32_t i = 0; i < n; i++) {
                    const uint16_t* r = top + (size_t)i * pw + x;
                    uint16_t gone = r[-1], come = r[n - 1];
                    fine[gone]--;
                    coarse[gone >> 8]--;
                    less -= gone < med;
                    fine[come]++;
                    coarse[come >> 8]++;
                    less += come < med;
                }
            }
            while (less > k) {
                if ((med & 255) == 0 && med >= 256 && less - (int32_t)coarse[(med >> 8) - 1] > k) {
                    less -= coarse[(med >> 8) - 1];
                    med -= 256;
                    continue;
                }
                med--;
                less -= fine[med];
            }
            while (less + fine[med] <= k) {
                if ((med & 255) == 0 && less + (int32_t)coarse[med >> 8] <= k) {
                    less += coarse[med >> 8];
                    med += 256;
                    continue;
                }
                less += fine[med];
                med++;
            }
            out[x] = (uint16_t)med;
        }
        for (int32_t i = 0; i < n; i++) {
            for (int32_t j = 0; j < n; j++) {
                uint16_t v = top[(size_t)i * pw + (w - 1) + j];
                fine[v]--;
                coarse[v >> 8]--;
            }
        }
    }
}

// Cross median of five, written branch-free so rows vectorise.
inline uint16_t Median5(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e)
{
    uint16_t t;
    // Sort (a,b) and (d,e); drop the smallest of the four mins/maxes, then take the middle.
    t = std::min(a, b); b = std::max(a, b); a = t;
    t = std::min(d, e); e = std::max(d, e); d = t;
    // The smaller of the two minima and the larger of the two maxima cannot be the median.
    uint16_t lowMax = std::max(a, d);
    uint16_t highMin = std::min(b, e);
    // Median of lowMax, highMin and c.
    uint16_t lo = std::min(lowMax, highMin), hi = std::max(lowMax, highMin);
    return std::max(lo, std::min(hi, c));
}

}  // namespace

void MedianFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask)
{
    size_t count = PixelCount(width, height);
    int32_t n = NormaliseMask(mask);
    if (!pixels || count == 0 || n == 0)
        return;
    FilterBuffer<uint16_t> out(count);
    if (!out)
        return;
    uint16_t* padded = MakePaddedCopy(pixels, width, height, n / 2);
    if (!padded)
        return;
    bool ok = true;
    if (n <= 5) {
        FilterBuffer<Network> net(1);
        if (!net) {
            ok = false;
        } else {
            BuildMedianNetwork(n * n, net.data());
            NetworkJob job{net.data(), padded, width + 2 * (n / 2), width, n, out.data()};
            ForEachRowBand(height, 16, NetworkBand, &job);
        }
    } else {
        HistogramJob job;
        job.padded = padded;
        job.pw = width + 2 * (n / 2);
        job.width = width;
        job.n = n;
        job.dst = out.data();
        ForEachRowBand(height, 16, HistogramBand, &job);
        ok = !job.failed.load();
    }
    free(padded);
    if (ok)
        memcpy(pixels, out.data(), count * sizeof(uint16_t));
}

void FastNoiseRemoval(uint16_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width < 3 || height < 3)
        return;
    size_t count = PixelCount(width, height);
    FilterBuffer<uint16_t> copy(count);
    if (!copy)
        return;
    memcpy(copy.data(), pixels, count * sizeof(uint16_t));
    for (int32_t y = 1; y < height - 1; y++) {
        const uint16_t* up = pixels + (size_t)(y - 1) * width;
        const uint16_t* row = pixels + (size_t)y * width;
        const uint16_t* down = pixels + (size_t)(y + 1) * width;
        uint16_t* o = copy.data() + (size_t)y * width;
        for (int32_t x = 1; x < width - 1; x++)
            o[x] = Median5(up[x], row[x - 1], row[x], row[x + 1], down[x]);
    }
    memcpy(pixels, copy.data(), count * sizeof(uint16_t));
}
