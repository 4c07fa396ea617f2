// Automatic search of peaks and background points, and the windows of the
// peaks between two background points.

#include "profile/peak_index.h"
#include "profile/peak_profile_fit.h"
#include "profile/profile_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using peak_detail::TruncToInt;
using profile_samples::IsMissing;

namespace {

enum ExtremumCode { kPeak = 0, kBackground = 1, kValley = 2, kLeadingPeak = 3 };

struct Extremum {
    float position;
    float value;  // smoothed
    int code;
};

// The smoothing of a profile with missing samples: each value is the
// weighted mean of the measured samples under the kernel, so a gap pulls
// no neighbour down. Beyond the profile's ends the samples count as 0, as
// in the plain smoothing. Where the kernel covers no measured sample the
// value is 0.
arma::Col<float> SmoothOverMissing(const arma::Col<float>& profile, const arma::Col<float>& kernel, int half_width) {
    const long long n = static_cast<long long>(profile.n_elem);
    arma::Col<float> s(profile.n_elem, arma::fill::zeros);
    for (long long i = 0; i < n; ++i) {
        double sum = 0.0, weight = 0.0;
        for (long long j = -half_width; j <= half_width; ++j) {
            const double w = kernel[static_cast<arma::uword>(j + half_width)];
            const long long k = i + j;
            if (k < 0 || k >= n) {
                weight += w;
            } else if (!IsMissing(profile[static_cast<arma::uword>(k)])) {
                sum += w * profile[static_cast<arma::uword>(k)];
                weight += w;
            }
        }
        if (weight > 0.0) s[static_cast<arma::uword>(i)] = static_cast<float>(sum / weight);
    }
    return s;
}

// Same-length centred triangular smoothing; the profile counts as zero
// outside its range, so both ends are pulled down.
arma::Col<float> Smooth(const arma::Col<float>& profile, int half_width) {
    if (half_width <= 0) return profile;
    arma::Col<float> kernel(2 * static_cast<arma::uword>(half_width) + 1);
    for (int i = -half_width; i <= half_width; ++i)
        kernel[static_cast<arma::uword>(i + half_width)] = static_cast<float>(half_width + 1 - std::abs(i));
    float sum = 0.0f;
    for (float w : kernel) sum += w;
    kernel /= sum;
    if (profile_samples::HasMissing(profile)) return SmoothOverMissing(profile, kernel, half_width);
    arma::Col<float> full = arma::conv(profile, kernel);
    return full.subvec(static_cast<arma::uword>(half_width), static_cast<arma::uword>(half_width) + profile.n_elem - 1);
}

// A background minimum that stands more than valley_height above the line
// between two other background minima at most ten entries on is a valley.
// Heights and positions are truncated to whole numbers, as is the slope.
void MarkValleys(std::vector<Extremum>& table, const arma::Col<float>& s, float valley_height) {
    const int count = static_cast<int>(table.size());
    for (int k = 0; k < count - 4; ++k) {
        if (table[k].code != kBackground) continue;
        const int jmax = std::min(count - k, 11);
        for (int j = 1; j < jmax; ++j) {
            if (table[k + j].code != kBackground) continue;
            const int64_t x1 = TruncToInt(table[k].position);
            const int64_t y1 = TruncToInt(table[k].value);
            const int64_t x2 = TruncToInt(table[k + j].position);
            const int64_t y2 = TruncToInt(table[k + j].value);
            for (int l = 1; l < j; ++l) {
                if (table[k + l].code != kBackground) continue;
                const int64_t xm = TruncToInt(table[k + l].position);
                const int64_t slope = (y2 - y1) / (x2 - x1);
                const float h =
                    s[static_cast<arma::uword>(xm)] - static_cast<float>(y1) - static_cast<float>(slope * (xm - x1));
                if (h > valley_height) table[k + l].code = kValley;
            }
        }
    }
}

// The search range, start at least 20 and end at most the last
// element. Throws for a range with nothing to scan and for a kernel wider
// than the profile (no smoothing but a memory hazard).
void ClampSearchRange(float& start, float& end, arma::uword length, int smoothing) {
    const float last = static_cast<float>(length) - 1.0f;
    start = std::max(start, 20.0f);
    end = std::min(end, last);
    // An empty or undefined range has nothing to scan; refusing it here
    // also keeps the maximum below from running over no elements.
    if (std::isnan(start) || std::isnan(end) || !(start <= end) || length == 0) throw "No maxima or minima found";
    if (smoothing > 0 && static_cast<arma::uword>(smoothing) > length)
        throw std::invalid_argument("peak search: smoothing half-width exceeds the profile length");
}

// A height in percent of the smoothed maximum m over the range.
float PercentOf(float percent, float m) { return percent * m / 100.0f; }

// Names which maximum it is: the refusal rests on the smoothed one, while
// a user reading the profile sees the raw samples.
std::string NotAboveZeroText(arma::uword first, arma::uword last, float smoothed, float raw, bool smoothing) {
    std::ostringstream text;
    text << "peak search: the " << (smoothing ? "smoothed " : "") << "profile's largest value from " << first << " to "
         << last << " is " << smoothed;
    if (smoothing) text << " (unsmoothed " << raw << ")";
    text << ", not above 0, so heights in percent of it mean nothing (is the background subtracted too far?)";
    return text.str();
}

// The smoothed profile, the scanned range and the heights of a search.
struct SearchSetup {
    arma::Col<float> s;
    int first;
    float end;
    float min_height, valley_height;
};

// The clamped range, the smoothing and the heights in percent of the
// smoothed maximum over the range. Throws as ClampSearchRange, and
// std::invalid_argument when that maximum is not above 0: heights in
// percent of it would turn over, and every wiggle count as a peak.
SearchSetup PrepareSearch(const arma::Col<float>& profile, float min_height, float valley_height, float start,
                          float end, int smoothing) {
    ClampSearchRange(start, end, profile.n_elem, smoothing);
    SearchSetup q{Smooth(profile, smoothing), static_cast<int>(start), end, 0.0f, 0.0f};
    const arma::uword first = static_cast<arma::uword>(q.first), last = static_cast<arma::uword>(end);
    const float m = q.s.subvec(first, last).max();
    // Only measured samples tell; a range without any finds nothing anyway.
    float measured = -std::numeric_limits<float>::infinity(), raw = measured;
    for (arma::uword i = first; i <= last; ++i)
        if (!IsMissing(profile[i])) {
            measured = std::max(measured, q.s[i]);
            raw = std::max(raw, profile[i]);
        }
    if (std::isfinite(measured) && !(measured > 0.0f))
        throw std::invalid_argument(NotAboveZeroText(first, last, measured, raw, smoothing > 0));
    q.min_height = PercentOf(min_height, m);
    q.valley_height = PercentOf(valley_height, m);
    return q;
}

// What the extremum scan found, and the lowest point after its last record.
struct ScanResult {
    std::vector<Extremum> table;
    int minpos;
};

// Maxima and minima of s between first and end, each recorded once
// the curve has moved min_height away from it.
// Missing samples of the profile are passed over: no extremum lies on one.
ScanResult ScanExtrema(const arma::Col<float>& s, const arma::Col<float>& profile, int first, float end,
                       float min_height) {
    ScanResult scan{{}, 0};
    std::vector<Extremum>& table = scan.table;
    // One entry per sample at most (both kinds per sample when the threshold
    // is negative), plus the closing minimum: room for every sample and one.
    table.reserve(static_cast<size_t>(static_cast<int>(end) - first) + 2);

    float maxv = -1e10f, minv = 1e10f;
    int maxpos = 0, minpos = 0, last_max = 0, last_min = 0;
    // The step order matters: a minimum's record resets maxv after the
    // maximum test has already seen the same sample.
    for (int i = first; static_cast<float>(i) < end; ++i) {
        if (IsMissing(profile[static_cast<arma::uword>(i)])) continue;
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
            table.push_back({static_cast<float>(minpos), s[static_cast<arma::uword>(minpos)], kBackground});
            maxv = s[static_cast<arma::uword>(minpos)];
        }
    }
    scan.minpos = minpos;
    return scan;
}

