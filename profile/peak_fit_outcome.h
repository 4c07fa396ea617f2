#pragma once
// How a peak fit ended, so that a caller can say which peaks came back
// without a fit and why.

enum class PeakFitOutcome {
    kFitted,        // converged, finite, every peak in its window: the table holds the fit
    kNotConverged,  // the fit driver reported no convergence, or values that are not numbers
    kBudgetSpent,   // the fit stopped on its evaluation budget
    kLeftWindow,    // converged, but a peak ended outside its window
    kNoData,        // no measured sample to fit
};

// The outcome of the group fit of `peak_table` columns left..right.
struct PeakGroupOutcome {
    int left;
    int right;
    PeakFitOutcome outcome;
};
