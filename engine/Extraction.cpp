// The extraction pipeline: planning the run from the options and the
// analysis, the lead-in, and the block loop in its classic form (a shift
// search per block) or its precise form (the karaoke read along the fitted
// position). Every output frame is written at the time of the original frame
// it came from: the stream's latency through the stages is dropped at the
// start and flushed at the end, and the file is as long as the original.
#include "EngineUtil.h"
#include "ModeTable.h"
#include "Vocalmain.h"
#include "VoiceWriter.h"

#include "FracDelay.h"
#include "Twave.h"
#include "Vfunc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

using namespace engine_util;

TVocalMain::ExtractionPlan TVocalMain::PlanExtraction(bool analysed) const {
    const CommittedOptions& o = *options_;
    ExtractionPlan p;
    p.analysed = analysed;
    if (o.MergeMode == 2) {
        // Automatic: the waveform merge only where the analysis saw the
        // karaoke cancel the accompaniment almost exactly.
        const bool precise = o.AlignFlg && Track.Valid();
        const double cancel = precise ? CancelPreciseDb : CancelWholeDb;
        p.merge = analysed && cancel < kWaveformCancellationDb ? 1 : 0;
    } else {
        p.merge = o.MergeMode == 1 ? 1 : 0;
    }
    p.inverted = o.KrkPhase == 0 ? KaraokeInverted : o.KrkPhase == 2;
    // The fitted position holds for the analysis's own offset and phase; a
    // manual offset, range or phase asks for the classic search.
    p.precise = o.AlignFlg && analysed && Track.Valid() && o.IntroMode == 0 && o.AdptMode == 0 &&
                p.inverted == KaraokeInverted;

    p.match = p.precise && !Match.empty() && (o.LevelAdpt == 0 || o.LevelAdpt == 1);
    const bool oversampled = !p.precise && o.OvspFlg != 0 && p.merge == 1;
    p.mode = p.precise ? std::clamp(o.ProcMode, 0, 2) : (oversampled ? o.ProcMode + 3 : o.ProcMode);
    p.factor = oversampled ? o.OvspMx : 1;

    if (p.merge == 0) {
        p.gain = analysed ? SavedVol : 0.95;
    } else if (o.LevelAdpt == 0) {
        p.gain = SavedVol;
    } else if (o.LevelAdpt == 1) {
        p.adaptive = true;
        p.gain = p.precise ? SavedVol : 1.0;
    } else if (o.LevelAdpt == 2) {
        p.gain = o.Klvl;
    } else {
        p.gain = 1.0;
    }
    if (o.AdptMode == 0) {
        p.drift = BaseOfs;
        p.range = Range;
    } else if (o.AdptMode == 1) {
        p.range = o.AdptRange;
    }
    return p;
}

void TVocalMain::FillReport(const ExtractionPlan& plan, int ofs) {
    const CommittedOptions& o = *options_;
    const int half = int(SampleRate() * o.BlkSec * 2.0) / 2;
    report_.analysed = plan.analysed;
    report_.inverted = plan.inverted;
    report_.merge = plan.merge;
    report_.mergeChosenAutomatically = o.MergeMode == 2;
    report_.preciseAlignment = plan.precise;
    if (plan.precise) {
        report_.offsetFrames = std::llround(Track.At(0));
        report_.offsetSeconds = Track.At(0) / SampleRate();
        report_.driftPpm = (Track.Slope() - 1.0) * 1e6;
    } else {
        report_.offsetFrames = ofs;
        report_.offsetSeconds = double(ofs) / SampleRate();
        report_.driftPpm = half > 0 ? double(plan.drift) / half * 1e6 : 0;
    }
    // Rounded to what any reader needs (and never "-0").
    report_.driftPpm = std::round(report_.driftPpm * 1000) / 1000 + 0.0;
    report_.gain = plan.adaptive && !plan.precise ? 1.0 : plan.gain;
    report_.gainDb = report_.gain > 0 ? 20 * std::log10(report_.gain) : -200;
    const bool precise = o.AlignFlg && Track.Valid();
    report_.cancellationDb = precise ? CancelPreciseDb : CancelWholeDb;
    report_.cancellationThresholdDb = kWaveformCancellationDb;
    const char* name = plan.merge == 1 ? "waveform merge" : "frequency merge";
    char text[320];
    if (o.MergeMode != 2) {
        std::snprintf(text, sizeof text, "%s, as set", name);
    } else if (!plan.analysed) {
        std::snprintf(text, sizeof text, "%s: nothing was analysed to choose by", name);
    } else if (plan.merge == 1) {
        std::snprintf(text, sizeof text,
                      "%s: where there is no voice the aligned karaoke cancels the accompaniment to %.1f dB "
                      "(the waveform merge needs %.0f dB or better)",
                      name, report_.cancellationDb, kWaveformCancellationDb);
    } else {
        std::snprintf(text, sizeof text,
                      "%s: where there is no voice the aligned karaoke cancels the accompaniment only to %.1f dB "
                      "(the waveform merge needs %.0f dB or better): the karaoke differs from the original's "
                      "accompaniment (lossy coding, other mastering%s)",
                      name, report_.cancellationDb, kWaveformCancellationDb, precise ? "" : " or drift");
    }
    report_.mergeReason = text;
}

