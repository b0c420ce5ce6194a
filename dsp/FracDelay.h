// Reading a sampled signal between its samples, and its slope at the samples.
//
// The interpolator is a windowed sinc of 64 taps (Kaiser window, beta 9.5)
// tabulated at 4096 fractional positions per sample; a position uses the
// nearest one (at most 1/8192 sample away). Against an exact delay its error
// stays below -90 dB of the signal for content up to 0.45 of the sampling rate
// (19.8 kHz at 44.1 kHz, the window's transition band lies above that), the
// phase quantisation adds at most -80 dB at 5 kHz. At a whole-sample position
// the signal is read back exactly.
//
// The differentiator is the same windowed sinc's derivative at whole samples:
// the slope x'(n) of the band-limited signal through the samples, accurate to
// 0.1 % up to 0.4 of the sampling rate.
#pragma once

#include <cstdint>

namespace fracdelay {

constexpr int kTaps = 64;     // taps of one interpolation row
constexpr int kBefore = 31;   // row j reads sample floor(pos) - kBefore + j
constexpr int kPhases = 4096; // rows per sample
constexpr double kBeta = 9.5;

// Row p holds the taps for the fractional position p / kPhases.
const float* Row(int phase);
// The tap of the windowed sinc at distance t from the read position (exact,
// double precision); Row(p)[j] = Tap(p / kPhases - (j - kBefore)).
double Tap(double t);
// The phase (0 .. kPhases - 1) and whole sample of a position: position
// = whole + phase / kPhases, nearest phase.
void Split(double position, int64_t& whole, int& phase);

// out[i] = x(pos0 + step * i) for i < count, where x is the signal of the
// samples a[0 .. len) and zero outside them. Any pos0 and step.
void ReadAlong(const float* a, int64_t len, double pos0, double step, int count, float* out);
// The same sums as ReadAlong, each output split and summed on its own: what
// ReadAlong, which takes runs of outputs at one phase together, must equal
// bit for bit.
void ReadAlongOneByOne(const float* a, int64_t len, double pos0, double step, int count, float* out);
// The same with plain loops in double precision, each tap computed from the
// exact fractional position (no table): the reference ReadAlong is held to.
void ReadAlongReference(const float* a, int64_t len, double pos0, double step, int count, float* out);

// Differentiator taps: d[m] for m = -kBefore .. kBefore, the slope at n is
// sum over m of d[m] * x[n + m]. Antisymmetric, d[0] = 0.
const float* SlopeTaps(); // kBefore * 2 + 1 taps, index m + kBefore
// out[i] = slope at a[first + i] for i < count; samples outside [0, len) are 0.
void Slope(const float* a, int64_t len, int64_t first, int count, float* out);
// The same with a plain loop over all taps in double precision.
void SlopeReference(const float* a, int64_t len, int64_t first, int count, float* out);

} // namespace fracdelay
