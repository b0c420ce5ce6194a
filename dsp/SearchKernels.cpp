#include "SearchKernels.h"

#include "SampleMath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace search {
namespace {

constexpr double kTermCap = 4294967295.0;          // largest gain-cost term
constexpr uint64_t kTermCapInt = 4294967295u;

// ---------------------------------------------------------------------------
// Reference versions: one sample index at a time, the early stop after each.

uint64_t ShiftCostReference(const MatchSet& m, Cost cost, int pos, uint64_t best)
{
    const bool slope = cost == Cost::AbsSlope;
    uint64_t sum = 0;
    int32_t prev[2] = {0, 0};
    for (int i = 0; i < m.count; ++i) {
        const int64_t idx = pos + static_cast<int64_t>(m.stride) * i;
        for (int c = 0; c < m.pairs; ++c) {
            const int32_t d = m.orig[c][i] - m.kar[c][idx];
            sum += static_cast<uint32_t>(std::abs(d));
            if (slope) {
                sum += static_cast<uint32_t>(std::abs(prev[c] - d));
                prev[c] = d;
            }
        }
        if (sum > best) return sum;
    }
    return sum;
}

uint64_t GainCostReference(const MatchSet& m, int pos, double g, uint64_t best)
{
    uint64_t sum = 0;
    for (int i = 0; i < m.count; ++i) {
        const int64_t idx = pos + static_cast<int64_t>(m.stride) * i;
        for (int c = 0; c < m.pairs; ++c) {
            const double x = static_cast<double>(m.orig[c][i]) - static_cast<double>(m.kar[c][idx]) * g;
            const double a = std::fabs(std::trunc(x));
            sum += a < kTermCap ? static_cast<uint64_t>(a) : kTermCapInt;
        }
        if (sum > best) return sum;
    }
    return sum;
}

// ---------------------------------------------------------------------------
// Fast versions. All terms are non-negative, so a running sum that exceeds the
// best at some sample also exceeds it at the end of the block: testing once per
// chunk instead of once per sample rejects exactly the same candidates. Within
// a chunk the terms are summed in 32-bit lanes (at most 512 samples of two
// pairs of terms below 3 * 2^18 each, far below 2^32) and then added to the
// 64-bit total.

constexpr int kShiftChunk = 512;

SONVELT_ALWAYS_INLINE uint32_t AbsChunk(const int32_t* o, const int32_t* k, int a, int b)
{
    uint32_t s = 0;
    for (int i = a; i < b; ++i) s += static_cast<uint32_t>(std::abs(o[i] - k[i]));
    return s;
}

SONVELT_ALWAYS_INLINE uint32_t AbsChunkStrided(const int32_t* o, const int32_t* k, int stride, int a, int b)
{
    uint32_t s = 0;
    for (int i = a; i < b; ++i) s += static_cast<uint32_t>(std::abs(o[i] - k[i * stride]));
    return s;
}

// Needs a >= 1: the previous difference is read from index i - 1.
SONVELT_ALWAYS_INLINE uint32_t SlopeChunk(const int32_t* o, const int32_t* k, int a, int b)
{
    uint32_t s = 0;
    for (int i = a; i < b; ++i) {
        const int32_t d = o[i] - k[i];
        const int32_t p = o[i - 1] - k[i - 1];
        s += static_cast<uint32_t>(std::abs(d)) + static_cast<uint32_t>(std::abs(p - d));
    }
    return s;
}

SONVELT_ALWAYS_INLINE uint32_t SlopeChunkStrided(const int32_t* o, const int32_t* k, int stride, int a, int b)
{
    uint32_t s = 0;
    for (int i = a; i < b; ++i) {
        const int32_t d = o[i] - k[i * stride];
        const int32_t p = o[i - 1] - k[(i - 1) * stride];
        s += static_cast<uint32_t>(std::abs(d)) + static_cast<uint32_t>(std::abs(p - d));
    }
    return s;
}

// k0 and k1 point at the candidate's first karaoke sample; o1 is null for one pair.
SONVELT_ALWAYS_INLINE uint64_t AbsCostFastBody(const int32_t* o0, const int32_t* k0, const int32_t* o1,
                                               const int32_t* k1, int n, int stride, uint64_t best)
{
    uint64_t sum = 0;
    for (int a = 0; a < n; a += kShiftChunk) {
        const int b = std::min(n, a + kShiftChunk);
        uint32_t s;
        if (stride == 1) {
            s = AbsChunk(o0, k0, a, b);
            if (o1) s += AbsChunk(o1, k1, a, b);
        } else {
            s = AbsChunkStrided(o0, k0, stride, a, b);
            if (o1) s += AbsChunkStrided(o1, k1, stride, a, b);
        }
        sum += s;
        if (sum > best) return sum;
    }
    return sum;
}

SONVELT_MULTI_ISA(uint64_t, AbsCostFast,
                  (const int32_t* o0, const int32_t* k0, const int32_t* o1, const int32_t* k1, int n, int stride,
                   uint64_t best),
                  (o0, k0, o1, k1, n, stride, best))

SONVELT_ALWAYS_INLINE uint64_t SlopeCostFastBody(const int32_t* o0, const int32_t* k0, const int32_t* o1,
                                                 const int32_t* k1, int n, int stride, uint64_t best)
{
    if (n <= 0) return 0;
    // The first sample's previous difference is 0: it counts 2 |d_0|.
    uint64_t sum = 2u * static_cast<uint64_t>(static_cast<uint32_t>(std::abs(o0[0] - k0[0])));
    if (o1) sum += 2u * static_cast<uint64_t>(static_cast<uint32_t>(std::abs(o1[0] - k1[0])));
    if (sum > best) return sum;
    for (int a = 1; a < n; a += kShiftChunk) {
        const int b = std::min(n, a + kShiftChunk);
        uint32_t s;
        if (stride == 1) {
            s = SlopeChunk(o0, k0, a, b);
            if (o1) s += SlopeChunk(o1, k1, a, b);
        } else {
            s = SlopeChunkStrided(o0, k0, stride, a, b);
            if (o1) s += SlopeChunkStrided(o1, k1, stride, a, b);
        }
        sum += s;
        if (sum > best) return sum;
    }
    return sum;
}

SONVELT_MULTI_ISA(uint64_t, SlopeCostFast,
                  (const int32_t* o0, const int32_t* k0, const int32_t* o1, const int32_t* k1, int n, int stride,
                   uint64_t best),
                  (o0, k0, o1, k1, n, stride, best))

// Sixteen neighbouring candidates at once: lane t holds candidate pos + t,
// whose karaoke samples k[t + stride * i] lie side by side in memory for
// every i, so one vector load serves all sixteen (and, oversampled, one
// cache line instead of sixteen). Every candidate's full cost is computed,
// term by term the same as the single-candidate kernels, with the same
// 32-bit chunk sums; the loops over the sixteen lanes vectorise.
constexpr int kGroup = 16;

template <bool Slope, bool TwoPairs>
SONVELT_ALWAYS_INLINE void GroupCostsBody(const int32_t* o0, const int32_t* k0, const int32_t* o1,
                                          const int32_t* k1, int n, int stride, uint64_t* costs)
{
    uint64_t total[kGroup] = {};
    int32_t prev0[kGroup] = {}, prev1[kGroup] = {};
    for (int a = 0; a < n; a += kShiftChunk) {
        const int b = std::min(n, a + kShiftChunk);
        uint32_t sums[kGroup] = {};
        // One pair's terms at sample i for the sixteen candidates.
        auto pair = [&](int32_t o, const int32_t* k, int32_t* prev) SONVELT_ALWAYS_INLINE_LAMBDA {
            for (int t = 0; t < kGroup; ++t) {
                const int32_t d = o - k[t];
                uint32_t term = static_cast<uint32_t>(std::abs(d));
                if constexpr (Slope) {
                    term += static_cast<uint32_t>(std::abs(prev[t] - d));
                    prev[t] = d;
                }
                sums[t] += term;
            }
        };
        for (int i = a; i < b; ++i) {
            const int64_t at = static_cast<int64_t>(stride) * i;
            pair(o0[i], k0 + at, prev0);
            if constexpr (TwoPairs) pair(o1[i], k1 + at, prev1);
        }
        for (int t = 0; t < kGroup; ++t) total[t] += sums[t];
    }
    for (int t = 0; t < kGroup; ++t) costs[t] = total[t];
}

SONVELT_ALWAYS_INLINE void GroupCostsDispatchBody(const int32_t* o0, const int32_t* k0, const int32_t* o1,
                                                  const int32_t* k1, int n, int stride, bool slope, uint64_t* costs)
{
    if (slope) {
        if (o1) GroupCostsBody<true, true>(o0, k0, o1, k1, n, stride, costs);
        else GroupCostsBody<true, false>(o0, k0, o1, k1, n, stride, costs);
    } else {
        if (o1) GroupCostsBody<false, true>(o0, k0, o1, k1, n, stride, costs);
        else GroupCostsBody<false, false>(o0, k0, o1, k1, n, stride, costs);
    }
}

SONVELT_MULTI_ISA(void, GroupCostsDispatch,
                  (const int32_t* o0, const int32_t* k0, const int32_t* o1, const int32_t* k1, int n, int stride,
                   bool slope, uint64_t* costs),
                  (o0, k0, o1, k1, n, stride, slope, costs))

// Gain terms are whole numbers below 2^32, so a chunk of them sums exactly in
// double (below 2^44) in any order; eight lanes keep the additions independent.
constexpr int kGainChunk = 2048;
constexpr int kGainLanes = 8;

template <typename T>
SONVELT_ALWAYS_INLINE double GainTerm(T o, T k, double g)
{
    const double x = static_cast<double>(o) - static_cast<double>(k) * g;
    const double a = std::trunc(std::fabs(x));
    return a < kTermCap ? a : kTermCap;  // NaN gives the cap
}

template <bool Contiguous, typename T>
SONVELT_ALWAYS_INLINE double GainChunk(const T* o, const T* k, int stride, int a, int b, double g)
{
    if constexpr (Contiguous) stride = 1;
    double lanes[kGainLanes] = {};
    int i = a;
    for (; i + kGainLanes <= b; i += kGainLanes) {
        for (int l = 0; l < kGainLanes; ++l) lanes[l] += GainTerm(o[i + l], k[(i + l) * stride], g);
    }
    double s = 0.0;
    for (; i < b; ++i) s += GainTerm(o[i], k[i * stride], g);
    for (int l = 0; l < kGainLanes; ++l) s += lanes[l];
    return s;
}

// T is int32_t for the samples themselves or double for samples converted
// once (each gain of a search reads the same ones): the same terms in the
// same chunks either way, so the same costs and the same early stops.
template <typename T>
SONVELT_ALWAYS_INLINE uint64_t GainCostBody(const T* o0, const T* k0, const T* o1, const T* k1, int n, int stride,
                                            double g, uint64_t best)
{
    uint64_t sum = 0;
    for (int a = 0; a < n; a += kGainChunk) {
        const int b = std::min(n, a + kGainChunk);
        double s;
        if (stride == 1) {
            s = GainChunk<true>(o0, k0, 1, a, b, g);
            if (o1) s += GainChunk<true>(o1, k1, 1, a, b, g);
        } else {
            s = GainChunk<false>(o0, k0, stride, a, b, g);
            if (o1) s += GainChunk<false>(o1, k1, stride, a, b, g);
        }
        sum += static_cast<uint64_t>(s);
        if (sum > best) return sum;
    }
    return sum;
}

SONVELT_ALWAYS_INLINE uint64_t GainCostFastBody(const int32_t* o0, const int32_t* k0, const int32_t* o1,
                                                const int32_t* k1, int n, int stride, double g, uint64_t best)
{
    return GainCostBody(o0, k0, o1, k1, n, stride, g, best);
}

SONVELT_MULTI_ISA(uint64_t, GainCostFast,
                  (const int32_t* o0, const int32_t* k0, const int32_t* o1, const int32_t* k1, int n, int stride,
                   double g, uint64_t best),
                  (o0, k0, o1, k1, n, stride, g, best))

SONVELT_ALWAYS_INLINE uint64_t GainCostDoubleBody(const double* o0, const double* k0, const double* o1,
                                                  const double* k1, int n, double g, uint64_t best)
{
    return GainCostBody(o0, k0, o1, k1, n, 1, g, best);
}

SONVELT_MULTI_ISA(uint64_t, GainCostDouble,
                  (const double* o0, const double* k0, const double* o1, const double* k1, int n, double g,
                   uint64_t best),
                  (o0, k0, o1, k1, n, g, best))

} // namespace