// A scan ending on a falling flank closes with the lowest point
// after the last peak, if the peak is tall enough; otherwise that peak is
// dropped, and its position returned (else -1). A missing tail sample gives
// way to the last measured one before it.
float CloseScan(ScanResult& scan, const arma::Col<float>& s, const arma::Col<float>& profile, int first, float end,
                float min_height) {
    std::vector<Extremum>& table = scan.table;
    if (table.back().code != kPeak) return -1.0f;
    int tail_index = static_cast<int>(end - 1.0f);
    while (tail_index > first && IsMissing(profile[static_cast<arma::uword>(tail_index)])) --tail_index;
    const float tail = s[static_cast<arma::uword>(tail_index)];
    if (table.back().value - min_height > tail) {
        table.push_back({static_cast<float>(scan.minpos), s[static_cast<arma::uword>(scan.minpos)], kBackground});
        return -1.0f;
    }
    const float dropped = table.back().position;
    table.pop_back();
    return dropped;
}

struct CodeCounts {
    arma::uword peaks = 0, splines = 0, valleys = 0;
};

// A peak before the first background point leads the profile and
// is no peak of the fit; then the entries of each kind, with the refusals
// of a table without a peak or with fewer than two background points.
CodeCounts CountCodes(std::vector<Extremum>& table) {
    if (table.front().code == kPeak) table.front().code = kLeadingPeak;
    CodeCounts n;
    for (const Extremum& e : table) {
        n.peaks += e.code == kPeak;
        n.splines += e.code == kBackground;
        n.valleys += e.code == kValley;
    }
    if (n.peaks == 0) throw "No suitable peak was found";
    if (n.splines < 2) throw "number of splinepoints is smaller than 2";
    return n;
}

