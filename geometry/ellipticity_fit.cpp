#include "geometry/ellipticity_fit.h"

#include "geometry/ellipse_hold.h"
#include "geometry/ring_profiles.h"
#include "numerics/ellipse_fit.h"
#include "numerics/least_squares_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

void SectorFitStart(const double* initial, int n_summed, double position, double* start) {
    std::copy(initial, initial + 6, start);
    start[0] = position;
    start[1] /= n_summed;
    start[4] /= n_summed;
    start[5] /= n_summed;
}

bool DescribesOneRing(const double* par, int n, int s, double maximum) {
    const double x0 = par[0], w = std::fabs(par[2]);
    return x0 >= 0.0 && x0 <= n - 1.0 && 2.0 * w <= (n - 1.0) + (s + 1.0) && std::fabs(x0 - maximum) <= w;
}

bool FitsOneRing(const double* t, const double* P, int n, int s, int max_iter, double maximum, double* par) {
    LeastSquaresFit lsf(n, t, P, PseudoVoigtModel);
    lsf.SetMaxIter(max_iter);
    lsf.SetTolerance(0.0001);
    return lsf.Fit(6, par) != -1 && DescribesOneRing(par, n, s, maximum);
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
    const float D_max = static_cast<float>(D[k]);
    int c = 0;
    for (int m = 0; m < n_r; ++m) c += D[m] > 0.5 * D_max;
    const double hw = std::trunc(c / 2.0);
    initial[0] = static_cast<double>(k);
    initial[1] = sumD > 0.0f ? sumD : 0.0f;
    initial[2] = std::max(1.0, hw);
    initial[3] = 0.5;
    initial[4] = b0;
    initial[5] = slope;
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

// The ring fit of the summed profile over its span, whose
// parameters start every sector fit. False, after the message, when it does
// not converge, does not describe one ring of the profile, or the span is
// too short for the background's three samples at each end.
bool InitialFit(const RingWork& work, const SectorSpans& spans, RadiusSpan counted, RadiusSpan span, double* initial,
                std::ostream& results) {
    if (span.n >= 3) {
        const arma::vec Ps = SummedProfile(work, spans, counted, span);
        InitialFitStart(Ps, span.n, initial);
        double maximum = 0.0;
        ProfileMaximum(Ps, 0, span.n, maximum);
        // Converged on a hump as wide as the profile, every sector fit
        // started from it settles on such a hump too.
        if (FitsOneRing(work.X.memptr(), Ps.memptr(), span.n, work.s, 700, maximum, initial)) return true;
    }
    results << "Initial fit failed, using maxima instead" << std::endl;
    return false;
}

// The half width of the peak at sample m of profile P: half the run of
// samples around m above the middle between P[m] and the higher of the two
// minima it falls to on either side (the valley toward a neighbouring ring,
// or the profile's end).
float PeakHalfWidth(const arma::vec& P, int m) {
    const int n = static_cast<int>(P.n_elem);
    int lo = m, hi = m;
    while (lo > 0 && P[lo - 1] <= P[lo]) --lo;
    while (hi + 1 < n && P[hi + 1] <= P[hi]) ++hi;
    const double half = (P[m] + std::max(P[lo], P[hi])) / 2.0;
    lo = hi = m;
    while (lo > 0 && P[lo - 1] > half) --lo;
    while (hi + 1 < n && P[hi + 1] > half) ++hi;
    return static_cast<float>(hi - lo + 1) / 2.0f;
}

// The pseudo-Voigt fit of one sector's profile Pa over `span`, started at
// its own maximum; `initial` was fitted over `summed`, the sum of n_summed
// sector means. A fit that fails, or does not describe the ring at that
// maximum, keeps the maximum and counts in *fell_back; so does one whose
// peak lies further from it than the half width `own_width` of the
// maximum's own peak (a fit over two rings that the smoothing merged
// settles between them).
RingPosition SectorFit(const RingWork& work, RadiusSpan span, RadiusSpan summed, int n_summed, const arma::vec& Pa,
                       const double* initial, double own_peak, float own_width, RingPosition maximum, int* fell_back) {
    double par[6];
    // Started at the summed profile's peak, a sector whose ring lies
    // pixels away from it (a strong ellipse, a centre off) settles on
    // another feature; its own maximum is next to its own ring.
    SectorFitStart(initial, n_summed, own_peak, par);
    // The background's slope runs per sample from the first of the span.
    if (span.lo != summed.lo) par[4] += par[5] * (span.lo - summed.lo);
    if (!FitsOneRing(work.X.memptr(), Pa.memptr(), span.n, work.s, 100, own_peak, par) ||
        !(std::fabs(par[0] - own_peak) <= static_cast<double>(own_width))) {
        ++*fell_back;
        return maximum;
    }
    return {static_cast<float>(par[0] + (work.r_in + span.lo)), static_cast<float>(par[1])};
}

// Whether sector a, whose smoothed profile Pa over the counted radii
// `counted`, trimmed, has n samples, has found no ring inside them: its
// profile, smoothed without the zeros beyond its ends (Pm), is largest at an
// end sample, where a stop, a mask or the window cuts it while it still
// rises (its ring lies beyond, if anywhere); or Pa is largest among the s
// samples at an end of the window that the smoothing pulled toward the zeros
// beyond it, while samples it did not pull remain (a ring there is drawn
// inward, or is no ring at all).
bool NoRingInside(const RingWork& work, RadiusSpan counted, const arma::vec& Pa, const arma::vec& Pm) {
    const int n = static_cast<int>(Pa.n_elem);
    const int m = static_cast<int>(FirstMaxIndex(Pm));
    if (m == 0 || m == n - 1) return true;
    if (n <= 2 * work.s + 2) return false;
    const int k = static_cast<int>(FirstMaxIndex(Pa));
    const bool inner_cut = counted.lo > 0, outer_cut = counted.lo + counted.n < work.n_r;
    return (!inner_cut && k <= work.s) || (!outer_cut && k >= n - 1 - work.s);
}

// The half width of the peak of sector a's ring, whose smoothed profile Pa is
// largest there. Smoothed with a half-width below 2 the peak of a noisy
// profile is as wide as the noise at its top, half a sample, however broad
// its ring: the width is measured on the profile smoothed with 2, at the
// peak that the maximum climbs to there.
constexpr int kWidthSmoothing = 2;

float RingHalfWidth(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span, const arma::vec& Pa) {
    int m = static_cast<int>(FirstMaxIndex(Pa));
    if (work.s >= kWidthSmoothing) return PeakHalfWidth(Pa, m);
    const arma::vec P = SectorProfileSmoothedWith(work, a, counted, span, kWidthSmoothing);
    const int n = static_cast<int>(P.n_elem);
    for (;;) {
        if (m > 0 && P[m - 1] > P[m])
            --m;
        else if (m + 1 < n && P[m + 1] > P[m])
            ++m;
        else
            break;
    }
    return PeakHalfWidth(P, m);
}

// Per sector: ring radius R, peak height Q, middle angle Phi, total weight T,
// and whether it has a ring position at all.
struct SectorRings {
    arma::Col<float> R, Q, Phi, T;
    std::vector<char> has_ring;
    arma::Col<float> H;  // the half width of the peak at the ring, in pixels
    int no_ring = 0;     // searched sectors that found no ring inside the window
};

// The ring in every searched sector, by its profile's maximum or, when
// fitting, by a fit started there; `summed` is the span `initial` was
// fitted over. The sectors whose fit failed are counted in one line.
SectorRings FindSectorRings(const RingWork& work, const SectorSpans& spans, RadiusSpan summed, bool fitting,
                            const double* initial, std::ostream& results) {
    const int n_angles = work.n_angles;
    SectorRings rings{arma::Col<float>(n_angles, arma::fill::zeros),
                      arma::Col<float>(n_angles, arma::fill::zeros),
                      arma::Col<float>(n_angles),
                      spans.T,
                      spans.searched,
                      arma::Col<float>(n_angles, arma::fill::zeros)};
    for (int a = 0; a < n_angles; ++a) rings.Phi[a] = static_cast<float>(a + 0.5) / work.apr;
    const int n_summed = SummedCount(spans);
    int fell_back = 0, fitted = 0;
    for (int a = 0; a < n_angles; ++a) {
        if (!spans.searched[a]) continue;
        const RadiusSpan counted = spans.counted[a];
        const RadiusSpan span = Trimmed(work, counted);
        const arma::vec Pa = SectorProfile(work, a, counted, span);
        if (NoRingInside(work, counted, Pa, SectorProfileInside(work, a, counted, span))) {
            rings.has_ring[a] = 0;
            ++rings.no_ring;
            continue;
        }
        double own_peak = 0.0;
        RingPosition ring = ProfileMaximum(Pa, work.r_in + span.lo, span.n, own_peak);
        rings.H[a] = RingHalfWidth(work, a, counted, span, Pa);
        if (fitting) {
            ring = SectorFit(work, span, summed, n_summed, Pa, initial, own_peak, rings.H[a], ring, &fell_back);
            ++fitted;
        }
        rings.R[a] = ring.radius;
        rings.Q[a] = ring.peak;
    }
    // One line a call: a line per sector filled the window on noisy rings.
    if (fell_back > 0)
        results << "Fit failed, using maxima instead (" << fell_back << " of " << fitted << " sectors)" << std::endl;
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

// The kept ring points, x and y about the rebinning's centre.
void RingPoints(const SectorRings& rings, const std::vector<int>& kept, std::vector<double>& ex,
                std::vector<double>& ey) {
    ex.resize(kept.size());
    ey.resize(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int a = kept[i];
        ex[i] = static_cast<double>(rings.R[a] * std::cos(rings.Phi[a]));
        ey[i] = static_cast<double>(rings.R[a] * std::sin(rings.Phi[a]));
    }
}

// The ellipse through the kept ring points (out: centre x, y,
// semi-axes, angle). Throws for a degenerate ellipse.
void FitEllipse(const SectorRings& rings, const std::vector<int>& kept, double* out) {
    std::vector<double> ex, ey;
    RingPoints(rings, kept, ex, ey);
    CEllipseFit ellipse;
    ellipse.Fit(static_cast<int>(kept.size()), ex.data(), ey.data(), out);
    if (!(out[2] > 0.0 && out[3] > 0.0 && std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]) &&
          std::isfinite(out[3]) && std::isfinite(out[4])))
        throw std::runtime_error("ellipse fit failed: degenerate ellipse through " + std::to_string(kept.size()) +
                                 " sectors");
}

