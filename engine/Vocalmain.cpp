#include "Vocalmain.h"

#include "Twave.h"
#include "Vfunc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

constexpr double kHuge = 1.7e308;
// The gain estimates lie on a 0.002 grid between 0.772 and 1.228.
constexpr double kGainLow = 0.7, kGainStep = 0.002;
constexpr int kGainBins = 301;

// Frames to bytes of 16-bit samples.
int32_t Bytes(int frames, int channels) { return frames * channels * 2; }

// Clears the bytes of a buffer that a short read left unfilled.
void ZeroTail(int16_t* pcm, int32_t got, int32_t size) {
    if (got < size) std::memset(reinterpret_cast<char*>(pcm) + got, 0, size_t(size - got));
}

} // namespace

void TVocalMain::Attach(EngineHost* host, CommittedOptions* options, TWaveData* original, TWaveData* karaoke,
                        TWaveData* output) {
    host_ = host;
    options_ = options;
    original_ = original;
    karaoke_ = karaoke;
    output_ = output;
}

void TVocalMain::DebugPrint(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    host_->DebugLog(buf);
}

void TVocalMain::LogRange(int range) {
    DebugPrint("range:%d vol:%f voc:%f org:%f ofs:%f bnsn:%f\n", range, Vol, Voc, Org, Ofs, Bnsn);
}

void TVocalMain::Pump() { host_->ProcessMessages(); }

int TVocalMain::SampleRate() const { return int(original_->Format.nSamplesPerSec); }

TVocalMain::FileKey TVocalMain::KeyOf(const TWaveData& w) {
    FileKey k;
    k.name = w.FileName;
    std::error_code ec;
    auto size = std::filesystem::file_size(w.FileName, ec);
    if (!ec) k.size = int64_t(size);
    auto time = std::filesystem::last_write_time(w.FileName, ec);
    if (!ec) k.mtime = time.time_since_epoch().count();
    return k;
}

// True when the file on disk no longer holds the data its header promised
// (it was cut while the run read it).
bool TVocalMain::Shrunk(const TWaveData& w) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(w.FileName, ec);
    return !ec && int64_t(size) < w.DataStart + int64_t(w.DataBytes);
}

// ---------------------------------------------------------------- run driver

void TVocalMain::Run(int mode) {
    report_ = RunReport{};
    const uint32_t limit = std::min(original_->DataBytes, karaoke_->DataBytes);
    if (limit == 0) {
        report_.emptyInput = true;
        return;
    }
    progressMax_ = limit;
    host_->SetProgressRange(limit);
    host_->SetProgressPosition(0);
    const auto start = std::chrono::steady_clock::now();
    BeginRun();
    const int result = mode == 0 ? ExtractVoice() : FilterOriginal();
    report_.result = result;
    report_.stopped = Cancel != 0;
    report_.inputEndedEarly = Shrunk(*original_) || (mode == 0 && Shrunk(*karaoke_));
    report_.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result == kNoMemory) host_->ShowWarning(EngineText::kNoMemory);
    if (result == kWriteFailed) host_->ShowWarning(EngineText::kWriteFailed);
    host_->SetProgressPosition(0);
    host_->SetStatusText("");
    host_->SetTitle(EngineText::kTitle);
}

// Clears the stop request and takes the channel count; a one-channel original
// has no stereo image, so the channel handling is normal and the centre focus
// off, in the committed options themselves.
void TVocalMain::BeginRun() {
    Cancel = 0;
    Channels = original_->Format.nChannels;
    report_.sampleRate = SampleRate();
    report_.channels = Channels;
    if (original_->Format.nBlockAlign) report_.originalFrames = original_->DataBytes / original_->Format.nBlockAlign;
    if (karaoke_->Format.nBlockAlign) report_.karaokeFrames = karaoke_->DataBytes / karaoke_->Format.nBlockAlign;
    if (Channels < 2) {
        options_->ProcMode = 0;
        options_->CntrFlg = 0;
    }
}

