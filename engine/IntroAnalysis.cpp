#include "IntroAnalysis.h"

#include "FracDelay.h"
#include "Vfunc.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// The gain estimates lie on a 0.002 grid between 0.772 and 1.228.
constexpr double kGainLow = 0.7, kGainStep = 0.002;
constexpr int kGainBins = 301;

} // namespace

int FindOnsetOffset(PairReader& pair, RunContext& run, bool inverted)
{
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(pair.Channels(), pair.SampleRate(), 1.0, 1) != 0) return 0;
    f->SetKaraokeInvert(inverted);

    // Frames before each recording first reaches 128 (positive excursions
    // only). Each block is unpacked and mixed only on the side it was read
    // into.
    auto onset = [&](bool original) {
        const int len = original ? f->blockLen : f->karaokeLen;
        const int origFrames = original ? len : 0, karFrames = original ? 0 : len;
        int16_t* pcm = original ? f->origPcm.get() : f->karPcm.get();
        const int32_t* mono = original ? f->origMono.get() : f->karMono.get();
        int64_t a = 0;
        for (int64_t at = 0;; at += len) {
            const int32_t got = original ? pair.ReadOriginal(at, pcm, len) : pair.ReadKaraoke(at, pcm, len);
            if (got <= 0) break;
            f->UnpackInput(origFrames, karFrames);
            f->MakeMid(origFrames, karFrames);
            for (int i = 0; i < len; ++i) {
                if (mono[i] >= 128) return a;
                ++a;
            }
        }
        return a;
    };
    const int64_t a = onset(true);
    int64_t b = onset(false);
    run.Pump();

    b -= f->blockLen / 4;
    if (b < 0) b = 0;
    pair.ReadOriginal(a, f->origPcm.get(), f->blockLen);
    pair.ReadKaraoke(b, f->karPcm.get(), f->karaokeLen);
    f->UnpackInput();
    f->MakeMid();
    // Half a block of candidates: the window handles its events meanwhile.
    const int s = f->FindShiftMonoN(f->blockLen / 4, f->blockLen / 4, f->blockLen / 5, 1, [&run] { run.Pump(); });
    return int(std::clamp<int64_t>(s + b - a, INT32_MIN, INT32_MAX));
}

int FindEnvelopeOffset(PairReader& pair, RunContext& run, bool useMid, bool inverted)
{
    const int W = int(pair.SampleRate() * 0.02);
    if (W < 1) return 0;
    constexpr int kOrigWindows = 3000, kKarWindows = 6000, kLead = 1500;
    std::vector<int32_t> env1(kOrigWindows), env2(kKarWindows);
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(pair.Channels(), pair.SampleRate(), 0.2, 1) != 0 || f->blockLen < W) return 0;
    f->SetKaraokeInvert(inverted);

    // Mean absolute level of 20 ms windows of the side (or mid) signal; only
    // the window is unpacked and mixed.
    auto envelope = [&](bool original, std::vector<int32_t>& env) {
        int16_t* pcm = original ? f->origPcm.get() : f->karPcm.get();
        const int32_t* mono = original ? f->origMono.get() : f->karMono.get();
        for (size_t i = 0; i < env.size(); ++i) {
            const int64_t at = int64_t(i) * W;
            if (original)
                pair.ReadOriginal(at, pcm, W);
            else
                pair.ReadKaraoke(at, pcm, W);
            f->UnpackInput(W, W);
            if (useMid)
                f->MakeMid(W, W);
            else
                f->MakeSide(W, W);
            uint32_t sum = 0;
            for (int k = 0; k < W; ++k) sum += uint32_t(std::abs(mono[k]));
            env[i] = int32_t(sum / uint32_t(W));
            run.Pump();
            if (run.Stopped()) return false;
        }
        return true;
    };
    if (!envelope(true, env1)) return 0;
    if (!envelope(false, env2)) return 0;

    std::vector<int32_t> karSide(kLead + kKarWindows, 0);
    std::copy(env2.begin(), env2.end(), karSide.begin() + kLead);
    search::MatchSet m;
    m.orig[0] = env1.data();
    m.kar[0] = karSide.data();
    m.count = kOrigWindows;
    m.karLen = int64_t(karSide.size());
    const int c = search::FindShift(m, search::Cost::Abs, kLead, kLead, 1);
    const int64_t coarse = int64_t(c - kLead) * W;

    int l = 0;
    while (l < kKarWindows && env2[size_t(l)] <= 256) ++l;
    const int64_t p = int64_t(l) * W;
    // Positions before the first frame read as silence.
    const int64_t origAt = coarse >= 0 ? p : p - coarse;
    const int64_t karAt = coarse >= 0 ? p + coarse - 2 * W : p - 2 * W;
    pair.ReadOriginal(origAt, f->origPcm.get(), f->blockLen);
    pair.ReadKaraoke(karAt, f->karPcm.get(), f->karaokeLen);
    f->UnpackInput();
    f->MakeMid();
    const int s = f->FindShiftMono(2 * W, 2 * W, 1);
    return int(std::clamp<int64_t>(s + coarse - 2 * W, INT32_MIN, INT32_MAX));
}

