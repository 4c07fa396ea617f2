#include "geometry/center_refinement.h"

#include "geometry/azimuthal_integration.h"
#include "geometry/radius_bands.h"
#include "geometry/work_sizes.h"
#include "geometry/worker_threads.h"
#include "numerics/powell.h"
#include "numerics/simplex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// Largest element by a scan that starts at minus infinity and takes only
// strictly greater values, so not-a-numbers are passed over.
float LargestElement(const float* p, std::size_t n) {
    float m = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] > m) m = p[i];
    return m;
}

}  // namespace

maxazimuthalintcenter::maxazimuthalintcenter(int r_in, int r_out, DiffractionPattern& pattern)
    : pattern_(&pattern),
      width_(PatternWidth(pattern)),
      height_(PatternHeight(pattern)),
      r_in_(r_in),
      r_out_(r_out),
      shift_(0) {
    if (r_in < 0 || r_out <= r_in || r_out > 32767)
        throw std::invalid_argument("centre refinement needs 0 <= inner radius < outer radius");
    shift_ = static_cast<int>(static_cast<double>(r_out - r_in) / 1.5);

    const int bins = r_out - r_in;
    auto binOf = [&](std::int64_t dx, std::int64_t dy) {
        const float d2 = static_cast<float>(dx * dx + dy * dy);
        return static_cast<std::int64_t>(std::sqrt(d2)) - r_in;
    };
    // Two scans in the same order: count, then place, so each bin's offsets
    // keep the scan order in one compact block.
    start_.assign(static_cast<std::size_t>(bins) + 1, 0);
    for (std::int64_t dx = -r_out; dx <= r_out; ++dx)
        for (std::int64_t dy = -r_out; dy <= r_out; ++dy) {
            const std::int64_t b = binOf(dx, dy);
            if (b >= 0 && b < bins) ++start_[static_cast<std::size_t>(b) + 1];
        }
    for (int b = 0; b < bins; ++b) start_[b + 1] += start_[b];
    dx_.resize(start_[bins]);
    dy_.resize(start_[bins]);
    std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
    for (std::int64_t dx = -r_out; dx <= r_out; ++dx)
        for (std::int64_t dy = -r_out; dy <= r_out; ++dy) {
            const std::int64_t b = binOf(dx, dy);
            if (b >= 0 && b < bins) {
                const std::uint32_t c = fill[static_cast<std::size_t>(b)]++;
                dx_[c] = static_cast<std::int32_t>(dx);
                dy_[c] = static_cast<std::int32_t>(dy);
            }
        }
}

maxazimuthalintcenter::~maxazimuthalintcenter() = default;

void maxazimuthalintcenter::Offset(int b, std::uint32_t c, int& dx, int& dy) const {
    dx = dx_[start_[b] + c];
    dy = dy_[start_[b] + c];
}

double maxazimuthalintcenter::Evaluate(const double* x, int) {
    const float tx = static_cast<float>(x[0]);
    const float ty = static_cast<float>(x[1]);
    const float B = static_cast<float>(shift_);
    const float cx = pattern_->centerX;
    const float cy = pattern_->centerY;
    if (tx > cx + B || cx - B > tx || ty > cy + B || cy - B > ty) return 0.0;
    const std::vector<float> value = RingMeans(x);
    return -static_cast<double>(LargestElement(value.data(), value.size()));
}

