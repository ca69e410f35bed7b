// Helpers shared by the filter implementations: the rounding and clamping every filter uses,
// a malloc'd block that never throws, the mask-size normalisation, edge-replicated copies and
// the row-band worker pool. Internal to imaging/.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Truncated toward zero, then limited to 0..65535. NaN gives 0.
inline uint16_t TruncClamp(double y)
{
    y = y > 65535.0 ? 65535.0 : y;
    y = y > 0.0 ? y : 0.0;
    return (uint16_t)(int32_t)y;
}

// Rounded half up (0.5 added, then truncated) and clamped.
inline uint16_t RoundClamp(double x)
{
    return TruncClamp(x + 0.5);
}

// bytes rounded up to a whole number of 64-byte cache lines (working memory laid out in parts).
constexpr size_t Align64(size_t bytes)
{
    return (bytes + 63) & ~(size_t)63;
}

// Every block a filter obtains comes from here: malloc, unless a test has asked for the Nth
// request to fail (SetFilterAllocationFault).
void* FilterAlloc(size_t bytes);
// Test hook: the request after `skip` more successful ones fails, once; -1 turns it off.
// Returns the previous setting (still >= 0 when the fault has not fired yet).
int32_t SetFilterAllocationFault(int32_t skip);

// A block of T from FilterAlloc, released at scope end. data() is null when the allocation failed;
// filters check it and leave the image unchanged. Pixel blocks handed to an Image16 use the
// same allocator (malloc / free).
template <typename T>
class FilterBuffer {
public:
    explicit FilterBuffer(size_t count)
    {
        if (count > 0 && count <= (size_t)PTRDIFF_MAX / sizeof(T))
            data_ = static_cast<T*>(FilterAlloc(count * sizeof(T)));
    }
    ~FilterBuffer() { free(data_); }
    FilterBuffer(const FilterBuffer&) = delete;
    FilterBuffer& operator=(const FilterBuffer&) = delete;
    T* data() const { return data_; }
    T& operator[](size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }
    // Hands the block over; the caller frees it with free().
    T* release()
    {
        T* p = data_;
        data_ = nullptr;
        return p;
    }

private:
    T* data_ = nullptr;
};

// Masks above this are refused (the image is left unchanged): a stored list never holds more
// than 21, and a larger value would only make window sizes and counters overflow.
constexpr int32_t kLargestFilterMask = 255;

// Below 3 becomes 3, an even size the next odd one. Returns 0 for a mask that is refused.
int32_t NormaliseMask(int32_t mask);

// Pixel count of a W x H image, 0 when a side is not positive.
size_t PixelCount(int32_t width, int32_t height);

// Runs body(context, i, i + 1) for i = 0..count - 1, each on its own thread (task 0 on the
// calling thread); a task whose thread cannot be started runs on the calling thread. body
// must not throw.
typedef void (*RowBandFn)(void* context, int32_t begin, int32_t end);
void ForEachTask(int32_t count, RowBandFn body, void* context);

// Threads the neighbourhood filters may use: 0 (the default) means one per processor.
// Results never depend on it.
void SetFilterThreadCount(int32_t threads);
int32_t FilterThreadCount();
