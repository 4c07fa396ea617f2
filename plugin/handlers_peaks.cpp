// Peak-fitting handlers: peak search with pre-fit, pre-fit of given peaks,
// and the two-stage fit of all peaks.
//
// Every image is checked before anything changes, so a refused call leaves
// the script's images and variables as they were. The search's and read-out's
// plain-text errors pass to the frame and become the host's generic error.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/sdk/image_ref.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/streams.h"
#include "profile/peak_index.h"
#include "profile/peak_profile_end.h"
#include "profile/peak_profile_fit.h"
#include "profile/profile_samples.h"

namespace {

using peak_detail::TruncToInt;

enum class Lines { AtLeast, Exactly };

// Refuses an image that is not a valid 4-byte real image (the results are
// written into it) or whose size does not fit its role. A zero requirement
// leaves that dimension free.
void RequireImage(const char* function, const char* role, LinkImage* image, uint32_t width, uint32_t height,
                  Lines lines) {
    std::string need = std::string(function) + ": the " + role + " image must be a valid 4-byte real image";
    if (width) need += " exactly " + std::to_string(width) + " pixels wide";
    if (height)
        need += std::string(width ? " and" : "") + (lines == Lines::AtLeast ? " at least " : " exactly ") +
                std::to_string(height) + " lines high";
    if (!Host::ImageIsValid(image) || Host::ImageGetDataType(image) != HOST_TYPE_REAL4)
        throw std::invalid_argument(need);
    const uint32_t w = Host::ImageGetDimensionSize(image, 0);
    const uint32_t h = Host::ImageGetDimensionSize(image, 1);
    const bool height_ok = lines == Lines::AtLeast ? h >= height : h == height;
    if ((width && w != width) || (height && !height_ok)) throw std::invalid_argument(need);
}

void RequireProfileImage(const char* function, LinkImage* image) {
    RequireImage(function, "profile", image, 0, 4, Lines::AtLeast);
}

std::string PeakName(const char* function, const PeakProfileFit& fit, arma::uword c) {
    return std::string(function) + ": peak " + std::to_string(c) + " (position " +
           std::to_string(fit.peak_table(0, c)) + ")";
}

// Refuses a profile sample in [lo, hi] (clipped to the profile) that is
// not finite: the fits would turn it into areas of 0 or a model of
// not-a-number without a word.
void RequireFiniteSamples(const char* function, const arma::Col<float>& profile, long long lo, long long hi) {
    const long long bad = profile_samples::FirstNonFinite(profile, lo, hi);
    if (bad >= 0)
        throw std::invalid_argument(std::string(function) + ": profile " +
                                    profile_samples::NonFiniteText(profile, bad));
}

// The profile range that background points first..last span.
void RequireFiniteBetweenPoints(const char* function, const PeakProfileFit& fit, arma::uword first, arma::uword last) {
    RequireFiniteSamples(function, fit.profile, TruncToInt(fit.spline_x[first]), TruncToInt(fit.spline_x[last]));
}

// Loads the three images of a given problem. The peak values and the
// background values must all be numbers.
void LoadGivenProblem(const char* function, PeakProfileFit& fit, LinkImage* profile, LinkImage* peaks,
                      LinkImage* spline_points) {
    RequireProfileImage(function, profile);
    RequireImage(function, "peak", peaks, 4, 0, Lines::AtLeast);
    RequireImage(function, "spline-point", spline_points, 0, 2, Lines::Exactly);
    fit.profile = orvan::ImageToFloatMatrix(profile).col(0);
    fit.peak_table = arma::conv_to<arma::Mat<double>>::from(orvan::ImageToFloatMatrix(peaks));
    const arma::Mat<float> points = orvan::ImageToFloatMatrix(spline_points);
    fit.spline_x = points.col(0);
    fit.spline_y = points.col(1);
    for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c)
        if (!fit.peak_table.col(c).is_finite())
            throw std::invalid_argument(PeakName(function, fit, c) + " has a value that is not a number");
    for (arma::uword i = 0; i < fit.spline_y.n_elem; ++i)
        if (!std::isfinite(fit.spline_y[i]))
            throw std::invalid_argument(std::string(function) + ": background point " + std::to_string(i) +
                                        " has a value that is not a number");
}