// Throws unless the kept ring points surround the centre of their ellipse
// (out, as FitEllipse gives it): seen from it, two neighbouring points half a
// turn or more apart leave the centre outside them. Points along less than
// half the ring (the rest cut away by a mask or a stop) fix the centre only as
// well as their noise allows, pixels off.
void CheckPointsSurroundCentre(const SectorRings& rings, const std::vector<int>& kept, const double* out) {
    std::vector<double> around(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int a = kept[i];
        const double x = static_cast<double>(rings.R[a] * std::cos(rings.Phi[a]));
        const double y = static_cast<double>(rings.R[a] * std::sin(rings.Phi[a]));
        around[i] = std::atan2(y - out[1], x - out[0]);
    }
    std::sort(around.begin(), around.end());
    double widest = around.front() + 2.0 * M_PI - around.back();
    for (std::size_t i = 1; i < around.size(); ++i) widest = std::max(widest, around[i] - around[i - 1]);
    if (!(widest < M_PI))
        throw std::runtime_error("ellipse fit failed: " + std::to_string(kept.size()) +
                                 " usable sectors, all on one side of their centre");
}

// How far ring point a lies off the ellipse (out, as FitEllipse gives it), in
// units of the half width of its own peak; infinite when that is not a number.
double OffRing(const SectorRings& rings, int a, const double* out) {
    const double c = std::cos(out[4]), s = std::sin(out[4]);
    const double x = static_cast<double>(rings.R[a] * std::cos(rings.Phi[a])) - out[0];
    const double y = static_cast<double>(rings.R[a] * std::sin(rings.Phi[a])) - out[1];
    const double d = std::hypot(x, y);
    const double u = (c * x + s * y) / (d * out[2]), v = (-s * x + c * y) / (d * out[3]);
    const double off = std::fabs(d - 1.0 / std::sqrt(u * u + v * v)) / static_cast<double>(rings.H[a]);
    return std::isnan(off) ? std::numeric_limits<double>::infinity() : off;
}

