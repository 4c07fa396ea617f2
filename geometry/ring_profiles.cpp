#include "geometry/ring_profiles.h"

#include "geometry/polar_projection.h"
#include "geometry/profile_smoothing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The pixels [first, end) within r_out + 1 of c along an axis of `size`
// pixels; the whole axis when c is not finite.
void WindowRange(float c, int r_out, std::uint64_t size, std::uint64_t& first, std::uint64_t& end) {
    first = 0;
    end = size;
    if (!std::isfinite(c)) return;
    const double lo = std::floor(static_cast<double>(c)) - r_out - 1.0;
    const double hi = std::floor(static_cast<double>(c)) + r_out + 2.0;
    if (lo > 0.0) first = lo >= static_cast<double>(size) ? size : static_cast<std::uint64_t>(lo);
    if (hi < static_cast<double>(size)) end = hi <= static_cast<double>(first) ? first : static_cast<std::uint64_t>(hi);
}

// The rebinned weights of an image with no missing pixel over the window's
// bounding box: where a share is 0.1 or less, no pixel at all reaches that
// radius of that sector. The centre moves by whole pixels, so every pixel
// keeps its float offsets, bins and order of addition.
arma::Mat<float> PixelShares(const DiffractionPattern& pattern, int r_in, int r_out, int n_angles) {
    std::uint64_t x0, x1, y0, y1;
    WindowRange(pattern.centerX, r_out, pattern.image.n_rows, x0, x1);
    WindowRange(pattern.centerY, r_out, pattern.image.n_cols, y0, y1);
    arma::Mat<float> sums, shares;
    if (x1 == x0 || y1 == y0) return arma::Mat<float>(r_out - r_in + 1, n_angles, arma::fill::zeros);
    const arma::Mat<float> present(x1 - x0, y1 - y0, arma::fill::ones);
    PolarRebin(present, sums, shares, r_in, r_out, pattern.centerX - static_cast<float>(x0),
               pattern.centerY - static_cast<float>(y0), n_angles);
    return shares;
}

// The smoothed samples `span` of a profile P taken over the radii `counted`,
// smoothed without the zeros beyond them when `inside`.
arma::vec SmoothedSpan(const RingWork& work, const arma::vec& P, RadiusSpan counted, RadiusSpan span,
                       bool inside = false) {
    const auto first = static_cast<arma::uword>(span.lo - counted.lo);
    const arma::vec smooth =
        inside ? SmoothProfileInside(P, work.kernel, work.s) : SmoothProfile(P, work.kernel, work.s);
    return smooth.subvec(first, first + static_cast<arma::uword>(span.n) - 1);
}

// Sector a's mean over its counted radii.
arma::vec SectorMeans(const RingWork& work, int a, RadiusSpan counted) {
    arma::vec P(counted.n);
    for (int i = 0; i < counted.n; ++i)
        P[i] = static_cast<double>(work.S(counted.lo + i, a) / work.W(counted.lo + i, a));
    return P;
}

// The searched sectors that the summed profile adds: those whose counted
// radii begin no further out than those of at least half of the searched
// sectors. A stop off the pattern's centre cuts the sectors on its far side
// deeper; the radii that every sector counts would begin a few samples before
// the ring, leaving the initial fit no background to stand on, and it settled
// on a peak as wide as the profile.
std::vector<char> SummedSectors(const RingWork& work, const SectorSpans& spans) {
    std::vector<int> starts;
    for (int a = 0; a < work.n_angles; ++a)
        if (spans.searched[a]) starts.push_back(spans.counted[a].lo);
    std::vector<char> summed(spans.searched);
    if (starts.empty()) return summed;
    std::nth_element(starts.begin(), starts.begin() + (starts.size() - 1) / 2, starts.end());
    const int median = starts[(starts.size() - 1) / 2];
    for (int a = 0; a < work.n_angles; ++a)
        if (spans.counted[a].lo > median) summed[a] = 0;
    return summed;
}

}  // namespace

RingWork PrepareRingWork(const DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s) {
    RingWork work{r_in, r_out - r_in, n_angles, s, 0.0f, {}, {}, {}, {}, {}};
    work.apr = static_cast<float>(n_angles / 6.283185307179586);
    work.kernel = TriangleKernel(s);
    PolarRebin(pattern.image, work.S, work.W, r_in, r_out, pattern.centerX, pattern.centerY, n_angles);
    bool all_counted = true;
    for (int a = 0; a < n_angles && all_counted; ++a)
        for (int r = 0; r < work.n_r && all_counted; ++r) all_counted = Counted(work.W, r, a);
    if (!all_counted) work.G = PixelShares(pattern, r_in, r_out, n_angles);
    work.X.set_size(work.n_r);
    for (int m = 0; m < work.n_r; ++m) work.X[m] = m;
    return work;
}

