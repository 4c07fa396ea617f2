#pragma once
// The pixels an elliptical ring profile can count while only its axis ratio
// and angle change, gathered once so that each trial walks a short list
// instead of the image.

#include "geometry/pixel_view.h"

#include <armadillo>
#include <cstdint>
#include <vector>

// The non-zero pixels of `image` whose elliptical radius around (cx, cy) can
// fall in the profile range r_min - 1 < r < r_max - 1 for some axis ratio q
// with Covers(q) and any angle, as offsets from the centre and values, in the
// kernels' pixel order (x outer, y inner). The list is split into bands of
// profile bins; a band keeps every pixel that can reach one of its bins, so
// bands overlap near their edges. The image is copied into the list: later
// changes of the image are not seen.
class EllipticalRingPixels {
public:
    // Throws std::invalid_argument unless r_min < r_max; allocation failure
    // for very large images.
    EllipticalRingPixels(const PixelView& image, float cx, float cy, std::uint32_t r_min, std::uint32_t r_max);

    // The ratios the list is complete for: 1 <= q <= 1.1 (q widened to
    // double), the range in which the ellipticity cost integrates.
    static bool Covers(float q) { return q >= 1.0f && static_cast<double>(q) <= 1.1; }

    // For Covers(q), bit for bit AzimuthalIntegralEllipticityKernel(image,
    // r_min, r_max, cx, cy, q, angle, 1), the profile without coverage
    // normalisation; every bin's sum keeps the kernel's pixel order whatever
    // the band split. Bands run on worker threads when there are several.
    // Throws std::invalid_argument for a ratio outside Covers (not a number
    // included).
    arma::Col<float> UnnormalisedProfile(float q, float angle) const;

    // True when the list was made for these pixels (the same memory and
    // size) and centre.
    bool MadeFor(const PixelView& image, float cx, float cy) const;

    std::size_t BandCount() const { return bands_.size(); }

private:
    struct Band {
        std::uint32_t first = 0, last = 0;  // the profile bins it owns: first .. last - 1
        std::uint32_t low = 0, high = 0;    // the bins its pixels can reach: low .. high - 1
        std::vector<float> dx, dy, v;
    };
    const float* memory_;
    arma::uword rows_, cols_;
    float cx_, cy_;
    std::uint32_t r_min_, r_max_;
    std::vector<Band> bands_;
};
