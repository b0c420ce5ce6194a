#include "FracDelay.h"

#include "SampleMath.h"

#include <cmath>
#include <cstring>
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
        // The taps are symmetric about the read position (Tap(-t) is Tap(t)
        // to the bit), so row kPhases - p is row p backwards: half the rows
        // are computed.
        for (int p = 0; p <= kPhases / 2; ++p) {
            const double frac = double(p) / kPhases;
            for (int j = 0; j < kTaps; ++j) rows[size_t(p) * kTaps + size_t(j)] = float(Tap(frac - (j - kBefore)));
        }
        for (int p = kPhases / 2 + 1; p < kPhases; ++p)
            for (int j = 0; j < kTaps; ++j)
                rows[size_t(p) * kTaps + size_t(j)] = rows[size_t(kPhases - p) * kTaps + size_t(kTaps - 1 - j)];
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

// Split, inline for the kernels. The fraction times kPhases lies in
// [0, kPhases]: rounding half away from zero is the truncation plus one where
// the remainder (exact in double precision) is at least a half.
SONVELT_ALWAYS_INLINE void SplitInline(double position, int64_t& whole, int& phase)
{
    const double w = std::floor(position);
    const double f = (position - w) * kPhases;
    int p = static_cast<int>(f);
    if (f - static_cast<double>(p) >= 0.5) ++p;
    whole = static_cast<int64_t>(w);
    if (p >= kPhases) {
        p = 0;
        ++whole;
    }
    phase = p;
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

// Dot64(row, x + t) for t < kRun: the same additions in the same order as
// Dot64 for each output, done for kRun neighbouring outputs side by side in
// vectors (which the compiler lowers to the registers of each level).
constexpr int kRun = 16;
typedef float RunVector __attribute__((vector_size(kRun * sizeof(float))));

SONVELT_ALWAYS_INLINE RunVector LoadRun(const float* p)
{
    RunVector v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

SONVELT_ALWAYS_INLINE void Dot64Run(const float* row, const float* x, float* out)
{
    RunVector acc[8] = {};
    for (int j = 0; j < kTaps; j += 8) {
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l) acc[l] = acc[l] + row[j + l] * LoadRun(x + j + l);
    }
    const RunVector sum = ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
    std::memcpy(out, &sum, sizeof sum);
}

// Whether outputs i .. i + kRun - 1 all read with one phase at consecutive
// samples, told from the run's two ends alone. Split rounds a position p to
// the grid point g = floor(p * kPhases + 0.5), exactly (the subtraction of
// the whole sample and the scaling by a power of two lose nothing). The
// computed positions pos0 + step * k stray from the straight line through
// them by far less than `slack` grid steps, and along a straight line the
// distance to the point moving by kPhases per output changes linearly: if it
// lies within [-0.5 + slack, 0.5 - slack) at both ends, every output between
// rounds to that moving point, as Split on each would find.
SONVELT_ALWAYS_INLINE bool OnePhase(double pos0, double step, int i, double slack, int64_t& whole, int& phase)
{
    const double first = pos0 + step * i;
    const double last = pos0 + step * (i + kRun - 1);
    SplitInline(first, whole, phase);
    const double g = double(whole) * kPhases + phase;
    const double d0 = first * kPhases - g;
    const double d1 = last * kPhases - (g + double(kRun - 1) * kPhases);
    return d0 >= slack - 0.5 && d0 < 0.5 - slack && d1 >= slack - 0.5 && d1 < 0.5 - slack;
}

// The slack OnePhase allows for positions up to `reach` from zero: many
// times the rounding of pos0 + step * k and of the scaling, still a tiny
// share of a grid step for any song. Positions beyond 2^40 samples are never
// taken together.
SONVELT_ALWAYS_INLINE double Slack(double reach)
{
    return reach < 0x1p40 ? reach * kPhases * 0x1p-48 : 1.0;
}

// Outputs are taken kRun at a time: where all of them read with one phase at
// consecutive samples (a position that moves by one sample per output, as
// between recordings without drift, keeps its phase for thousands of
// samples) they are computed side by side, else one by one. Either way each
// output is the same sum.
SONVELT_ALWAYS_INLINE void ReadAlongKernelBody(const float* a, int64_t len, double pos0, double step, int count,
                                         float* out, const float* table)
{
    alignas(64) float edge[kTaps];
    const double slack = Slack(std::fabs(pos0) + std::fabs(step) * (double(count) + kRun) + 2.0);
    int i = 0;
    for (; i + kRun <= count; i += kRun) {
        int64_t whole;
        int phase;
        if (OnePhase(pos0, step, i, slack, whole, phase)) {
            const int64_t first = whole - kBefore;
            if (first >= 0 && first + kTaps + kRun - 1 <= len) {
                Dot64Run(table + size_t(phase) * kTaps, a + first, out + i);
                continue;
            }
        }
        for (int t = 0; t < kRun; ++t) {
            SplitInline(pos0 + step * (i + t), whole, phase);
            const float* x = Window64(a, len, whole - kBefore, edge);
            out[i + t] = Dot64(table + size_t(phase) * kTaps, x);
        }
    }
    for (; i < count; ++i) {
        int64_t whole;
        int phase;
        SplitInline(pos0 + step * i, whole, phase);
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
    int i = 0;
    for (; i + kRun <= count; i += kRun) {
        RunVector acc = {};
        for (int m = 1; m <= kBefore; ++m)
            acc = acc + taps[kBefore + m] * (LoadRun(x + i + m) - LoadRun(x + i - m));
        std::memcpy(out + i, &acc, sizeof acc);
    }
    for (; i < count; ++i) {
        float acc = 0.0f;
        for (int m = 1; m <= kBefore; ++m) acc = acc + taps[kBefore + m] * (x[i + m] - x[i - m]);
        out[i] = acc;
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
    SplitInline(position, whole, phase);
}

void ReadAlong(const float* a, int64_t len, double pos0, double step, int count, float* out)
{
    if (count <= 0) return;
    ReadAlongKernel(a, len, pos0, step, count, out, Shared().rows.data());
}

void ReadAlongOneByOne(const float* a, int64_t len, double pos0, double step, int count, float* out)
{
    alignas(64) float edge[kTaps];
    const float* table = Shared().rows.data();
    for (int i = 0; i < count; ++i) {
        int64_t whole;
        int phase;
        SplitInline(pos0 + step * i, whole, phase);
        out[i] = Dot64(table + size_t(phase) * kTaps, Window64(a, len, whole - kBefore, edge));
    }
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