// The samples the search reads: its range, widened by the smoothing.
void RequireFiniteSearchRange(const PeakProfileFit& fit, float start, float end, int smoothing) {
    const long long reach = smoothing > 0 ? smoothing : 0;
    const long long first = TruncToInt(std::max(start, 20.0f));
    const long long last = TruncToInt(std::min(end, static_cast<float>(fit.profile.n_elem) - 1.0f));
    RequireFiniteSamples("PeakFindPreFit", fit.profile, first - reach, last + reach);
}

// Positions as Results lists them: whole numbers from the search as such,
// fitted ones to six digits.
std::string PositionList(const std::vector<double>& positions) {
    std::ostringstream text;
    for (size_t i = 0; i < positions.size(); ++i) text << (i ? ", " : "") << positions[i];
    return text.str();
}

std::string PeakCount(size_t n) { return std::to_string(n) + (n == 1 ? " peak" : " peaks"); }

// Names the peaks that the search leaves out: those it does not see whole
// (below 20, where it never starts, rising into its first sample, or falling
// only after its range), and a last peak that the closing rule drops.
// Throws as the search does for its range, smoothing and maximum.
void NamePeaksOutsideSearch(const PeakProfileFit& fit, float min_height, float start, float end, int smoothing) {
    const PeaksLeftOut left_out = fit.PeaksOutsideSearch(min_height, start, end, smoothing);
    if (!left_out.unseen.is_empty())
        ResultsStream << "Left out " << PeakCount(left_out.unseen.n_elem)
                      << " that the search does not see whole (it scans " << left_out.first_scanned << " to "
                      << left_out.last_scanned << "), at "
                      << PositionList(arma::conv_to<std::vector<double>>::from(left_out.unseen)) << "." << std::endl;
    if (!left_out.dropped_at_end.is_empty())
        ResultsStream << "Left out the last peak, at " << left_out.dropped_at_end[0]
                      << ": the profile at the search's last sample (" << left_out.last_scanned
                      << ") stands within the minimum height of it, so it has no background point after it."
                      << std::endl;
}

// What stopped a fit, as Results says it after "the fit".
const char* FitFailure(PeakFitOutcome outcome) {
    switch (outcome) {
        case PeakFitOutcome::kBudgetSpent: return "stopped on its evaluation budget";
        case PeakFitOutcome::kLeftWindow: return "moved a peak out of its window";
        case PeakFitOutcome::kNoData: return "had no measured sample";
        default: return "did not converge";
    }
}

// Peaks of the pre-fit's groups that kept their start values, by why,
// noted before any peak is left out (which renumbers the table).
struct UnfittedPeaks {
    std::map<std::string, std::vector<double>> positions;  // by what stopped the fit
};

// Start values are a whole-number position and width with mixing 0.5; no
// fit ends on all three.
bool AtStartValues(const PeakProfileFit& fit, arma::uword c) {
    const double x = fit.peak_table(0, c), w = fit.peak_table(2, c);
    return fit.peak_table(3, c) == 0.5 && x == std::floor(x) && w == std::floor(w);
}

// A peak whose window holds no area above the background starts at area 0,
// where the fit's difference steps do not move it: it comes back as started.
void NoteUnfittedGroups(const PeakProfileFit& fit, const std::vector<PeakGroupOutcome>& outcomes,
                        UnfittedPeaks& unfitted) {
    for (const PeakGroupOutcome& g : outcomes)
        for (int c = g.left; c <= g.right; ++c) {
            const arma::uword col = static_cast<arma::uword>(c);
            if (g.outcome != PeakFitOutcome::kFitted)
                unfitted.positions[std::string("the fit ") + FitFailure(g.outcome)].push_back(fit.peak_table(0, col));
            else if (fit.peak_table(1, col) == 0.0)
                unfitted.positions["no area above the background"].push_back(fit.peak_table(0, col));
            else if (AtStartValues(fit, col))
                unfitted.positions["the fit did not move it"].push_back(fit.peak_table(0, col));
        }
}