std::vector<float> maxazimuthalintcenter::RingMeans(const double* x) const {
    const float tx = static_cast<float>(x[0]);
    const float ty = static_cast<float>(x[1]);
    const int bins = r_out_ - r_in_;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Far beyond any image (or not a number): every offset misses, every bin
    // is 0/0. The test keeps the truncations below inside the integer range.
    if (!(std::fabs(tx) < 1e9f && std::fabs(ty) < 1e9f)) return std::vector<float>(static_cast<std::size_t>(bins), nan);

    const float* image = pattern_->image.memptr();
    const std::uint64_t stride = pattern_->image.n_rows;
    std::vector<float> value(static_cast<std::size_t>(bins));
    // Each task owns a contiguous range of bins of about equal offset count;
    // a bin's sum runs over its offsets in table order.
    const std::vector<std::uint32_t> split =
        SplitBins(static_cast<std::uint32_t>(bins), TaskCountFor(start_[bins], kMinLoadsPerTask),
                  [&](std::uint32_t b) { return start_[b]; });
    const unsigned tasks = static_cast<unsigned>(split.size() - 1);
    auto sumBins = [&](unsigned t) {
        for (int b = static_cast<int>(split[t]); b < static_cast<int>(split[t + 1]); ++b) {
            float sum = 0.0f;
            std::uint32_t n = 0;
            for (std::uint32_t i = start_[b]; i < start_[b + 1]; ++i) {
                const std::int32_t px = static_cast<std::int32_t>(static_cast<float>(dx_[i]) + tx);
                const std::int32_t py = static_cast<std::int32_t>(static_cast<float>(dy_[i]) + ty);
                if (static_cast<std::uint32_t>(px) < width_ && static_cast<std::uint32_t>(py) < height_) {
                    sum += image[static_cast<std::uint64_t>(px) + static_cast<std::uint64_t>(py) * stride];
                    ++n;
                }
            }
            value[b] = sum * static_cast<float>(r_in_ + b) / static_cast<float>(n);
        }
    };
    if (tasks > 1)
        ParallelTasks(tasks, sumBins);
    else
        sumBins(0);
    return value;
}

maxazimuthalintcenterellipticity::maxazimuthalintcenterellipticity(int r_in, int r_out, DiffractionPattern& pattern)
    : pattern_(&pattern), r_in_(r_in), r_out_(r_out) {
    if (r_in < 0 || r_out <= r_in)
        throw std::invalid_argument("ellipticity refinement needs 0 <= inner radius < outer radius");
}

maxazimuthalintcenterellipticity::~maxazimuthalintcenterellipticity() = default;

double maxazimuthalintcenterellipticity::Evaluate(const double* x, int) {
    const float ratio = static_cast<float>(x[0]);
    const float angle = static_cast<float>(x[1]);
    if (static_cast<double>(ratio) > 1.1 || ratio < 1.0f) return 0.0;
    const std::uint32_t r_min = static_cast<std::uint32_t>(r_in_);
    const std::uint32_t r_max = static_cast<std::uint32_t>(r_out_);
    arma::Col<float> profile;
    if (EllipticalRingPixels::Covers(ratio)) {
        if (!ring_ || !ring_->MadeFor(pattern_->image, pattern_->centerX, pattern_->centerY))
            ring_ = std::make_unique<EllipticalRingPixels>(pattern_->image, pattern_->centerX, pattern_->centerY, r_min,
                                                           r_max);
        profile = ring_->UnnormalisedProfile(ratio, angle);
    } else {
        // Only a ratio that is not a number gets here: the whole image loop.
        profile = AzimuthalIntegralEllipticityKernel(pattern_->image, r_min, r_max, pattern_->centerX,
                                                     pattern_->centerY, ratio, angle, 1);
    }
    return -static_cast<double>(LargestElement(profile.memptr(), profile.n_elem));
}

void RefineCenterCore(DiffractionPattern& pattern, int r_in, int r_out) {
    maxazimuthalintcenter cost(r_in, r_out, pattern);
    RefineCenterCore(pattern, cost);
}

void RefineCenterCore(DiffractionPattern& pattern, maxazimuthalintcenter& cost) {
    double x[2] = {pattern.centerX, pattern.centerY};
    const double step[2] = {10.0, 10.0};
    const double tolerance[2] = {0.5, 0.5};
    SimplexMinimize(x, 2, step, tolerance, cost);
    pattern.centerX = static_cast<float>(x[0]);
    pattern.centerY = static_cast<float>(x[1]);
}

void RefineCenterEllipticityCore(DiffractionPattern& pattern, int r_in, int r_out) {
    maxazimuthalintcenterellipticity cost(r_in, r_out, pattern);
    double x[2] = {pattern.axisRatio, pattern.angle};
    double row0[2] = {0.001, 0.01};
    double row1[2] = {1.0, 0.1};
    double* directions[2] = {row0, row1};
    PowellMinimize(x, 2, 0.001, directions, cost);
    pattern.axisRatio = static_cast<float>(x[0]);
    pattern.angle = static_cast<float>(x[1]);
}
