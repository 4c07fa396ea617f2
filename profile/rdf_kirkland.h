#ifndef ORVAN_PROFILE_RDF_KIRKLAND_H
#define ORVAN_PROFILE_RDF_KIRKLAND_H

#include "profile/rdf_profile.h"

// Kirkland mean squared scattering factor, its scale-and-offset fit to a
// measured profile, and the reduced intensity. Numbers are single precision
// except where a comment says otherwise; the operation order is fixed so that
// results are reproducible bit for bit.

// out := n values of <f^2> (concentration-weighted, concentrations in percent)
// at q = q0 + q_step * i, i = 0 .. n-1; q in 1/nm, so s = q / 10 in 1/Angstrom.
// An empty element table gives zeros; n <= 0 gives an empty vector.
// Throws std::invalid_argument when the table has columns but not 14 rows.
void KirklandScatteringSquared(const RDFProfile& p, float q0, int n, arma::Col<float>& out);

// Fit model callback (vector form of LeastSquaresFit):
// out[i] = |par[0]| * t[i] + |par[1]|, with t the <f^2> values.
// Throws the text "error in Kirkland_function_scale m!=2" (a const char*)
// when n_par is not 2.
void Kirkland_function_scale(int n_par, const double* par, int m_dat, const double* t, double* out);

// Fits p.scale and p.offset (both kept non-negative) to p.profile[lo .. hi],
// starting from their current values. Missing samples (exactly 0) are left
// out of the fit. A fit the driver reports as failed, or a range of missing
// samples only, leaves both unchanged and returns false; true when the fit
// stored its values. Throws std::out_of_range unless 0 <= lo <= hi < length
// of the profile; throws as KirklandScatteringSquared for a bad table.
bool KirklandFitCore(RDFProfile& p, int lo, int hi);

// m x 4 matrix, m = profile length: column 0 the profile, 1 the background
// B = scale * <f^2> + offset, 2 the reduced intensity
// phi = i * (I - B) / B * q_step / 10 (0 where I is missing, exactly 0), 3
// zeros. B = 0 gives a non-finite phi for a measured I (not an error).
// Throws as KirklandScatteringSquared for a bad table.
arma::Mat<float> KirklandReducedIntensity(const RDFProfile& p);

#endif
