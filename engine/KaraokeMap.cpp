// The karaoke map's questions: where a frame's content lies, how a run of
// frames splits over the stretches, and what the karaoke does not hold.
#include "Analysis.h"

#include <algorithm>
#include <cmath>

const MapStretch* KaraokeMap::StretchAt(int64_t t) const
{
    if (stretches.empty()) return nullptr;
    // The first stretch whose end lies beyond t; the last takes what follows.
    auto it = std::upper_bound(stretches.begin(), stretches.end(), t,
                               [](int64_t frame, const MapStretch& s) { return frame < s.end; });
    return it == stretches.end() ? &stretches.back() : &*it;
}

std::optional<double> KaraokeMap::PositionAt(int64_t t) const
{
    if (!track.Valid()) return std::nullopt;
    const MapStretch* s = StretchAt(t);
    if (s == nullptr) return track.At(t);
    if (!s->matched) return std::nullopt;
    return s->track.At(t);
}

int KaraokeMap::Pieces(int64_t t, int count, MapPiece* pieces, int maxPieces) const
{
    if (maxPieces < 1 || count <= 0) return 0;
    int n = 0, done = 0;
    while (done < count) {
        const MapStretch* s = StretchAt(t + done);
        int take = count - done;
        if (s != nullptr && s != &stretches.back() && s->end - (t + done) < take)
            take = int(s->end - (t + done));
        if (n == maxPieces - 1) take = count - done;
        pieces[n++] = {done, take, s};
        done += take;
    }
    return n;
}

namespace {

// The first frame in [lo, hi) where `track` reaches `position` (hi when it
// does not); the position grows with the frame.
int64_t FirstReaching(const Trajectory& track, double position, int64_t lo, int64_t hi)
{
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (track.At(mid) >= position)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void AddStretch(std::vector<std::pair<int64_t, int64_t>>& out, int64_t first, int64_t end)
{
    if (end <= first) return;
    if (!out.empty() && out.back().second >= first)
        out.back().second = std::max(out.back().second, end);
    else
        out.emplace_back(first, end);
}

} // namespace

std::vector<std::pair<int64_t, int64_t>> KaraokeMap::Uncovered(int64_t originalFrames, int64_t karaokeFrames) const
{
    std::vector<std::pair<int64_t, int64_t>> out;
    if (!track.Valid() || originalFrames <= 0) return out;
    auto covered = [&](const Trajectory& t, int64_t first, int64_t end) {
        // Before the karaoke's first frame, and from its last on.
        const int64_t starts = FirstReaching(t, 0.0, first, end);
        const int64_t ends = FirstReaching(t, double(karaokeFrames), starts, end);
        AddStretch(out, first, starts);
        AddStretch(out, ends, end);
    };
    if (stretches.empty()) {
        covered(track, 0, originalFrames);
        return out;
    }
    for (size_t i = 0; i < stretches.size(); ++i) {
        const MapStretch& s = stretches[i];
        const int64_t first = i == 0 ? 0 : std::clamp<int64_t>(s.first, 0, originalFrames);
        const int64_t end = i + 1 == stretches.size() ? originalFrames : std::clamp<int64_t>(s.end, 0, originalFrames);
        if (end <= first) continue;
        if (s.matched)
            covered(s.track, first, end);
        else
            AddStretch(out, first, end);
    }
    return out;
}

std::vector<int64_t> KaraokeMap::Seams() const
{
    std::vector<int64_t> seams;
    for (size_t i = 1; i < stretches.size(); ++i) seams.push_back(stretches[i].first);
    return seams;
}

int KaraokeMap::Edits() const
{
    int edits = 0;
    const MapStretch* last = nullptr;
    for (const MapStretch& s : stretches) {
        if (!s.matched) continue;
        // Where the two places meet, the karaoke's frame for one original
        // frame differs by more than a few frames: a jump.
        if (last != nullptr && std::fabs(s.track.At(s.first) - last->track.At(s.first)) > 64) ++edits;
        last = &s;
    }
    return edits;
}