// The index in `kept` of the point farthest off the ellipse (out), and how far.
std::size_t FarthestOff(const SectorRings& rings, const std::vector<int>& kept, const double* out, double& off) {
    std::size_t worst = 0;
    off = 0.0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const double o = OffRing(rings, kept[i], out);
        if (o > off) {
            off = o;
            worst = i;
        }
    }
    return worst;
}

// Says what is so: how many points lie off the ellipse, and how many
// sectors held no ring at all (a spotty ring leaves many empty).
[[noreturn]] void NotOneRing(const SectorRings& rings, const std::vector<int>& kept, const double* out) {
    std::size_t off = 0;
    for (const int a : kept) off += OffRing(rings, a, out) > 1.0;
    throw std::runtime_error("ellipse fit failed: " + std::to_string(kept.size()) +
                             " usable sectors, not all on one ring (" + std::to_string(off) + " lie off it; " +
                             std::to_string(rings.no_ring) + " of " + std::to_string(rings.R.n_elem) +
                             " sectors held no ring)");
}

// Fits the ellipse (out) through the kept ring points, dropping the point
// farthest off it, relative to its peak's half width, and fitting again while
// one lies off by more than that. Stray points (noise at the top of a thin
// sector's peak, a hot pixel) lie here and there, a few in a hundred; sectors
// whose strongest ring is another one (rings whose strengths vary around the
// pattern, a ring that a mask or a stop hides in some sectors) lie side by
// side, and the ellipse bent between two rings leaves only a point or two at
// each change off it, pixels off itself. So more than one point in sixteen
// off, or two neighbouring sectors off, throws ("not all on one ring"), as
// does a degenerate ellipse (FitEllipse). Returns the points kept.
std::vector<int> FitEllipseOnOneRing(const SectorRings& rings, std::vector<int> kept, double* out) {
    const std::size_t most = kept.size() / 16;
    const int n = static_cast<int>(rings.R.n_elem);
    std::vector<char> off_ring(rings.R.n_elem, 0);
    for (std::size_t dropped = 0;; ++dropped) {
        FitEllipse(rings, kept, out);
        double off = 0.0;
        const std::size_t worst = FarthestOff(rings, kept, out, off);
        if (!(off > 1.0)) return kept;
        const int a = kept[worst];
        if (dropped == most || kept.size() <= 6 || off_ring[(a + 1) % n] || off_ring[(a + n - 1) % n])
            NotOneRing(rings, kept, out);
        off_ring[a] = 1;
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(worst));
    }
}

