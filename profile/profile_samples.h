#pragma once
// What a profile sample may be: measured, missing, or unusable.
//
// A sample of exactly 0 is missing data (inside a beam stop or a detector
// gap the azimuthal integral has nothing to average): the peak search and
// the fits leave it out instead of reading it as an intensity of 0. A
// sample that is not finite cannot be used at all; the script functions
// refuse a range that holds one.

#include <armadillo>
#include <cmath>
#include <string>

namespace profile_samples {

inline bool IsMissing(float v) { return v == 0.0f; }

inline bool HasMissing(const arma::Col<float>& p) {
    for (float v : p)
        if (IsMissing(v)) return true;
    return false;
}

// Index of the first sample in [lo, hi] (clipped to the profile) that is
// not finite, or -1 when there is none. Never fails.
inline long long FirstNonFinite(const arma::Col<float>& p, long long lo, long long hi) {
    if (lo < 0) lo = 0;
    if (hi > static_cast<long long>(p.n_elem) - 1) hi = static_cast<long long>(p.n_elem) - 1;
    for (long long i = lo; i <= hi; ++i)
        if (!std::isfinite(p[static_cast<arma::uword>(i)])) return i;
    return -1;
}

// "sample 12 is not a number" or "sample 12 is infinite", for a refusal.
inline std::string NonFiniteText(const arma::Col<float>& p, long long i) {
    return "sample " + std::to_string(i) +
           (std::isnan(p[static_cast<arma::uword>(i)]) ? " is not a number" : " is infinite");
}

}  // namespace profile_samples