// One line for all of them: "at 63, 69 (the fit stopped ...); 244 (...)".
void NameUnfittedPeaks(const UnfittedPeaks& unfitted) {
    size_t count = 0;
    std::string text;
    for (const auto& [why, positions] : unfitted.positions) {
        count += positions.size();
        text += (text.empty() ? "" : "; ") + PositionList(positions) + " (" + why + ")";
    }
    if (count == 0) return;
    ResultsStream << "Handed back " << PeakCount(count) << " unfitted, at start values: at " << text << "."
                  << std::endl;
}

// Names the peaks whose data the profile's first or last sample cuts off.
void NamePeaksCutByProfileEnd(const PeakProfileFit& fit) {
    const std::vector<double> cut = PeaksCutByProfileEnd(fit);
    if (cut.empty()) return;
    ResultsStream << PeakCount(cut.size()) << (cut.size() == 1 ? " lies" : " lie") << " within " << kPeakReachHalfWidths
                  << " half widths of the profile's end, so area and width leave out what lies beyond: at "
                  << PositionList(cut) << "." << std::endl;
}

// Says which of PeakFit's two fits failed and whose peaks come back.
void NameFailedJointFits(const PeakProfileFit& fit, PeakFitOutcome first, PeakFitOutcome second,
                         const std::vector<double>& given) {
    const bool first_ok = first == PeakFitOutcome::kFitted, second_ok = second == PeakFitOutcome::kFitted;
    if ((first_ok && second_ok) || fit.peak_table.n_cols == 0) return;
    if (!first_ok && second_ok)
        ResultsStream << "PeakFit: the first fit " << FitFailure(first)
                      << "; the second, from the peaks as given, converged." << std::endl;
    else if (first_ok)
        ResultsStream << "PeakFit: the second fit " << FitFailure(second) << "; the peaks are the first fit's."
                      << std::endl;
    else if (first == second && first == PeakFitOutcome::kNotConverged)
        ResultsStream << "PeakFit: neither fit converged; " << PeakCount(given.size())
                      << " handed back unfitted, as given: at " << PositionList(given) << "." << std::endl;
    else
        ResultsStream << "PeakFit: neither fit converged (the first " << FitFailure(first) << ", the second "
                      << FitFailure(second) << "); " << PeakCount(given.size())
                      << " handed back unfitted, as given: at " << PositionList(given) << "." << std::endl;
}

// Pre-fits every background interval that holds a peak. An interval without
// one (two minima with no maximum between, as noise makes them) is passed
// over instead of ending the pre-fit, so the peaks beyond it get their
// start values too.
UnfittedPeaks PreFitEveryInterval(PeakProfileFit& fit) {
    UnfittedPeaks unfitted;
    for (int p = 0; p + 1 < static_cast<int>(fit.spline_x.n_elem); ++p)
        NoteUnfittedGroups(fit, fit.PreFitPeakRange(p, p + 1), unfitted);
    return unfitted;
}

