// The intro analysis: where the same content starts in the two recordings
// and in which phase, and the block-wise measuring pass the automatic
// analysis is built on.
#include "EngineUtil.h"
#include "Vocalmain.h"

#include "FracDelay.h"
#include "Twave.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace engine_util;

namespace {

// The gain estimates lie on a 0.002 grid between 0.772 and 1.228.
constexpr double kGainLow = 0.7, kGainStep = 0.002;
constexpr int kGainBins = 301;

} // namespace


int TVocalMain::FindOnsetOffset(bool inverted) {
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), 1.0, 1) != 0) return 0;
    f->SetKaraokeInvert(inverted);
    original_->SeekFrame(0);
    karaoke_->SeekFrame(0);

    // Frames before each recording first reaches 128 (positive excursions only).
    // Each block is unpacked and mixed only on the side it was read into.
    auto onset = [&](TWaveData* file, int16_t* pcm, int32_t bytes, const int32_t* mono, int len) {
        const bool isOriginal = file == original_;
        const int origFrames = isOriginal ? f->blockLen : 0, karFrames = isOriginal ? 0 : f->karaokeLen;
        int64_t a = 0;
        for (;;) {
            const int32_t got = file->Read(pcm, bytes);
            if (got <= 0) break;
            ZeroTail(pcm, got, bytes);
            f->UnpackInput(origFrames, karFrames);
            f->MakeMid(origFrames, karFrames);
            for (int i = 0; i < len; ++i) {
                if (mono[i] >= 128) return a;
                ++a;
            }
        }
        return a;
    };
    const int64_t a = onset(original_, f->origPcm.get(), f->origPcmBytes, f->origMono.get(), f->blockLen);
    int64_t b = onset(karaoke_, f->karPcm.get(), f->karPcmBytes, f->karMono.get(), f->karaokeLen);
    Pump();

    b -= f->blockLen / 4;
    if (b < 0) b = 0;
    original_->SeekFrame(a);
    karaoke_->SeekFrame(b);
    ZeroTail(f->origPcm.get(), original_->Read(f->origPcm.get(), f->origPcmBytes), f->origPcmBytes);
    ZeroTail(f->karPcm.get(), karaoke_->Read(f->karPcm.get(), f->karPcmBytes), f->karPcmBytes);
    f->UnpackInput();
    f->MakeMid();
    const int s = f->FindShiftMonoN(f->blockLen / 4, f->blockLen / 4, f->blockLen / 5, 1);
    return int(std::clamp<int64_t>(s + b - a, INT32_MIN, INT32_MAX));
}

int TVocalMain::FindEnvelopeOffset(bool useMid, bool inverted) {
    const int W = int(SampleRate() * 0.02);
    if (W < 1) return 0;
    constexpr int kOrigWindows = 3000, kKarWindows = 6000, kLead = 1500;
    std::vector<int32_t> env1(kOrigWindows), env2(kKarWindows);
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), 0.2, 1) != 0 || f->blockLen < W) return 0;
    f->SetKaraokeInvert(inverted);
    original_->SeekFrame(0);
    karaoke_->SeekFrame(0);

    // Mean absolute level of 20 ms windows of the side (or mid) signal; only
    // the window is unpacked and mixed.
    auto envelope = [&](TWaveData* file, int16_t* pcm, const int32_t* mono, std::vector<int32_t>& env) {
        for (size_t i = 0; i < env.size(); ++i) {
            ZeroTail(pcm, file->Read(pcm, Bytes(W, Channels)), Bytes(W, Channels));
            f->UnpackInput(W, W);
            if (useMid)
                f->MakeMid(W, W);
            else
                f->MakeSide(W, W);
            uint32_t sum = 0;
            for (int k = 0; k < W; ++k) sum += uint32_t(std::abs(mono[k]));
            env[i] = int32_t(sum / uint32_t(W));
            Pump();
            if (Cancel) return false;
        }
        return true;
    };
    if (!envelope(original_, f->origPcm.get(), f->origMono.get(), env1)) return 0;
    if (!envelope(karaoke_, f->karPcm.get(), f->karMono.get(), env2)) return 0;

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
    if (coarse >= 0) {
        original_->SeekFrame(p);
        karaoke_->SeekFrame(p + coarse - 2 * W);
    } else {
        original_->SeekFrame(p - coarse);
        karaoke_->SeekFrame(p - 2 * W);
    }
    ZeroTail(f->origPcm.get(), original_->Read(f->origPcm.get(), f->origPcmBytes), f->origPcmBytes);
    ZeroTail(f->karPcm.get(), karaoke_->Read(f->karPcm.get(), f->karPcmBytes), f->karPcmBytes);
    f->UnpackInput();
    f->MakeMid();
    const int s = f->FindShiftMono(2 * W, 2 * W, 1);
    return int(std::clamp<int64_t>(s + coarse - 2 * W, INT32_MIN, INT32_MAX));
}

