#pragma once
// How firmly ring points hold the centre of the ellipse fitted through them.
// Points along a few arcs (a textured ring, a spotty one), or scattered
// widely about the ellipse, agree with many ellipses whose centres lie
// pixels apart; the fit's own uncertainty of the centre says how many.

#include <cstddef>

// The standard uncertainty, in pixels, of the centre of the ellipse `fitted`
// (centre x, y, semi-axes, angle, as CEllipseFit gives it) through the n
// points (x[i], y[i]): the points' radial scatter about the ellipse, with
// n - 5 degrees of freedom, through the least-squares fit of a radial offset
// linear in 1, cos phi, sin phi, cos 2 phi and sin 2 phi (phi the point's
// direction from the centre), whose cos and sin terms move the centre.
// Infinite for fewer than eight points (six or seven fit an ellipse nearly
// exactly, however loosely they hold it, and say nothing of their scatter),
// or points whose directions fix no such fit. Never throws.
double CentreUncertainty(std::size_t n, const double* x, const double* y, const double* fitted);
