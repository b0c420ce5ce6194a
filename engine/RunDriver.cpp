// The run driver: a run from start to end, the original-only run, and the
// chain an extraction is made of (analysis, plan, block loop).
#include "Vocalmain.h"

#include "AutoAnalysis.h"
#include "Extraction.h"
#include "IntroAnalysis.h"
#include "PairReader.h"
#include "RunContext.h"
#include "Twave.h"
#include "Vfunc.h"
#include "VoiceWriter.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

namespace {

// True when the file on disk no longer holds the data its header promised
// (it was cut while the run read it).
bool Shrunk(const TWaveData& w)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(w.FileName, ec);
    return !ec && int64_t(size) < w.DataStart + int64_t(w.DataBytes);
}

} // namespace

void TVocalMain::Attach(EngineHost* host, const CommittedOptions* options, TWaveData* original, TWaveData* karaoke,
                        TWaveData* output)
{
    host_ = host;
    options_ = options;
    original_ = original;
    karaoke_ = karaoke;
    output_ = output;
}

CommittedOptions TVocalMain::RunOptions() const
{
    CommittedOptions o = *options_;
    // A one-channel original has no stereo image.
    if (original_->Format.nChannels < 2) {
        o.ProcMode = 0;
        o.CntrFlg = 0;
    }
    return o;
}

RunContext TVocalMain::Context(int64_t progressMaxBytes)
{
    return RunContext(*host_, Cancel, Progress, progressMaxBytes, StatusText, StatusStep);
}

// Clears the stop request and notes what the run works on.
void TVocalMain::BeginReport()
{
    Cancel = 0;
    report_ = RunReport{};
    report_.sampleRate = int(original_->Format.nSamplesPerSec);
    report_.channels = original_->Format.nChannels;
    if (original_->Format.nBlockAlign) report_.originalFrames = original_->DataBytes / original_->Format.nBlockAlign;
    if (karaoke_->Format.nBlockAlign) report_.karaokeFrames = karaoke_->DataBytes / karaoke_->Format.nBlockAlign;
}

