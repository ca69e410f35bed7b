// Shared filter helpers: mask normalisation, edge-replicated copies and the row-band pool.
// Threads are started per call (a capture runs a handful of filters, so a persistent pool
// would buy little) and joined before returning. If a thread cannot be started its band runs
// on the calling thread, so a filter never fails for want of threads.
#include "imaging/filter_support.h"
#include "imaging/filter_simd.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <thread>

namespace {

std::atomic<int32_t> RequestedThreads{0};
constexpr int32_t kMaxThreads = 16;

struct Band {
    RowBandFn body;
    void* context;
    int32_t begin;
    int32_t end;
};

}  // namespace

void SetFilterThreadCount(int32_t threads)
{
    RequestedThreads.store(threads < 0 ? 0 : std::min(threads, kMaxThreads));
}

int32_t FilterThreadCount()
{
    int32_t n = RequestedThreads.load();
    if (n > 0)
        return n;
    unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : std::min<int32_t>((int32_t)hw, kMaxThreads);
}

namespace {
std::atomic<int32_t> AllocationsBeforeFault{-1};
}

int32_t SetFilterAllocationFault(int32_t skip)
{
    return AllocationsBeforeFault.exchange(skip);
}

void* FilterAlloc(size_t bytes)
{
    int32_t left = AllocationsBeforeFault.load(std::memory_order_relaxed);
    if (left >= 0) {
        if (left == 0) {
            AllocationsBeforeFault.store(-1);
            return nullptr;
        }
        AllocationsBeforeFault.store(left - 1);
    }
    return malloc(bytes);
}

int32_t NormaliseMask(int32_t mask)
{
    if (mask < 3)
        return 3;
    if (mask > kLargestFilterMask)
        return 0;
    return mask % 2 == 0 ? mask + 1 : mask;
}

size_t PixelCount(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    return (size_t)width * (size_t)height;
}

void ForEachTask(int32_t count, RowBandFn body, void* context)
{
    count = std::min(count, kMaxThreads);
    if (count <= 1) {
        if (count == 1)
            body(context, 0, 1);
        return;
    }
    Band work[kMaxThreads];
    for (int32_t b = 0; b < count; b++)
        work[b] = Band{body, context, b, b + 1};
    std::thread threads[kMaxThreads];
    bool started[kMaxThreads] = {};
    for (int32_t b = 1; b < count; b++) {
        try {
            const Band* band = &work[b];
            threads[b] = std::thread([band] { band->body(band->context, band->begin, band->end); });
            started[b] = true;
        } catch (...) {
            started[b] = false;
        }
    }
    body(context, 0, 1);
    for (int32_t b = 1; b < count; b++) {
        if (started[b])
            threads[b].join();
        else
            body(context, b, b + 1);
    }
}

namespace {
std::atomic<int> SimdLimit{2};
}

void SetSimdLimit(int maxLevel)
{
    SimdLimit.store(maxLevel);
}

#if NYRA_HAVE_AVX2_PATH
namespace {
// The built-ins check both the processor and the system's saving of the wide registers.
int DetectSimdLevel()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
        return 2;
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1 : 0;
}
}  // namespace
#endif

int SimdLevel()
{
#if NYRA_HAVE_AVX2_PATH
    static const int supported = DetectSimdLevel();
    return std::min(supported, SimdLimit.load());
#else
    return 0;
#endif
}