int64_t TVocalMain::StageLatency(const TVocalFunc& f, int) const {
    return f.Latency();
}

void TVocalMain::PassThrough(int count, bool readKaraoke) {
    const CommittedOptions& o = *options_;
    TVocalFunc& f = *func_;
    f.ClearBuffers();
    while (count > 0) {
        const int c = count > f.blockLen ? f.blockLen : count;
        const int32_t bytes = count > f.blockLen ? f.origPcmBytes : Bytes(count, Channels);
        original_->Read(f.origPcm.get(), bytes);
        if (readKaraoke) karaoke_->Read(f.karPcm.get(), bytes);
        f.UnpackInput();
        if (o.ProcMode == 2) {
            if (merge_ == 1)
                f.SubtractMid(0, 0.95);
            else
                f.SpectralSubtractMid(0, c, 0.95, 0);
        } else {
            if (merge_ == 1)
                f.SubtractStereo(0, 0.95);
            else
                f.SpectralSubtractStereo(0, c, 0.95, 0);
        }
        if (o.CntrFlg) f.ApplyCenterFocus(0, c);
        if (o.LPFFlg) f.ApplyLowPass(0, c);
        if (o.HPFFlg) f.ApplyHighPass(0, c);
        f.PackOutput();
        if (!writer_->Write(f.outPcm.get(), c)) return;
        count -= f.blockLen;
    }
}

bool TVocalMain::FinishBlock(TVocalFunc& f, int32_t progressBytes) {
    const CommittedOptions& o = *options_;
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    if (o.CntrFlg) f.ApplyCenterFocus(quarter, half);
    if (o.LPFFlg) f.ApplyLowPass(quarter, half);
    if (o.HPFFlg) f.ApplyHighPass(quarter, half);
    f.PackOutput(quarter, half);
    for (int c = 0; c < Channels; ++c)
        for (int x = quarter; x < quarter + half; ++x) {
            energyOrig_ += double(f.orig[c][x]) * f.orig[c][x];
            energyOut_ += double(f.out[c][x]) * f.out[c][x];
        }
    Progress += progressBytes;
    return writer_->Write(f.outPcm.get() + quarter * Channels, half);
}

