#include "AutoAnalysis.h"

#include "EngineText.h"
#include "Structure.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

void LogRange(RunContext& run, int halfWidthFrames, const PassStats& s)
{
    run.DebugPrint("range:%d vol:%f voc:%f org:%f ofs:%f bnsn:%f\n", halfWidthFrames, s.gain, s.meanResidual,
                   s.meanOriginal, s.meanShiftFrames, s.shiftSpreadFrames);
}

// The position fitted to the final pass's block fits, the gain over the
// blocks with least voice and how well the karaoke cancels.
KaraokeMap FitPosition(RunContext& run, const Measurement& measured, double slopeGuess, int sampleRate)
{
    const std::vector<AlignPoint>& points = measured.fits;
    KaraokeMap map;
    const int minPoints = 8;
    if (map.track.Fit(points, slopeGuess, minPoints) && std::fabs(map.track.Slope() - 1.0) < 0.01) {
        map.track.FitWander(points, int64_t(sampleRate) * 10);
        map.leastSquaresGain = VoiceFreeGain(points, map.track.Kept(), minPoints);
    } else {
        map.track = Trajectory{};
        map.leastSquaresGain = VoiceFreeGain(points, std::vector<bool>(points.size(), true), minPoints);
    }
    map.cancellationPreciseDb = CancellationDb(points);
    map.cancellationWholeDb = CancellationDb(measured.wholeShiftFits);
    const Trajectory& t = map.track;
    if (t.Valid())
        run.DebugPrint("Precise ofs:%f drift:%f ppm wander:%f gain:%f cancel:%f whole:%f kept:%d/%d spread:%f\n",
                       t.At(0), (t.Slope() - 1.0) * 1e6, t.MaxWander(), map.leastSquaresGain,
                       map.cancellationPreciseDb, map.cancellationWholeDb, t.Inliers(), int(points.size()),
                       t.Spread());
    else
        run.DebugPrint("Precise none gain:%f cancel:%f whole:%f points:%d\n", map.leastSquaresGain,
                       map.cancellationPreciseDb, map.cancellationWholeDb, int(points.size()));
    return map;
}

