// Shared between the two halves of the benchmark (ours and OpenCV's).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Median wall time in ms of `runs` calls of run(), each after prepare() (not timed).
double MedianMs(const std::function<void()>& prepare, const std::function<void()>& run, int runs);
// Least processor time in ms of the calling thread over `runs` calls of run(), each after
// prepare() (not timed): for code that runs on the calling thread only. Time the machine gives
// to other processes is not counted, so the single-thread figures hold still on a shared host.
double BestThreadMs(const std::function<void()>& prepare, const std::function<void()>& run, int runs);

struct OpenCvTiming {
    std::string name;
    double ms1 = 0;    // one thread, on the calling thread (BestThreadMs)
    double msAll = 0;  // OpenCV's default thread count
};

// OpenCV's closest equivalents of our filters and of the default chain, reading px (which must
// outlive the calls): one call each, for timing them one run at a time.
struct OpenCvCall {
    std::string name;
    std::function<void()> run;
};
std::vector<OpenCvCall> OpenCvCalls(const uint16_t* px, int w, int h);
// The threads OpenCV's calls may use (1: only the caller's).
void SetOpenCvThreads(int threads);
// Each of OpenCvCalls timed `runs` times on one thread and on OpenCV's default count.
std::vector<OpenCvTiming> OpenCvTimings(const uint16_t* px, int w, int h, int runs);

// The whole post-read processing of a frame (bench_pipeline.cpp), default settings, all cores.
double PipelineMs(const uint16_t* frame, int w, int h);