int TVocalMain::MeasureAlignment(int offset, int drift, bool estimateLevel, bool inverted, double seconds,
                                 int range) {
    const CommittedOptions& o = *options_;
    const bool limited = seconds != 0;
    const int64_t maxBlocks = limited ? int64_t(seconds / o.BlkSec) : 0;
    // The karaoke gain is estimated on every block and summarised by the
    // median: single blocks where the voice dominates give estimates several
    // per cent off, and the mean of a few of them leaves the accompaniment
    // audible after subtraction.
    const int levelEvery = estimateLevel ? 0 : INT32_MAX;
    gainCounts_.assign(kGainBins, 0);

    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), o.BlkSec * 2.0, 1) != 0) return kNoMemory;
    if (fitPoints_ && f->SetupPrecise() != 0) return kNoMemory;
    range = std::clamp(range, 0, f->blockLen / 4);
    // The block shifts lie in -range..range: a histogram holds them all, so
    // the pass needs no memory that grows with the recording.
    shiftCounts_.assign(size_t(2 * range + 1), 0);
    f->SetKaraokeInvert(inverted);

    if (offset < 0) {
        original_->SeekFrame(int64_t(range) - offset);
        karaoke_->SeekFrame(range);
    } else {
        original_->SeekFrame(range);
        karaoke_->SeekFrame(int64_t(range) + offset);
    }
    const int quarter = f->blockLen / 4, half = f->blockLen / 2;
    // Only the karaoke frames the searches and fits can reach are read: the
    // block plus the shifts, and the fit's taps around the middle half.
    const int karNeed = std::min<int>(
        f->karaokeLen, std::max(f->blockLen + 2 * range + 1, 2 * range + quarter + half + 2 * fracdelay::kTaps));
    const int32_t karBytes = int32_t(Bytes(karNeed, Channels));
    int64_t u = original_->CurrentFrame(), w = karaoke_->CurrentFrame();
    int64_t k = 0, shiftSum = 0;
    int progressCounter = 0;
    int i = 0, j = 0;
    uint64_t vocSum = 0, orgSum = 0;

    for (;;) {
        w -= range;
        karaoke_->SeekFrame(w);
        const int32_t n = original_->Read(f->origPcm.get(), f->origPcmBytes);
        const int32_t m = n > 0 ? karaoke_->Read(f->karPcm.get(), karBytes) : 0;
        if (n <= 0 || m <= 0 || (limited && k >= maxBlocks)) break;
        ZeroTail(f->origPcm.get(), n, f->origPcmBytes);
        ZeroTail(f->karPcm.get(), m, karBytes);
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
            ++gainCounts_[size_t(std::clamp<long>(std::lround((g2 - kGainLow) / kGainStep), 0, kGainBins - 1))];
            ++j;
            i = 0;
        }
        // What the subtraction at that shift leaves over the middle half.
        const TVocalFunc::ResidualSum sums = f->SumResidual(B, quarter, half, o.ProcMode == 2);
        if (fitPoints_) {
            // The block's fractional shift and gain by least squares over its
            // middle half, for the fitted karaoke position. The fraction is
            // the mean over that half, so it belongs to the half's centre:
            // original frame u + mid meets karaoke frame w + B + mid plus it.
            const TVocalFunc::BlockFit fit = f->FitBlock(B, quarter, half, o.ProcMode != 0);
            const int mid = quarter + half / 2;
            AlignPoint point;
            if (SolveBlockFit(fit.oo, fit.kk, fit.ok, fit.ss, fit.os, fit.ks, fit.n, u + mid, w + B + mid, point))
                fitPoints_->push_back(point);
            if (fit.oo > 0 && fit.kk > 0)
                wholeResiduals_.push_back({fit.oo, std::max(0.0, 1 - fit.ok * fit.ok / (fit.oo * fit.kk))});
            if (++progressCounter > 11) {
                progressCounter = 0;
                host_->SetProgressPosition(std::min<int64_t>(u * Channels * 2, progressMax_));
            }
        }
        ++shiftCounts_[size_t(B)];
        shiftSum += B - range;
        vocSum += sums.voice;
        orgSum += sums.original;
        ++k;

        w += B + drift + half;
        u += half;
        original_->SeekFrame(u);
        Pump();
        if (Cancel) break;
    }

    if (k > 0) {
        Ofs = double(shiftSum) / double(k);
        Voc = double(vocSum) / double(k);
        Org = double(orgSum) / double(k);
        double dev = 0;
        for (int b = 0; b <= 2 * range; ++b)
            dev += double(shiftCounts_[size_t(b)]) * std::fabs(double(b - range) - Ofs);
        Bnsn = dev / double(k);
    } else {
        // Nothing could be compared: no shift, no level, no evidence.
        Ofs = Voc = Org = Bnsn = 0;
    }
    Vol = 1.0;
    if (j > 0) {
        // The middle estimate, or the mean of the two middle ones.
        auto nth = [&](int n) {
            for (int b = 0, seen = 0; b < kGainBins; ++b)
                if ((seen += int(gainCounts_[size_t(b)])) > n) return kGainLow + b * kGainStep;
            return 1.0;
        };
        Vol = (nth((j - 1) / 2) + nth(j / 2)) / 2;
    }
    return kDone;
}

