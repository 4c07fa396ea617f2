#pragma once
// The triangular smoothing of radial profiles that the ring fits share.

#include <armadillo>

// Triangular smoothing kernel of half-width s >= 0: 2s + 1 weights
// (1, 2, .., s + 1, .., 2, 1) / (s + 1)^2, summing to 1. Throws only on
// allocation failure.
arma::vec TriangleKernel(int s);

// The kernel-weighted average of p centred on each of its samples (zeros
// beyond the ends): samples s .. n + s - 1 of the full convolution. kernel
// holds 2s + 1 weights; p at least one sample. Throws only on allocation
// failure.
arma::vec SmoothProfile(const arma::vec& p, const arma::vec& kernel, int s);

// As SmoothProfile, but a sample whose kernel reaches beyond an end of p is
// the average over the kernel's weights that fall on p (divided by their
// sum), not pulled toward the zeros beyond; every other sample is
// SmoothProfile's, bit for bit. Same arguments, same failures.
arma::vec SmoothProfileInside(const arma::vec& p, const arma::vec& kernel, int s);
