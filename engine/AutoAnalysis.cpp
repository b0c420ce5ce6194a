// The automatic analysis: initial offset and phase, drift and search range,
// and the karaoke gain, with the cache that spares a second run on the same
// pair.
#include "EngineUtil.h"
#include "Vocalmain.h"

#include "Twave.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace engine_util;

namespace {

// Solves gram * x = rhs (symmetric, n x n) by Cholesky with a slight ridge;
// false when the matrix is not positive definite.
bool SolveSymmetric(std::vector<double> gram, const std::vector<double>& rhs, int n, std::vector<double>& x) {
    double trace = 0;
    for (int i = 0; i < n; ++i) trace += gram[size_t(i * n + i)];
    if (!(trace > 0)) return false;
    for (int i = 0; i < n; ++i) gram[size_t(i * n + i)] += 1e-9 * trace / n;
    std::vector<double> L(size_t(n * n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = gram[size_t(i * n + j)];
            for (int k = 0; k < j; ++k) sum -= L[size_t(i * n + k)] * L[size_t(j * n + k)];
            if (i == j) {
                if (!(sum > 0)) return false;
                L[size_t(i * n + i)] = std::sqrt(sum);
            } else {
                L[size_t(i * n + j)] = sum / L[size_t(j * n + j)];
            }
        }
    std::vector<double> y;
    y.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        double sum = rhs[size_t(i)];
        for (int k = 0; k < i; ++k) sum -= L[size_t(i * n + k)] * y[size_t(k)];
        y[size_t(i)] = sum / L[size_t(i * n + i)];
    }
    x.assign(size_t(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        double sum = y[size_t(i)];
        for (int k = i + 1; k < n; ++k) sum -= L[size_t(k * n + i)] * x[size_t(k)];
        x[size_t(i)] = sum / L[size_t(i * n + i)];
    }
    return true;
}

} // namespace


TVocalMain::RangeStart TVocalMain::FirstRange(double ofs, double bnsn) {
    RangeStart r;
    r.baseOfs = int32_t(ofs);
    r.r0 = int(std::fabs(ofs - r.baseOfs) + bnsn + 0.5);
    return r;
}

int TVocalMain::ChooseRange(int r0, const std::function<bool(int, double&, double&)>& measure) {
    double bestVoc = kHuge, prevVoc = 0;
    bool prevValid = false;
    int bestRange = 0;
    for (int range = r0; range <= r0 + 8; ++range) {
        double voc = 0, org = 0;
        if (!measure(range, voc, org)) return -1;
        if (voc < org) {
            // Converged: this passing range is within 0.3 % of the previous one.
            if (prevValid && (prevVoc == 0 || (0.997 < voc / prevVoc && voc / prevVoc < 1.003))) return range - 1;
            prevValid = true;
            prevVoc = voc;
        }
        if (voc < bestVoc) {
            bestVoc = voc;
            bestRange = range;
        }
    }
    return bestRange;
}

int TVocalMain::AutoAnalyse() {
    const CommittedOptions& o = *options_;
    const FileKey origKey = KeyOf(*original_), karKey = KeyOf(*karaoke_);
    if (!CachedOriginal.name.empty() && origKey == CachedOriginal && karKey == CachedKaraoke &&
        o.ProcMode == CachedProcMode && o.BlkSec == CachedBlkSec && (o.AlignFlg != 0) == (CachedAlign != 0) &&
        (!CachedPositionOnly || PositionSuffices()))
        return kDone;
    if (o.IntroMode != 0 && o.AdptMode != 0 && o.KrkPhase != 0 && o.LevelAdpt != 0) return kNothingToAnalyse;

    StartStatus(EngineText::kAnalysing);
    int result = kDone;
    [&] {
        const int ofs0 = FindIntroOffset();
        if (Cancel) return;
        bool positionOnly = false;
        if (PositionSuffices()) {
            // The extraction will follow the fitted position, which needs no
            // range search: the intro pass's mean shift gives the drift to
            // follow, and one pass over the whole recordings measures every
            // block. The classic passes run only when no position is found.
            const RangeStart start = FirstRange(introOfs_, introBnsn_);
            const int range = start.r0 + 2;
            result = MeasurePosition(ofs0, start.baseOfs, range);
            if (result != kDone || Cancel) return;
            if (Track.Valid()) {
                BaseOfs = start.baseOfs;
                Range = range;
                positionOnly = true;
            }
        }
        if (!positionOnly) {
            result = MeasureAlignment(ofs0, 0, false, KaraokeInverted, 120, 20);
            if (result != kDone || Cancel) return;
            LogRange(20);

            const RangeStart start = FirstRange(Ofs, Bnsn);
            BaseOfs = start.baseOfs;
            int chosen = start.r0 + 1;
            if (Voc < Org) {
                const int c = ChooseRange(start.r0, [&](int range, double& voc, double& org) {
                    result = MeasureAlignment(ofs0, BaseOfs, false, KaraokeInverted, 120, range);
                    if (result != kDone || Cancel) return false;
                    LogRange(range);
                    voc = Voc;
                    org = Org;
                    return true;
                });
                if (c < 0) return;
                chosen = c;
            }
            result = MeasurePosition(ofs0, BaseOfs, chosen);
            if (result != kDone || Cancel) return;
            Range = chosen;
        }

        SavedVol = Vol;
        IntroOffset = ofs0;
        CachedOriginal = origKey;
        CachedKaraoke = karKey;
        CachedProcMode = o.ProcMode;
        CachedBlkSec = o.BlkSec;
        CachedAlign = o.AlignFlg;
        CachedPositionOnly = positionOnly;
        DebugPrint("Selected BaseOfs:%d Range:%d\n", BaseOfs, Range);
        host_->LogTimestamp();
    }();
    if (Cancel || result != kDone) {
        CachedOriginal = FileKey{};
        CachedKaraoke = FileKey{};
    }
    StopStatus();
    return result;
}


bool TVocalMain::PositionSuffices() const {
    const CommittedOptions& o = *options_;
    return o.AlignFlg != 0 && o.IntroMode == 0 && o.AdptMode == 0 && o.KrkPhase == 0;
}

int TVocalMain::MeasurePosition(int ofs0, int drift, int range) {
    const CommittedOptions& o = *options_;
    // The pass also measures each block's fractional shift and least-squares
    // gain. With precise alignment the gain comes from those, not from the
    // per-block gain sweep.
    std::vector<AlignPoint> points;
    fitPoints_ = &points;
    wholeResiduals_.clear();
    int result = MeasureAlignment(ofs0, drift, o.AlignFlg == 0, KaraokeInverted, 0, range);
    fitPoints_ = nullptr;
    if (result != kDone || Cancel) return result;
    const int half = int(SampleRate() * o.BlkSec * 2.0) / 2;
    FitTrajectory(points, half > 0 ? 1.0 + double(drift) / half : 1.0);
    result = ProbeTrajectory(points);
    if (result != kDone || Cancel) return result;
    if (o.AlignFlg && LsGain > 0) Vol = LsGain;
    LogRange(range);
    return kDone;
}

void TVocalMain::FitTrajectory(const std::vector<AlignPoint>& points, double slopeGuess) {
    Track = Trajectory{};
    LsGain = 0;
    Match.clear();
    const int minPoints = 8;
    if (Track.Fit(points, slopeGuess, minPoints) && std::fabs(Track.Slope() - 1.0) < 0.01) {
        Track.FitWander(points, int64_t(SampleRate()) * 10);
        LsGain = VoiceFreeGain(points, Track.Kept(), minPoints);
    } else {
        Track = Trajectory{};
        LsGain = VoiceFreeGain(points, std::vector<bool>(points.size(), true), minPoints);
    }
    CancelPreciseDb = CancellationDb(points);
    std::vector<AlignPoint> whole(wholeResiduals_.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        whole[i].oo = wholeResiduals_[i].oo;
        whole[i].residual = wholeResiduals_[i].residual;
    }
    CancelWholeDb = CancellationDb(whole);
    wholeResiduals_.clear();
    wholeResiduals_.shrink_to_fit();
    if (Track.Valid())
        DebugPrint("Precise ofs:%f drift:%f ppm wander:%f gain:%f cancel:%f whole:%f kept:%d/%d spread:%f\n",
                   Track.At(0), (Track.Slope() - 1.0) * 1e6, Track.MaxWander(), LsGain, CancelPreciseDb,
                   CancelWholeDb, Track.Inliers(), int(points.size()), Track.Spread());
    else
        DebugPrint("Precise none gain:%f cancel:%f whole:%f points:%d\n", LsGain, CancelPreciseDb, CancelWholeDb,
                   int(points.size()));
}

// The blocks with least voice, read again along the fitted position with the
// interpolator the extraction uses: their remaining fractional shift corrects
// the position's offset (the block fits of the pass are linear in the
// fraction and carry a small bias where it is large), and their exact
// least-squares gain and residual give the gain and the cancellation that the
// automatic merge judges by.
int TVocalMain::ProbeTrajectory(const std::vector<AlignPoint>& points) {
    if (!Track.Valid()) return kDone;
    const CommittedOptions& o = *options_;
    std::vector<const AlignPoint*> quiet;
    {
        std::vector<double> energies;
        for (size_t i = 0; i < points.size(); ++i)
            if (Track.Kept()[i] && points[i].oo > 0) energies.push_back(points[i].oo);
        std::sort(energies.begin(), energies.end());
        const double floor = energies.empty() ? 0 : energies[energies.size() / 5];
        for (size_t i = 0; i < points.size(); ++i)
            if (Track.Kept()[i] && points[i].oo >= floor && points[i].oo > 0) quiet.push_back(&points[i]);
    }
    if (quiet.size() < 4) return kDone;
    std::sort(quiet.begin(), quiet.end(),
              [](const AlignPoint* a, const AlignPoint* b) { return a->residual < b->residual; });
    quiet.resize(std::min<size_t>(quiet.size(), std::max<size_t>(8, std::min<size_t>(64, quiet.size() / 10))));

    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), o.BlkSec * 2.0, 1) != 0 || f->SetupPrecise() != 0) return kNoMemory;
    f->SetKaraokeInvert(KaraokeInverted);
    const int quarter = f->blockLen / 4, half = f->blockLen / 2, mid = quarter + half / 2;
    const int margin = 64;
    if (quarter < margin) return kDone;

    // A block read again: the original at its place, the karaoke along the
    // position with room for the slope's and the filter's taps on either side.
    auto readAligned = [&](const AlignPoint& q) {
        const int64_t u = q.t - mid;
        const double p0 = Track.At(u + quarter), p1 = Track.At(u + quarter + half);
        const double step = (p1 - p0) / half;
        const int64_t k = int64_t(std::floor(p0)) - quarter;
        original_->SeekFrame(u);
        karaoke_->SeekFrame(k);
        const int32_t n = original_->Read(f->origPcm.get(), f->origPcmBytes);
        const int32_t m = karaoke_->Read(f->karPcm.get(), f->karPcmBytes);
        ZeroTail(f->origPcm.get(), n, f->origPcmBytes);
        ZeroTail(f->karPcm.get(), m, f->karPcmBytes);
        f->UnpackInput();
        f->ReadKaraokeAligned(p0 - double(k) - margin * step, step, quarter - margin, half + 2 * margin);
    };
    std::vector<AlignPoint> probes;
    std::vector<const AlignPoint*> probeOf; // the pass's point each probe reads again
    for (const AlignPoint* q : quiet) {
        readAligned(*q);
        const TVocalFunc::BlockFit fit = f->FitAligned(quarter, half, o.ProcMode == 2);
        AlignPoint r;
        if (SolveBlockFit(fit.oo, fit.kk, fit.ok, fit.ss, fit.os, fit.ks, fit.n, q->t, 0, r)) {
            probes.push_back(r);
            probeOf.push_back(q);
        }
    }
    if (probes.size() < 4) return kDone;
    // Pooled by inverse variance: a block that still holds some voice has a
    // larger residual and counts for less; blocks far off the median are
    // left out.
    std::vector<double> p;
    for (const AlignPoint& r : probes) p.push_back(r.p);
    std::nth_element(p.begin(), p.begin() + long(p.size() / 2), p.end());
    const double median = p[p.size() / 2];
    double sw = 0, sp = 0, st = 0, stt = 0, stp = 0, sg = 0, skk = 0;
    std::vector<size_t> used; // the probes pooled, for the matching filter too
    for (size_t j = 0; j < probes.size(); ++j) {
        const AlignPoint& r = probes[j];
        if (std::fabs(r.p - median) > 0.25) continue;
        used.push_back(j);
        const double sigma2 = std::max(r.residual * r.oo, 1e-9);
        const double x = double(r.t - Track.Origin());
        sw += 1 / r.var;
        sp += r.p / r.var;
        st += x / r.var;
        stt += x * x / r.var;
        stp += x * r.p / r.var;
        sg += r.g * r.kk / sigma2;
        skk += r.kk / sigma2;
    }
    const double shift = sw > 0 ? sp / sw : median;
    // The remaining fraction as a line over the song: where the probes are
    // spread widely enough to tell, it also corrects the drift (the pass's
    // fits are biased by their fraction, which a fast drift sweeps through).
    double tilt = 0;
    if (sw > 0) {
        const double mx = st / sw, vxx = stt - st * mx;
        if (vxx > 0) {
            const double beta = (stp - st * sp / sw) / vxx;
            const double se = std::sqrt(1 / vxx);
            if (std::fabs(beta) > 3 * se) tilt = beta;
        }
        Track.Tilt(tilt, st / sw);
    }
    Track.Shift(shift);
    if (skk > 0) LsGain = sg / skk;
    // The cancellation where there is no voice at all: the third cleanest
    // block, so that one odd block does not decide.
    std::vector<double> residuals;
    for (const AlignPoint& r : probes) residuals.push_back(r.residual);
    std::sort(residuals.begin(), residuals.end());
    CancelPreciseDb = 10 * std::log10(std::max(residuals[std::min<size_t>(2, residuals.size() - 1)], 1e-15));
    DebugPrint("Probe blocks:%d shift:%f tilt:%g ppm gain:%f cancel:%f\n", int(probes.size()), shift, tilt * 1e6,
               LsGain, CancelPreciseDb);

    // A karaoke mastered with another equaliser leaves the accompaniment's
    // colour behind whatever the gain. The same blocks, read at the
    // corrected position, fit a short filter by least squares (each block
    // weighted by how little voice it holds); it is kept when it explains
    // clearly more than the gain alone.
    constexpr int kHalf = kMatchHalfTaps, kTaps = 2 * kHalf + 1;
    std::vector<double> gram(kTaps * kTaps, 0.0), cross(kTaps, 0.0);
    double energy = 0;
    for (size_t j : used) {
        const AlignPoint& r = probes[j];
        const double w = 1 / std::max(r.residual * r.oo, 1e-9);
        readAligned(*probeOf[j]);
        f->AccumulateMatch(quarter, half, kHalf, o.ProcMode == 2, w, gram.data(), cross.data());
        energy += w * r.oo;
    }
    Match.clear();
    std::vector<double> h;
    if (used.size() >= 4 && SolveSymmetric(gram, cross, kTaps, h)) {
        double explained = 0;
        for (int j = 0; j < kTaps; ++j) explained += h[size_t(j)] * cross[size_t(j)];
        const double filterLeft = energy - explained;
        const double g = gram[kHalf * kTaps + kHalf] > 0 ? cross[kHalf] / gram[kHalf * kTaps + kHalf] : 0;
        const double gainLeft = energy - g * cross[kHalf];
        if (filterLeft < 0.5 * gainLeft) Match = h;
        DebugPrint("Match left:%g gain left:%g kept:%d\n", filterLeft / energy, gainLeft / energy,
                   Match.empty() ? 0 : 1);
    }
    if (!Match.empty()) {
        // The cancellation the extraction will see, through the filter.
        std::vector<double> left;
        for (size_t j : used) {
            readAligned(*probeOf[j]);
            f->FilterAligned(Match.data(), kHalf, quarter, half);
            left.push_back(f->AlignedResidual(quarter, half, o.ProcMode == 2));
        }
        std::sort(left.begin(), left.end());
        CancelPreciseDb = 10 * std::log10(std::max(left[std::min<size_t>(2, left.size() - 1)], 1e-15));
        DebugPrint("Match cancel:%f\n", CancelPreciseDb);
    }
    return kDone;
}