int TVocalMain::Analyse() {
    report_ = RunReport{};
    progressMax_ = std::min(original_->DataBytes, karaoke_->DataBytes);
    BeginRun();
    const int result = AutoAnalyse();
    if (result == kDone && !Cancel) {
        report_.analysed = true;
        report_.offsetFrames = IntroOffset;
        report_.offsetSeconds = double(IntroOffset) / SampleRate();
        report_.inverted = KaraokeInverted;
        const int half = int(SampleRate() * options_->BlkSec * 2.0) / 2;
        report_.driftPpm = half > 0 ? double(BaseOfs) / half * 1e6 : 0;
        report_.gain = SavedVol;
        report_.gainDb = SavedVol > 0 ? 20 * std::log10(SavedVol) : -200;
    }
    report_.result = result == kNothingToAnalyse ? kDone : result;
    report_.stopped = Cancel != 0;
    host_->SetStatusText("");
    return result == kNothingToAnalyse ? kDone : result;
}

void TVocalMain::ProgressStep(int& counter) {
    const int old = counter;
    counter = old + 1;
    if (old > 10) {
        ShowProgress();
        counter = 0;
    }
}

// A run that went to the end of its input shows 100 % before the display is
// reset; the updates every 12 blocks would otherwise stop short of it.
void TVocalMain::ShowFinished(int result) {
    if (result != kDone || Cancel) return;
    Progress = progressMax_;
    ShowProgress();
}

void TVocalMain::ShowProgress() {
    const int percent = progressMax_ > 0 ? int(double(Progress) / double(progressMax_) * 100.0) : 0;
    host_->SetProgressPosition(Progress);
    host_->SetStatusText(std::to_string(percent) + " %");
    host_->SetTitle(std::to_string(percent) + "%-Sonvelt");
}

void TVocalMain::StartStatus(const std::string& text) {
    StatusText = text;
    StatusStep = 0;
    StatusTimerRunning = true;
    host_->StartStatusTimer(1000, [this] {
        host_->SetStatusText(StatusText + std::string(size_t(StatusStep), ' ') + "->");
        if (++StatusStep > 4) StatusStep = 0;
    });
}

void TVocalMain::StopStatus() {
    host_->SetStatusText("");
    host_->StopStatusTimer();
    StatusTimerRunning = false;
}

int TVocalMain::FilterOriginal() {
    const CommittedOptions& o = *options_;
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), o.BlkSec * 2.0, 1) != 0) return kNoMemory;
    if (o.CntrFlg && f->SetupCenterFocus(o.CntrGain) != 0) return kNoMemory;
    if (o.LPFFlg && f->SetupLowPass(80.0f, float(o.LPFFreq)) != 0) return kNoMemory;
    if (o.HPFFlg && f->SetupHighPass(60.0f, float(o.HPFFreq)) != 0) return kNoMemory;

    Progress = 0;
    int counter = 0;
    int result = kDone;
    original_->SeekFrame(0);
    for (;;) {
        f->ClearBuffers();
        const int32_t n = original_->Read(f->origPcm.get(), f->origPcmBytes);
        if (n <= 0) break;
        f->UnpackInput();
        f->SubtractStereo(0, 0.0);
        if (o.CntrFlg) f->ApplyCenterFocus(0, f->blockLen);
        if (o.LPFFlg) f->ApplyLowPass(0, f->blockLen);
        if (o.HPFFlg) f->ApplyHighPass(0, f->blockLen);
        f->PackOutput();
        Progress += n;
        if (output_->Write(f->outPcm.get(), f->outPcmBytes) == -1) {
            result = kWriteFailed;
            break;
        }
        ProgressStep(counter);
        Pump();
        if (Cancel) break;
    }
    ShowFinished(result);
    return result;
}

// ------------------------------------------------------------ intro analysis

