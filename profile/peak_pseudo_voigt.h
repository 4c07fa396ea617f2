#pragma once
// Area-normalised pseudo-Voigt peaks, the model of the peak fits.

// Model callback of the fit driver. par holds n_par / 4 peaks, each four
// doubles: position x0, area A, half width at half maximum w, Lorentz
// fraction eta. out[i] := sum over peaks of
//   |A| * ((1 - eta) * G(t[i]) + eta * L(t[i]))
// with G a Gaussian and L a Lorentzian, both of unit area and half width
// |w|; eta is clamped to [0, 1]. par has n_par, t and out have m_dat
// elements. A width of 0 divides by zero (not-a-number results); callers
// refuse such peaks.
void PseudoVoigtSum(int n_par, const double* par, int m_dat, const double* t, double* out);
