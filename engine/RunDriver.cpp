// The run driver: a run from start to end, the original-only run, progress
// and the animated status.
#include "EngineUtil.h"
#include "Vocalmain.h"

#include "Twave.h"
#include "Vfunc.h"
#include "VoiceWriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>

using namespace engine_util;

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
    // Less than one whole frame is as empty as nothing.
    if (limit < std::max<uint32_t>(1, original_->Format.nBlockAlign)) {
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
    if (result == kDone && !Cancel) FillReport(PlanExtraction(true), IntroOffset);
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
    host_->StartStatusTimer(1000, [this] {
        host_->SetStatusText(StatusText + std::string(size_t(StatusStep), ' ') + "->");
        if (++StatusStep > 4) StatusStep = 0;
    });
}

void TVocalMain::StopStatus() {
    host_->SetStatusText("");
    host_->StopStatusTimer();
}

int TVocalMain::FilterOriginal() {
    const CommittedOptions& o = *options_;
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(Channels, SampleRate(), o.BlkSec * 2.0, 1) != 0) return kNoMemory;
    if (o.CntrFlg && f->SetupCenterFocus(o.CntrGain) != 0) return kNoMemory;
    if (o.LPFFlg && f->SetupLowPass(80.0f, float(o.LPFFreq)) != 0) return kNoMemory;
    if (o.HPFFlg && f->SetupHighPass(60.0f, float(o.HPFFreq)) != 0) return kNoMemory;

    // The stages' start-up is dropped and their tail flushed with silence, so
    // the output lines up with the original and is exactly as long.
    VoiceWriter writer(output_, Channels, StageLatency(*f, 1), report_.originalFrames);
    Progress = 0;
    int counter = 0;
    int result = kDone;
    original_->SeekFrame(0);
    int64_t consumed = 0; // frames of the original read so far
    while (!writer.Done()) {
        f->ClearBuffers();
        const int32_t n = std::max(original_->Read(f->origPcm.get(), f->origPcmBytes), 0);
        if (n < f->origPcmBytes) writer.LimitTotal(consumed + n / (2 * Channels));
        consumed += n / (2 * Channels);
        f->UnpackInput();
        f->SubtractStereo(0, 0.0);
        if (o.CntrFlg) f->ApplyCenterFocus(0, f->blockLen);
        if (o.LPFFlg) f->ApplyLowPass(0, f->blockLen);
        if (o.HPFFlg) f->ApplyHighPass(0, f->blockLen);
        f->PackOutput();
        Progress += n;
        if (!writer.Write(f->outPcm.get(), f->blockLen)) {
            result = kWriteFailed;
            break;
        }
        ProgressStep(counter);
        Pump();
        if (Cancel) break;
    }
    report_.framesWritten = writer.Written();
    ShowFinished(result);
    return result;
}

