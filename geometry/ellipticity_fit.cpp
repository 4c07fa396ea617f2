#include "geometry/ellipticity_fit.h"

#include "geometry/polar_projection.h"
#include "numerics/ellipse_fit.h"
#include "numerics/least_squares_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

void PseudoVoigtModel(int, const double* par, int m, const double* t, double* out) {
    const double x0 = par[0];
    const double A = std::fabs(par[1]);
    const double w = std::fabs(par[2]);
    const double eta = std::min(1.0, std::max(0.0, par[3]));
    for (int i = 0; i < m; ++i) out[i] = 0.0;
    const double w2 = w * w;
    const double gauss = (1.0 - eta) * std::sqrt(M_LN2 / M_PI / w2);
    const double k = -M_LN2 / w2;
    const double lor = eta / M_PI / w;
    const double q = 1.0 / w2;
    for (int i = 0; i < m; ++i) {
        const double d = t[i] - x0;
        const double d2 = d * d;
        out[i] = out[i] + A * (gauss * std::exp(k * d2) + lor / (1.0 + q * d2)) + par[4] + par[5] * i;
    }
}

arma::vec TriangleKernel(int s) {
    arma::vec kernel(2 * static_cast<arma::uword>(s) + 1);
    for (int j = 0; j <= 2 * s; ++j) kernel[j] = s + 1 - std::abs(j - s);
    kernel /= static_cast<double>(s + 1) * static_cast<double>(s + 1);
    return kernel;
}

arma::vec SmoothProfile(const arma::vec& p, const arma::vec& kernel, int s) {
    const arma::vec full = arma::conv(p, kernel);
    return full.subvec(static_cast<arma::uword>(s), static_cast<arma::uword>(s) + p.n_elem - 1);
}

void SectorFitStart(const double* initial, int n_angles, double position, double* start) {
    std::copy(initial, initial + 6, start);
    start[0] = position;
    start[1] /= n_angles;
    start[4] /= n_angles;
    start[5] /= n_angles;
}

