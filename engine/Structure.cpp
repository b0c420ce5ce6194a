#include "Structure.h"

#include "EditSearch.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace {

constexpr int kDecimation = editsearch::kDecimation;
// The search's blocks: decimated samples, and original frames.
constexpr int kBlockSamples = 256;
constexpr int64_t kBlockFrames = int64_t(kBlockSamples) * kDecimation;
// Blocks of the running mean the decisions look at, and the shortest run of
// blocks a search starts on (about half a second).
constexpr int kSmoothBlocks = 5;
constexpr int kMinRunBlocks = 5;
// A place found for a stretch counts when its correlation is at least this
// and this much above the best elsewhere (a bar that repeats has several).
constexpr double kMinScore = 0.5, kMinLead = 1.3;
// How far from the fitted position a stretch that sounds alike in several
// places is looked for again (seconds), and how closely it must match there:
// a section repeated note for note matches as well as the same place does,
// one merely alike (the same chords) does not.
constexpr double kNearSeconds = 8, kMinNearScore = 0.7;
// Places closer than this (frames) are the same place.
constexpr double kSamePlaceFrames = 32;
// A block is explained where the best place removes at least this share of
// the original and karaoke's energy (running mean).
constexpr double kExplained = 0.1;
constexpr int kMaxSearches = 16;
// What a change of place costs the path through the blocks, in units of one
// block's whole energy: a change needs a few blocks of evidence.
constexpr double kSwitchCost = 1.0;
// The longest stretch of the original looked for at once.
constexpr double kTemplateSeconds = 3.0;
// Seams are placed in steps of this many frames, within this many frames of
// the blocks' guess.
constexpr int kSeamStep = 128;
constexpr int64_t kSeamReach = kBlockFrames * 3 / 2;

// Share of the energy of original and karaoke that removing the karaoke at
// gain g takes out: near + for a karaoke that holds the original's
// accompaniment, near - for one that holds something else.
double Removed(double oo, double kk, double ok, double g)
{
    const double whole = oo + g * g * kk;
    return whole > 0 ? (2 * g * ok - g * g * kk) / whole : 0.0;
}

std::vector<double> RunningMean(const std::vector<double>& v)
{
    std::vector<double> out(v.size(), 0.0);
    const int h = kSmoothBlocks / 2;
    for (size_t i = 0; i < v.size(); ++i) {
        double s = 0;
        int n = 0;
        for (int64_t j = int64_t(i) - h; j <= int64_t(i) + h; ++j)
            if (j >= 0 && j < int64_t(v.size())) {
                s += v[size_t(j)];
                ++n;
            }
        out[i] = s / n;
    }
    return out;
}

// Decimated mono mixes of both recordings, whole (each made in place at its
// final size); false when stopped.
bool Decimate(PairReader& pair, RunContext& run, bool inverted, std::vector<float>& original,
              std::vector<float>& karaoke)
{
    constexpr int kChunk = 1 << 16;
    std::vector<int16_t> pcm(size_t(kChunk) * size_t(pair.Channels()));
    for (int which = 0; which < 2; ++which) {
        editsearch::Decimator d;
        d.Reserve(size_t((which == 0 ? pair.OriginalFrames() : pair.KaraokeFrames()) / kDecimation));
        for (int64_t at = 0;; at += kChunk) {
            const int32_t bytes = which == 0 ? pair.ReadOriginal(at, pcm.data(), kChunk)
                                             : pair.ReadKaraoke(at, pcm.data(), kChunk);
            const int frames = bytes / (2 * pair.Channels());
            d.Push(pcm.data(), frames, pair.Channels());
            run.Pump();
            if (run.Stopped()) return false;
            if (frames < kChunk) break;
        }
        std::vector<float>& out = which == 0 ? original : karaoke;
        out = std::move(d.Output());
        if (which == 1 && inverted)
            for (float& v : out) v = -v;
    }
    return true;
}