int TVocalMain::ExtractVoice() {
    const CommittedOptions& o = *options_;
    int h = AutoAnalyse();
    const bool analysed = h == kDone;
    if (h == kNothingToAnalyse) h = kDone;
    if (Cancel || h != kDone) return h;

    const ExtractionPlan plan = PlanExtraction(analysed);
    merge_ = plan.merge;

    auto owned = std::make_unique<TVocalFunc>();
    TVocalFunc& f = *owned;
    if (f.Setup(Channels, SampleRate(), o.BlkSec * 2.0, plan.factor) != 0) return kNoMemory;
    // Every candidate of the block's search must leave a whole block inside
    // the karaoke window, which reaches a quarter block past the expected
    // position on either side.
    const int range = std::clamp(plan.range, 0, f.blockLen / 4);
    f.SetKaraokeInvert(plan.inverted);
    if (o.CntrFlg && f.SetupCenterFocus(o.CntrGain) != 0) return kNoMemory;
    if (o.LPFFlg && f.SetupLowPass(80.0f, float(o.LPFFreq)) != 0) return kNoMemory;
    if (o.HPFFlg && f.SetupHighPass(60.0f, float(o.HPFFreq)) != 0) return kNoMemory;
    f.SpectralOnCaller(spectralOnCaller_);
    if (plan.merge == 0 && f.SetupSpectral(o.SoundQty, o.Kvol) != 0) return kNoMemory;
    if (plan.precise && f.SetupPrecise() != 0) return kNoMemory;

    int ofs = 0;
    if (o.IntroMode == 0) {
        ofs = IntroOffset;
    } else if (o.IntroMode == 1) {
        ofs = FindOnsetOffset(plan.inverted);
    } else if (o.IntroMode == 2) {
        StartStatus(EngineText::kPreliminary);
        ofs = FindEnvelopeOffset(false, plan.inverted);
        StopStatus();
    }

    VoiceWriter writer(output_, Channels, StageLatency(f, plan.merge), report_.originalFrames);
    func_ = &f;
    writer_ = &writer;
    struct Release {
        TVocalFunc*& f;
        VoiceWriter*& w;
        ~Release() {
            f = nullptr;
            w = nullptr;
        }
    } release{func_, writer_};

    report_.extracted = true;
    FillReport(plan, ofs);
    energyOrig_ = energyOut_ = 0;

    int result;
    if (plan.precise) {
        // The fitted position says where the karaoke has content for every
        // frame: the loop starts with the song, a quarter block before the
        // first frame, and where the karaoke has not begun (or has ended) it
        // reads silence, so the original passes untouched there.
        const int quarter = f.blockLen / 4;
        original_->SeekFrame(-quarter);
        Progress = 0;
        result = LoopPrecise(f, plan, -quarter);
    } else {
        int64_t lead;
        original_->SeekFrame(0);
        if (ofs < 0) {
            karaoke_->SeekFrame(range);
            lead = int64_t(range) - ofs;
        } else {
            karaoke_->SeekFrame(int64_t(ofs) + range);
            lead = range;
        }
        lead = std::min<int64_t>(lead, INT32_MAX);
        PassThrough(int(lead), false);
        Progress = lead * Channels * 2;

        const int quarter = f.blockLen / 4;
        const int64_t u = original_->CurrentFrame(), w = karaoke_->CurrentFrame();
        PassThrough(quarter, true);
        Progress += int64_t(quarter) * Channels * 2;
        original_->SeekFrame(u);
        karaoke_->SeekFrame(w);
        result = LoopClassic(f, plan, range, u, w);
    }

    report_.removalDb =
        energyOrig_ > 0 ? 10 * std::log10(std::max(energyOut_, 1e-3) / energyOrig_) : 0;
    report_.framesWritten = writer.Written();
    ShowFinished(result);
    return result;
}

// Reads one block of the original at u and one karaoke window at k (silence
// past either end), and tells the writer where the original really ended.
namespace {

int32_t ReadBlock(TWaveData& original, TWaveData& karaoke, TVocalFunc& f, int64_t u, int64_t k, int channels,
                  int karFrames, VoiceWriter& writer) {
    const int32_t karBytes = Bytes(karFrames, channels);
    karaoke.SeekFrame(k);
    const int32_t n = std::max(original.Read(f.origPcm.get(), f.origPcmBytes), 0);
    const int32_t m = std::max(karaoke.Read(f.karPcm.get(), karBytes), 0);
    if (n < f.origPcmBytes) writer.LimitTotal(u + n / (2 * channels));
    ZeroTail(f.origPcm.get(), n, f.origPcmBytes);
    ZeroTail(f.karPcm.get(), m, karBytes);
    f.UnpackInput(f.blockLen, karFrames);
    return n;
}

} // namespace

int TVocalMain::LoopClassic(TVocalFunc& f, const ExtractionPlan& plan, int range, int64_t u, int64_t w) {
    const ModeRow& row = kModeTable[plan.mode];
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    const int rangeF = range * plan.factor;
    // The karaoke frames a block can reach: the block at the largest shift
    // (and the next frame, which the oversampling interpolates towards).
    const int karFrames = std::min(f.karaokeLen, f.blockLen + 2 * range + 2);
    int counter = 0;
    while (!writer_->Done()) {
        w -= range;
        const int32_t n = ReadBlock(*original_, *karaoke_, f, u, w, Channels, karFrames, *writer_);
        if (row.form == MonoForm::Side) f.MakeSide();
        if (row.form == MonoForm::Mid) f.MakeMid();
        if (row.oversampled) {
            f.OversampleKaraoke(karFrames);
            if (row.form != MonoForm::None) f.OversampleKaraokeMono(karFrames);
        }
        int B = (f.*row.findShift)(rangeF, rangeF, plan.factor);
        if (row.oversampled) B = (f.*row.findShift)(B, plan.factor - 1, 1);
        double g = plan.gain;
        if (plan.adaptive) g = (f.*row.findGain)(B, 0.002, 0.03, (f.*row.findGain)(B, 0.02, 0.2, 1.0));
        if (plan.merge == 1)
            (f.*row.subtract)(B, g);
        else
            (f.*row.spectral)(quarter, half, g, B);
        if (!FinishBlock(f, n / 2)) return kWriteFailed;
        w += B / plan.factor + plan.drift + half;
        if (!NextBlock(u, half, counter)) break;
    }
    return kDone;
}