int TVocalMain::FindOnsetOffset(bool inverted) {
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), 1.0, 1) != 0) return 0;
    f->SetKaraokeInvert(inverted);
    original_->SeekFrame(0);
    karaoke_->SeekFrame(0);

    // Frames before each recording first reaches 128 (positive excursions only).
    auto onset = [&](TWaveData* file, int16_t* pcm, int32_t bytes, const int32_t* mono, int len) {
        int64_t a = 0;
        while (file->Read(pcm, bytes) > 0) {
            f->UnpackInput();
            f->MakeMid();
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
    original_->Read(f->origPcm.get(), f->origPcmBytes);
    karaoke_->Read(f->karPcm.get(), f->karPcmBytes);
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

    // Mean absolute level of 20 ms windows of the side (or mid) signal.
    auto envelope = [&](TWaveData* file, int16_t* pcm, const int32_t* mono, std::vector<int32_t>& env) {
        for (size_t i = 0; i < env.size(); ++i) {
            file->Read(pcm, Bytes(W, Channels));
            f->UnpackInput();
            if (useMid)
                f->MakeMid();
            else
                f->MakeSide();
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
    original_->Read(f->origPcm.get(), f->origPcmBytes);
    karaoke_->Read(f->karPcm.get(), f->karPcmBytes);
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
    int64_t u = original_->CurrentFrame(), w = karaoke_->CurrentFrame();
    int64_t k = 0, shiftSum = 0;
    int i = 0, j = 0;
    uint64_t vocSum = 0, orgSum = 0;

    for (;;) {
        w -= range;
        karaoke_->SeekFrame(w);
        const int32_t n = original_->Read(f->origPcm.get(), f->origPcmBytes);
        const int32_t m = n > 0 ? karaoke_->Read(f->karPcm.get(), f->karPcmBytes) : 0;
        if (n <= 0 || m <= 0 || (limited && k >= maxBlocks)) break;
        f->UnpackInput();

        int B;
        if (o.ProcMode == 0) {
            B = f->FindShiftStereo(range, range, 1);
        } else {
            if (o.ProcMode == 1)
                f->MakeSide();
            else
                f->MakeMid();
            B = f->FindShiftMono(range, range, 1);
        }
        const int old = i;
        i = old + 1;
        if (old >= levelEvery) {
            auto gain = [&](double step, double r, double centre) {
                return o.ProcMode == 0 ? f->FindGainStereo(B, step, r, centre) : f->FindGainMono(B, step, r, centre);
            };
            const double g1 = gain(0.02, 0.2, 1.0);
            const double g2 = gain(0.002, 0.03, g1);
            ++gainCounts_[size_t(std::clamp<long>(std::lround((g2 - kGainLow) / kGainStep), 0, kGainBins - 1))];
            ++j;
            i = 0;
        }
        if (o.ProcMode == 2)
            f->SubtractMid(B, 1.0);
        else
            f->SubtractStereo(B, 1.0);

        uint64_t voc = 0, org = 0;
        for (int x = quarter; x < quarter + half; ++x) {
            voc += uint64_t(std::abs(f->out[0][x])) + uint64_t(std::abs(f->out[1][x]));
            org += uint64_t(std::abs(f->orig[0][x])) + uint64_t(std::abs(f->orig[1][x]));
        }
        ++shiftCounts_[size_t(B)];
        shiftSum += B - range;
        vocSum += voc;
        orgSum += org;
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
                if (ratio < 0.8) {
                    result = c;
                    KaraokeInverted = inverted;
                    stop = true;
                    break;
                }
                if (ratio < best) {
                    best = ratio;
                    result = c;
                    KaraokeInverted = inverted;
                }
            }
        }
    }
    DebugPrint("确定初始的偏移\u3000\u3000:%d \u3000相位%d\n", result, KaraokeInverted ? 1 : 0);
    return result;
}

// -------------------------------------------------------- automatic analysis

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
        o.ProcMode == CachedProcMode && o.BlkSec == CachedBlkSec)
        return kDone;
    if (o.IntroMode != 0 && o.AdptMode != 0 && o.KrkPhase != 0 && o.LevelAdpt != 0) return kNothingToAnalyse;

    StartStatus(EngineText::kAnalysing);
    int result = kDone;
    [&] {
        const int ofs0 = FindIntroOffset();
        if (Cancel) return;
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
        result = MeasureAlignment(ofs0, BaseOfs, true, KaraokeInverted, 0, chosen);
        if (result != kDone || Cancel) return;
        LogRange(chosen);

        Range = chosen;
        SavedVol = Vol;
        IntroOffset = ofs0;
        CachedOriginal = origKey;
        CachedKaraoke = karKey;
        CachedProcMode = o.ProcMode;
        CachedBlkSec = o.BlkSec;
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

// -------------------------------------------------------- extraction pipeline

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
        if (output_->Write(f.outPcm.get(), bytes) == -1) return;
        count -= f.blockLen;
    }
}

