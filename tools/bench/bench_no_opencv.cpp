// The benchmark's OpenCV half where OpenCV is not available (the Windows builds): no
// reference timings, so the OpenCV keys of the last line read 0.
#include "bench.h"

std::vector<OpenCvCall> OpenCvCalls(const uint16_t*, int, int)
{
    return {};
}

void SetOpenCvThreads(int) {}

std::vector<OpenCvTiming> OpenCvTimings(const uint16_t*, int, int, int)
{
    return {};
}
