// Exhaustive shift and gain searches over sample arrays, the alignment core of
// the processing buffer. The search functions here work on any arrays; the
// TVocalFunc members bind them to the buffer's own.
//
// Costs are sums of absolute differences. A candidate is abandoned as soon as
// its running sum exceeds the best complete sum so far and accepted only when
// its sum is strictly below it; ties go to the candidate evaluated first. The
// sums are kept in 64 bits: wherever every cost stays below 2^32 - 1 the
// results are those of 32-bit sums, and a larger cost (long blocks of loud,
// unrelated material) is counted in full instead of wrapping around to a
// small value and winning.
//
// Sample values must lie within +-2^17 (anything formed from 16-bit samples:
// channels, their sums and differences, inverted samples).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

namespace search {

// Up to two pairs of arrays compared sample by sample: orig[c][i] against
// kar[c][pos + stride * i] for i < count.
struct MatchSet {
    const int32_t* orig[2] = {nullptr, nullptr};
    const int32_t* kar[2] = {nullptr, nullptr};
    int pairs = 1;          // pairs compared: 1 or 2
    int count = 0;          // samples compared
    int stride = 1;         // karaoke index step per sample
    int64_t karLen = 0;     // readable entries of each karaoke array
    double* scratch = nullptr; // room for 2 * pairs * count doubles, or null
};

enum class Cost {
    Abs,        // |d_i|
    AbsSlope,   // |d_i| + |d_(i-1) - d_i| per pair, d_(-1) = 0
};

enum class Impl {
    Reference,  // the plain per-sample loops
    Fast,       // chunked loops built for the running CPU; same results
};

constexpr uint64_t kNoCost = std::numeric_limits<uint64_t>::max();

// Whether candidate pos reads only entries 0 .. karLen - 1.
inline bool Fits(const MatchSet& m, int64_t pos)
{
    if (pos < 0 || pos > std::numeric_limits<int32_t>::max() || m.stride < 1) return false;
    if (m.count <= 0) return true;
    const int64_t last = pos + static_cast<int64_t>(m.stride) * (m.count - 1);
    return last < m.karLen && last <= std::numeric_limits<int32_t>::max();
}

// Cost of candidate pos. Once the running sum exceeds best the evaluation may
// stop and return any value above best. pos must fit.
uint64_t ShiftCost(const MatchSet& m, Cost cost, int pos, uint64_t best, Impl impl);
// Cost of gain g at shift pos: sum of |trunc(orig - kar * g)|, each term
// capped at 2^32 - 1 (NaN counts as the cap). pos must fit.
uint64_t GainCost(const MatchSet& m, int pos, double g, uint64_t best, Impl impl);

// Shift candidates center, center + step, center - step, center + 2 step, ...
// while the offset is at most range; the lower side only down to 0. A step
// below 1 tries the center alone. Calls visit(pos) for each in that order.
template <typename Visit>
void ForEachShiftCandidate(int center, int range, int step, Visit&& visit)
{
    if (step < 1) {
        if (range >= 0) visit(static_cast<int64_t>(center));
        return;
    }
    for (int64_t off = 0; off <= range; off += step) {
        visit(static_cast<int64_t>(center) + off);
        if (off != 0 && static_cast<int64_t>(center) - off >= 0) visit(static_cast<int64_t>(center) - off);
    }
}

// Gains center, center + step, center - step, center + 2 step, ... with the
// offset formed by repeated addition of step while it is at most range. A step
// that does not advance the offset (zero, negative, NaN or too small) tries the
// center alone.
template <typename Visit>
void ForEachGainCandidateCenterOut(double step, double range, double center, Visit&& visit)
{
    for (double off = 0.0; off <= range;) {
        visit(center + off);
        if (off != 0.0) visit(center - off);
        const double next = off + step;
        if (!(next > off)) break;
        off = next;
    }
}

// Gains center - range, then + step by repeated addition while at most
// center + range (both bounds formed once). A step that does not advance tries
// the first gain alone.
template <typename Visit>
void ForEachGainCandidateAscending(double step, double range, double center, Visit&& visit)
{
    const double last = center + range;
    for (double g = center - range; g <= last;) {
        visit(g);
        const double next = g + step;
        if (!(next > g)) break;
        g = next;
    }
}

// Candidates between two calls of a search's pump.
inline constexpr int kPumpCandidates = 1024;

// The best karaoke position among the shift candidates; candidates that do not
// fit are skipped. Returns center when no candidate is evaluated. `pump`, when
// given, is called after every kPumpCandidates candidates: a wide search on the
// window's thread lets it handle its events.
int FindShift(const MatchSet& m, Cost cost, int center, int range, int step, Impl impl = Impl::Fast,
              const std::function<void()>& pump = {});

// The best gain at shift pos in center-out or ascending order. Returns center
// when pos does not fit or no candidate is evaluated.
double FindGainCenterOut(const MatchSet& m, int pos, double step, double range, double center,
                         Impl impl = Impl::Fast);
double FindGainAscending(const MatchSet& m, int pos, double step, double range, double center,
                         Impl impl = Impl::Fast);

} // namespace search
