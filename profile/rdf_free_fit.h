#ifndef ORVAN_PROFILE_RDF_FREE_FIT_H
#define ORVAN_PROFILE_RDF_FREE_FIT_H

#include "profile/rdf_profile.h"

// The background fit takes scale and offset by magnitude, so a profile that
// asks for a negative one gets a value at 0 instead. This is the same
// straight-line fit of p.profile[lo .. hi] against <f^2> without that limit
// (missing samples left out, in double), to tell when the limit was met.
struct KirklandFreeFitResult {
    double scale = 0.0;
    double offset = 0.0;
    // The value lies below 0 by more than the rounding of the data.
    bool scale_below_zero = false;
    bool offset_below_zero = false;
};

// False, with `out` untouched, when the measured samples of the range do not
// fix both values (fewer than two distinct <f^2>, or sums that are not
// finite). Throws std::out_of_range unless 0 <= lo <= hi < length of the
// profile; throws as KirklandScatteringSquared for a bad table.
bool KirklandFreeFit(const RDFProfile& p, int lo, int hi, KirklandFreeFitResult& out);

#endif