// The karaoke's decimated samples along `track` moved by `delta` frames,
// block by block: each block's share of energy removed (Removed above).
std::vector<double> BlockScores(const std::vector<float>& o, const std::vector<float>& k, const Trajectory& track,
                                double delta, double g)
{
    const size_t blocks = o.size() / kBlockSamples;
    std::vector<double> r(blocks, 0.0);
    const double centre = (kDecimation - 1) / 2.0; // a decimated sample stands for the middle of its frames
    for (size_t b = 0; b < blocks; ++b) {
        const double x0 = double(b) * kBlockFrames + centre;
        const double p0 = (track.At(int64_t(x0)) + delta - centre) / kDecimation;
        const double p1 = (track.At(int64_t(x0) + kBlockFrames) + delta - centre) / kDecimation;
        const double step = (p1 - p0) / kBlockSamples;
        double oo = 0, kk = 0, ok = 0;
        for (int j = 0; j < kBlockSamples; ++j) {
            const double q = p0 + step * j;
            const double f = std::floor(q);
            const int64_t i = int64_t(f);
            double kv = 0;
            if (i >= 0 && i + 1 < int64_t(k.size())) kv = k[size_t(i)] * (1 - (q - f)) + k[size_t(i + 1)] * (q - f);
            const double ov = o[b * kBlockSamples + size_t(j)];
            oo += ov * ov;
            kk += kv * kv;
            ok += ov * kv;
        }
        r[b] = Removed(oo, kk, ok, g);
    }
    return r;
}

// The path through the blocks that removes most, changing place seldom:
// each block's state, an index into `scores` (the last state, with no
// score, stands for "no counterpart").
std::vector<int> BestPath(const std::vector<std::vector<double>>& scores, size_t blocks)
{
    const size_t states = scores.size() + 1;
    auto score = [&](size_t s, size_t b) { return s < scores.size() ? scores[s][b] : 0.0; };
    std::vector<double> total(states);
    for (size_t s = 0; s < states; ++s) total[s] = score(s, 0);
    std::vector<std::vector<uint8_t>> from(blocks, std::vector<uint8_t>(states, 0));
    for (size_t b = 1; b < blocks; ++b) {
        const size_t best = size_t(std::max_element(total.begin(), total.end()) - total.begin());
        std::vector<double> next(states);
        for (size_t s = 0; s < states; ++s) {
            const bool stay = total[s] >= total[best] - kSwitchCost;
            next[s] = (stay ? total[s] : total[best] - kSwitchCost) + score(s, b);
            from[b][s] = uint8_t(stay ? s : best);
        }
        total = next;
    }
    std::vector<int> path(blocks);
    size_t s = size_t(std::max_element(total.begin(), total.end()) - total.begin());
    for (size_t b = blocks; b-- > 0;) {
        path[b] = int(s);
        s = from[b][s];
    }
    return path;
}

// Reads blocks of the original and of the karaoke along a trajectory, as
// the extraction will read them, for the fine measurements.
class AlignedBlocks {
public:
    AlignedBlocks(const AnalysisInputs& in, bool inverted) : in_(in), inverted_(inverted) {}
    bool Setup()
    {
        f_ = std::make_unique<TVocalFunc>();
        if (f_->Setup(in_.pair.Channels(), in_.pair.SampleRate(), in_.options.BlkSec * 2.0, 1) != 0 ||
            f_->SetupPrecise() != 0)
            return false;
        f_->SetKaraokeInvert(inverted_);
        return f_->blockLen / 4 >= kMargin;
    }
    int BlockLen() const { return f_->blockLen; }
    // The block whose middle half is centred on frame t, read along `track`;
    // the fit of its remaining shift and gain, or false when it carries no
    // evidence.
    bool Probe(const Trajectory& track, int64_t t, AlignPoint& point)
    {
        TVocalFunc& f = *f_;
        const int quarter = f.blockLen / 4, half = f.blockLen / 2;
        const int64_t u = t - (quarter + half / 2);
        const double p0 = track.At(u + quarter), p1 = track.At(u + quarter + half);
        const double step = (p1 - p0) / half;
        const int64_t k = int64_t(std::floor(p0)) - quarter;
        in_.pair.ReadOriginal(u, f.origPcm.get(), f.blockLen);
        in_.pair.ReadKaraoke(k, f.karPcm.get(), f.karaokeLen);
        f.UnpackInput();
        f.ReadKaraokeAligned(p0 - double(k) - kMargin * step, step, quarter - kMargin, half + 2 * kMargin);
        const TVocalFunc::BlockFit fit = f.FitAligned(quarter, half, in_.options.ProcMode == 2);
        return SolveBlockFit(fit.oo, fit.kk, fit.ok, fit.ss, fit.os, fit.ks, fit.n, t, 0, point);
    }

private:
    static constexpr int kMargin = 64;
    const AnalysisInputs& in_;
    bool inverted_;
    std::unique_ptr<TVocalFunc> f_;
};