namespace {

// First index of the largest element (not-a-numbers passed over).
arma::uword FirstMaxIndex(const arma::vec& v) {
    double best = -std::numeric_limits<double>::infinity();
    arma::uword index = 0;
    for (arma::uword i = 0; i < v.n_elem; ++i)
        if (v[i] > best) {
            best = v[i];
            index = i;
        }
    return index;
}

[[noreturn]] void TooFewSectors(std::size_t n) {
    throw std::runtime_error("ellipse fit failed: " + std::to_string(n) + " usable sectors");
}

float SampleSd(const arma::Col<float>& v) { return v.n_elem < 2 ? 0.0f : std::sqrt(arma::var(v)); }

// The fit's limits on its arguments, checked before anything is allocated.
void CheckArguments(int r_in, int r_out, int n_angles, int s, int fit) {
    if (n_angles < 1) throw std::invalid_argument("ellipticity fit needs at least one angle bin");
    if (s < 0) throw std::invalid_argument("ellipticity fit needs a smoothing half-width of 0 or more");
    if (r_out <= r_in) throw std::invalid_argument("ellipticity fit needs an outer radius above the inner radius");
    if (fit != 0 && r_out - r_in < 3)
        throw std::invalid_argument("ellipticity fit needs at least 3 radii to fit the rings");
}

// What one call works on: the window, the smoothing and the rebinned pattern
// (sums S and weights W, row r for radius r_in + r, column a for sector a).
struct RingWork {
    int r_in, n_r, n_angles, s;
    float apr;  // angle bins per radian
    arma::vec kernel;
    arma::Mat<float> S, W;
    // The shares of every pixel, missing or not, laid out as W; only made
    // when some sample of W is not counted, and empty otherwise.
    arma::Mat<float> G;
    arma::vec X;  // the sample indices 0 .. n_r - 1, the fits' abscissae
};

// A sample of the polar tables counts when its weight exceeds 0.1.
bool Counted(const arma::Mat<float>& W, int r, int a) { return static_cast<double>(W(r, a)) > 0.1; }

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

// The window, angle scale, kernel, rebinned tables and the fits' abscissae.
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

// The radii lo .. lo + n - 1 of the window (rows of the tables) that a
// profile is taken over; n = 0 for none.
struct RadiusSpan {
    int lo = 0, n = 0;
};

// The radii that some sector counts, from the first to the last: the
// summed profile leaves out the ends of the window that are all missing.
RadiusSpan SummedSpan(const RingWork& work) {
    std::vector<char> counted(static_cast<std::size_t>(work.n_r), 0);
    for (int r = 0; r < work.n_r; ++r)
        for (int a = 0; a < work.n_angles && !counted[r]; ++a) counted[r] = Counted(work.W, r, a);
    const auto first = std::find(counted.begin(), counted.end(), 1);
    if (first == counted.end()) return {};
    const int lo = static_cast<int>(first - counted.begin());
    const int end = work.n_r - static_cast<int>(std::find(counted.rbegin(), counted.rend(), 1) - counted.rbegin());
    return {lo, end - lo};
}

// The sum of the counted sector means (not their average)
// over the radii `counted`, smoothed, of which the samples `span` are kept.
arma::vec SmoothedSummedProfile(const RingWork& work, RadiusSpan counted, RadiusSpan span) {
    arma::vec P(counted.n, arma::fill::zeros);
    for (int i = 0; i < counted.n; ++i)
        for (int a = 0; a < work.n_angles; ++a)
            if (Counted(work.W, counted.lo + i, a))
                P[i] += static_cast<double>(work.S(counted.lo + i, a) / work.W(counted.lo + i, a));
    return SmoothProfile(P, work.kernel, work.s).subvec(span.lo - counted.lo, span.lo - counted.lo + span.n - 1);
}

// Start values for the fit of the summed profile Ps: a straight
// background through its three samples at each end, and a peak at the
// largest excess over it, as wide as the run above its half.
void InitialFitStart(const arma::vec& Ps, int n_r, double* initial) {
    const float b0 = static_cast<float>((Ps[0] + Ps[1] + Ps[2]) / 3.0);
    const float b1 = static_cast<float>((Ps[n_r - 1] + Ps[n_r - 2] + Ps[n_r - 3]) / 3.0);
    const float slope = (b1 - b0) / static_cast<float>(n_r);
    arma::vec D(n_r);
    for (int m = 0; m < n_r; ++m) D[m] = (Ps[m] - b0) - static_cast<double>(slope * static_cast<float>(m));
    double sum = 0.0;
    for (int m = 0; m < n_r; ++m) sum += D[m];
    const float sumD = static_cast<float>(sum);
    const arma::uword k = FirstMaxIndex(D);
    const float Dmax = static_cast<float>(D[k]);
    int c = 0;
    for (int m = 0; m < n_r; ++m) c += D[m] > 0.5 * Dmax;
    const double hw = std::trunc(c / 2.0);
    initial[0] = static_cast<double>(k);
    initial[1] = sumD > 0.0f ? sumD : 0.0f;
    initial[2] = std::max(1.0, hw);
    initial[3] = 0.5;
    initial[4] = b0;
    initial[5] = slope;
}

// The ring fit of the summed profile over its span, whose
// parameters start every sector fit. False, after the message, when it does
// not converge or the span is too short for the background's three samples
// at each end.
bool InitialFit(const RingWork& work, RadiusSpan counted, RadiusSpan span, double* initial, std::ostream& results) {
    if (span.n >= 3) {
        const arma::vec Ps = SmoothedSummedProfile(work, counted, span);
        InitialFitStart(Ps, span.n, initial);
        LeastSquaresFit lsf(span.n, work.X.memptr(), Ps.memptr(), PseudoVoigtModel);
        lsf.SetMaxIter(700);
        lsf.SetTolerance(0.0001);
        if (lsf.Fit(6, initial) != -1) return true;
    }
    results << "Initial fit failed, using maxima instead" << std::endl;
    return false;
}

// The ring of one sector: its radius and peak height.
struct RingPosition {
    float radius, peak;
};

// The largest sample of the smoothed sector profile Pa (n_r
// samples from radius r_in), refined by the vertex of the parabola through
// it and its neighbours; a maximum at either end stays where it is. `at`
// receives the sample index.
RingPosition ProfileMaximum(const arma::vec& Pa, int r_in, int n_r, double& at) {
    const arma::uword m = FirstMaxIndex(Pa);
    const float peak = static_cast<float>(Pa[m]);
    float delta = 0.0f;
    if (m >= 1 && m + 2 <= static_cast<arma::uword>(n_r)) {
        const float y0 = static_cast<float>(Pa[m]);
        const float yp = static_cast<float>(Pa[m + 1]);
        const float ym = static_cast<float>(Pa[m - 1]);
        delta = (yp - ym) / (4.0f * y0 - 2.0f * (yp + ym));
    }
    at = static_cast<double>(m) + static_cast<double>(delta);
    return {static_cast<float>(r_in + static_cast<int>(m)) + delta, peak};
}

// The pseudo-Voigt fit of one sector's profile Pa over `span`,
// started at its own maximum; `initial` was fitted over `summed`. A fit that
// fails, or ends outside the profile, keeps the maximum.
RingPosition SectorFit(const RingWork& work, RadiusSpan span, RadiusSpan summed, const arma::vec& Pa,
                       const double* initial, double own_peak, RingPosition maximum, std::ostream& results) {
    double par[6];
    // Started at the summed profile's peak, a sector whose ring lies
    // pixels away from it (a strong ellipse, a centre off) settles on
    // another feature; its own maximum is next to its own ring.
    SectorFitStart(initial, work.n_angles, own_peak, par);
    // The background's slope runs per sample from the first of the span.
    if (span.lo != summed.lo) par[4] += par[5] * (span.lo - summed.lo);
    LeastSquaresFit lsf(span.n, work.X.memptr(), Pa.memptr(), PseudoVoigtModel);
    lsf.SetMaxIter(100);
    lsf.SetTolerance(0.0001);
    // A peak outside the profile is no ring of the window, however
    // well the fit converged (one started from a peakless initial fit
    // wanders off by thousands of pixels).
    const bool converged = lsf.Fit(6, par) != -1;
    if (!converged || !(par[0] >= 0.0 && par[0] <= span.n - 1.0)) {
        results << "Fit failed, using maxima instead" << std::endl;
        return maximum;
    }
    return {static_cast<float>(par[0] + (work.r_in + span.lo)), static_cast<float>(par[1])};
}

// Per sector: ring radius R, peak height Q, middle angle Phi, total weight T,
// and whether it has a ring position at all.
struct SectorRings {
    arma::Col<float> R, Q, Phi, T;
    std::vector<char> has_ring;
};

// The coverage a kept sector must exceed: 0.9 of the mean total weight
// over all sectors.
float CoverageFloor(const arma::Col<float>& T) { return static_cast<float>(0.9 * static_cast<double>(arma::mean(T))); }

// The counted radii of sector a. A radius without a counted pixel would
// enter the profile as 0 and pull the maximum away from the ring, so the
// radii at either end whose pixels are all missing (a beam stop reaching
// into the window) are left out. The sector has no ring position (n = 0)
// when a radius between counted ones is not counted, or when one at the
// ends holds no pixel at all: the sector is narrower than the pixels, and
// its few counted radii lie anywhere.
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

// The samples of a profile smoothed over the counted radii `counted` that
// the smoothing took from counted radii alone: at an end where the window
// goes on (the radii beyond are missing) the s samples that the kernel's
// zeros pulled down are dropped. n = 0 when none is left.
RadiusSpan Trimmed(const RingWork& work, RadiusSpan counted) {
    if (counted.n == 0) return {};
    const int lo = counted.lo > 0 ? work.s : 0;
    const int hi = counted.lo + counted.n < work.n_r ? counted.n - 1 - work.s : counted.n - 1;
    return lo <= hi ? RadiusSpan{counted.lo + lo, hi - lo + 1} : RadiusSpan{};
}

// The ring in every sector, by its profile's maximum or, when
// fitting, by a fit started there; `summed` is the span `initial` was
// fitted over.
SectorRings FindSectorRings(const RingWork& work, RadiusSpan summed, bool fitting, const double* initial,
                            std::ostream& results) {
    const int n_angles = work.n_angles;
    SectorRings rings{arma::Col<float>(n_angles, arma::fill::zeros), arma::Col<float>(n_angles, arma::fill::zeros),
                      arma::Col<float>(n_angles), arma::Col<float>(n_angles),
                      std::vector<char>(static_cast<std::size_t>(n_angles), 0)};
    for (int a = 0; a < n_angles; ++a) {
        float total = 0.0f;
        for (int r = 0; r < work.n_r; ++r) total += work.W(r, a);
        rings.T[a] = total;
        rings.Phi[a] = static_cast<float>(a + 0.5) / work.apr;
    }
    const float coverage = CoverageFloor(rings.T);
    for (int a = 0; a < n_angles; ++a) {
        const RadiusSpan counted = SectorSpan(work, a);
        const RadiusSpan span = Trimmed(work, counted);
        // A cut sector that the coverage step drops anyway (the beam stop's
        // arm along it) is not searched: its fits would only fail aloud.
        if (span.n == 0 || (counted.n < work.n_r && !(rings.T[a] > coverage))) continue;
        rings.has_ring[a] = 1;
        arma::vec P(counted.n);
        for (int i = 0; i < counted.n; ++i)
            P[i] = static_cast<double>(work.S(counted.lo + i, a) / work.W(counted.lo + i, a));
        const arma::vec Pa =
            SmoothProfile(P, work.kernel, work.s).subvec(span.lo - counted.lo, span.lo - counted.lo + span.n - 1);
        double own_peak = 0.0;
        RingPosition ring = ProfileMaximum(Pa, work.r_in + span.lo, span.n, own_peak);
        if (fitting) ring = SectorFit(work, span, summed, Pa, initial, own_peak, ring, results);
        rings.R[a] = ring.radius;
        rings.Q[a] = ring.peak;
    }
    return rings;
}

// The values of v at the kept sectors, in their order.
arma::Col<float> Select(const arma::Col<float>& v, const std::vector<int>& kept) {
    arma::Col<float> out(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) out[i] = v[kept[i]];
    return out;
}

// The sectors with a ring position and more than 0.9 of the mean
// total weight (the mean over all sectors).
std::vector<int> KeepCovered(const SectorRings& rings) {
    std::vector<int> kept;
    const float coverage = CoverageFloor(rings.T);
    for (arma::uword a = 0; a < rings.T.n_elem; ++a)
        if (rings.has_ring[a] && rings.T[a] > coverage) kept.push_back(static_cast<int>(a));
    return kept;
}

// Of those, the peaks above their mean less three deviations.
std::vector<int> KeepStrongPeaks(const SectorRings& rings, const std::vector<int>& kept) {
    const arma::Col<float> q = Select(rings.Q, kept);
    const double floor = static_cast<double>(arma::mean(q)) - 3.0 * static_cast<double>(SampleSd(q));
    std::vector<int> next;
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (static_cast<double>(q[i]) > floor) next.push_back(kept[i]);
    return next;
}

// Of those, the radii within three deviations of their mean.
std::vector<int> KeepNearMeanRadius(const SectorRings& rings, const std::vector<int>& kept) {
    const arma::Col<float> rr = Select(rings.R, kept);
    const float mean = arma::mean(rr);
    const double limit = 3.0 * static_cast<double>(SampleSd(rr));
    std::vector<int> next;
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (static_cast<double>(std::fabs(rr[i] - mean)) < limit) next.push_back(kept[i]);
    return next;
}

// Rejects sectors without a ring position, of poor coverage, weak
// peaks, then outlying radii; each step judges only the sectors the
// previous one kept. Throws when fewer than six are left.
std::vector<int> KeptSectors(const SectorRings& rings) {
    std::vector<int> kept = KeepCovered(rings);
    if (kept.empty()) TooFewSectors(0);
    kept = KeepStrongPeaks(rings, kept);
    if (kept.empty()) TooFewSectors(0);
    kept = KeepNearMeanRadius(rings, kept);
    if (kept.size() < 6) TooFewSectors(kept.size());
    return kept;
}

// The ellipse through the kept ring points (out: centre x, y,
// semi-axes, angle). Throws for a degenerate ellipse.
void FitEllipse(const SectorRings& rings, const std::vector<int>& kept, double* out) {
    std::vector<double> ex(kept.size()), ey(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int a = kept[i];
        ex[i] = static_cast<double>(rings.R[a] * std::cos(rings.Phi[a]));
        ey[i] = static_cast<double>(rings.R[a] * std::sin(rings.Phi[a]));
    }
    CEllipseFit ellipse;
    ellipse.Fit(static_cast<int>(kept.size()), ex.data(), ey.data(), out);
    if (!(out[2] > 0.0 && out[3] > 0.0 && std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]) &&
          std::isfinite(out[3]) && std::isfinite(out[4])))
        throw std::runtime_error("ellipse fit failed: degenerate ellipse through " + std::to_string(kept.size()) +
                                 " sectors");
}