int TVocalMain::FindIntroOffset() {
    KaraokeInverted = false;
    introOfs_ = introBnsn_ = 0;
    double best = kHuge;
    int result = 0;
    static const char* const kTags[3] = {"简易分析     ", "详细分析LR   ", "详细分析mono "};
    bool stop = false;
    for (int inv = 0; inv < 2 && !stop; ++inv) {
        const bool inverted = inv == 1;
        for (int cand = 0; cand < 3; ++cand) {
            const int c = cand == 0 ? FindOnsetOffset(inverted) : FindEnvelopeOffset(cand == 2, inverted);
            if (Cancel) {
                stop = true;
                break;
            }
            MeasureAlignment(c, 0, false, inverted, 30, 20);
            if (Cancel) {
                stop = true;
                break;
            }
            DebugPrint("%sVoc:%f Org:%f ofs:%d phase:%d\n", kTags[cand], Voc, Org, c, inverted ? 1 : 0);
            if (Org != 0) {
                const double ratio = Voc / Org;
                if (ratio < 0.8 || ratio < best) {
                    best = ratio;
                    result = c;
                    KaraokeInverted = inverted;
                    introOfs_ = Ofs;
                    introBnsn_ = Bnsn;
                }
                if (ratio < 0.8) {
                    stop = true;
                    break;
                }
            }
        }
    }
    DebugPrint("确定初始的偏移\u3000\u3000:%d \u3000相位%d\n", result, KaraokeInverted ? 1 : 0);
    return result;
}

