// Per-bin work of the frequency merge and of the centre focus, on interleaved
// complex spectra (bin j: element 2j real, 2j + 1 imaginary), bins 0 .. bins - 1.
//
// Each rule has a plain reference version that takes both phases with atan2
// and a fast one that decides the phase tests on the dot product of the two
// bins against the cosine of the threshold (for vectors u, v at angle d in
// [0, pi]: d < T exactly when u.v > cos(T) |u| |v|, for T in [0, pi]). A bin
// whose two parts are exactly zero counts as phase 0, so the fast versions
// stand it in by the unit vector (1, 0). The fast decisions differ from the
// reference only for angles within rounding error of a threshold, and for
// magnitudes within rounding error of the strength (the fast ones compare
// squares).
#pragma once

#include <cstdint>

namespace spectral {

// Extraction with the phase test (quality first). For each bin, with
// magnitudes and phases taken before the subtraction:
//   o = o - g k; then o = 0 when |k| * cappedStrength > |o| and the phase
//   distance of o and k is below threshold[j].
void QualityBinsReference(float* o, const float* k, int bins, double g, float cappedStrength, const float* threshold);
// The same in single precision (the gain too); phaseBound[j] =
// PhaseBound(threshold[j]).
void QualityBinsFast(float* o, const float* k, int bins, double g, float cappedStrength, const float* phaseBound);

// QualityBinsFast on a frame in the packed form of CPackedRealFFT: zo and zk
// the packed points of the original's and the karaoke's frames (n/2 + 1
// each, ForwardPoints), wr and wi its twiddles (TwiddleCos, TwiddleSin).
// Leaves in zo the merged points (InversePoints) of the result as the frame
// scheme synthesises it: bin n/2 dropped, bin 0 counted twice. The same as
// splitting both, QualityBinsFast, the scheme's one-sided step and merging,
// to the last bit.
void QualityFramePass(float* zo, const float* zk, const float* wr, const float* wi, int points, double g,
                      float cappedStrength, const float* phaseBound);

// Extraction without the phase test (extraction first):
//   o = o - g k; then o = 0 when |k| * strength > |o|.
void ExtractionBins(float* o, const float* k, int bins, double g, float strength);
// The same as one plain loop, built for the baseline instruction set only.
void ExtractionBinsReference(float* o, const float* k, int bins, double g, float strength);

// Centre focus. Per bin with magnitudes mL, mR and phase distance d:
// both zero -> both bins zero; else the louder channel is scaled to
// quieter + levelMix * |mL - mR|, and when d > threshold[j] both are scaled by
// F = 0.5 + 0.5 cos(E), E = (d - threshold[j]) * 2c, or 0 once E >= pi.
void CenterBinsReference(float* l, float* r, int bins, float c, float levelMix, const float* threshold);
// The same; cosines from PhaseTestCosine(threshold) and of the end of the
// fade, PhaseTestCosine(threshold + pi / (2c)); scratch holds 3 * bins values.
// l, r and scratch must not overlap.
void CenterBinsFast(float* l, float* r, int bins, float c, float levelMix, const float* threshold,
                    const double* cosThreshold, const double* cosFadeEnd, double* scratch);

// Test values for the dot-product form: cos(T) for T in [0, pi]; below 0 a
// value that every angle passes as "above T" (2), above pi one that no angle
// does (-2). The test "d < T" is then dot > c |u||v|, "d > T" is dot < c |u||v|.
double PhaseTestCosine(double threshold);
// The same test on squares, as the fast quality rule takes it: c |c| in
// single precision for c = PhaseTestCosine(threshold). "d < T" is then
// dot |dot| > bound |u|^2 |v|^2.
float PhaseBound(double threshold);

} // namespace spectral