// The whole shift, within kDecimation + 8 frames, that best removes the
// karaoke (the mono mixes, gain g) along `track` from the kLen frames of the
// original from frame t: the place the decimated search found is that
// coarse.
class ShiftSearch {
public:
    static constexpr int kReach = kDecimation + 8, kLen = 4096;
    ShiftSearch(PairReader& pair, bool inverted, double g)
        : pair_(pair), sign_(inverted ? -g : g), opcm_(size_t(kLen) * size_t(pair.Channels())),
          kpcm_(size_t(kLen + 2 * kReach) * size_t(pair.Channels())), o_(kLen), k_(kLen + 2 * kReach)
    {
    }
    // Only shifts within `reach` of `around` are tried (reach <= kReach).
    // `left`, when given, receives the share of the original's energy left
    // at the best shift.
    int Best(const Trajectory& track, int64_t t, int around = 0, int reach = kReach, double* left = nullptr)
    {
        const int64_t p = int64_t(std::llround(track.At(t))) + around;
        pair_.ReadOriginal(t, opcm_.data(), kLen);
        pair_.ReadKaraoke(p - kReach, kpcm_.data(), kLen + 2 * kReach);
        Mix(opcm_, o_);
        Mix(kpcm_, k_);
        double best = 1e300;
        int at = 0;
        for (int d = -reach; d <= reach; ++d) {
            double c = 0;
            for (int i = 0; i < kLen; ++i) {
                const double r = o_[size_t(i)] - sign_ * k_[size_t(i + kReach + d)];
                c += r * r;
            }
            if (c < best) {
                best = c;
                at = d;
            }
        }
        if (left != nullptr) {
            double energy = 0;
            for (double v : o_) energy += v * v;
            *left = energy > 0 ? best / energy : 1.0;
        }
        return around + at;
    }

private:
    void Mix(const std::vector<int16_t>& pcm, std::vector<double>& out) const
    {
        const size_t channels = size_t(pair_.Channels());
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = pcm[i * channels] + (channels > 1 ? pcm[i * channels + 1] : 0);
    }
    PairReader& pair_;
    double sign_;
    std::vector<int16_t> opcm_, kpcm_;
    std::vector<double> o_, k_;
};

