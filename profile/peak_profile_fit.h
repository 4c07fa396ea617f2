#pragma once
// Peak search, spline background and pseudo-Voigt fits on a 1-D profile.
//
// One object serves one script call: the caller sets `profile` (and, for
// script-given problems, `spline_x`, `spline_y`, `peak_table`), runs the
// operations in order and reads the results out. Positions are element
// indices of `profile` (0-based).
//
// Errors come in two kinds:
//  - the search's own refusals are thrown as plain text (a `const char *`,
//    not a std::exception) with fixed wording, so the script host reports
//    them as its generic error;
//  - inputs that would make an operation read or write outside its data
//    (mismatched or non-increasing background points, indices beyond the
//    background points) are refused with a std::invalid_argument or
//    std::out_of_range before anything changes.
// A fit that the fit driver reports as failed is no error: the peak table
// keeps what it held. A fit whose Lorentz fraction stops at 0 or 1 short of
// its best is fitted again from inside (peak_mixing_clamp.h).
//
// A profile sample of exactly 0 is missing data (profile_samples.h): the
// search passes over it, it is never a background point, its difference
// from the background stays 0, and no fit uses it.

#include "profile/peak_fit_outcome.h"

#include <armadillo>
#include <vector>

// What the peak search leaves out, and the samples it scans.
struct PeaksLeftOut {
    arma::Col<float> unseen;          // peaks whose maximum, rise or fall lies outside the scanned samples
    arma::Col<float> dropped_at_end;  // a last peak after which the profile ends within min_height of it
    int first_scanned = 0;
    int last_scanned = 0;
};

class PeakProfileFit {
public:
    PeakProfileFit() = default;
    ~PeakProfileFit() = default;
    PeakProfileFit(const PeakProfileFit&) = delete;
    PeakProfileFit& operator=(const PeakProfileFit&) = delete;

    // Finds the peaks and background points of `profile` between start and
    // end (start below 20 acts as 20, end beyond the profile as its last
    // element) after a triangular smoothing of half-width `smoothing` (0 or
    // less: none). min_height and valley_height are percent of the smoothed
    // maximum in the range. Fills `spline_x`, `spline_y`, `valley_positions`
    // and row 0 of `peak_table` (other rows 0). Missing samples are passed
    // over, and the smoothing averages the measured samples only.
    // Throws the text "No maxima or minima found" (also for an empty or NaN
    // range), "No suitable peak was found" or "number of splinepoints is
    // smaller than 2"; throws std::invalid_argument for a smoothing
    // half-width beyond the profile length. On a throw no member has changed.
    // Throws std::invalid_argument too when the smoothed maximum in the range
    // is not above 0 (a background subtracted too far): heights in percent
    // of it would mean nothing.
    void FindExtremaAndSplinePoints(float min_height, float valley_height, float start, float end, int smoothing);

    // The peaks that the same search leaves out (positions, increasing):
    // those that it does not see whole, with their maximum, rise or fall in
    // samples it does not scan (below 20 when start is lower, and the
    // range's last sample), and a last peak that the closing rule drops.
    // Throws as the search does for its range, smoothing and maximum.
    PeaksLeftOut PeaksOutsideSearch(float min_height, float start, float end, int smoothing) const;

    // Peaks lying strictly between background points p1 and p2 (indices into
    // `spline_x`, both must be valid): columns left..right of `peak_table`
    // and the np + 1 window boundaries in `bounds`. Returns 0 (left/right
    // written only when both exist) when there is no such peak, else 1.
    // Throws std::out_of_range for p1 or p2 outside `spline_x`.
    int FindPeakBounds(int p1, int p2, arma::Col<float>& bounds, int& left, int& right) const;

    // `background` := the spline through (`spline_x`, `spline_y`) at every
    // element of `profile`; `subtracted` := profile - background over the
    // background points' range clipped to the profile, 0 elsewhere.
    // Throws std::invalid_argument when the background points are empty,
    // of different lengths, not finite or not strictly increasing.
    void SubtractSplineBackground();

    // PreFitPeakRange(0, n - 1) for n background points.
    std::vector<PeakGroupOutcome> PreFitPeaks();
    // Estimates start values and fits the peaks of background intervals
    // first .. last-1, stopping at the first interval without a peak. Needs
    // SubtractSplineBackground first. Throws std::out_of_range when
    // first < last and the intervals reach outside the background points
    // (first < 0 or last > n - 1); nothing is changed then. Returns how the
    // fit of each interval's peaks ended; the peaks of one that did not fit
    // keep their start values.
    std::vector<PeakGroupOutcome> PreFitPeakRange(int first, int last);
    // Fits `peak_table` columns left..right together on `subtracted` inside
    // [bounds[0], bounds[k]] (k = right - left + 1 entries + 1 in bounds).
    // The columns change only when the fit converges and every peak stays
    // inside its window. Window parts outside the profile are ignored.
    // Returns how the fit ended. Throws std::out_of_range for columns or
    // bounds that do not exist.
    PeakFitOutcome FitPeakGroup(int left, int right, const arma::Col<float>& bounds);

    // Keeps the peaks whose position lies strictly between lo and hi,
    // ordered by ascending position.
    void PrepareFit(int lo, int hi);
    // Fits all peaks together on `subtracted` over positions lo..hi (clipped
    // to the profile). Unchanged table when the fit fails, or when there is
    // no peak or no data point (kNoData). Returns how the fit ended.
    PeakFitOutcome FitAllPeaks(int lo, int hi);
    // Moves each background point by the fitted model, so the next background
    // passes under the peaks' tails. Points outside the profile or on a
    // missing sample stay as they are. Throws std::invalid_argument when `spline_x` and `spline_y`
    // differ in length.
    void EvaluateFit();

    // 4 x peaks, `peak_table` narrowed to float.
    arma::Mat<float> GetPeakParameters() const;
    // n x 2: `spline_x`, `spline_y`. Throws the text
    // "xsplinepints!=ysplinepints" when their lengths differ.
    arma::Mat<float> GetSplinePoints() const;
    // m x 4 for m profile elements: profile, background, subtracted and the
    // model of all peaks. A curve not yet computed stays 0.
    arma::Mat<float> GetFitCurves() const;

    arma::Col<float> profile;           // measured profile
    arma::Col<float> background;        // spline background, length of profile
    arma::Col<float> subtracted;        // profile - background in spline range
    arma::Col<float> valley_positions;  // minima between overlapping peaks, increasing
    arma::Col<float> spline_x;          // background point positions, increasing
    arma::Col<float> spline_y;          // unsmoothed profile values there
    // 4 x peaks: position, area, half width at half maximum, Lorentz fraction.
    arma::Mat<double> peak_table;
};