uint64_t ShiftCost(const MatchSet& m, Cost cost, int pos, uint64_t best, Impl impl)
{
    if (m.count <= 0) return 0;
    if (impl == Impl::Reference) return ShiftCostReference(m, cost, pos, best);
    const int32_t* o1 = m.pairs > 1 ? m.orig[1] : nullptr;
    const int32_t* k1 = m.pairs > 1 ? m.kar[1] + pos : nullptr;
    if (cost == Cost::AbsSlope) return SlopeCostFast(m.orig[0], m.kar[0] + pos, o1, k1, m.count, m.stride, best);
    return AbsCostFast(m.orig[0], m.kar[0] + pos, o1, k1, m.count, m.stride, best);
}

uint64_t GainCost(const MatchSet& m, int pos, double g, uint64_t best, Impl impl)
{
    if (m.count <= 0) return 0;
    if (impl == Impl::Reference) return GainCostReference(m, pos, g, best);
    const int32_t* o1 = m.pairs > 1 ? m.orig[1] : nullptr;
    const int32_t* k1 = m.pairs > 1 ? m.kar[1] + pos : nullptr;
    return GainCostFast(m.orig[0], m.kar[0] + pos, o1, k1, m.count, m.stride, g, best);
}

void GroupCosts(const MatchSet& m, Cost cost, int pos, uint64_t* costs)
{
    if (m.count <= 0) {
        std::fill(costs, costs + kGroup, uint64_t{0});
        return;
    }
    const int32_t* o1 = m.pairs > 1 ? m.orig[1] : nullptr;
    const int32_t* k1 = m.pairs > 1 ? m.kar[1] + pos : nullptr;
    GroupCostsDispatch(m.orig[0], m.kar[0] + pos, o1, k1, m.count, m.stride, cost == Cost::AbsSlope, costs);
}