Measurement MeasureAlignment(const AnalysisInputs& in, const MeasureRequest& request)
{
    const CommittedOptions& o = in.options;
    PairReader& pair = in.pair;
    Measurement measured;
    const bool limited = request.seconds != 0;
    const int64_t maxBlocks = limited ? int64_t(request.seconds / o.BlkSec) : 0;
    // The karaoke gain is estimated on every block and summarised by the
    // median: single blocks where the voice dominates give estimates several
    // per cent off, and the mean of a few of them leaves the accompaniment
    // audible after subtraction.
    const int levelEvery = request.estimateLevel ? 0 : INT32_MAX;
    std::vector<int64_t> gainCounts(kGainBins, 0);

    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(pair.Channels(), pair.SampleRate(), o.BlkSec * 2.0, 1) != 0 ||
        (request.fitBlocks && f->SetupPrecise() != 0)) {
        measured.result = RunResult::kNoMemory;
        return measured;
    }
    const int range = std::clamp(request.searchHalfWidthFrames, 0, f->blockLen / 4);
    // The block shifts lie in -range..range: a histogram holds them all, so
    // the pass needs no memory that grows with the recording.
    std::vector<int64_t> shiftCounts(size_t(2 * range + 1), 0);
    f->SetKaraokeInvert(request.inverted);

    const int quarter = f->blockLen / 4, half = f->blockLen / 2;
    // Only the karaoke frames the searches and fits can reach are read: the
    // block plus the shifts, and the fit's taps around the middle half.
    const int karNeed = std::min<int>(
        f->karaokeLen, std::max(f->blockLen + 2 * range + 1, 2 * range + quarter + half + 2 * fracdelay::kTaps));
    const int offset = request.offsetFrames;
    int64_t u = offset < 0 ? int64_t(range) - offset : range;
    int64_t w = offset < 0 ? range : int64_t(range) + offset;
    int64_t k = 0, shiftSum = 0;
    int progressCounter = 0;
    int i = 0, j = 0;
    uint64_t vocSum = 0, orgSum = 0;

    for (;;) {
        w -= range;
        const int32_t n = pair.ReadOriginal(u, f->origPcm.get(), f->blockLen);
        const int32_t m = n > 0 ? pair.ReadKaraoke(w, f->karPcm.get(), karNeed) : 0;
        if (n <= 0 || m <= 0 || (limited && k >= maxBlocks)) break;
        f->UnpackInput(f->blockLen, karNeed);

        int B;
        if (o.ProcMode == 0) {
            B = f->FindShiftStereo(range, range, 1);
        } else {
            if (o.ProcMode == 1)
                f->MakeSide(f->blockLen, karNeed);
            else
                f->MakeMid(f->blockLen, karNeed);
            B = f->FindShiftMono(range, range, 1);
        }
        const int old = i;
        i = old + 1;
        if (old >= levelEvery) {
            auto gain = [&](double step, double r, double center) {
                return o.ProcMode == 0 ? f->FindGainStereo(B, step, r, center) : f->FindGainMono(B, step, r, center);
            };
            const double g1 = gain(0.02, 0.2, 1.0);
            const double g2 = gain(0.002, 0.03, g1);
            ++gainCounts[size_t(std::clamp<long>(std::lround((g2 - kGainLow) / kGainStep), 0, kGainBins - 1))];
            ++j;
            i = 0;
        }
        // What the subtraction at that shift leaves over the middle half.
        const TVocalFunc::ResidualSum sums = f->SumResidual(B, quarter, half, o.ProcMode == 2);
        if (request.fitBlocks) {
            // The block's fractional shift and gain by least squares over its
            // middle half, for the fitted karaoke position. The fraction is
            // the mean over that half, so it belongs to the half's centre:
            // original frame u + mid meets karaoke frame w + B + mid plus it.
            const TVocalFunc::BlockFit fit = f->FitBlock(B, quarter, half, o.ProcMode != 0);
            const int mid = quarter + half / 2;
            AlignPoint point;
            if (SolveBlockFit(fit.oo, fit.kk, fit.ok, fit.ss, fit.os, fit.ks, fit.n, u + mid, w + B + mid, point))
                measured.fits.push_back(point);
            measured.evidence.push_back({u + mid, fit.oo, fit.kk, fit.ok});
            if (fit.oo > 0 && fit.kk > 0) {
                AlignPoint whole;
                whole.oo = fit.oo;
                whole.residual = std::max(0.0, 1 - fit.ok * fit.ok / (fit.oo * fit.kk));
                measured.wholeShiftFits.push_back(whole);
            }
            if (++progressCounter > 11) {
                progressCounter = 0;
                in.run.Host().SetProgressPosition(
                    std::min<int64_t>(u * pair.Channels() * 2, in.run.ProgressMax()));
            }
        }
        ++shiftCounts[size_t(B)];
        shiftSum += B - range;
        vocSum += sums.voice;
        orgSum += sums.original;
        ++k;

        w += B + request.driftFramesPerBlock + half;
        u += half;
        in.run.Pump();
        if (in.run.Stopped()) break;
    }

    PassStats& s = measured.stats;
    s.blocks = k;
    // With no block compared the pass finds no shift, no level, no evidence.
    if (k > 0) {
        s.meanShiftFrames = double(shiftSum) / double(k);
        s.meanResidual = double(vocSum) / double(k);
        s.meanOriginal = double(orgSum) / double(k);
        double dev = 0;
        for (int b = 0; b <= 2 * range; ++b)
            dev += double(shiftCounts[size_t(b)]) * std::fabs(double(b - range) - s.meanShiftFrames);
        s.shiftSpreadFrames = dev / double(k);
    }
    if (j > 0) {
        // The middle estimate, or the mean of the two middle ones.
        auto nth = [&](int n) {
            for (int b = 0, seen = 0; b < kGainBins; ++b)
                if ((seen += int(gainCounts[size_t(b)])) > n) return kGainLow + b * kGainStep;
            return 1.0;
        };
        s.gain = (nth((j - 1) / 2) + nth(j / 2)) / 2;
    }
    return measured;
}

