// Peak-fitting handlers: peak search with pre-fit, pre-fit of given peaks,
// and the two-stage fit of all peaks.
//
// Every image is checked before anything changes, so a refused call leaves
// the script's images and variables as they were. The search's and read-out's
// plain-text errors pass to the frame and become the host's generic error.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/sdk/image_ref.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/streams.h"
#include "profile/peak_index.h"
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

// Names the peaks that the search leaves out: below sample 20, where it
// never starts, and at the end, whose last sample it never scans. Throws
// as the search does for its range, smoothing and maximum.
void NamePeaksOutsideSearch(const PeakProfileFit& fit, float min_height, float start, float end, int smoothing) {
    const arma::Col<float> outside = fit.PeaksOutsideSearch(min_height, start, end, smoothing);
    if (outside.is_empty()) return;
    std::string positions;
    for (float x : outside) positions += (positions.empty() ? "" : ", ") + std::to_string(TruncToInt(x));
    const float last = std::min(end, static_cast<float>(fit.profile.n_elem) - 1.0f);
    ResultsStream << "Left out " << outside.n_elem << (outside.n_elem == 1 ? " peak" : " peaks")
                  << " that the search does not scan (it starts at " << TruncToInt(std::max(start, 20.0f))
                  << " and ends before " << last << "), at " << positions << "." << std::endl;
}

// Pre-fits every background interval that holds a peak. An interval without
// one (two minima with no maximum between, as noise makes them) is passed
// over instead of ending the pre-fit, so the peaks beyond it get their
// start values too.
void PreFitEveryInterval(PeakProfileFit& fit) {
    for (int p = 0; p + 1 < static_cast<int>(fit.spline_x.n_elem); ++p) fit.PreFitPeakRange(p, p + 1);
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
        PreFitEveryInterval(fit);
        LeaveOutPeaksWithoutWidth(fit);
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
        fit.PreFitPeakRange(first, last);
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
        fit.SubtractSplineBackground();
        ResultsStream << "Performing first Fit (of 2)." << std::endl;
        fit.FitAllPeaks(lo, hi);
        fit.PrepareFit(lo, hi);
        fit.EvaluateFit();
        fit.SubtractSplineBackground();
        ResultsStream << "Performing second Fit (of 2)." << std::endl;
        fit.FitAllPeaks(lo, hi);
        fit.PrepareFit(lo, hi);
        orvan::CopyFloatMatrixToImage(peaks, fit.GetPeakParameters());
        orvan::CopyFloatMatrixToImage(spline_points, fit.GetSplinePoints());
        orvan::CopyFloatMatrixToImage(profile, fit.GetFitCurves());
    });
}
