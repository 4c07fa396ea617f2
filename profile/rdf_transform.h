#ifndef ORVAN_PROFILE_RDF_TRANSFORM_H
#define ORVAN_PROFILE_RDF_TRANSFORM_H

#include "profile/rdf_profile.h"

// Radial distribution function: sine transform of the reduced intensity in
// p.profile, sample k at Q = k * p.q_step, with Simpson weights 1, 4, 2, 4, ...
// over [lo, hi) (the last sample of the range gets no closing term). A
// missing sample (0) adds nothing to the sums.
// Returns n_r values; value j is at r = j * r_max / n_r.
// A range shorter than 11 samples, or one reaching outside the profile,
// is replaced by the whole profile. Samples outside the range are never read.
// n_r <= 0 gives an empty vector; an empty profile gives zeros. Never throws
// except for allocation failure.
arma::Col<float> RDFSineTransform(const RDFProfile& p, int lo, int hi, int r_max, int n_r);

// The range [lo, hi) the transform of an n-sample profile reads: the given
// one, or the whole profile by the rule above. Never fails.
void RDFTransformRange(int n, int& lo, int& hi);

#endif