// A peak that no interval holds keeps a width of 0: it is no peak, and
// the model would be not-a-number. Those are left out, and Results names
// them.
void LeaveOutPeaksWithoutWidth(PeakProfileFit& fit) {
    const arma::uvec kept = arma::find(fit.peak_table.row(2) != 0.0);
    if (kept.n_elem == fit.peak_table.n_cols) return;
    std::string positions;
    for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c)
        if (fit.peak_table(2, c) == 0.0)
            positions += (positions.empty() ? "" : ", ") + std::to_string(TruncToInt(fit.peak_table(0, c)));
    const arma::uword left_out = fit.peak_table.n_cols - kept.n_elem;
    if (kept.n_elem == 0) throw std::invalid_argument("PeakFindPreFit: no peak lies between two background points");
    fit.peak_table = arma::Mat<double>(fit.peak_table.cols(kept));
    ResultsStream << "Left out " << left_out << (left_out == 1 ? " peak" : " peaks")
                  << " between no two background points, at " << positions << "." << std::endl;
}

// A peak of width 0 would turn the model into not-a-number; refuse those
// that a fit or the fit curves would use (exempt: the pre-fit sets their
// width first, or the fit drops them).
void RefuseZeroWidths(const char* function, const PeakProfileFit& fit, const std::vector<bool>& exempt) {
    for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c)
        if (fit.peak_table(2, c) == 0.0 && !exempt[c])
            throw std::invalid_argument(PeakName(function, fit, c) + " has width 0");
}

// The peaks whose start values the pre-fit of intervals first..last-1 will
// set: those of each interval up to the first interval without a peak
// (fitted positions stay inside their windows, so this does not change).
// Throws std::out_of_range when the intervals do not exist.
std::vector<bool> PreFitCoverage(const PeakProfileFit& fit, int first, int last) {
    const long long n = static_cast<long long>(fit.spline_x.n_elem);
    if (first < last && (first < 0 || last > n - 1))
        throw std::out_of_range("PreFit: background intervals must lie between point 0 and point " +
                                std::to_string(n - 1));
    std::vector<bool> covered(fit.peak_table.n_cols, false);
    for (int p = first; p < last; ++p) {
        arma::Col<float> bounds;
        int left = 0, right = 0;
        if (fit.FindPeakBounds(p, p + 1, bounds, left, right) == 0) break;
        for (int c = left; c <= right; ++c) covered[static_cast<size_t>(c)] = true;
    }
    return covered;
}

// Names the peaks between background points first and last that the
// pre-fit does not reach, as it stops at the first interval without a peak.
void NamePeaksPastAnEmptyInterval(const PeakProfileFit& fit, int first, int last, const std::vector<bool>& covered) {
    if (first >= last) return;
    const double lo = fit.spline_x[static_cast<arma::uword>(first)];
    const double hi = fit.spline_x[static_cast<arma::uword>(last)];
    std::vector<double> missed;
    for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c)
        if (!covered[c] && fit.peak_table(0, c) > lo && fit.peak_table(0, c) < hi)
            missed.push_back(fit.peak_table(0, c));
    if (missed.empty()) return;
    ResultsStream << "Handed back " << PeakCount(missed.size())
                  << " as given, not pre-fitted: the pre-fit stops at the first interval without a peak; at "
                  << PositionList(missed) << "." << std::endl;
}

}  // namespace

void PeakFindPreFit(LinkImage* profile, LinkImage** peaks, LinkImage** spline_points, float min_height,
                    float valley_height, float start, float end, float smoothing) {
    orvan::RunFramed([&] {
        RequireProfileImage("PeakFindPreFit", profile);
        if (!peaks || !spline_points)
            throw std::invalid_argument("PeakFindPreFit: the peak and spline-point results need variables");
        PeakProfileFit fit;
        fit.profile = orvan::ImageToFloatMatrix(profile).col(0);
        RequireFiniteSearchRange(fit, start, end, TruncToInt(smoothing));
        ResultsStream << "Estimating peakpositions and splinepoints." << std::endl;
        NamePeaksOutsideSearch(fit, min_height, start, end, TruncToInt(smoothing));
        fit.FindExtremaAndSplinePoints(min_height, valley_height, start, end, TruncToInt(smoothing));
        fit.SubtractSplineBackground();
        ResultsStream << "Determining Peak-Fitparameters by prefitting each peak." << std::endl;
        const UnfittedPeaks unfitted = PreFitEveryInterval(fit);
        LeaveOutPeaksWithoutWidth(fit);
        NameUnfittedPeaks(unfitted);
        NamePeaksCutByProfileEnd(fit);
        orvan::StoreNewImage(peaks, orvan::FloatMatrixToRealImage(fit.GetPeakParameters(), ""));
        orvan::StoreNewImage(spline_points, orvan::FloatMatrixToRealImage(fit.GetSplinePoints(), ""));
        orvan::CopyFloatMatrixToImage(profile, fit.GetFitCurves());
    });
}

