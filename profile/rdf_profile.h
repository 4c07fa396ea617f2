#ifndef ORVAN_PROFILE_RDF_PROFILE_H
#define ORVAN_PROFILE_RDF_PROFILE_H

#include <armadillo>

// The data of one RDF script call: a profile, the element table and the
// background fit values. Filled by the handler, used by the routines in
// rdf_kirkland.h and rdf_transform.h, destroyed when the call ends.
struct RDFProfile {
    // Measured intensity, or a reduced intensity for the sine transform;
    // element i lies at q = i * q_step.
    arma::Col<float> profile;
    // Element table, one column per element (one image line per element), 14 rows:
    // 0-2 a1..a3, 3-5 b1..b3, 6-8 c1..c3, 9-11 d1..d3, 12 not read,
    // 13 concentration in percent.
    arma::Mat<float> elements;
    float offset = 0.0f;  // additive background term
    float scale = 0.0f;   // factor of <f^2> in the background
    float q_step = 0.0f;  // q per profile element (1/nm)
};

// Number of rows an element column must have.
constexpr arma::uword kKirklandTableRows = 14;

#endif