// A stretch's position measured as the whole song's is, from its own
// blocks: each block's whole shift around the place found and a robust line
// through them; then blocks spread over the stretch and its quietest ones
// read along that line (where their fraction is small, so measured without
// bias) and the line fitted again to what they say; the quietest read once
// more correct what is left. `points` receives the blocks' fits. False when
// nothing in the stretch cancels (the place found was a likeness, not the
// content).
bool FitStretch(ShiftSearch& shifts, AlignedBlocks& blocks, MapStretch& s, double slope, int sampleRate,
                std::vector<AlignPoint>& points)
{
    points.clear();
    const int64_t guard = sampleRate / 4;
    const int64_t first = s.first + guard, end = s.end - guard - ShiftSearch::kLen;
    if (end - first < blocks.BlockLen()) return true; // too short to say more than the search did
    // Every block's whole shift (cheap), so that the quietest are among them.
    constexpr int kMaxBlocks = 384, kSpread = 48, kQuiet = 32;
    const int64_t spacing = std::max<int64_t>(blocks.BlockLen() / 2, (end - first) / kMaxBlocks);
    const Trajectory coarse = s.track;
    // The first block searches the whole reach; the next ones near the
    // shift before, which the clock moves slowly.
    std::vector<AlignPoint> whole;
    int shift = 0, reach = ShiftSearch::kReach;
    for (int64_t t = first; t < end; t += spacing) {
        AlignPoint q;
        shift = shifts.Best(coarse, t, shift, reach, &q.residual);
        reach = std::min(reach, 3);
        q.t = t + ShiftSearch::kLen / 2;
        q.p = coarse.At(q.t) + shift;
        q.var = 1.0 / 12; // a whole frame's rounding
        q.g = q.kk = q.oo = 1;
        whole.push_back(q);
    }
    constexpr int kMinPoints = 8;
    Trajectory line;
    if (int(whole.size()) < kMinPoints || !line.Fit(whole, slope, kMinPoints) || std::fabs(line.Slope() - slope) > 1e-4) {
        // Too few blocks for a line: the place moved by their median.
        std::vector<double> off;
        for (const AlignPoint& q : whole) off.push_back(q.p - coarse.At(q.t));
        if (off.empty()) return true;
        std::nth_element(off.begin(), off.begin() + long(off.size() / 2), off.end());
        line = coarse;
        line.Shift(off[off.size() / 2]);
    }
    // Blocks spread over the stretch, and the quietest.
    std::vector<bool> chosen(whole.size(), false);
    const size_t every = std::max<size_t>(1, whole.size() / kSpread);
    for (size_t i = 0; i < whole.size(); i += every) chosen[i] = true;
    std::vector<size_t> order(whole.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return whole[a].residual < whole[b].residual; });
    for (size_t i = 0; i < std::min<size_t>(kQuiet, order.size()); ++i) chosen[order[i]] = true;
    double cleanest = 1;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (!chosen[i]) continue;
        AlignPoint q;
        if (!blocks.Probe(line, whole[i].t, q)) continue;
        q.p += line.At(whole[i].t);
        points.push_back(q);
        cleanest = std::min(cleanest, q.residual);
    }
    if (points.size() < 4) {
        s.track = line;
        return true;
    }
    if (cleanest > 0.5) return false;
    Trajectory fitted;
    if (int(points.size()) < kMinPoints || !fitted.Fit(points, line.Slope(), kMinPoints) ||
        std::fabs(fitted.Slope() - slope) > 1e-4) {
        std::vector<double> off;
        for (const AlignPoint& q : points) off.push_back(q.p - line.At(q.t));
        std::nth_element(off.begin(), off.begin() + long(off.size() / 2), off.end());
        fitted = line;
        fitted.Shift(off[off.size() / 2]);
    }
    std::vector<AlignPoint> probes;
    const std::vector<size_t> quiet = QuietestBlocks(
        points, fitted.Kept().size() == points.size() ? fitted.Kept() : std::vector<bool>(points.size(), true));
    for (size_t i : quiet) {
        AlignPoint q;
        if (blocks.Probe(fitted, points[i].t, q)) probes.push_back(q);
    }
    if (probes.size() >= 4) ApplyProbeCorrection(fitted, PoolProbes(probes, fitted.Origin()));
    s.track = fitted;
    // The blocks as the fitted position reads them: their gain and what is
    // left of them are the stretch's own.
    std::vector<AlignPoint> final;
    for (const AlignPoint& p : points) {
        AlignPoint q;
        if (!blocks.Probe(fitted, p.t, q)) continue;
        q.p += fitted.At(p.t);
        final.push_back(q);
    }
    points = std::move(final);
    return true;
}