RadiusSpan SectorSpan(const RingWork& work, int a) {
    int lo = 0, hi = work.n_r - 1;
    while (lo <= hi && !Counted(work.W, lo, a)) ++lo;
    while (hi >= lo && !Counted(work.W, hi, a)) --hi;
    if (lo > hi) return {};
    for (int r = lo + 1; r < hi; ++r)
        if (!Counted(work.W, r, a)) return {};
    for (int r = 0; r < work.n_r; ++r)
        if ((r < lo || r > hi) && !Counted(work.G, r, a)) return {};
    return {lo, hi - lo + 1};
}

RadiusSpan Trimmed(const RingWork& work, RadiusSpan counted) {
    if (counted.n == 0) return {};
    const int lo = counted.lo > 0 ? work.s : 0;
    const int hi = counted.lo + counted.n < work.n_r ? counted.n - 1 - work.s : counted.n - 1;
    return lo <= hi ? RadiusSpan{counted.lo + lo, hi - lo + 1} : RadiusSpan{};
}

float CoverageFloor(const arma::Col<float>& T) { return static_cast<float>(0.9 * static_cast<double>(arma::mean(T))); }

SectorSpans FindSectorSpans(const RingWork& work) {
    const auto n = static_cast<std::size_t>(work.n_angles);
    SectorSpans spans{std::vector<RadiusSpan>(n), std::vector<char>(n, 0), arma::Col<float>(work.n_angles), {}};
    for (int a = 0; a < work.n_angles; ++a) {
        float total = 0.0f;
        for (int r = 0; r < work.n_r; ++r) total += work.W(r, a);
        spans.T[a] = total;
    }
    const float coverage = CoverageFloor(spans.T);
    for (int a = 0; a < work.n_angles; ++a) {
        spans.counted[a] = SectorSpan(work, a);
        // A cut sector that the coverage step drops anyway (the beam stop's
        // arm along it) is not searched: its fits would only fail aloud.
        const RadiusSpan counted = spans.counted[a];
        spans.searched[a] = Trimmed(work, counted).n > 0 && (counted.n == work.n_r || spans.T[a] > coverage) ? 1 : 0;
    }
    spans.summed = SummedSectors(work, spans);
    return spans;
}

RadiusSpan SummedSpan(const RingWork& work, const SectorSpans& spans) {
    int lo = 0, end = work.n_r;
    bool any = false;
    for (int a = 0; a < work.n_angles; ++a)
        if (spans.summed[a]) {
            any = true;
            lo = std::max(lo, spans.counted[a].lo);
            end = std::min(end, spans.counted[a].lo + spans.counted[a].n);
        }
    return any && lo < end ? RadiusSpan{lo, end - lo} : RadiusSpan{};
}

int SearchedCount(const SectorSpans& spans) {
    return static_cast<int>(std::count(spans.searched.begin(), spans.searched.end(), 1));
}

int SummedCount(const SectorSpans& spans) {
    return static_cast<int>(std::count(spans.summed.begin(), spans.summed.end(), 1));
}

arma::vec SummedProfile(const RingWork& work, const SectorSpans& spans, RadiusSpan counted, RadiusSpan span) {
    arma::vec P(counted.n, arma::fill::zeros);
    for (int i = 0; i < counted.n; ++i)
        for (int a = 0; a < work.n_angles; ++a)
            if (spans.summed[a]) P[i] += static_cast<double>(work.S(counted.lo + i, a) / work.W(counted.lo + i, a));
    return SmoothedSpan(work, P, counted, span);
}

arma::vec SectorProfile(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span) {
    return SmoothedSpan(work, SectorMeans(work, a, counted), counted, span);
}

arma::vec SectorProfileInside(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span) {
    return SmoothedSpan(work, SectorMeans(work, a, counted), counted, span, true);
}

arma::vec SectorProfileSmoothedWith(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span, int s) {
    const arma::vec smooth = SmoothProfile(SectorMeans(work, a, counted), TriangleKernel(s), s);
    const auto first = static_cast<arma::uword>(span.lo - counted.lo);
    return smooth.subvec(first, first + static_cast<arma::uword>(span.n) - 1);
}
