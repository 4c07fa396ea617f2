// Automatic search of peaks and background points, and the windows of the
// peaks between two background points.

#include "profile/peak_index.h"
#include "profile/peak_profile_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

using peak_detail::TruncToInt;

namespace {

enum ExtremumCode { kPeak = 0, kBackground = 1, kValley = 2, kLeadingPeak = 3 };

struct Extremum {
    float position;
    float value;  // smoothed
    int code;
};

// Same-length centred triangular smoothing; the profile counts as zero
// outside its range, so both ends are pulled down.
arma::Col<float> Smooth(const arma::Col<float> &profile, int half_width)
{
    if (half_width <= 0)
        return profile;
    arma::Col<float> kernel(2 * static_cast<arma::uword>(half_width) + 1);
    for (int i = -half_width; i <= half_width; ++i)
        kernel[static_cast<arma::uword>(i + half_width)] =
            static_cast<float>(half_width + 1 - std::abs(i));
    float sum = 0.0f;
    for (float w : kernel)
        sum += w;
    kernel /= sum;
    arma::Col<float> full = arma::conv(profile, kernel);
    return full.subvec(static_cast<arma::uword>(half_width),
                       static_cast<arma::uword>(half_width) + profile.n_elem - 1);
}

// A background minimum that stands more than valley_height above the line
// between two other background minima at most ten entries on is a valley.
// Heights and positions are truncated to whole numbers, as is the slope.
void MarkValleys(std::vector<Extremum> &table, const arma::Col<float> &s, float valley_height)
{
    const int count = static_cast<int>(table.size());
    for (int k = 0; k < count - 4; ++k) {
        if (table[k].code != kBackground)
            continue;
        const int jmax = std::min(count - k, 11);
        for (int j = 1; j < jmax; ++j) {
            if (table[k + j].code != kBackground)
                continue;
            const int64_t x1 = TruncToInt(table[k].position);
            const int64_t y1 = TruncToInt(table[k].value);
            const int64_t x2 = TruncToInt(table[k + j].position);
            const int64_t y2 = TruncToInt(table[k + j].value);
            for (int l = 1; l < j; ++l) {
                if (table[k + l].code != kBackground)
                    continue;
                const int64_t xm = TruncToInt(table[k + l].position);
                const int64_t slope = (y2 - y1) / (x2 - x1);
                const float h = s[static_cast<arma::uword>(xm)] - static_cast<float>(y1) -
                                static_cast<float>(slope * (xm - x1));
                if (h > valley_height)
                    table[k + l].code = kValley;
            }
        }
    }
}

}  // namespace

