#pragma once
// Refinement of the pattern centre and of the elliptical distortion by making
// the azimuthal profile as sharp as possible.

#include "geometry/diffraction_pattern.h"
#include "geometry/elliptical_ring_pixels.h"
#include "numerics/minimize.h"

#include <cstdint>
#include <memory>
#include <vector>

// Cost of a trial centre: minus the largest radius-weighted ring mean of the
// integer-radius bins r_in .. r_out - 1 around it. Bin b holds the pixel
// offsets (dx, dy) with trunc(sqrt(dx^2 + dy^2)) = r_in + b, precomputed in
// scan order (dx ascending, then dy ascending), so an evaluation takes no
// square root. The pattern is borrowed and must outlive the object; its
// current centre bounds the trial centres.
class maxazimuthalintcenter : public Minimize {
public:
    // Throws std::invalid_argument unless 0 <= r_in < r_out <= 32767;
    // allocation failure for very large radii.
    maxazimuthalintcenter(int r_in, int r_out, DiffractionPattern& pattern);
    ~maxazimuthalintcenter();
    maxazimuthalintcenter(const maxazimuthalintcenter&) = delete;
    maxazimuthalintcenter& operator=(const maxazimuthalintcenter&) = delete;

    // x[0], x[1]: trial centre (matrix row, column). A trial farther than the
    // shift bound trunc((r_out - r_in) / 1.5) from the pattern's centre on
    // either axis costs 0.0; one whose offsets all miss the image costs
    // +infinity. n is not used. Bins are summed on worker threads for large
    // tables, each bin's sum in its own order. Throws only std::bad_alloc.
    double Evaluate(const double* x, int n) override;

    // The radius-weighted ring means Evaluate takes the largest of, bin b for
    // radius r_in + b, at any trial centre (the shift bound does not apply).
    // A bin no offset of which lands in the image is not a number. Throws
    // only std::bad_alloc.
    std::vector<float> RingMeans(const double* x) const;

    int ShiftBound() const { return shift_; }
    // Offsets of bin b, in order; for tests and diagnostics.
    std::uint32_t Count(int b) const { return start_[b + 1] - start_[b]; }
    void Offset(int b, std::uint32_t c, int& dx, int& dy) const;

private:
    DiffractionPattern* pattern_;
    std::uint32_t width_;
    std::uint32_t height_;
    // Compact form of the offset table: bin b owns entries start_[b] ..
    // start_[b + 1] - 1 of dx_ and dy_.
    std::vector<std::int32_t> dx_;
    std::vector<std::int32_t> dy_;
    std::vector<std::uint32_t> start_;
    int r_in_;
    int r_out_;
    int shift_;
};

// Cost of a trial axis ratio and ellipse angle at the pattern's fixed centre:
// minus the largest element of the plain elliptical profile r_in .. r_out.
// The first trial gathers the ring pixels every admissible ratio can reach
// (EllipticalRingPixels); later trials walk that list, which is made again
// only if the pattern's image object or centre changes. The pixel values are
// taken at that first trial.
class maxazimuthalintcenterellipticity : public Minimize {
public:
    // Throws std::invalid_argument unless 0 <= r_in < r_out.
    maxazimuthalintcenterellipticity(int r_in, int r_out, DiffractionPattern& pattern);
    ~maxazimuthalintcenterellipticity();

    // x[0]: axis ratio, x[1]: angle (radians). A ratio outside [1.0, 1.1]
    // (as a float) costs 0.0. n is not used. Throws only on allocation failure.
    double Evaluate(const double* x, int n) override;

private:
    DiffractionPattern* pattern_;
    int r_in_;
    int r_out_;
    std::unique_ptr<EllipticalRingPixels> ring_;
};

// Moves centerX, centerY to the centre that minimises maxazimuthalintcenter,
// by the downhill simplex (step 10, tolerance 0.5 pixels), which prints its
// status line on standard output. Throws std::invalid_argument for radii the
// cost function refuses (the pattern is then unchanged).
void RefineCenterCore(DiffractionPattern& pattern, int r_in, int r_out);
// The same with a cost object built over this pattern, kept for a look at
// the ring means afterwards.
void RefineCenterCore(DiffractionPattern& pattern, maxazimuthalintcenter& cost);

// Sets axisRatio and angle to the minimum of maxazimuthalintcenterellipticity
// found by Powell's method from the pattern's current ratio and angle; the
// centre is not changed. Powell's iteration-limit exceptions
// (LineMin::XIterationLimit, Powell::XIterationLimit) pass through, leaving
// the pattern unchanged; so does std::invalid_argument for refused radii.
void RefineCenterEllipticityCore(DiffractionPattern& pattern, int r_in, int r_out);
