#include "geometry/ellipticity_fit.h"

#include "geometry/polar_projection.h"
#include "numerics/ellipse_fit.h"
#include "numerics/least_squares_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

void PseudoVoigtModel(int, const double *par, int m, const double *t, double *out)
{
    const double x0 = par[0];
    const double A = std::fabs(par[1]);
    const double w = std::fabs(par[2]);
    const double eta = std::min(1.0, std::max(0.0, par[3]));
    for (int i = 0; i < m; ++i)
        out[i] = 0.0;
    const double w2 = w * w;
    const double gauss = (1.0 - eta) * std::sqrt(M_LN2 / M_PI / w2);
    const double k = -M_LN2 / w2;
    const double lor = eta / M_PI / w;
    const double q = 1.0 / w2;
    for (int i = 0; i < m; ++i) {
        const double d = t[i] - x0;
        const double d2 = d * d;
        out[i] = out[i] + A * (gauss * std::exp(k * d2) + lor / (1.0 + q * d2)) + par[4] +
                 par[5] * i;
    }
}

arma::vec TriangleKernel(int s)
{
    arma::vec kernel(2 * static_cast<arma::uword>(s) + 1);
    for (int j = 0; j <= 2 * s; ++j)
        kernel[j] = s + 1 - std::abs(j - s);
    kernel /= static_cast<double>(s + 1) * static_cast<double>(s + 1);
    return kernel;
}

arma::vec SmoothProfile(const arma::vec &p, const arma::vec &kernel, int s)
{
    const arma::vec full = arma::conv(p, kernel);
    return full.subvec(static_cast<arma::uword>(s), static_cast<arma::uword>(s) + p.n_elem - 1);
}

void SectorFitStart(const double *initial, int n_angles, double position, double *start)
{
    std::copy(initial, initial + 6, start);
    start[0] = position;
    start[1] /= n_angles;
    start[4] /= n_angles;
    start[5] /= n_angles;
}

namespace {

// First index of the largest element (not-a-numbers passed over).
arma::uword FirstMaxIndex(const arma::vec &v)
{
    double best = -std::numeric_limits<double>::infinity();
    arma::uword index = 0;
    for (arma::uword i = 0; i < v.n_elem; ++i)
        if (v[i] > best) {
            best = v[i];
            index = i;
        }
    return index;
}

[[noreturn]] void TooFewSectors(std::size_t n)
{
    throw std::runtime_error("ellipse fit failed: " + std::to_string(n) + " usable sectors");
}

float SampleSd(const arma::Col<float> &v)
{
    return v.n_elem < 2 ? 0.0f : std::sqrt(arma::var(v));
}

} // namespace