IntroFinding FindIntroOffset(const AnalysisInputs& in, AnalysisTrace& trace)
{
    IntroFinding found;
    double best = 1.7e308;
    static const char* const kTags[3] = {"简易分析     ", "详细分析LR   ", "详细分析mono "};
    static const AnalysisTrace::IntroMethod kMethods[3] = {AnalysisTrace::IntroMethod::Onset,
                                                           AnalysisTrace::IntroMethod::SideEnvelope,
                                                           AnalysisTrace::IntroMethod::MidEnvelope};
    bool stop = false;
    for (int inv = 0; inv < 2 && !stop; ++inv) {
        const bool inverted = inv == 1;
        for (int cand = 0; cand < 3; ++cand) {
            const int c = cand == 0 ? FindOnsetOffset(in.pair, in.run, inverted)
                                    : FindEnvelopeOffset(in.pair, in.run, cand == 2, inverted);
            if (in.run.Stopped()) {
                stop = true;
                break;
            }
            MeasureRequest request;
            request.offsetFrames = c;
            request.inverted = inverted;
            request.seconds = 30;
            request.searchHalfWidthFrames = 20;
            const PassStats s = MeasureAlignment(in, request).stats;
            if (in.run.Stopped()) {
                stop = true;
                break;
            }
            in.run.DebugPrint("%sVoc:%f Org:%f ofs:%d phase:%d\n", kTags[cand], s.meanResidual, s.meanOriginal, c,
                              inverted ? 1 : 0);
            trace.candidates.push_back({kMethods[cand], inverted, c, s});
            if (s.meanOriginal != 0) {
                const double ratio = s.meanResidual / s.meanOriginal;
                if (ratio < 0.8 || ratio < best) {
                    best = ratio;
                    found = {c, inverted, s};
                }
                if (ratio < 0.8) {
                    stop = true;
                    break;
                }
            }
        }
    }
    in.run.DebugPrint("确定初始的偏移\u3000\u3000:%d \u3000相位%d\n", found.offsetFrames, found.inverted ? 1 : 0);
    return found;
}