// The blocks with least voice, read again along the fitted position with the
// interpolator the extraction uses: their remaining fractional shift corrects
// the position's offset (the block fits of the pass are linear in the
// fraction and carry a small bias where it is large), and their exact
// least-squares gain and residual give the gain and the cancellation that the
// automatic merge judges by. On the same blocks the matching filter is
// fitted.
int ProbePosition(const AnalysisInputs& in, bool inverted, const std::vector<AlignPoint>& points, KaraokeMap& map,
                  AnalysisTrace& trace)
{
    Trajectory& track = map.track;
    if (!track.Valid()) return RunResult::kDone;
    const CommittedOptions& o = in.options;
    const bool mid = o.ProcMode == 2;
    const std::vector<size_t> quiet = QuietestBlocks(points, track.Kept());
    if (quiet.empty()) return RunResult::kDone;

    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(in.pair.Channels(), in.pair.SampleRate(), o.BlkSec * 2.0, 1) != 0 || f->SetupPrecise() != 0)
        return RunResult::kNoMemory;
    f->SetKaraokeInvert(inverted);
    const int quarter = f->blockLen / 4, half = f->blockLen / 2, middle = quarter + half / 2;
    const int margin = 64;
    if (quarter < margin) return RunResult::kDone;

    // A block read again: the original at its place, the karaoke along the
    // position with room for the slope's and the filter's taps on either side.
    auto readAligned = [&](const AlignPoint& q) {
        const int64_t u = q.t - middle;
        const double p0 = track.At(u + quarter), p1 = track.At(u + quarter + half);
        const double step = (p1 - p0) / half;
        const int64_t k = int64_t(std::floor(p0)) - quarter;
        in.pair.ReadOriginal(u, f->origPcm.get(), f->blockLen);
        in.pair.ReadKaraoke(k, f->karPcm.get(), f->karaokeLen);
        f->UnpackInput();
        f->ReadKaraokeAligned(p0 - double(k) - margin * step, step, quarter - margin, half + 2 * margin);
    };
    std::vector<AlignPoint> probes;
    std::vector<size_t> probeOf; // the pass's point each probe reads again
    for (size_t q : quiet) {
        readAligned(points[q]);
        const TVocalFunc::BlockFit fit = f->FitAligned(quarter, half, mid);
        AlignPoint r;
        if (SolveBlockFit(fit.oo, fit.kk, fit.ok, fit.ss, fit.os, fit.ks, fit.n, points[q].t, 0, r)) {
            probes.push_back(r);
            probeOf.push_back(q);
        }
    }
    trace.probedBlocks = int(probes.size());
    if (probes.size() < 4) return RunResult::kDone;
    const ProbeCorrection correction = PoolProbes(probes, track.Origin());
    ApplyProbeCorrection(track, correction);
    if (correction.gain) map.leastSquaresGain = *correction.gain;
    map.cancellationPreciseDb = correction.cancellationDb;
    in.run.DebugPrint("Probe blocks:%d shift:%f tilt:%g ppm gain:%f cancel:%f\n", int(probes.size()),
                      correction.shiftFrames, correction.tilt * 1e6, map.leastSquaresGain, map.cancellationPreciseDb);

    // A karaoke mastered with another equaliser leaves the accompaniment's
    // colour behind whatever the gain. The same blocks, read at the
    // corrected position, fit a short filter by least squares (each block
    // weighted by how little voice it holds).
    constexpr int kTaps = 2 * kMatchHalfTaps + 1;
    std::vector<double> gram(kTaps * kTaps, 0.0), cross(kTaps, 0.0);
    double energy = 0;
    for (size_t j : correction.used) {
        const AlignPoint& r = probes[j];
        const double weight = 1 / std::max(r.residual * r.oo, 1e-9);
        readAligned(points[probeOf[j]]);
        f->AccumulateMatch(quarter, half, kMatchHalfTaps, mid, weight, gram.data(), cross.data());
        energy += weight * r.oo;
    }
    if (correction.used.size() >= 4) {
        const MatchFit match = FitMatchingFilter(gram, cross, energy, kMatchHalfTaps);
        if (match.solved) {
            map.matchTaps = match.taps;
            in.run.DebugPrint("Match left:%g gain left:%g kept:%d\n", match.filterLeft, match.gainLeft,
                              map.matchTaps.empty() ? 0 : 1);
        }
    }
    trace.matchingFilter = !map.matchTaps.empty();
    if (!map.matchTaps.empty()) {
        // The cancellation the extraction will see, through the filter.
        std::vector<double> left;
        for (size_t j : correction.used) {
            readAligned(points[probeOf[j]]);
            f->FilterAligned(map.matchTaps.data(), kMatchHalfTaps, quarter, half);
            left.push_back(f->AlignedResidual(quarter, half, mid));
        }
        map.cancellationPreciseDb = CleanestCancellationDb(left);
        in.run.DebugPrint("Match cancel:%f\n", map.cancellationPreciseDb);
    }
    return RunResult::kDone;
}

// The last pass: every block's shift around the drift within the
// half-width, with its fractional fit; the position fitted to them and
// probed; the gain.
struct PositionPass {
    int result = RunResult::kDone;
    PassStats stats; // its gain the least-squares one where precise alignment found it
    KaraokeMap map;
    std::vector<BlockPosition> blocks;
};

// Where the karaoke is another edit of the song: the stretches found
// against the fitted line (FindStructure). The longest one then stands for
// the song's position, measured on its own blocks, so the blocks of other
// places pull it no more. False when nothing changed.
bool MapStructure(const AnalysisInputs& in, bool inverted, const Measurement& measured, KaraokeMap& map,
                  std::vector<AlignPoint>& fits, std::vector<AlignPoint>& otherPoints, std::vector<MapStretch>& stretches,
                  std::vector<bool>& standsFor, int& result, AnalysisTrace& trace)
{
    if (!map.Valid() || !AutomaticParts(in.options).PositionFollowed()) return false;
    Trajectory line;
    line.SetLine(map.track.Origin(), map.track.Offset(), map.track.Slope());
    const double gain = map.leastSquaresGain > 0 ? map.leastSquaresGain : 1.0;
    StructureFinding found = FindStructure(in, inverted, gain, line, measured.evidence, trace);
    result = found.result;
    if (found.result != RunResult::kDone || found.stretches.empty()) return false;
    stretches = std::move(found.stretches);
    standsFor = std::move(found.followsLine);
    map.track = found.mainTrack;
    map.leastSquaresGain = VoiceFreeGain(found.mainPoints, std::vector<bool>(found.mainPoints.size(), true), 4);
    if (!(map.leastSquaresGain > 0)) map.leastSquaresGain = gain;
    map.cancellationPreciseDb = CancellationDb(found.mainPoints);
    fits = std::move(found.mainPoints);
    otherPoints = std::move(found.otherPoints);
    in.run.DebugPrint("Precise ofs:%f drift:%f ppm wander:%f gain:%f cancel:%f whole:%f kept:%d/%d spread:%f\n",
                      map.track.At(0), (map.track.Slope() - 1.0) * 1e6, map.track.MaxWander(), map.leastSquaresGain,
                      map.cancellationPreciseDb, map.cancellationWholeDb, map.track.Inliers(), int(fits.size()),
                      map.track.Spread());
    return true;
}