void PreFit(LinkImage* profile, LinkImage* peaks, LinkImage* spline_points, float first_point, float last_point) {
    orvan::RunFramed([&] {
        PeakProfileFit fit;
        LoadGivenProblem("PreFit", fit, profile, peaks, spline_points);
        const int first = TruncToInt(first_point), last = TruncToInt(last_point);
        RefuseZeroWidths("PreFit", fit, PreFitCoverage(fit, first, last));
        if (first < last)
            RequireFiniteBetweenPoints("PreFit", fit, static_cast<arma::uword>(first), static_cast<arma::uword>(last));
        fit.SubtractSplineBackground();
        ResultsStream << "Determining Peak-Fitparameters by prefitting each peak." << std::endl;
        const std::vector<bool> covered = PreFitCoverage(fit, first, last);
        UnfittedPeaks unfitted;
        NoteUnfittedGroups(fit, fit.PreFitPeakRange(first, last), unfitted);
        NameUnfittedPeaks(unfitted);
        NamePeaksPastAnEmptyInterval(fit, first, last, covered);
        NamePeaksCutByProfileEnd(fit);
        orvan::CopyFloatMatrixToImage(profile, fit.GetFitCurves());
        orvan::CopyFloatMatrixToImage(peaks, fit.GetPeakParameters());
        orvan::CopyFloatMatrixToImage(spline_points, fit.GetSplinePoints());
    });
}

void PeakFit(LinkImage* profile, LinkImage* peaks, LinkImage* spline_points) {
    orvan::RunFramed([&] {
        PeakProfileFit fit;
        LoadGivenProblem("PeakFit", fit, profile, peaks, spline_points);
        const int lo = TruncToInt(fit.spline_x[0]);
        const int hi = TruncToInt(fit.spline_x[fit.spline_x.n_elem - 1]);
        // Peaks outside (lo, hi) are dropped before the fit; the rest are used.
        std::vector<bool> dropped(fit.peak_table.n_cols);
        for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c)
            dropped[c] = !(fit.peak_table(0, c) > lo && fit.peak_table(0, c) < hi);
        RefuseZeroWidths("PeakFit", fit, dropped);
        RequireFiniteBetweenPoints("PeakFit", fit, 0, fit.spline_x.n_elem - 1);

        fit.PrepareFit(lo, hi);
        const std::vector<double> given = arma::conv_to<std::vector<double>>::from(fit.peak_table.row(0));
        fit.SubtractSplineBackground();
        ResultsStream << "Performing first Fit (of 2)." << std::endl;
        const PeakFitOutcome first = fit.FitAllPeaks(lo, hi);
        fit.PrepareFit(lo, hi);
        fit.EvaluateFit();
        fit.SubtractSplineBackground();
        ResultsStream << "Performing second Fit (of 2)." << std::endl;
        const PeakFitOutcome second = fit.FitAllPeaks(lo, hi);
        fit.PrepareFit(lo, hi);
        NameFailedJointFits(fit, first, second, given);
        NamePeaksCutByProfileEnd(fit);
        orvan::CopyFloatMatrixToImage(peaks, fit.GetPeakParameters());
        orvan::CopyFloatMatrixToImage(spline_points, fit.GetSplinePoints());
        orvan::CopyFloatMatrixToImage(profile, fit.GetFitCurves());
    });
}