// Throws unless the kept ring points hold the centre of their ellipse (out)
// to kLooseCentre pixels (CentreUncertainty): points along a few arcs, or
// along one side of the ring only (a mask, a stop), agree with ellipses
// whose centres lie pixels apart.
void CheckCentreHeld(const SectorRings& rings, const std::vector<int>& kept, const double* out) {
    std::vector<double> ex, ey;
    RingPoints(rings, kept, ex, ey);
    const double u = CentreUncertainty(kept.size(), ex.data(), ey.data(), out);
    if (u <= kLooseCentre) return;
    char text[160];
    if (std::isinf(u))
        std::snprintf(text, sizeof text, "ellipse fit failed: %zu usable sectors do not fix its centre", kept.size());
    else
        std::snprintf(text, sizeof text, "ellipse fit failed: %zu usable sectors hold its centre only to %.2g pixels",
                      kept.size(), u);
    throw std::runtime_error(text);
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
                                    float* mean_radius, std::ostream& results, bool checked) {
    CheckArguments(r_in, r_out, n_angles, s, fit);
    const RingWork work = PrepareRingWork(pattern, r_in, r_out, n_angles, s);
    const SectorSpans spans = FindSectorSpans(work);
    const RadiusSpan counted = SummedSpan(work, spans);
    const RadiusSpan summed = Trimmed(work, counted);
    double initial[6] = {0, 0, 0, 0, 0, 0};
    const bool fitting = fit != 0 && InitialFit(work, spans, counted, summed, initial, results);
    const SectorRings rings = FindSectorRings(work, spans, summed, fitting, initial, results);
    std::vector<int> kept = KeptSectors(rings);
    double out[6] = {0, 0, 0, 0, 0, 0};
    if (checked) {
        kept = FitEllipseOnOneRing(rings, kept, out);
        CheckPointsSurroundCentre(rings, kept, out);
        CheckCentreHeld(rings, kept, out);
    } else {
        FitEllipse(rings, kept, out);
    }
    WriteBack(pattern, out, mean_radius);
}

namespace {

// What a refinement changes, to be put back when it fails.
struct SavedStart {
    float x, y, angle, ratio, radius;
    SavedStart(const DiffractionPattern& p, float r)
        : x(p.centerX), y(p.centerY), angle(p.angle), ratio(p.axisRatio), radius(r) {}
    void Restore(DiffractionPattern& p, float* r) const {
        p.centerX = x;
        p.centerY = y;
        p.angle = angle;
        p.axisRatio = ratio;
        *r = radius;
    }
};

}  // namespace

void RefineCenterEllipticityTwoPassCore(DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s,
                                        float* mean_radius, std::ostream& results, std::ostream& diagnostic) {
    const SavedStart start(pattern, *mean_radius);
    diagnostic << "First fit:" << std::endl;
    try {
        // Far from the centre the sectors find different rings, or the
        // window's end; their ellipse is no result, but it brings the centre
        // near enough for the second pass, whose result is checked.
        RefineCenterEllipticityFitCore(pattern, r_in, r_out, n_angles, s, 0, mean_radius, results, false);
    } catch (const std::runtime_error&) {
        // The pattern is unchanged: the second pass starts where the script did.
    }
    diagnostic << "Second fit:" << std::endl;
    try {
        RefineCenterEllipticityFitCore(pattern, r_in, r_out, n_angles, s, 0, mean_radius, results);
    } catch (...) {
        start.Restore(pattern, mean_radius);
        throw;
    }
}