PositionPass MeasurePosition(const AnalysisInputs& in, const IntroFinding& intro, int driftFramesPerBlock,
                             int halfWidthFrames, AnalysisTrace& trace)
{
    const CommittedOptions& o = in.options;
    PositionPass pass;
    // The pass also measures each block's fractional shift and least-squares
    // gain. With precise alignment the gain comes from those, not from the
    // per-block gain sweep.
    MeasureRequest request;
    request.offsetFrames = intro.offsetFrames;
    request.driftFramesPerBlock = driftFramesPerBlock;
    request.estimateLevel = o.AlignFlg == 0;
    request.inverted = intro.inverted;
    request.searchHalfWidthFrames = halfWidthFrames;
    request.fitBlocks = true;
    const Measurement measured = MeasureAlignment(in, request);
    pass.result = measured.result;
    if (pass.result != RunResult::kDone || in.run.Stopped()) return pass;
    const int half = int(in.pair.SampleRate() * o.BlkSec * 2.0) / 2;
    const double slopeGuess = half > 0 ? 1.0 + double(driftFramesPerBlock) / half : 1.0;
    pass.map = FitPosition(in.run, measured, slopeGuess, in.pair.SampleRate());
    trace.fitPoints = int(measured.fits.size());
    trace.keptPoints = pass.map.track.Valid() ? pass.map.track.Inliers() : 0;
    std::vector<AlignPoint> fits = measured.fits;
    std::vector<AlignPoint> otherPoints;
    std::vector<MapStretch> stretches;
    std::vector<bool> followsLine;
    const bool edited =
        MapStructure(in, intro.inverted, measured, pass.map, fits, otherPoints, stretches, followsLine, pass.result, trace);
    if (pass.result != RunResult::kDone || in.run.Stopped()) return pass;
    pass.result = ProbePosition(in, intro.inverted, fits, pass.map, trace);
    if (pass.result != RunResult::kDone || in.run.Stopped()) return pass;
    if (edited) {
        for (size_t i = 0; i < stretches.size(); ++i)
            if (followsLine[i]) stretches[i].track = pass.map.track;
        pass.map.stretches = std::move(stretches);
    }
    pass.stats = measured.stats;
    if (o.AlignFlg && pass.map.leastSquaresGain > 0) pass.stats.gain = pass.map.leastSquaresGain;
    LogRange(in.run, halfWidthFrames, pass.stats);
    trace.passes.push_back({AnalysisTrace::PassKind::Final, halfWidthFrames, pass.stats});
    if (pass.map.Valid()) {
        // The measuring pass searched around one line; where the karaoke is
        // another edit, the blocks away from it were measured where their
        // content is not, so each stretch shows its own blocks' fits.
        auto show = [&](const std::vector<AlignPoint>& points) {
            for (const AlignPoint& q : points) {
                const MapStretch* s = pass.map.StretchAt(q.t);
                if (s != nullptr && !s->matched) continue;
                pass.blocks.push_back({q.t, q.p - pass.map.track.At(q.t), q.residual});
            }
        };
        if (edited) {
            show(fits);
            show(otherPoints);
            std::sort(pass.blocks.begin(), pass.blocks.end(),
                      [](const BlockPosition& a, const BlockPosition& b) { return a.originalFrame < b.originalFrame; });
        } else {
            show(fits);
        }
    }
    return pass;
}

} // namespace

RangeStart FirstRange(double meanShiftFrames, double shiftSpreadFrames)
{
    RangeStart r;
    r.driftFramesPerBlock = int32_t(meanShiftFrames);
    r.firstHalfWidthFrames = int(std::fabs(meanShiftFrames - r.driftFramesPerBlock) + shiftSpreadFrames + 0.5);
    return r;
}

