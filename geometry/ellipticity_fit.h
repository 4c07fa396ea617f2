#pragma once
// Refinement of the centre and the elliptical distortion from the positions
// of the strongest ring in angular sectors, fitted by an ellipse.

#include "geometry/diffraction_pattern.h"

#include <armadillo>
#include <ostream>

// The most, in pixels, that a refined centre may be uncertain by
// (CentreUncertainty of the ring points that the ellipse went through).
// Good centres on our survey patterns were held to 0.2 px or better nearly
// always; ellipses through the few arcs of a textured ring, 2 px and more.
constexpr double kLooseCentre = 0.5;

// Pseudo-Voigt peak on a sloping background, the vector model of the fit
// driver: par = (position x0, area A, half width w, Lorentzian fraction eta,
// offset b0, slope b1 per sample index); out[i] = A * (area-normalised mix of
// a Gaussian and a Lorentzian of half width |w|) + b0 + b1 * i for the m
// abscissae t (par[1], par[2] taken by magnitude, eta clamped to 0 .. 1).
// out holds m doubles. Never throws.
void PseudoVoigtModel(int n_par, const double* par, int m, const double* t, double* out);

// The start of a sector fit (6 doubles into start) from the ring fit of the
// summed profile (initial, 6 doubles), the sum of n_summed >= 1 sector
// means, and the sector's own peak position (sample index): the model is
// linear in area, offset and slope, so these are divided by n_summed; width
// and mixing carry over. Never throws.
void SectorFitStart(const double* initial, int n_summed, double position, double* start);

// Whether fitted parameters par (6 doubles, as PseudoVoigtModel reads them)
// describe one ring of a profile of n samples, smoothed with half-width s,
// whose largest sample lies at `maximum` (a sample index): the peak lies in
// the profile, its full width at half maximum is no wider than the profile
// and the kernel's (s + 1) together, and the maximum lies within a half
// width of the peak. False when any of these is not a number. Never throws.
bool DescribesOneRing(const double* par, int n, int s, double maximum);

// The pseudo-Voigt fit of profile P (n samples at the abscissae t, 0 .. n -
// 1), smoothed with half-width s, from par (6 doubles, the result on return)
// in at most max_iter evaluations: whether the fit driver reports it
// converged and it describes one ring of P (DescribesOneRing), whose maximum
// lies at sample `maximum`. However close its parameters, a fit stopped short
// is no result; however well it converged, one that settled on a broad hump
// over two rings, or wandered off the profile, places no ring. Never throws
// but for allocation.
bool FitsOneRing(const double* t, const double* P, int n, int s, int max_iter, double maximum, double* par);

// Rebins the pattern into n_angles sectors around its current centre, finds in
// each sector the radius of the strongest ring between r_in and r_out (smoothed
// profile maximum refined by a parabola, or, fit != 0, a pseudo-Voigt fit
// started there), drops sectors with little coverage, weak peaks or outlying
// radii, and fits an ellipse to the rest. Radii at either end of the window
// whose pixels are all missing (a beam stop, a detector mask) are left out of a
// sector's profile, with the s samples that the smoothing took partly from
// them. A sector has no ring position, and is neither fitted nor kept, when a
// radius between counted ones (weight above 0.1) is not counted, when one at
// the ends holds no pixel at all (a sector narrower than the pixels), when it
// is cut that way and too poorly covered to keep, or when it has found no ring
// inside its profile: the profile, smoothed without the zeros beyond its ends,
// is largest at an end sample (cut or the window's), or, while some samples lie
// more than s from both ends of the window, the smoothed profile is largest
// within s samples of one, where the smoothing pulled it toward those zeros
// (the ring lies at or beyond the end, if anywhere). The initial fit runs on
// the sum of those sectors' means over the radii all of them count (but for
// sectors a stop cuts deeper than half of them, which it leaves out); a fit,
// initial or a sector's, that fails or does not describe one ring of its
// profile (DescribesOneRing) is a failed fit: after the initial one every
// sector takes its maximum, after a sector's that sector does; so is a sector
// fit whose peak lies further from the maximum than the half width of the
// maximum's own peak (the run above the middle between it and the higher of the
// minima it falls to on either side), as one over two rings merged by the
// smoothing does. On success it moves the centre by the ellipse centre, sets
// angle and axisRatio from the ellipse and stores its mean semi-axis in
// *mean_radius. s is the half-width of the triangular smoothing kernel.
//
// "Initial fit failed, using maxima instead" and, once for all the sectors
// whose fit failed, "Fit failed, using maxima instead (N of M sectors)" go
// to `results`; the fit driver's status lines to standard output.
//
// Throws std::invalid_argument for n_angles < 1, s < 0, r_out <= r_in or,
// with fit on, r_out - r_in < 3; std::runtime_error when fewer than six
// sectors survive ("ellipse fit failed: N usable sectors"), when the ellipse
// is degenerate (semi-axes not positive numbers), or when the kept ring
// points do not surround its centre ("..., all on one side of their centre":
// seen from it, two neighbours half a turn or more apart, as a mask or a
// stop leaves a ring along one side only), or when the ring points do
// not lie on one ellipse ("..., not all on one ring (K lie off it; M of N
// sectors held no ring)": the sectors' strongest rings are not the same
// one), or when they hold its centre only loosely ("..., hold its centre
// only to U pixels": U, their CentreUncertainty, above kLooseCentre). A
// point lies off when further from it than the half width of its sector's
// peak (measured smoothed with a half-width of at least 2); the farthest such
// points are dropped and the ellipse fitted again, up to one in sixteen and
// never two neighbouring sectors. With `checked` false none of the last
// three is checked and no point is dropped.
// On every exception the pattern and *mean_radius are unchanged.
void RefineCenterEllipticityFitCore(DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s, int fit,
                                    float* mean_radius, std::ostream& results, bool checked = true);

// The two passes of RefineCenterEllipticity (maxima, no fits): the first, not
// checked, brings a start far off the centre near it; a first pass that fails
// leaves the start to the second. "First fit:" and "Second fit:" go to
// `diagnostic` before each. Throws what the second pass, checked, throws
// (RefineCenterEllipticityFitCore), leaving the pattern and *mean_radius
// unchanged.
void RefineCenterEllipticityTwoPassCore(DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s,
                                        float* mean_radius, std::ostream& results, std::ostream& diagnostic);