// Writes the ellipse into the pattern. It lives in a frame whose y axis
// points toward decreasing image y.
void WriteBack(DiffractionPattern& pattern, const double* out, float* mean_radius) {
    pattern.angle = static_cast<float>(out[4]);
    pattern.axisRatio = static_cast<float>(out[2] / out[3]);
    *mean_radius = static_cast<float>((out[2] + out[3]) / 2.0);
    pattern.centerX = static_cast<float>(static_cast<double>(pattern.centerX) + out[0]);
    pattern.centerY = static_cast<float>(static_cast<double>(pattern.centerY) - out[1]);
}

}  // namespace

void RefineCenterEllipticityFitCore(DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s, int fit,
                                    float* mean_radius, std::ostream& results) {
    CheckArguments(r_in, r_out, n_angles, s, fit);
    const RingWork work = PrepareRingWork(pattern, r_in, r_out, n_angles, s);
    const RadiusSpan counted = SummedSpan(work);
    const RadiusSpan summed = Trimmed(work, counted);
    double initial[6] = {0, 0, 0, 0, 0, 0};
    const bool fitting = fit != 0 && InitialFit(work, counted, summed, initial, results);
    const SectorRings rings = FindSectorRings(work, summed, fitting, initial, results);
    const std::vector<int> kept = KeptSectors(rings);
    double out[6] = {0, 0, 0, 0, 0, 0};
    FitEllipse(rings, kept, out);
    WriteBack(pattern, out, mean_radius);
}