int TVocalMain::ExtractVoice() {
    const CommittedOptions& o = *options_;
    int h = AutoAnalyse();
    const bool analysed = h == kDone;
    if (h == kNothingToAnalyse) h = kDone;
    if (Cancel || h != kDone) return h;

    // Automatic merge: the frequency merge until the analysis can judge the pair.
    merge_ = o.MergeMode == 1 ? 1 : 0;
    const bool oversampled = o.OvspFlg != 0 && merge_ == 1;
    const int mode = oversampled ? o.ProcMode + 3 : o.ProcMode;
    const int fct = oversampled ? o.OvspMx : 1;

    bool adaptive = false;
    double gain;
    if (merge_ == 0) {
        gain = analysed ? SavedVol : 0.95;
    } else if (o.LevelAdpt == 0) {
        gain = SavedVol;
    } else if (o.LevelAdpt == 1) {
        adaptive = true;
        gain = 1.0;
    } else if (o.LevelAdpt == 2) {
        gain = o.Klvl;
    } else {
        gain = 1.0;
    }
    int drift = 0, range = 0;
    if (o.AdptMode == 0) {
        drift = BaseOfs;
        range = Range;
    } else if (o.AdptMode == 1) {
        range = o.AdptRange;
    }
    const bool inverted = o.KrkPhase == 0 ? KaraokeInverted : o.KrkPhase == 2;

    auto owned = std::make_unique<TVocalFunc>();
    TVocalFunc& f = *owned;
    if (f.Setup(Channels, SampleRate(), o.BlkSec * 2.0, fct) != 0) return kNoMemory;
    // Every candidate of the block's search must leave a whole block inside
    // the karaoke window, which reaches a quarter block past the expected
    // position on either side.
    range = std::clamp(range, 0, f.blockLen / 4);
    f.SetKaraokeInvert(inverted);
    if (o.CntrFlg && f.SetupCenterFocus(o.CntrGain) != 0) return kNoMemory;
    if (o.LPFFlg && f.SetupLowPass(80.0f, float(o.LPFFreq)) != 0) return kNoMemory;
    if (o.HPFFlg && f.SetupHighPass(60.0f, float(o.HPFFreq)) != 0) return kNoMemory;
    if (merge_ == 0 && f.SetupSpectral(o.SoundQty, o.Kvol) != 0) return kNoMemory;
    func_ = &f;
    struct Release {
        TVocalFunc*& p;
        ~Release() { p = nullptr; }
    } release{func_};

    int ofs = 0;
    if (o.IntroMode == 0) {
        ofs = IntroOffset;
    } else if (o.IntroMode == 1) {
        ofs = FindOnsetOffset(inverted);
    } else if (o.IntroMode == 2) {
        StartStatus(EngineText::kPreliminary);
        ofs = FindEnvelopeOffset(false, inverted);
        StopStatus();
    }

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
    report_.extracted = true;
    report_.analysed = analysed;
    report_.offsetFrames = ofs;
    report_.offsetSeconds = double(ofs) / SampleRate();
    report_.inverted = inverted;
    report_.driftPpm = f.blockLen >= 2 ? double(drift) / (f.blockLen / 2) * 1e6 : 0;
    report_.gain = adaptive ? 1.0 : gain;
    report_.gainDb = report_.gain > 0 ? 20 * std::log10(report_.gain) : -200;
    report_.merge = merge_;
    report_.mergeChosenAutomatically = o.MergeMode == 2;
    double energyOrig = 0, energyOut = 0;

    PassThrough(int(lead), false);
    Progress = lead * Channels * 2;

    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    int64_t u = original_->CurrentFrame(), w = karaoke_->CurrentFrame();
    PassThrough(quarter, true);
    Progress += int64_t(quarter) * Channels * 2;
    original_->SeekFrame(u);
    karaoke_->SeekFrame(w);

    int counter = 0;
    int result = kDone;
    const int rangeF = range * fct;
    for (;;) {
        w -= range;
        karaoke_->SeekFrame(w);
        const int32_t n = original_->Read(f.origPcm.get(), f.origPcmBytes);
        const int32_t m = n > 0 ? karaoke_->Read(f.karPcm.get(), f.karPcmBytes) : 0;
        if (n <= 0 || m <= 0) break;
        // Past the end of a recording there is silence, not the previous
        // block's samples, which would come out again as an echo.
        ZeroTail(f.origPcm.get(), n, f.origPcmBytes);
        ZeroTail(f.karPcm.get(), m, f.karPcmBytes);
        f.UnpackInput();

        int B = 0;
        switch (mode) {
        case 0: B = f.FindShiftStereo(range, range, 1); break;
        case 1: f.MakeSide(); B = f.FindShiftMono(range, range, 1); break;
        case 2: f.MakeMid(); B = f.FindShiftMono(range, range, 1); break;
        case 3:
            f.OversampleKaraoke();
            B = f.FindShiftOvspStereo(rangeF, rangeF, fct);
            B = f.FindShiftOvspStereo(B, fct - 1, 1);
            break;
        default:
            if (mode == 4)
                f.MakeSide();
            else
                f.MakeMid();
            f.OversampleKaraoke();
            f.OversampleKaraokeMono();
            B = f.FindShiftOvspMono(rangeF, rangeF, fct);
            B = f.FindShiftOvspMono(B, fct - 1, 1);
            break;
        }
        double g = gain;
        if (adaptive) {
            auto search = [&](double step, double r, double centre) {
                switch (mode) {
                case 0: return f.FindGainStereo(B, step, r, centre);
                case 1: case 2: return f.FindGainMono(B, step, r, centre);
                case 3: return f.FindGainOvspStereo(B, step, r, centre);
                default: return f.FindGainOvspMono(B, step, r, centre);
                }
            };
            g = search(0.002, 0.03, search(0.02, 0.2, 1.0));
        }
        if (merge_ == 1) {
            switch (mode) {
            case 0: case 1: f.SubtractStereo(B, g); break;
            case 2: f.SubtractMid(B, g); break;
            case 3: case 4: f.SubtractOvspStereo(B, g); break;
            default: f.SubtractOvspMid(B, g); break;
            }
        } else if (mode == 2) {
            f.SpectralSubtractMid(quarter, half, g, B);
        } else {
            f.SpectralSubtractStereo(quarter, half, g, B);
        }
        if (o.CntrFlg) f.ApplyCenterFocus(quarter, half);
        if (o.LPFFlg) f.ApplyLowPass(quarter, half);
        if (o.HPFFlg) f.ApplyHighPass(quarter, half);
        f.PackOutput();
        for (int c = 0; c < Channels; ++c)
            for (int x = quarter; x < quarter + half; ++x) {
                energyOrig += double(f.orig[c][x]) * f.orig[c][x];
                energyOut += double(f.out[c][x]) * f.out[c][x];
            }
        Progress += n / 2;
        if (output_->Write(f.outPcm.get() + quarter * Channels, Bytes(half, Channels)) == -1) {
            result = kWriteFailed;
            break;
        }
        w += B / fct + drift + half;
        u += half;
        original_->SeekFrame(u);
        ProgressStep(counter);
        Pump();
        if (Cancel) break;
    }
    report_.removalDb = energyOrig > 0 ? 10 * std::log10(std::max(energyOut, 1e-3) / energyOrig) : 0;
    report_.framesWritten = output_->CurrentFrame();
    ShowFinished(result);
    return result;
}