int TVocalMain::LoopPrecise(TVocalFunc& f, const ExtractionPlan& plan, int64_t u) {
    const PreciseRow& row = kPreciseTable[plan.mode];
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    // The frequency merge limits its gain to the extraction strength: a
    // karaoke quieter than that is raised first, so it is still removed at
    // its whole gain.
    const double cap = options_->SoundQty == 0 ? std::min(options_->Kvol, 1.5f) : options_->Kvol;
    // Of the karaoke window only the stretch the interpolator (and the
    // matching filter) reach is read: the middle half, a quarter block
    // before it and the taps after it.
    const int karFrames =
        std::min(f.karaokeLen, quarter + half + 2 * (fracdelay::kTaps + (plan.match ? kMatchHalfTaps : 0)));
    int counter = 0;
    while (!writer_->Done()) {
        // The karaoke window starts a quarter block before the position of
        // the block's middle half, as the classic window starts a search
        // range before it: the interpolator's taps stay inside it.
        const int64_t t0 = u + quarter;
        const double p0 = Track.At(t0), p1 = Track.At(t0 + half);
        const double step = (p1 - p0) / half;
        const int64_t k = int64_t(std::floor(p0)) - quarter;
        const int32_t n = ReadMiddle(u, k, karFrames, f);
        double g = plan.gain;
        if (plan.match) {
            // The filter carries the gain.
            const int m = kMatchHalfTaps;
            f.ReadKaraokeAligned(p0 - double(k) - m * step, step, quarter - m, half + 2 * m);
            f.FilterAligned(Match.data(), m, quarter, half);
            g = 1.0;
        } else {
            f.ReadKaraokeAligned(p0 - double(k), step, quarter, half);
        }
        if (plan.adaptive) g = (f.*row.findGain)(quarter, half, 0.002 * g, 0.03 * g, g);
        if (plan.merge == 1) {
            (f.*row.subtract)(quarter, half, g);
        } else {
            const double raise = cap > 0 && g > cap ? g / cap : 1.0;
            if (raise != 1.0) f.FilterAligned(&raise, 0, quarter, half);
            (f.*row.spectral)(quarter, half, g / raise);
        }
        if (!FinishBlock(f, n)) return kWriteFailed;
        if (!NextBlock(u, half, counter)) break;
    }
    return kDone;
}

// The middle half of the original block at u (the only part a precise block
// uses or writes) and the first karFrames frames of the karaoke window at k,
// read and unpacked in place; silence past either end. Returns the bytes of
// the original read.
int32_t TVocalMain::ReadMiddle(int64_t u, int64_t k, int karFrames, TVocalFunc& f) {
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    int16_t* origAt = f.origPcm.get() + quarter * Channels;
    const int32_t origBytes = Bytes(half, Channels), karBytes = Bytes(karFrames, Channels);
    original_->SeekFrame(u + quarter);
    karaoke_->SeekFrame(k);
    const int32_t n = std::max(original_->Read(origAt, origBytes), 0);
    const int32_t m = std::max(karaoke_->Read(f.karPcm.get(), karBytes), 0);
    if (n < origBytes) writer_->LimitTotal(u + quarter + n / (2 * Channels));
    ZeroTail(origAt, n, origBytes);
    ZeroTail(f.karPcm.get(), m, karBytes);
    f.UnpackRange(quarter, half, 0, karFrames);
    return n;
}

bool TVocalMain::NextBlock(int64_t& u, int half, int& counter) {
    u += half;
    original_->SeekFrame(u);
    ProgressStep(counter);
    Pump();
    return !Cancel;
}