void TVocalMain::Run(int mode)
{
    const uint32_t limit = std::min(original_->DataBytes, karaoke_->DataBytes);
    // Less than one whole frame is as empty as nothing.
    if (limit < std::max<uint32_t>(1, original_->Format.nBlockAlign)) {
        report_ = RunReport{};
        report_.emptyInput = true;
        return;
    }
    host_->SetProgressRange(limit);
    host_->SetProgressPosition(0);
    const auto start = std::chrono::steady_clock::now();
    BeginReport();
    RunContext run = Context(limit);
    PairReader pair(*original_, *karaoke_);
    const CommittedOptions options = RunOptions();
    const int result = mode == 0 ? ExtractVoice(run, pair, options) : FilterOriginal(run, pair, options);
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

int TVocalMain::Analyse()
{
    BeginReport();
    RunContext run = Context(std::min(original_->DataBytes, karaoke_->DataBytes));
    PairReader pair(*original_, *karaoke_);
    const CommittedOptions options = RunOptions();
    Analysis analysis;
    int result = AnalysisFor(run, pair, options, analysis);
    if (result == kNothingToAnalyse) result = kDone;
    else if (result == kDone && !Cancel)
        DescribePlan(report_, PlanExtraction(options, analysis, true), analysis, options,
                     analysis.introOffsetFrames, pair.SampleRate());
    report_.result = result;
    report_.stopped = Cancel != 0;
    host_->SetStatusText("");
    return result;
}

int TVocalMain::AnalysisFor(RunContext& run, PairReader& pair, const CommittedOptions& options, Analysis& analysis)
{
    const AnalysisCache::Key key = AnalysisCache::KeyFor(*original_, *karaoke_, options);
    const AutomaticParts automatic(options);
    if (const Analysis* cached = cache_.Find(key, automatic.PositionSuffices())) {
        analysis = *cached;
        return kDone;
    }
    if (!automatic.Any()) return kNothingToAnalyse;
    AnalysisRun fresh = AutoAnalyse({pair, run, options}, report_.analysisTrace);
    if (Cancel || fresh.result != kDone) {
        cache_.Clear();
        return fresh.result;
    }
    cache_.Store(key, fresh.analysis);
    analysis = std::move(fresh.analysis);
    return kDone;
}

int TVocalMain::FilterOriginal(RunContext& run, PairReader& pair, const CommittedOptions& options)
{
    auto f = std::make_unique<TVocalFunc>();
    if (f->Setup(pair.Channels(), pair.SampleRate(), options.BlkSec * 2.0, 1) != 0) return kNoMemory;
    if (SetupFinishingStages(*f, options) != kDone) return kNoMemory;

    // The stages' start-up is dropped and their tail flushed with silence, so
    // the output lines up with the original and is exactly as long.
    VoiceWriter writer(output_, pair.Channels(), f->Latency(), report_.originalFrames);
    Progress = 0;
    int counter = 0;
    int result = kDone;
    int64_t consumed = 0; // frames of the original read so far
    while (!writer.Done()) {
        f->ClearBuffers();
        const int32_t n = pair.ReadOriginal(consumed, f->origPcm.get(), f->blockLen);
        if (n < f->origPcmBytes) writer.LimitTotal(consumed + n / (2 * pair.Channels()));
        consumed += n / (2 * pair.Channels());
        f->UnpackInput();
        f->SubtractStereo(0, 0.0);
        f->ApplyFinishing(0, f->blockLen);
        f->PackOutput();
        Progress += n;
        if (!writer.Write(f->outPcm.get(), f->blockLen)) {
            result = kWriteFailed;
            break;
        }
        run.ProgressStep(counter);
        run.Pump();
        if (Cancel) break;
    }
    report_.framesWritten = writer.Written();
    run.ShowFinished(result);
    return result;
}

int TVocalMain::ExtractVoice(RunContext& run, PairReader& pair, const CommittedOptions& options)
{
    Analysis analysis;
    int h = AnalysisFor(run, pair, options, analysis);
    const bool analysed = h == kDone;
    if (h == kNothingToAnalyse) h = kDone;
    if (Cancel || h != kDone) return h;

    const ExtractionPlan plan = PlanExtraction(options, analysis, analysed);
    auto owned = std::make_unique<TVocalFunc>();
    TVocalFunc& f = *owned;
    if (f.Setup(pair.Channels(), pair.SampleRate(), options.BlkSec * 2.0, plan.oversamplingFactor) != 0) return kNoMemory;
    // Every candidate of the block's search must leave a whole block inside
    // the karaoke window, which reaches a quarter block past the expected
    // position on either side.
    const int range = std::clamp(plan.searchHalfWidthFrames, 0, f.blockLen / 4);
    f.SetKaraokeInvert(plan.inverted);
    if (SetupFinishingStages(f, options) != kDone) return kNoMemory;
    f.SpectralOnCaller(spectralOnCaller_);
    if (plan.merge == Merge::Frequency && f.SetupSpectral(options.SoundQty, options.Kvol) != 0) return kNoMemory;
    if (plan.precise && f.SetupPrecise() != 0) return kNoMemory;

    int offset = 0;
    if (options.IntroMode == 0) {
        offset = analysis.introOffsetFrames;
    } else if (options.IntroMode == 1) {
        offset = FindOnsetOffset(pair, run, plan.inverted);
    } else if (options.IntroMode == 2) {
        run.StartStatus(EngineText::kPreliminary);
        offset = FindEnvelopeOffset(pair, run, false, plan.inverted);
        run.StopStatus();
    }

    VoiceWriter writer(output_, pair.Channels(), f.Latency(), report_.originalFrames);
    report_.extracted = true;
    DescribePlan(report_, plan, analysis, options, offset, pair.SampleRate());

    Extraction extraction(pair, run, f, writer, plan, options);
    const int result = plan.precise ? extraction.RunPrecise(analysis.map) : extraction.RunClassic(offset, range);
    report_.removalDb = extraction.RemovalDb();
    report_.removalDbPerSecond = extraction.RemovalDbPerSecond();
    report_.guardedSeconds.clear();
    for (const auto& [first, end] : extraction.Guarded())
        report_.guardedSeconds.emplace_back(double(std::max<int64_t>(first, 0)) / pair.SampleRate(),
                                            double(std::min(end, report_.originalFrames)) / pair.SampleRate());
    report_.framesWritten = writer.Written();
    run.ShowFinished(result);
    return result;
}
