// Parks-McClellan (Remez exchange) design of an equiripple FIR filter.
#pragma once

// Filter types: band filters have even symmetry; the differentiator and any other
// type (a Hilbert transformer) odd symmetry.
constexpr int REMEZ_BANDPASS = 1;
constexpr int REMEZ_DIFFERENTIATOR = 2;
constexpr int REMEZ_HILBERT = 3;

// Designs numtaps coefficients into h. bands: numband pairs (lower, upper edge) in
// fractions of the sampling rate, rising within 0 to 0.5; des: the desired value at
// each edge (linear across a band); weight: one per band.
// 0 converged; -1 no convergence in 40 iterations (h filled all the same);
// -2 / -3 too few / too many extrema of the error (h untouched); -4 arguments
// that describe no design, such as an edge beyond 0.5 (h untouched, a message on
// standard error).
int remez(double* h, int numtaps, int numband, const double* bands, const double* des, const double* weight, int type,
          int griddensity);
