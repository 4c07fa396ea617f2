// Spline background, per-interval pre-fit, fits of all peaks and the
// read-out of the results.

#include "numerics/least_squares_fit.h"
#include "numerics/spline.h"
#include "profile/peak_index.h"
#include "profile/peak_mixing_clamp.h"
#include "profile/peak_profile_fit.h"
#include "profile/peak_pseudo_voigt.h"
#include "profile/peak_start_values.h"
#include "profile/profile_samples.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

using peak_detail::TruncToInt;
using profile_samples::IsMissing;

namespace {

// lmmin's outcome for a spent evaluation budget.
constexpr int kBudgetSpentOutcome = 5;

// Data range [lo, hi] clipped to n elements; false when nothing is left.
bool ClipRange(long long& lo, long long& hi, arma::uword n) {
    lo = std::max(lo, 0LL);
    hi = std::min(hi, static_cast<long long>(n) - 1);
    return lo <= hi;
}

// The model of all peaks of `table` at t = 0 .. m-1.
arma::Col<double> ModelCurve(const arma::Mat<double>& table, arma::uword m) {
    arma::Col<double> t(m), out(m);
    for (arma::uword i = 0; i < m; ++i) t[i] = static_cast<double>(i);
    PseudoVoigtSum(static_cast<int>(table.n_elem), table.memptr(), static_cast<int>(m), t.memptr(), out.memptr());
    return out;
}

// Whether element i of the profile is missing data (no element: not missing).
bool MissingAt(const arma::Col<float>& profile, arma::uword i) { return i < profile.n_elem && IsMissing(profile[i]); }

// Fits the parameter block M to subtracted[lo .. hi], leaving out the
// profile's missing samples. A result with a value that is not finite, or
// a window without data, counts as failed. A mixing stuck at a clamp is
// fitted again from inside, and the restart kept only where `sound`
// accepts it.
PeakFitOutcome FitBlock(const arma::Col<float>& subtracted, const arma::Col<float>& profile, long long lo, long long hi,
                        arma::Mat<double>& M, int max_iter, double tolerance,
                        const std::function<bool(const arma::Mat<double>&)>& sound) {
    const arma::uword n = static_cast<arma::uword>(hi - lo + 1);
    arma::Col<double> t(n), y(n);
    arma::uword m = 0;
    for (arma::uword i = 0; i < n; ++i) {
        const arma::uword j = static_cast<arma::uword>(lo) + i;
        if (MissingAt(profile, j)) continue;
        t[m] = static_cast<double>(lo + static_cast<long long>(i));
        y[m++] = subtracted[j];
    }
    if (m == 0) return PeakFitOutcome::kNoData;
    LeastSquaresFit fit(static_cast<int>(m), t.memptr(), y.memptr(), PseudoVoigtSum);
    fit.SetMaxIter(max_iter);
    fit.SetTolerance(tolerance);
    const int r = fit.Fit(static_cast<int>(M.n_elem), M.memptr());
    if (r != 0)
        return fit.LastOutcome() == kBudgetSpentOutcome ? PeakFitOutcome::kBudgetSpent : PeakFitOutcome::kNotConverged;
    if (!M.is_finite()) return PeakFitOutcome::kNotConverged;
    RefitStuckMixing(fit, M, t.memptr(), y.memptr(), static_cast<int>(m), sound);
    return M.is_finite() ? PeakFitOutcome::kFitted : PeakFitOutcome::kNotConverged;
}

// Area and width as magnitudes, the mixing inside [0, 1], peaks by position.
void CleanUp(arma::Mat<double>& M) {
    for (arma::uword c = 0; c < M.n_cols; ++c) {
        M(1, c) = std::fabs(M(1, c));
        M(2, c) = std::fabs(M(2, c));
        M(3, c) = std::min(std::max(M(3, c), 0.0), 1.0);
    }
    const arma::uvec order = arma::stable_sort_index(M.row(0));
    M = M.cols(order);
}

}  // namespace

void PeakProfileFit::SubtractSplineBackground() {
    const arma::uword n = spline_x.n_elem;
    if (n == 0 || spline_y.n_elem != n)
        throw std::invalid_argument("background points: positions and values must be non-empty and of equal length");
    for (arma::uword i = 0; i < n; ++i)
        if (!std::isfinite(spline_x[i]) || (i > 0 && !(spline_x[i - 1] < spline_x[i])))
            throw std::invalid_argument("background points: positions must be finite and strictly increasing");

    arma::Mat<float> coef(n, 4, arma::fill::zeros);
    SplineCoefficients(static_cast<int>(n), spline_x, spline_y, coef);
    const arma::uword m = profile.n_elem;
    background.zeros(m);
    subtracted.zeros(m);
    SplineEvaluate(static_cast<int>(m), background, static_cast<int>(n), spline_x, coef);

    long long lo = TruncToInt(spline_x[0]);
    long long hi = TruncToInt(spline_x[n - 1]);
    // A missing sample has no difference from the background: it stays 0.
    if (ClipRange(lo, hi, m))
        for (long long i = lo; i <= hi; ++i)
            if (!IsMissing(profile[static_cast<arma::uword>(i)]))
                subtracted[static_cast<arma::uword>(i)] =
                    profile[static_cast<arma::uword>(i)] - background[static_cast<arma::uword>(i)];
}

std::vector<PeakGroupOutcome> PeakProfileFit::PreFitPeaks() {
    return PreFitPeakRange(0, static_cast<int>(spline_x.n_elem) - 1);
}