// Moves the seam between stretches a and b (a before b) to where the
// original is best explained by a's position before it and b's after it,
// in steps of kSeamStep frames.
void PlaceSeam(PairReader& pair, RunContext& run, bool inverted, double g, MapStretch& a, MapStretch& b)
{
    const int64_t seam = b.first;
    const int64_t from = std::max(a.first + kSeamStep, seam - kSeamReach);
    const int64_t to = std::min(b.end - kSeamStep, seam + kSeamReach);
    if (to - from < 2 * kSeamStep) return;
    const int steps = int((to - from) / kSeamStep);
    const int frames = steps * kSeamStep, channels = pair.Channels();
    std::vector<int16_t> pcm(size_t(frames + 8) * size_t(channels));
    std::vector<double> mix(static_cast<size_t>(frames));
    pair.ReadOriginal(from, pcm.data(), frames);
    for (int i = 0; i < frames; ++i) {
        double v = pcm[size_t(i * channels)];
        if (channels > 1) v += pcm[size_t(i * channels + 1)];
        mix[size_t(i)] = v;
    }
    // Per step, what is left of the original under each side's rule.
    // Per step, what is left of the original under each side's rule, and
    // the original's and the karaoke's energy there.
    std::vector<double> energy(static_cast<size_t>(steps), 1.0);
    for (int i = 0; i < frames; ++i) energy[size_t(i / kSeamStep)] += mix[size_t(i)] * mix[size_t(i)];
    auto costs = [&](const MapStretch& s) {
        std::vector<double> c(size_t(steps), 0.0);
        if (!s.matched) {
            for (int i = 0; i < frames; ++i) c[size_t(i / kSeamStep)] += mix[size_t(i)] * mix[size_t(i)];
            return c;
        }
        const double p0 = s.track.At(from), p1 = s.track.At(from + frames);
        const int64_t base = int64_t(std::floor(std::min(p0, p1))) - 2;
        const int span = int(std::ceil(std::max(p0, p1))) - int(base) + 4;
        std::vector<int16_t> kar(size_t(span) * size_t(channels));
        pair.ReadKaraoke(base, kar.data(), span);
        const double sign = inverted ? -g : g, step = (p1 - p0) / frames;
        for (int i = 0; i < frames; ++i) {
            const double q = p0 + step * i - double(base);
            const int j = std::clamp(int(std::floor(q)), 0, span - 2);
            const double f = q - j;
            double k0 = kar[size_t(j * channels)], k1 = kar[size_t((j + 1) * channels)];
            if (channels > 1) {
                k0 += kar[size_t(j * channels + 1)];
                k1 += kar[size_t((j + 1) * channels + 1)];
            }
            const double k = sign * (k0 * (1 - f) + k1 * f), d = mix[size_t(i)] - k;
            c[size_t(i / kSeamStep)] += d * d;
            energy[size_t(i / kSeamStep)] += k * k;
        }
        return c;
    };
    std::vector<double> ca = costs(a), cb = costs(b);
    // Each step weighed by the energy in play there: the share of it either
    // rule removes or adds is the evidence, the same in loud and quiet steps.
    for (int i = 0; i < steps; ++i) {
        ca[size_t(i)] /= energy[size_t(i)];
        cb[size_t(i)] /= energy[size_t(i)];
    }
    // The split where the two rules leave least, step by step.
    double before = 0, after = 0;
    for (double v : cb) after += v;
    double best = after;
    int split = 0;
    for (int i = 0; i < steps; ++i) {
        before += ca[size_t(i)];
        after -= cb[size_t(i)];
        if (before + after < best) {
            best = before + after;
            split = i + 1;
        }
    }
    const int64_t placed = from + int64_t(split) * kSeamStep;
    run.DebugPrint("Seam near:%.4f s placed:%.4f s\n", double(seam) / pair.SampleRate(),
                   double(placed) / pair.SampleRate());
    a.end = placed;
    b.first = placed;
}

} // namespace

bool RemovalAddsSound(const std::vector<Measurement::Evidence>& evidence, double gain)
{
    std::vector<double> r;
    r.reserve(evidence.size());
    for (const Measurement::Evidence& e : evidence) r.push_back(Removed(e.oo, e.kk, e.ok, gain));
    const std::vector<double> mean = RunningMean(r);
    int run = 0;
    for (double m : mean) {
        run = m < 0 ? run + 1 : 0;
        if (run >= kMinRunBlocks) return true;
    }
    return false;
}

