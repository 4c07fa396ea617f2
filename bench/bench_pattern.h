// The square test patterns the benchmarks run on: four elliptical rings at
// 0.1 to 0.4 of the size, noise and a beam stop, made once per size.
#pragma once

#include "tests/geometry/synthetic_pattern.h"

#include <map>

// The pattern of side n with its centre (dx, dy) from the middle, the long
// axis at `angle` radians and ring width `sigma` (0: the maker's default).
inline const arma::Mat<float>& BenchPattern(unsigned n, double dx, double dy, double angle, double sigma = 0) {
    static std::map<unsigned, arma::Mat<float>> cache;
    auto it = cache.find(n);
    if (it == cache.end()) {
        RingSpec s;
        s.width = s.height = n;
        s.cx = n / 2.0 + dx;
        s.cy = n / 2.0 + dy;
        s.ratio = 1.04;
        s.angle = angle;
        s.radii = {n * 0.1, n * 0.2, n * 0.3, n * 0.4};
        if (sigma > 0) s.sigma = sigma;
        s.noise = 10;
        s.beamStop = n * 0.03;
        it = cache.emplace(n, MakeRingPattern(s)).first;
    }
    return it->second;
}