int FindShift(const MatchSet& m, Cost cost, int center, int range, int step, Impl impl,
              const std::function<void()>& pump)
{
    // Neighbouring candidates (step 1, as the fine searches and the wide
    // ranges use) are costed sixteen at a time in full; the rest one at a
    // time, stopping early. The choice walks the candidates in their order
    // either way, so it is the same: the first with the least cost.
    constexpr int kMaxGroups = 8;
    uint64_t grouped[kMaxGroups * kGroup];
    int64_t groupFirst = 0, groupEnd = 0; // positions with a full cost in `grouped`
    if (impl == Impl::Fast && step == 1 && range >= kGroup / 2) {
        int64_t lo = std::max<int64_t>(0, static_cast<int64_t>(center) - range);
        const int64_t hi = static_cast<int64_t>(center) + range;
        while (lo <= hi && !Fits(m, lo)) ++lo;
        groupFirst = lo;
        groupEnd = lo;
        // A group is costed where all sixteen fit (the last may lie past the
        // range, unused): when the last fits, the ones before it do.
        while (groupEnd <= hi && groupEnd - groupFirst < kMaxGroups * kGroup &&
               Fits(m, groupEnd + kGroup - 1)) {
            GroupCosts(m, cost, static_cast<int>(groupEnd), grouped + (groupEnd - groupFirst));
            groupEnd += kGroup;
        }
    }
    uint64_t best = kNoCost;
    int result = center;
    int sincePump = 0;
    ForEachShiftCandidate(center, range, step, [&](int64_t pos) {
        if (pump && ++sincePump == kPumpCandidates) {
            sincePump = 0;
            pump();
        }
        if (!Fits(m, pos)) return;
        const uint64_t sum = pos >= groupFirst && pos < groupEnd
                                 ? grouped[pos - groupFirst]
                                 : ShiftCost(m, cost, static_cast<int>(pos), best, impl);
        if (sum < best) {
            best = sum;
            result = static_cast<int>(pos);
        }
    });
    return result;
}