void PeakProfileFit::FindExtremaAndSplinePoints(float min_height, float valley_height,
                                                float start, float end, int smoothing)
{
    const float last = static_cast<float>(profile.n_elem) - 1.0f;
    start = std::max(start, 20.0f);
    end = std::min(end, last);
    // An empty or undefined range has nothing to scan; refusing it here
    // also keeps the maximum below from running over no elements.
    if (std::isnan(start) || std::isnan(end) || !(start <= end) || profile.n_elem == 0)
        throw "No maxima or minima found";
    // A kernel wider than the profile is no smoothing but a memory hazard.
    if (smoothing > 0 && static_cast<arma::uword>(smoothing) > profile.n_elem)
        throw std::invalid_argument("peak search: smoothing half-width exceeds the profile length");
    const int first = static_cast<int>(start);
    const int end_index = static_cast<int>(end);

    const arma::Col<float> s = Smooth(profile, smoothing);

    const float m = s.subvec(static_cast<arma::uword>(first),
                             static_cast<arma::uword>(end_index)).max();
    min_height = min_height * m / 100.0f;
    valley_height = valley_height * m / 100.0f;

    // One entry per sample at most (both kinds per sample when the threshold
    // is negative), plus the closing minimum: room for every sample and one.
    std::vector<Extremum> table;
    table.reserve(static_cast<size_t>(end_index - first) + 2);

    float maxv = -1e10f, minv = 1e10f;
    int maxpos = 0, minpos = 0, last_max = 0, last_min = 0;
    // The step order matters: a minimum's record resets maxv after the
    // maximum test has already seen the same sample.
    for (int i = first; static_cast<float>(i) < end; ++i) {
        const float v = s[static_cast<arma::uword>(i)];
        if (v > maxv) {
            maxv = v;
            maxpos = i;
        }
        if (maxv - min_height > v && maxpos != last_max) {
            last_max = maxpos;
            table.push_back({static_cast<float>(maxpos), s[static_cast<arma::uword>(maxpos)], kPeak});
            minv = s[static_cast<arma::uword>(maxpos)];
        }
        if (minv > v) {
            minv = v;
            minpos = i;
        }
        if (v > minv + min_height && minpos != last_min) {
            last_min = minpos;
            table.push_back({static_cast<float>(minpos), s[static_cast<arma::uword>(minpos)],
                             kBackground});
            maxv = s[static_cast<arma::uword>(minpos)];
        }
    }

    if (table.size() < 2)
        throw "No maxima or minima found";

    // A scan ending on a falling flank closes with the lowest point after the
    // last peak, if the peak is tall enough; otherwise that peak is dropped.
    if (table.back().code == kPeak) {
        const float tail = s[static_cast<arma::uword>(static_cast<int>(end - 1.0f))];
        if (table.back().value - min_height > tail)
            table.push_back({static_cast<float>(minpos), s[static_cast<arma::uword>(minpos)],
                             kBackground});
        else
            table.pop_back();
    }

    MarkValleys(table, s, valley_height);

    if (table.front().code == kPeak)
        table.front().code = kLeadingPeak;
    arma::uword n_peak = 0, n_spline = 0, n_valley = 0;
    for (const Extremum &e : table) {
        n_peak += e.code == kPeak;
        n_spline += e.code == kBackground;
        n_valley += e.code == kValley;
    }
    if (n_peak == 0)
        throw "No suitable peak was found";
    if (n_spline < 2)
        throw "number of splinepoints is smaller than 2";

    spline_x.zeros(n_spline);
    spline_y.zeros(n_spline);
    valley_positions.zeros(n_valley);
    peak_table.zeros(4, n_peak);
    arma::uword ip = 0, is = 0, iv = 0;
    for (const Extremum &e : table) {
        switch (e.code) {
        case kPeak:
            peak_table(0, ip++) = e.position;
            break;
        case kBackground:
            spline_x[is] = e.position;
            spline_y[is++] = profile[static_cast<arma::uword>(e.position)];
            break;
        case kValley:
            valley_positions[iv++] = e.position;
            break;
        default:
            break;
        }
    }
}

int PeakProfileFit::FindPeakBounds(int p1, int p2, arma::Col<float> &bounds, int &left,
                                   int &right) const
{
    if (p1 < 0 || p2 < 0 || static_cast<arma::uword>(p1) >= spline_x.n_elem ||
        static_cast<arma::uword>(p2) >= spline_x.n_elem)
        throw std::out_of_range("FindPeakBounds: background point index outside the table");
    const double x1 = spline_x[static_cast<arma::uword>(p1)];
    const double x2 = spline_x[static_cast<arma::uword>(p2)];

    int l = -1, r = -1;
    for (arma::uword c = 0; c < peak_table.n_cols; ++c)
        if (peak_table(0, c) > x1) {
            l = static_cast<int>(c);
            break;
        }
    for (arma::uword c = peak_table.n_cols; c-- > 0;)
        if (peak_table(0, c) < x2) {
            r = static_cast<int>(c);
            break;
        }
    if (l < 0 || r < 0)
        return 0;
    left = l;
    right = r;
    if (right < left)
        return 0;

    const arma::uword np = static_cast<arma::uword>(right - left + 1);
    bounds.zeros(np + 1);
    bounds[0] = spline_x[static_cast<arma::uword>(p1)];
    bounds[np] = spline_x[static_cast<arma::uword>(p2)];
    if (np >= 2) {
        for (arma::uword t = 0; t + 1 < np; ++t)
            bounds[t + 1] = static_cast<float>(
                (peak_table(0, left + t) + peak_table(0, left + t + 1)) / 2.0);
        // Recorded valleys replace the midpoints when there is exactly one
        // between each pair of neighbouring peaks.
        long long a = -1, b = -1;
        for (arma::uword v = 0; v < valley_positions.n_elem; ++v)
            if (valley_positions[v] > spline_x[static_cast<arma::uword>(p1)]) {
                a = static_cast<long long>(v);
                break;
            }
        for (arma::uword v = valley_positions.n_elem; v-- > 0;)
            if (valley_positions[v] < spline_x[static_cast<arma::uword>(p2)]) {
                b = static_cast<long long>(v) + 1;
                break;
            }
        if (a >= 0 && b >= 0 && b - a == static_cast<long long>(np) - 1)
            for (arma::uword t = 0; t + 1 < np; ++t)
                bounds[t + 1] = valley_positions[static_cast<arma::uword>(a) + t];
    }
    return 1;
}