std::vector<PeakGroupOutcome> PeakProfileFit::PreFitPeakRange(int first, int last) {
    if (first < last && (first < 0 || static_cast<long long>(last) >= static_cast<long long>(spline_x.n_elem)))
        throw std::out_of_range("PreFit: background intervals must lie between point 0 and point " +
                                std::to_string(static_cast<long long>(spline_x.n_elem) - 1));
    if (first < last && peak_table.n_cols > 0 && peak_table.n_rows != 4)
        throw std::invalid_argument("PreFit: the peak table must have 4 rows");
    std::vector<PeakGroupOutcome> outcomes;
    for (int p = first; p < last; ++p) {
        arma::Col<float> bounds;
        int left = 0, right = 0;
        if (FindPeakBounds(p, p + 1, bounds, left, right) == 0) break;
        for (int t = 0; t <= right - left; ++t) {
            const arma::uword col = static_cast<arma::uword>(left + t);
            const PeakStartValues start =
                EstimatePeakStart(subtracted, bounds[static_cast<arma::uword>(t)],
                                  bounds[static_cast<arma::uword>(t) + 1], peak_table(0, col));
            peak_table(1, col) = start.area;
            peak_table(2, col) = start.width;
            peak_table(3, col) = 0.5;
        }
        outcomes.push_back({left, right, FitPeakGroup(left, right, bounds)});
    }
    return outcomes;
}

PeakFitOutcome PeakProfileFit::FitPeakGroup(int left, int right, const arma::Col<float>& bounds) {
    if (left < 0 || right < left || static_cast<arma::uword>(right) >= peak_table.n_cols || peak_table.n_rows != 4 ||
        bounds.n_elem < static_cast<arma::uword>(right - left) + 2)
        throw std::out_of_range("FitPeakGroup: peak columns or window bounds do not exist");
    const arma::uword k = static_cast<arma::uword>(right - left + 1);
    long long a = TruncToInt(bounds[0]);
    long long b = TruncToInt(bounds[k]);
    if (!ClipRange(a, b, subtracted.n_elem)) return PeakFitOutcome::kNoData;
    // A peak that wandered out of its window has been captured by its
    // neighbour or the background; keep the estimates instead.
    const auto in_windows = [&bounds, k](const arma::Mat<double>& fitted) {
        for (arma::uword c = 0; c < k; ++c)
            if (!(bounds[c] <= fitted(0, c) && fitted(0, c) <= bounds[c + 1])) return false;
        return true;
    };
    arma::Mat<double> M = peak_table.cols(static_cast<arma::uword>(left), static_cast<arma::uword>(right));
    PeakFitOutcome outcome = FitBlock(subtracted, profile, a, b, M, 200, 0.001, in_windows);
    if (outcome == PeakFitOutcome::kFitted && !in_windows(M)) outcome = PeakFitOutcome::kLeftWindow;
    if (outcome != PeakFitOutcome::kFitted) return outcome;
    CleanUp(M);
    peak_table.cols(static_cast<arma::uword>(left), static_cast<arma::uword>(right)) = M;
    return outcome;
}

void PeakProfileFit::PrepareFit(int lo, int hi) {
    if (peak_table.n_cols == 0 || peak_table.n_rows == 0) return;
    const arma::uvec inside =
        arma::find(peak_table.row(0) > static_cast<double>(lo) && peak_table.row(0) < static_cast<double>(hi));
    arma::Mat<double> kept = peak_table.cols(inside);
    const arma::uvec order = arma::stable_sort_index(kept.row(0));
    peak_table = kept.cols(order);
}

PeakFitOutcome PeakProfileFit::FitAllPeaks(int lo, int hi) {
    long long a = lo, b = hi;
    if (peak_table.n_cols == 0 || peak_table.n_rows != 4 || !ClipRange(a, b, subtracted.n_elem))
        return PeakFitOutcome::kNoData;
    arma::Mat<double> M = peak_table;
    const PeakFitOutcome outcome =
        FitBlock(subtracted, profile, a, b, M, 700, 0.0001, [](const arma::Mat<double>&) { return true; });
    if (outcome != PeakFitOutcome::kFitted) return outcome;
    CleanUp(M);
    peak_table = M;
    return outcome;
}

void PeakProfileFit::EvaluateFit() {
    if (spline_x.n_elem != spline_y.n_elem)
        throw std::invalid_argument("EvaluateFit: background positions and values differ in length");
    const arma::uword m = std::min(profile.n_elem, subtracted.n_elem);
    const arma::Col<double> model = ModelCurve(peak_table, m);
    for (arma::uword i = 0; i < spline_x.n_elem; ++i) {
        const long long x = TruncToInt(spline_x[i]);
        if (x < 0 || x >= static_cast<long long>(m)) continue;  // no data there to compare the model with
        const arma::uword j = static_cast<arma::uword>(x);
        if (IsMissing(profile[j])) continue;
        spline_y[i] =
            static_cast<float>(static_cast<double>(spline_y[i]) - model[j] + static_cast<double>(subtracted[j]));
    }
}

arma::Mat<float> PeakProfileFit::GetPeakParameters() const { return arma::conv_to<arma::Mat<float>>::from(peak_table); }

arma::Mat<float> PeakProfileFit::GetSplinePoints() const {
    if (spline_x.n_elem != spline_y.n_elem) throw "xsplinepints!=ysplinepints";
    return arma::join_rows(spline_x, spline_y);
}

arma::Mat<float> PeakProfileFit::GetFitCurves() const {
    const arma::uword m = profile.n_elem;
    arma::Mat<float> curves(m, 4, arma::fill::zeros);
    curves.col(0) = profile;
    if (background.n_elem == m) curves.col(1) = background;
    if (subtracted.n_elem == m) curves.col(2) = subtracted;
    curves.col(3) = arma::conv_to<arma::Col<float>>::from(ModelCurve(peak_table, m));
    return curves;
}