namespace {

template <typename ForEach>
double FindGain(const MatchSet& m, int pos, double center, Impl impl, ForEach forEach)
{
    if (!Fits(m, pos)) return center;
    uint64_t best = kNoCost;
    double result = center;
    auto take = [&](uint64_t sum, double g) {
        if (sum < best) {
            best = sum;
            result = g;
        }
    };
    if (impl == Impl::Reference || !m.scratch || m.count <= 0) {
        forEach([&](double g) { take(GainCost(m, pos, g, best, impl), g); });
        return result;
    }
    // Every gain reads the same samples: converted to double once.
    const int n = m.count;
    double* d[2][2] = {{m.scratch, m.scratch + n}, {nullptr, nullptr}};
    if (m.pairs > 1) {
        d[1][0] = m.scratch + 2 * static_cast<int64_t>(n);
        d[1][1] = m.scratch + 3 * static_cast<int64_t>(n);
    }
    for (int c = 0; c < m.pairs; ++c) {
        const int32_t* k = m.kar[c] + pos;
        for (int i = 0; i < n; ++i) {
            d[c][0][i] = static_cast<double>(m.orig[c][i]);
            d[c][1][i] = static_cast<double>(k[static_cast<int64_t>(m.stride) * i]);
        }
    }
    forEach([&](double g) { take(GainCostDouble(d[0][0], d[0][1], d[1][0], d[1][1], n, g, best), g); });
    return result;
}

} // namespace

double FindGainCenterOut(const MatchSet& m, int pos, double step, double range, double center, Impl impl)
{
    return FindGain(m, pos, center, impl, [&](auto&& visit) {
        ForEachGainCandidateCenterOut(step, range, center, visit);
    });
}

double FindGainAscending(const MatchSet& m, int pos, double step, double range, double center, Impl impl)
{
    return FindGain(m, pos, center, impl, [&](auto&& visit) {
        ForEachGainCandidateAscending(step, range, center, visit);
    });
}

} // namespace search
