// OpenCV's side of the benchmark: the nearest library calls to our filters, and a pipeline
// of the default chain with one call per entry. OpenCV rounds half to even and computes large
// kernels by DFT in float, so these are speed references, not exact equivalents.
#include <cmath>
#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench.h"
#include "imaging/filter_convolve.h"

namespace {

cv::Mat SharpenKernel(int n, int level)
{
    cv::Mat k(n, n, CV_64F);
    int32_t size = 0;
    SharpenWeights(n, level, k.ptr<double>(), &size);
    return k;
}

void OpenCvChain(const cv::Mat& src, cv::Mat& out, const cv::Mat& sharpen)
{
    cv::Mat a, f, b, c;
    cv::medianBlur(src, a, 5);  // Despeckle 5
    // Level Adjustment: stretch the 0.5 % .. 99.5 % points.
    int channels[] = {0};
    int bins[] = {65536};
    float range[] = {0, 65536};
    const float* ranges[] = {range};
    cv::Mat hist;
    cv::calcHist(&a, 1, channels, cv::Mat(), hist, 1, bins, ranges);
    double t = a.total() * 0.005, sum = 0;
    int lo = 0, hi = 65535;
    for (int i = 0; i < 65536; i++)
        if ((sum += hist.at<float>(i)) > t) {
            lo = i;
            break;
        }
    sum = 0;
    for (int i = 65535; i >= 0; i--)
        if ((sum += hist.at<float>(i)) > t) {
            hi = i;
            break;
        }
    double span = std::max(1, hi - lo);
    a.convertTo(f, CV_32F, 1.0 / span, -lo / span);
    f = cv::max(cv::min(f, 1.0), 0.0);
    f = 1.0 - f;                // the chain's inversion
    f -= 0.1;                   // Brightness -10
    f = (f - 0.5) * 1.1 + 0.5;  // Contrast 10
    f = cv::max(cv::min(f, 1.0), 0.0);
    cv::pow(f, 100.0 / 75.0, f);  // Gamma 0.75
    f.convertTo(b, CV_16U, 65535.0);
    cv::filter2D(b, c, CV_16U, sharpen, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);  // Sharpen
    cv::medianBlur(c, out, 5);                                                        // Noise Removal 5
}

// What the calls share: the source, one destination and the Sharpen kernel.
struct OpenCvState {
    cv::Mat src, dst, sharpen;
};

}  // namespace

std::vector<OpenCvCall> OpenCvCalls(const uint16_t* px, int w, int h)
{
    auto st = std::make_shared<OpenCvState>();
    st->src = cv::Mat(h, w, CV_16U, const_cast<uint16_t*>(px));
    st->sharpen = SharpenKernel(21, 20);
    const double r2 = std::sqrt(2.0);
    return {
        {"median3", [st] { cv::medianBlur(st->src, st->dst, 3); }},
        {"median5", [st] { cv::medianBlur(st->src, st->dst, 5); }},
        {"sharpen21",
         [st] {
             cv::filter2D(st->src, st->dst, CV_16U, st->sharpen, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
         }},
        {"gaussian5",
         [st, r2] {
             cv::GaussianBlur(st->src, st->dst, cv::Size(5, 5), 5 / r2, 5 / r2, cv::BORDER_REPLICATE);
         }},
        {"gaussian15",
         [st, r2] {
             cv::GaussianBlur(st->src, st->dst, cv::Size(15, 15), 15 / r2, 15 / r2, cv::BORDER_REPLICATE);
         }},
        {"sepgauss15",
         [st, r2] {
             cv::Mat k = cv::getGaussianKernel(15, 15 / r2, CV_64F);
             cv::sepFilter2D(st->src, st->dst, CV_16U, k, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
         }},
        {"laplace21",
         [st] {
             // Laplace Edge Enhancement 21, level 3: pre-smoothing, 4-neighbour Laplacian
             // (OpenCV's has the opposite sign), 0.03 of it added to the input.
             cv::Mat s, lap, f;
             cv::GaussianBlur(st->src, s, cv::Size(21, 21), 3.5, 3.5, cv::BORDER_REPLICATE);
             cv::Laplacian(s, lap, CV_32F, 1, 1, 0, cv::BORDER_REPLICATE);
             st->src.convertTo(f, CV_32F);
             cv::scaleAdd(lap, -0.03, f, f);
             f.convertTo(st->dst, CV_16U);
         }},
        {"smooth3",
         [st] { cv::blur(st->src, st->dst, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE); }},
        {"smooth21",
         [st] { cv::blur(st->src, st->dst, cv::Size(21, 21), cv::Point(-1, -1), cv::BORDER_REPLICATE); }},
        {"chain", [st] { OpenCvChain(st->src, st->dst, st->sharpen); }},
    };
}

void SetOpenCvThreads(int threads)
{
    cv::setNumThreads(threads);
}

std::vector<OpenCvTiming> OpenCvTimings(const uint16_t* px, int w, int h, int runs)
{
    const std::vector<OpenCvCall> ops = OpenCvCalls(px, w, h);
    std::vector<OpenCvTiming> out;
    const int defaultThreads = cv::getNumThreads();
    for (const OpenCvCall& op : ops) {
        OpenCvTiming t;
        t.name = op.name;
        cv::setNumThreads(1);
        t.ms1 = BestThreadMs([] {}, op.run, runs);  // one thread: OpenCV runs on the caller
        cv::setNumThreads(defaultThreads);
        t.msAll = MedianMs([] {}, op.run, runs);
        out.push_back(t);
    }
    return out;
}
