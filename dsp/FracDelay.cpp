#include "FracDelay.h"

#include "SampleMath.h"

#include <cmath>
#include <vector>

namespace fracdelay {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfWidth = 32.0; // the window reaches zero this far from the read position

double BesselI0(double x)
{
    // The power series converges fast for the arguments used here (< 10).
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 60; ++k) {
        term *= q / (double(k) * double(k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

double Window(double t)
{
    const double r = t / kHalfWidth;
    if (r <= -1.0 || r >= 1.0) return 0.0;
    static const double i0Beta = BesselI0(kBeta);
    return BesselI0(kBeta * std::sqrt(1.0 - r * r)) / i0Beta;
}

struct Tables {
    std::vector<float> rows;  // kPhases * kTaps
    std::vector<float> slope; // kTaps: index j is the tap for sample n + (j - kBefore)
    Tables() : rows(size_t(kPhases) * kTaps), slope(kTaps, 0.0f)
    {
        for (int p = 0; p < kPhases; ++p) {
            const double frac = double(p) / kPhases;
            for (int j = 0; j < kTaps; ++j) rows[size_t(p) * kTaps + size_t(j)] = float(Tap(frac - (j - kBefore)));
        }
        // d/dpos of sum x[m] * Tap(pos - m) at a whole position n: the sinc's
        // slope at the integers -m is (-1)^(m+1) / m times the window there
        // (the sinc itself is zero at those points, so the window's own slope
        // drops out); zero at m = 0.
        for (int j = 0; j < kTaps; ++j) {
            const int m = j - kBefore;
            if (m == 0 || m > kBefore) continue;
            const double sign = (m % 2 == 0) ? -1.0 : 1.0;
            slope[size_t(j)] = float(sign / m * Window(double(m)));
        }
    }
};

const Tables& Shared()
{
    static const Tables tables;
    return tables;
}

// The eight partial sums are independent lanes, so the loop vectorises
// without reordering any addition; their final order is fixed.
SONVELT_ALWAYS_INLINE float Dot64(const float* row, const float* x)
{
    float acc[8] = {};
    for (int j = 0; j < kTaps; j += 8)
        for (int l = 0; l < 8; ++l) acc[l] = acc[l] + row[j + l] * x[j + l];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

// Samples first .. first + kTaps - 1 of a, zero outside [0, len).
SONVELT_ALWAYS_INLINE const float* Window64(const float* a, int64_t len, int64_t first, float* edge)
{
    if (first >= 0 && first + kTaps <= len) return a + first;
    for (int j = 0; j < kTaps; ++j) {
        const int64_t k = first + j;
        edge[j] = k >= 0 && k < len ? a[k] : 0.0f;
    }
    return edge;
}

SONVELT_ALWAYS_INLINE void ReadAlongKernelBody(const float* a, int64_t len, double pos0, double step, int count,
                                         float* out, const float* table)
{
    alignas(64) float edge[kTaps];
    for (int i = 0; i < count; ++i) {
        int64_t whole;
        int phase;
        Split(pos0 + step * i, whole, phase);
        const float* x = Window64(a, len, whole - kBefore, edge);
        out[i] = Dot64(table + size_t(phase) * kTaps, x);
    }
}

SONVELT_MULTI_ISA(void, ReadAlongKernel,
                  (const float* a, int64_t len, double pos0, double step, int count, float* out, const float* table),
                  (a, len, pos0, step, count, out, table))

// The slope kernel runs over the outputs, tap by tap: the taps are
// antisymmetric, so each pair m, -m costs one subtraction and one product,
// and each output adds its pairs in the order m = 1 .. kBefore whatever the
// instruction set. Outputs whose taps reach outside the signal read zeros
// there through a copy.
constexpr int kSlopeChunk = 256;

SONVELT_ALWAYS_INLINE void SlopeInside(const float* x, int count, float* out, const float* taps)
{
    for (int i = 0; i < count; ++i) out[i] = 0.0f;
    for (int m = 1; m <= kBefore; ++m) {
        const float d = taps[kBefore + m];
        const float* ahead = x + m;
        const float* behind = x - m;
        for (int i = 0; i < count; ++i) out[i] = out[i] + d * (ahead[i] - behind[i]);
    }
}

SONVELT_ALWAYS_INLINE void SlopeKernelBody(const float* a, int64_t len, int64_t first, int count, float* out,
                                     const float* taps)
{
    alignas(64) float edge[kSlopeChunk + 2 * kBefore];
    for (int done = 0; done < count; done += kSlopeChunk) {
        const int n = count - done < kSlopeChunk ? count - done : kSlopeChunk;
        const int64_t from = first + done;
        if (from - kBefore >= 0 && from + n + kBefore <= len) {
            SlopeInside(a + from, n, out + done, taps);
        } else {
            for (int j = 0; j < n + 2 * kBefore; ++j) {
                const int64_t k = from - kBefore + j;
                edge[j] = k >= 0 && k < len ? a[k] : 0.0f;
            }
            SlopeInside(edge + kBefore, n, out + done, taps);
        }
    }
}

SONVELT_MULTI_ISA(void, SlopeKernel,
                  (const float* a, int64_t len, int64_t first, int count, float* out, const float* taps),
                  (a, len, first, count, out, taps))

} // namespace

double Tap(double t)
{
    if (t <= -kHalfWidth || t >= kHalfWidth) return 0.0;
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    return sinc * Window(t);
}

const float* Row(int phase) { return Shared().rows.data() + size_t(phase) * kTaps; }

const float* SlopeTaps() { return Shared().slope.data(); }

void Split(double position, int64_t& whole, int& phase)
{
    const double w = std::floor(position);
    long p = std::lround((position - w) * kPhases);
    whole = int64_t(w);
    if (p >= kPhases) {
        p = 0;
        ++whole;
    }
    phase = int(p);
}

void ReadAlong(const float* a, int64_t len, double pos0, double step, int count, float* out)
{
    if (count <= 0) return;
    ReadAlongKernel(a, len, pos0, step, count, out, Shared().rows.data());
}

void ReadAlongReference(const float* a, int64_t len, double pos0, double step, int count, float* out)
{
    for (int i = 0; i < count; ++i) {
        const double pos = pos0 + step * i;
        const double base = std::floor(pos);
        double sum = 0.0;
        for (int64_t k = int64_t(base) - kBefore; k <= int64_t(base) + kBefore + 1; ++k)
            if (k >= 0 && k < len) sum += double(a[k]) * Tap(pos - double(k));
        out[i] = float(sum);
    }
}

void Slope(const float* a, int64_t len, int64_t first, int count, float* out)
{
    if (count <= 0) return;
    SlopeKernel(a, len, first, count, out, Shared().slope.data());
}

void SlopeReference(const float* a, int64_t len, int64_t first, int count, float* out)
{
    const float* d = Shared().slope.data();
    for (int i = 0; i < count; ++i) {
        double sum = 0.0;
        for (int m = -kBefore; m <= kBefore; ++m) {
            const int64_t k = first + i + m;
            if (k >= 0 && k < len) sum += double(d[m + kBefore]) * double(a[k]);
        }
        out[i] = float(sum);
    }
}

} // namespace fracdelay