// The table, in its order, into the results: peak positions, the
// background points with the unsmoothed profile there, the valleys.
void StoreExtrema(const std::vector<Extremum>& table, const CodeCounts& n, const arma::Col<float>& profile,
                  arma::Col<float>& spline_x, arma::Col<float>& spline_y, arma::Col<float>& valley_positions,
                  arma::Mat<double>& peak_table) {
    spline_x.zeros(n.splines);
    spline_y.zeros(n.splines);
    valley_positions.zeros(n.valleys);
    peak_table.zeros(4, n.peaks);
    arma::uword ip = 0, is = 0, iv = 0;
    for (const Extremum& e : table) {
        switch (e.code) {
            case kPeak: peak_table(0, ip++) = e.position; break;
            case kBackground:
                spline_x[is] = e.position;
                spline_y[is++] = profile[static_cast<arma::uword>(e.position)];
                break;
            case kValley: valley_positions[iv++] = e.position; break;
            default: break;
        }
    }
}

}  // namespace

void PeakProfileFit::FindExtremaAndSplinePoints(float min_height, float valley_height, float start, float end,
                                                int smoothing) {
    const SearchSetup q = PrepareSearch(profile, min_height, valley_height, start, end, smoothing);
    ScanResult scan = ScanExtrema(q.s, profile, q.first, q.end, q.min_height);
    if (scan.table.size() < 2) throw "No maxima or minima found";
    CloseScan(scan, q.s, profile, q.first, q.end, q.min_height);
    MarkValleys(scan.table, q.s, q.valley_height);
    const CodeCounts n = CountCodes(scan.table);
    StoreExtrema(scan.table, n, profile, spline_x, spline_y, valley_positions, peak_table);
}

PeaksLeftOut PeakProfileFit::PeaksOutsideSearch(float min_height, float start, float end, int smoothing) const {
    const SearchSetup q = PrepareSearch(profile, min_height, 0.0f, start, end, smoothing);
    PeaksLeftOut out;
    out.first_scanned = q.first;
    out.last_scanned = static_cast<int>(std::ceil(q.end)) - 1;
    ScanResult found = ScanExtrema(q.s, profile, q.first, q.end, q.min_height);
    // The search's leading peak has no minimum before it in the samples it
    // scans; one the wider scan finds up to there rose outside them. A peak
    // found after the search's last record falls only outside them.
    float leading = -1.0f, last_recorded = -1.0f;
    if (!found.table.empty() && found.table.front().code == kPeak) leading = found.table.front().position;
    for (const Extremum& e : found.table)
        if (e.code == kPeak) last_recorded = e.position;
    std::vector<float> dropped;
    if (found.table.size() >= 2) {
        const float closing = CloseScan(found, q.s, profile, q.first, q.end, q.min_height);
        if (closing >= 0.0f) dropped.push_back(closing);
    }
    // The range asked for, every sample of it scanned. Before the first
    // sample the search scans, a peak counts that rose from somewhere: its
    // leading record at the range's very first sample is a falling start.
    const int lo = TruncToInt(std::max(start, 0.0f));
    const float stop = std::floor(std::min(end, static_cast<float>(profile.n_elem) - 1.0f)) + 1.0f;
    // The smoothing pulls the samples within its half-width of the profile's
    // ends toward 0; there the wider scan reads the samples themselves, or
    // every peak before the end would seem to fall.
    arma::Col<float> curve = q.s;
    const arma::uword n = profile.n_elem, reach = smoothing > 0 ? static_cast<arma::uword>(smoothing) : 0;
    for (arma::uword i = 0; i < n; ++i)
        if (i < reach || i + reach >= n) curve[i] = profile[i];
    const std::vector<Extremum> wide = ScanExtrema(curve, profile, lo, stop, q.min_height).table;
    std::vector<float> unseen;
    for (size_t k = 0; k < wide.size(); ++k) {
        const float x = wide[k].position;
        if (wide[k].code != kPeak) continue;
        const bool rose_unscanned =
            lo < q.first && (x < static_cast<float>(q.first) || x <= leading) && (k > 0 || x > static_cast<float>(lo));
        if (rose_unscanned || x > last_recorded) unseen.push_back(x);
    }
    out.unseen = arma::Col<float>(unseen);
    out.dropped_at_end = arma::Col<float>(dropped);
    return out;
}

int PeakProfileFit::FindPeakBounds(int p1, int p2, arma::Col<float>& bounds, int& left, int& right) const {
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
    if (l < 0 || r < 0) return 0;
    left = l;
    right = r;
    if (right < left) return 0;

    const arma::uword np = static_cast<arma::uword>(right - left + 1);
    bounds.zeros(np + 1);
    bounds[0] = spline_x[static_cast<arma::uword>(p1)];
    bounds[np] = spline_x[static_cast<arma::uword>(p2)];
    if (np >= 2) {
        for (arma::uword t = 0; t + 1 < np; ++t)
            bounds[t + 1] = static_cast<float>((peak_table(0, left + t) + peak_table(0, left + t + 1)) / 2.0);
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
            for (arma::uword t = 0; t + 1 < np; ++t) bounds[t + 1] = valley_positions[static_cast<arma::uword>(a) + t];
    }
    return 1;
}
