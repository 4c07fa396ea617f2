#pragma once
// Profiles made from chosen pseudo-Voigt peaks, and the operation sequences
// the peak script functions run, for the peak-fit tests.

#include "profile/peak_profile_fit.h"
#include "profile/peak_pseudo_voigt.h"

#include <armadillo>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace peak_test {

struct TruePeak {
    double x0, area, w, eta;
};

// m samples: background(i) plus the peaks, plus Gaussian noise of the given
// standard deviation (0: none) from a fixed seed.
inline arma::Col<float> MakeProfile(arma::uword m, const std::vector<TruePeak>& peaks,
                                    const std::function<double(double)>& background, double noise = 0.0,
                                    unsigned seed = 7) {
    std::vector<double> par;
    for (const TruePeak& p : peaks) par.insert(par.end(), {p.x0, p.area, p.w, p.eta});
    arma::Col<double> t = arma::regspace<arma::Col<double>>(0, double(m) - 1), model(m);
    PseudoVoigtSum(int(par.size()), par.data(), int(m), t.memptr(), model.memptr());
    std::mt19937 rng(seed);
    // Uniform in (0, 1) straight from the engine, whose sequence is fixed.
    auto u = [&rng] { return (double(rng()) + 0.5) / 4294967296.0; };
    arma::Col<float> out(m);
    for (arma::uword i = 0; i < m; ++i) {
        double v = background(double(i)) + model[i];
        if (noise > 0.0) {  // Box-Muller: the same draw with every library
            const double u1 = u(), u2 = u();
            v += noise * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
        }
        out[i] = float(v);
    }
    return out;
}

// The sequence of the peak search script function.
inline void FindAndPreFit(PeakProfileFit& f, float min_height, float valley_height, float start, float end,
                          int smoothing) {
    f.FindExtremaAndSplinePoints(min_height, valley_height, start, end, smoothing);
    f.SubtractSplineBackground();
    f.PreFitPeaks();
}

// The two-stage fit sequence of the peak fit script function.
inline void TwoStageFit(PeakProfileFit& f) {
    const int lo = int(f.spline_x[0]);
    const int hi = int(f.spline_x[f.spline_x.n_elem - 1]);
    f.PrepareFit(lo, hi);
    f.SubtractSplineBackground();
    f.FitAllPeaks(lo, hi);
    f.PrepareFit(lo, hi);
    f.EvaluateFit();
    f.SubtractSplineBackground();
    f.FitAllPeaks(lo, hi);
    f.PrepareFit(lo, hi);
}

// The text a call throws as plain text, or "" when it throws none.
template <class F>
std::string ThrownText(F&& call) {
    try {
        call();
    } catch (const char* text) {
        return text;
    }
    return "";
}

}  // namespace peak_test