namespace {

// A place the decimated search found for a stretch of the original: the
// original frame and the karaoke frame where the same content lies.
struct Anchor {
    double t, p;
};

// The karaoke's clock against the original's from anchors of one place
// found far apart (a place's frames follow the clock, whatever the edits):
// the median slope over pairs at least two seconds apart that agree within
// 0.1 %. None without two such pairs.
std::optional<double> SlopeFromAnchors(const std::vector<Anchor>& anchors, int sampleRate)
{
    std::vector<double> slopes;
    for (size_t i = 0; i < anchors.size(); ++i)
        for (size_t j = i + 1; j < anchors.size(); ++j) {
            const double dt = anchors[j].t - anchors[i].t;
            if (std::fabs(dt) < 2.0 * sampleRate) continue;
            const double slope = (anchors[j].p - anchors[i].p) / dt;
            if (std::fabs(slope - 1) < 1e-3) slopes.push_back(slope);
        }
    if (slopes.empty()) return std::nullopt;
    std::nth_element(slopes.begin(), slopes.begin() + long(slopes.size() / 2), slopes.end());
    return slopes[slopes.size() / 2];
}

} // namespace

StructureFinding FindStructure(const AnalysisInputs& in, bool inverted, double gain, const Trajectory& line,
                               const std::vector<Measurement::Evidence>& evidence, AnalysisTrace& trace)
{
    StructureFinding found;
    if (!line.Valid() || gain <= 0 || !RemovalAddsSound(evidence, gain)) return found;
    RunContext& run = in.run;
    const int rate = in.pair.SampleRate();

    std::vector<float> o, k;
    if (!Decimate(in.pair, run, inverted, o, k)) return found;
    const size_t blocks = o.size() / kBlockSamples;
    if (blocks < size_t(kMinRunBlocks) || k.empty()) return found;
    editsearch::Locator locator;
    const int longest = int(kTemplateSeconds * rate / kDecimation);
    if (locator.Setup(k, longest) != 0) return found;

    // Places: the fitted position, then each one found for a stretch that
    // none of those before explains. Where the places found show that the
    // fitted position runs at the wrong speed (the blocks it was fitted to
    // were mostly of other places), the search starts again once along
    // their speed.
    Trajectory main = line;
    std::vector<double> deltas;
    std::vector<std::vector<double>> scores;
    std::vector<Anchor> anchors;
    int searches = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        deltas.assign(1, 0.0);
        scores.assign(1, BlockScores(o, k, main, 0.0, gain));
        anchors.clear();
        std::vector<bool> tried(blocks, false);
        for (int n = 0; n < kMaxSearches; ++n) {
            std::vector<double> explained(blocks, -1e9);
            for (const std::vector<double>& sc : scores) {
                const std::vector<double> m = RunningMean(sc);
                for (size_t b = 0; b < blocks; ++b) explained[b] = std::max(explained[b], m[b]);
            }
            // The stretch the places so far explain worst: one that removing
            // adds sound to (no counterpart there) comes before one they
            // merely explain little (a stretch of loud voice), whatever
            // comes first in the song, so that the searches are not spent
            // on the latter.
            size_t b0 = blocks, b1 = blocks;
            double worst = 0;
            for (size_t b = 0; b < blocks;) {
                if (explained[b] < kExplained && !tried[b]) {
                    size_t e = b;
                    double sum = 0;
                    for (; e < blocks && explained[e] < kExplained && !tried[e]; ++e) sum += explained[e];
                    const double mean = sum / double(e - b);
                    if (e - b >= size_t(kMinRunBlocks) && (b0 == blocks || mean < worst)) {
                        b0 = b;
                        b1 = e;
                        worst = mean;
                    }
                    b = e;
                } else {
                    ++b;
                }
            }
            if (b0 == blocks) break;
            ++searches;
            int count = int(std::min<size_t>((b1 - b0) * kBlockSamples, size_t(longest)));
            const size_t at = b0 * kBlockSamples;
            editsearch::Match m = locator.Find(o.data() + at, count);
            if ((m.score < kMinScore || m.score < kMinLead * m.runnerUp) && count >= 2 * kMinRunBlocks * kBlockSamples) {
                // The stretch may begin with part of another place: its start alone.
                count /= 2;
                m = locator.Find(o.data() + at, count);
            }
            const double centre = (kDecimation - 1) / 2.0;
            if (m.position >= 0 && m.score >= kMinScore && m.score < kMinLead * m.runnerUp) {
                // The stretch sounds alike in several places (a section the
                // song repeats note for note): the one near the fitted
                // position, if it stands out there.
                const int64_t near = std::llround((main.At(int64_t(double(at) * kDecimation + centre)) - centre) / kDecimation);
                const int64_t reach = int64_t(kNearSeconds * rate / kDecimation);
                const editsearch::Match local = locator.Find(o.data() + at, count, near - reach, near + reach);
                if (local.position >= 0 && local.score >= kMinNearScore && local.score >= kMinLead * local.runnerUp) m = local;
            }
            const double t = double(at) * kDecimation + centre, p = double(m.position) * kDecimation + centre;
            const double delta = p - main.At(int64_t(t));
            const bool clear = m.position >= 0 && m.score >= kMinScore && m.score >= kMinLead * m.runnerUp;
            if (clear) anchors.push_back({t, p});
            bool added = false;
            if (clear && std::all_of(deltas.begin(), deltas.end(),
                                     [&](double d) { return std::fabs(d - delta) > kSamePlaceFrames; })) {
                std::vector<double> sc = BlockScores(o, k, main, delta, gain);
                const std::vector<double> mean = RunningMean(sc);
                // The place must explain the stretch it was found for.
                const size_t own = std::max<size_t>(1, size_t(count / kBlockSamples));
                double sum = 0;
                for (size_t b = b0; b < std::min(blocks, b0 + own); ++b) sum += mean[b];
                if (sum / double(own) >= kExplained) {
                    deltas.push_back(delta);
                    scores.push_back(std::move(sc));
                    added = true;
                }
            }
            run.DebugPrint("Structure search at:%.2f s score:%.3f runner:%.3f delta:%.1f %s\n", t / rate, m.score,
                           m.runnerUp, delta, added ? "kept" : "dropped");
            if (!added) {
                const size_t span = std::max<size_t>(1, size_t(count / kBlockSamples) / 2);
                for (size_t b = b0; b < std::min(blocks, b0 + span); ++b) tried[b] = true;
            }
            run.Pump();
            if (run.Stopped()) return found;
        }
        const std::optional<double> slope = SlopeFromAnchors(anchors, rate);
        if (attempt > 0 || !slope || std::fabs(*slope - main.Slope()) < 5e-6) break;
        // Through the anchor the fitted position agrees with best, at the
        // anchors' speed.
        const Anchor* through = &anchors[0];
        for (const Anchor& x : anchors)
            if (std::fabs(x.p - main.At(int64_t(x.t))) < std::fabs(through->p - main.At(int64_t(through->t))))
                through = &x;
        main.SetLine(int64_t(through->t), through->p, *slope);
        run.DebugPrint("Structure speed:%f ppm\n", (*slope - 1) * 1e6);
    }
    trace.structureSearches = searches;

    const std::vector<int> path = BestPath(scores, blocks);
    const int none = int(scores.size());
    std::vector<MapStretch> stretches;
    for (size_t b = 0; b < blocks;) {
        size_t e = b;
        while (e < blocks && path[e] == path[b]) ++e;
        MapStretch st;
        st.first = int64_t(b) * kBlockFrames;
        st.end = int64_t(e) * kBlockFrames;
        st.matched = path[b] != none;
        if (st.matched) {
            st.track = main;
            st.track.Shift(deltas[size_t(path[b])]);
        }
        stretches.push_back(std::move(st));
        b = e;
    }
    if (stretches.size() == 1 && stretches[0].matched && path[0] == 0) return found;
    // A short first or last stretch at a place of its own, beside the song's
    // ends, is a bar that recurs elsewhere, not the karaoke's intro or outro.
    for (size_t i : {size_t(0), stretches.size() - 1}) {
        MapStretch& st = stretches[i];
        const int place = path[size_t(st.first / kBlockFrames)];
        if (!st.matched || place == 0 || st.end - st.first >= int64_t(1.5 * rate)) continue;
        if (std::count(path.begin(), path.end(), place) * kBlockFrames == st.end - st.first) st.matched = false;
    }

    // Each place measured as precisely as a whole song's position, then the
    // seams placed to a few milliseconds.
    AlignedBlocks aligned(in, inverted);
    if (!aligned.Setup()) {
        found.result = RunResult::kNoMemory;
        return found;
    }
    ShiftSearch shifts(in.pair, inverted, gain);
    std::vector<std::vector<AlignPoint>> points(stretches.size());
    for (size_t i = 0; i < stretches.size(); ++i) {
        MapStretch& st = stretches[i];
        if (st.matched && !FitStretch(shifts, aligned, st, main.Slope(), rate, points[i])) st.matched = false;
        run.Pump();
        if (run.Stopped()) return found;
    }
    // Neighbours that ended up alike are one stretch.
    std::vector<MapStretch> merged;
    std::vector<std::vector<AlignPoint>> mergedPoints;
    for (size_t i = 0; i < stretches.size(); ++i) {
        MapStretch& st = stretches[i];
        if (!merged.empty() && !merged.back().matched && !st.matched) {
            merged.back().end = st.end;
            continue;
        }
        merged.push_back(std::move(st));
        mergedPoints.push_back(std::move(points[i]));
    }
    if (merged.size() == 1 && merged[0].matched) return found; // one place after all: the fitted one

    // The longest matched stretch stands for the song's position (offset,
    // speed, the probes and the matching filter), and its blocks give the
    // karaoke's gain: the whole song's blocks, others' places among them,
    // may have given a wrong one.
    size_t longestStretch = merged.size();
    for (size_t i = 0; i < merged.size(); ++i)
        if (merged[i].matched && (longestStretch == merged.size() ||
                                  merged[i].end - merged[i].first > merged[longestStretch].end - merged[longestStretch].first))
            longestStretch = i;
    if (longestStretch == merged.size()) return found;
    const std::vector<AlignPoint>& own = mergedPoints[longestStretch];
    const double ownGain = VoiceFreeGain(own, std::vector<bool>(own.size(), true), 4);
    for (size_t i = 1; i < merged.size(); ++i)
        PlaceSeam(in.pair, run, inverted, ownGain > 0 ? ownGain : gain, merged[i - 1], merged[i]);
    found.followsLine.assign(merged.size(), false);
    found.followsLine[longestStretch] = true;
    found.mainTrack = merged[longestStretch].track;
    found.mainPoints = std::move(mergedPoints[longestStretch]);
    for (size_t i = 0; i < merged.size(); ++i)
        if (i != longestStretch && merged[i].matched)
            found.otherPoints.insert(found.otherPoints.end(), mergedPoints[i].begin(), mergedPoints[i].end());
    found.stretches = std::move(merged);
    trace.stretches = int(found.stretches.size());
    KaraokeMap result;
    result.track = found.mainTrack;
    result.stretches = found.stretches;
    run.DebugPrint("Structure stretches:%d edits:%d gain:%f\n", int(found.stretches.size()), result.Edits(), ownGain);
    for (const MapStretch& st : found.stretches)
        run.DebugPrint("Stretch from:%.4f s to:%.4f s %s:%f\n", double(st.first) / rate, double(st.end) / rate,
                       st.matched ? "at" : "none", st.matched ? st.track.At(st.first) - double(st.first) : 0.0);
    return found;
}