int ChooseRange(int firstHalfWidthFrames,
                const std::function<bool(int halfWidthFrames, double& residual, double& original)>& measure)
{
    double bestResidual = 1.7e308, previousResidual = 0;
    bool previousPassed = false;
    int bestRange = 0;
    for (int range = firstHalfWidthFrames; range <= firstHalfWidthFrames + 8; ++range) {
        double residual = 0, original = 0;
        if (!measure(range, residual, original)) return -1;
        if (residual < original) {
            // Converged: this passing range is within 0.3 % of the previous one.
            if (previousPassed &&
                (previousResidual == 0 ||
                 (0.997 < residual / previousResidual && residual / previousResidual < 1.003)))
                return range - 1;
            previousPassed = true;
            previousResidual = residual;
        }
        if (residual < bestResidual) {
            bestResidual = residual;
            bestRange = range;
        }
    }
    return bestRange;
}

AnalysisRun AutoAnalyse(const AnalysisInputs& in, AnalysisTrace& trace)
{
    AnalysisRun analysisRun;
    int& result = analysisRun.result;
    Analysis& a = analysisRun.analysis;
    RunContext& run = in.run;
    run.StartStatus(EngineText::kAnalysing);
    [&] {
        const IntroFinding intro = FindIntroOffset(in, trace);
        if (run.Stopped()) return;
        a.introOffsetFrames = intro.offsetFrames;
        a.karaokeInverted = intro.inverted;
        PositionPass position;
        if (AutomaticParts(in.options).PositionSuffices()) {
            // The extraction will follow the fitted position, which needs no
            // range search: the intro pass's mean shift gives the drift to
            // follow, and one pass over the whole recordings measures every
            // block. The classic passes run only when no position is found.
            const RangeStart start = FirstRange(intro.pass.meanShiftFrames, intro.pass.shiftSpreadFrames);
            const int range = start.firstHalfWidthFrames + 2;
            position = MeasurePosition(in, intro, start.driftFramesPerBlock, range, trace);
            result = position.result;
            if (result != RunResult::kDone || run.Stopped()) return;
            if (position.map.Valid()) {
                a.driftFramesPerBlock = start.driftFramesPerBlock;
                a.searchHalfWidthFrames = range;
                a.positionOnly = true;
            }
        }
        if (!a.positionOnly) {
            MeasureRequest request;
            request.offsetFrames = intro.offsetFrames;
            request.inverted = intro.inverted;
            request.seconds = 120;
            request.searchHalfWidthFrames = 20;
            const Measurement first = MeasureAlignment(in, request);
            result = first.result;
            if (result != RunResult::kDone || run.Stopped()) return;
            LogRange(run, 20, first.stats);
            trace.passes.push_back({AnalysisTrace::PassKind::First, 20, first.stats});

            const RangeStart start = FirstRange(first.stats.meanShiftFrames, first.stats.shiftSpreadFrames);
            a.driftFramesPerBlock = start.driftFramesPerBlock;
            int chosen = start.firstHalfWidthFrames + 1;
            if (first.stats.meanResidual < first.stats.meanOriginal) {
                request.driftFramesPerBlock = a.driftFramesPerBlock;
                const int c = ChooseRange(start.firstHalfWidthFrames, [&](int range, double& residual,
                                                                          double& original) {
                    request.searchHalfWidthFrames = range;
                    const Measurement m = MeasureAlignment(in, request);
                    result = m.result;
                    if (result != RunResult::kDone || run.Stopped()) return false;
                    LogRange(run, range, m.stats);
                    trace.passes.push_back({AnalysisTrace::PassKind::Range, range, m.stats});
                    residual = m.stats.meanResidual;
                    original = m.stats.meanOriginal;
                    return true;
                });
                if (c < 0) return;
                chosen = c;
            }
            position = MeasurePosition(in, intro, a.driftFramesPerBlock, chosen, trace);
            result = position.result;
            if (result != RunResult::kDone || run.Stopped()) return;
            a.searchHalfWidthFrames = chosen;
        }
        a.karaokeGain = position.stats.gain;
        a.map = std::move(position.map);
        a.blocks = std::move(position.blocks);
        run.DebugPrint("Selected BaseOfs:%d Range:%d\n", a.driftFramesPerBlock, a.searchHalfWidthFrames);
        run.LogTimestamp();
    }();
    run.StopStatus();
    return analysisRun;
}
