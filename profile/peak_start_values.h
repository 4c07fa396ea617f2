#pragma once
// Start values of one peak for the pre-fit, from the background-subtracted
// profile inside the peak's window.

#include <armadillo>

struct PeakStartValues {
    float area;  // sum over the window; 0 when that sum is not positive
    int width;   // half the samples above half the peak's height, at least 1
};

// Window [lo, hi] (element indices, both included, truncated from the window
// boundaries; parts outside `subtracted` are ignored) and the peak's
// position, whose truncated element gives the height (0 when outside).
// Never fails.
PeakStartValues EstimatePeakStart(const arma::Col<float>& subtracted, float lo, float hi, double position);