void RefineCenterEllipticityFitCore(DiffractionPattern &pattern, int r_in, int r_out,
                                    int n_angles, int s, int fit, float *mean_radius,
                                    std::ostream &results)
{
    if (n_angles < 1)
        throw std::invalid_argument("ellipticity fit needs at least one angle bin");
    if (s < 0)
        throw std::invalid_argument("ellipticity fit needs a smoothing half-width of 0 or more");
    if (r_out <= r_in)
        throw std::invalid_argument("ellipticity fit needs an outer radius above the inner radius");
    const int n_r = r_out - r_in;
    if (fit != 0 && n_r < 3)
        throw std::invalid_argument("ellipticity fit needs at least 3 radii to fit the rings");

    const float apr = static_cast<float>(n_angles / 6.283185307179586);

    const arma::vec kernel = TriangleKernel(s);

    arma::Mat<float> S, W;
    PolarRebin(pattern.image, S, W, r_in, r_out, pattern.centerX, pattern.centerY, n_angles);

    // Sum of the sector means (not their average).
    arma::vec P(n_r, arma::fill::zeros);
    for (int r = 0; r < n_r; ++r)
        for (int a = 0; a < n_angles; ++a)
            if (static_cast<double>(W(r, a)) > 0.1)
                P[r] += static_cast<double>(S(r, a) / W(r, a));
    const arma::vec Ps = SmoothProfile(P, kernel, s);
    arma::vec X(n_r);
    for (int m = 0; m < n_r; ++m)
        X[m] = m;

    bool fitting = fit != 0;
    double initial[6] = {0, 0, 0, 0, 0, 0};
    if (fitting) {
        const float b0 = static_cast<float>((Ps[0] + Ps[1] + Ps[2]) / 3.0);
        const float b1 = static_cast<float>((Ps[n_r - 1] + Ps[n_r - 2] + Ps[n_r - 3]) / 3.0);
        const float slope = (b1 - b0) / static_cast<float>(n_r);
        arma::vec D(n_r);
        for (int m = 0; m < n_r; ++m)
            D[m] = (Ps[m] - b0) - static_cast<double>(slope * static_cast<float>(m));
        double sum = 0.0;
        for (int m = 0; m < n_r; ++m)
            sum += D[m];
        const float sumD = static_cast<float>(sum);
        const arma::uword k = FirstMaxIndex(D);
        const float Dmax = static_cast<float>(D[k]);
        int c = 0;
        for (int m = 0; m < n_r; ++m)
            c += D[m] > 0.5 * Dmax;
        const double hw = std::trunc(c / 2.0);
        initial[0] = static_cast<double>(k);
        initial[1] = sumD > 0.0f ? sumD : 0.0f;
        initial[2] = std::max(1.0, hw);
        initial[3] = 0.5;
        initial[4] = b0;
        initial[5] = slope;
        LeastSquaresFit lsf(n_r, X.memptr(), Ps.memptr(), PseudoVoigtModel);
        lsf.SetMaxIter(700);
        lsf.SetTolerance(0.0001);
        if (lsf.Fit(6, initial) == -1) {
            results << "Initial fit failed, using maxima instead" << std::endl;
            fitting = false;
        }
    }

    arma::Col<float> R(n_angles, arma::fill::zeros), Q(n_angles, arma::fill::zeros), Phi(n_angles),
        T(n_angles);
    std::vector<char> complete(static_cast<std::size_t>(n_angles), 1);
    arma::vec Pa;
    for (int a = 0; a < n_angles; ++a) {
        float total = 0.0f;
        for (int r = 0; r < n_r; ++r)
            total += W(r, a);
        T[a] = total;
        Phi[a] = static_cast<float>(a + 0.5) / apr;
        // A radius without a counted pixel would enter the profile as 0 and
        // pull the maximum away from the ring: a sector narrower than the
        // pixels (or cut by the beam stop) has no ring position.
        for (int r = 0; r < n_r; ++r)
            if (!(static_cast<double>(W(r, a)) > 0.1))
                complete[a] = 0;
        if (!complete[a])
            continue;
        for (int r = 0; r < n_r; ++r)
            P[r] = static_cast<double>(S(r, a) / W(r, a));
        Pa = SmoothProfile(P, kernel, s);

        const arma::uword m = FirstMaxIndex(Pa);
        float peak = static_cast<float>(Pa[m]);
        float delta = 0.0f;
        if (m >= 1 && m + 2 <= static_cast<arma::uword>(n_r)) {
            const float y0 = static_cast<float>(Pa[m]);
            const float yp = static_cast<float>(Pa[m + 1]);
            const float ym = static_cast<float>(Pa[m - 1]);
            delta = (yp - ym) / (4.0f * y0 - 2.0f * (yp + ym));
        }
        float radius = static_cast<float>(r_in + static_cast<int>(m)) + delta;

        if (fitting) {
            double par[6];
            // Started at the summed profile's peak, a sector whose ring lies
            // pixels away from it (a strong ellipse, a centre off) settles on
            // another feature; its own maximum is next to its own ring.
            const double own_peak = static_cast<double>(m) + static_cast<double>(delta);
            SectorFitStart(initial, n_angles, own_peak, par);
            LeastSquaresFit lsf(n_r, X.memptr(), Pa.memptr(), PseudoVoigtModel);
            lsf.SetMaxIter(100);
            lsf.SetTolerance(0.0001);
            // A peak outside the profile is no ring of the window, however
            // well the fit converged (one started from a peakless initial fit
            // wanders off by thousands of pixels).
            const bool converged = lsf.Fit(6, par) != -1;
            if (!converged || !(par[0] >= 0.0 && par[0] <= n_r - 1.0)) {
                results << "Fit failed, using maxima instead" << std::endl;
            } else {
                peak = static_cast<float>(par[1]);
                radius = static_cast<float>(par[0] + r_in);
            }
        }
        R[a] = radius;
        Q[a] = peak;
    }

    // Reject sectors without a ring position, of poor coverage, weak peaks,
    // then outlying radii; each step judges only the sectors the previous
    // one kept.
    std::vector<int> kept;
    const float coverage = static_cast<float>(0.9 * static_cast<double>(arma::mean(T)));
    for (int a = 0; a < n_angles; ++a)
        if (complete[a] && T[a] > coverage)
            kept.push_back(a);
    auto select = [&](const arma::Col<float> &v) {
        arma::Col<float> out(kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i)
            out[i] = v[kept[i]];
        return out;
    };
    if (kept.empty())
        TooFewSectors(0);
    {
        const arma::Col<float> q = select(Q);
        const double floor = static_cast<double>(arma::mean(q)) - 3.0 * static_cast<double>(SampleSd(q));
        std::vector<int> next;
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (static_cast<double>(q[i]) > floor)
                next.push_back(kept[i]);
        kept.swap(next);
    }
    if (kept.empty())
        TooFewSectors(0);
    {
        const arma::Col<float> rr = select(R);
        const float mean = arma::mean(rr);
        const double limit = 3.0 * static_cast<double>(SampleSd(rr));
        std::vector<int> next;
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (static_cast<double>(std::fabs(rr[i] - mean)) < limit)
                next.push_back(kept[i]);
        kept.swap(next);
    }
    if (kept.size() < 6)
        TooFewSectors(kept.size());

    std::vector<double> ex(kept.size()), ey(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int a = kept[i];
        ex[i] = static_cast<double>(R[a] * std::cos(Phi[a]));
        ey[i] = static_cast<double>(R[a] * std::sin(Phi[a]));
    }
    double out[6] = {0, 0, 0, 0, 0, 0};
    CEllipseFit ellipse;
    ellipse.Fit(static_cast<int>(kept.size()), ex.data(), ey.data(), out);
    if (!(out[2] > 0.0 && out[3] > 0.0 && std::isfinite(out[0]) && std::isfinite(out[1]) &&
          std::isfinite(out[2]) && std::isfinite(out[3]) && std::isfinite(out[4])))
        throw std::runtime_error("ellipse fit failed: degenerate ellipse through " +
                                 std::to_string(kept.size()) + " sectors");

    // The ellipse lives in a frame whose y axis points toward decreasing image y.
    pattern.angle = static_cast<float>(out[4]);
    pattern.axisRatio = static_cast<float>(out[2] / out[3]);
    *mean_radius = static_cast<float>((out[2] + out[3]) / 2.0);
    pattern.centerX = static_cast<float>(static_cast<double>(pattern.centerX) + out[0]);
    pattern.centerY = static_cast<float>(static_cast<double>(pattern.centerY) - out[1]);
}
