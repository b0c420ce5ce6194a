#include "Extraction.h"

#include "FracDelay.h"
#include "Vfunc.h"
#include "VoiceWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

ExtractionPlan PlanExtraction(const CommittedOptions& options, const Analysis& analysis, bool analysed)
{
    const AutomaticParts automatic(options);
    const KaraokeMap& map = analysis.map;
    ExtractionPlan p;
    p.analysed = analysed;
    p.inverted = automatic.phase ? analysis.karaokeInverted : options.KrkPhase == 2;
    // The fitted position holds for the analysis's own offset and phase; a
    // manual offset, range or phase asks for the classic search.
    p.precise = automatic.PositionFollowed() && analysed && map.Valid() && p.inverted == analysis.karaokeInverted;
    // Where the analysis saw the karaoke cancel the accompaniment almost
    // exactly, the waveform merge removes it whole; elsewhere the pair
    // differs (lossy coding, other mastering).
    const double cancel = automatic.precise && map.Valid() ? map.cancellationPreciseDb : map.cancellationWholeDb;
    const bool exact = analysed && cancel < kWaveformCancellationDb;
    // Clean pauses suppress what the removal leaves of a karaoke that
    // differs; they need the aligned karaoke and the leak measured along it.
    const bool canClean = p.precise && map.leak.Valid();
    p.clean = options.CleanMode == 1 ? canClean
                                     : options.CleanMode == 0 && canClean && cancel >= kCleanCancellationDb;
    if (options.MergeMode == 2) {
        // Automatic: the waveform merge where the karaoke cancels almost
        // exactly or clean pauses take up what it leaves, else the frequency
        // merge.
        p.merge = exact || p.clean ? Merge::Waveform : Merge::Frequency;
    } else {
        p.merge = options.MergeMode == 1 ? Merge::Waveform : Merge::Frequency;
    }
    p.match = p.precise && !map.matchTaps.empty() && (options.LevelAdpt == 0 || options.LevelAdpt == 1);
    p.channels = static_cast<ChannelMode>(std::clamp(options.ProcMode, 0, 2));
    p.oversampled = !p.precise && options.OvspFlg != 0 && p.merge == Merge::Waveform;
    p.oversamplingFactor = p.oversampled ? options.OvspMx : 1;

    if (p.merge == Merge::Frequency) {
        p.karaokeGain = analysed ? analysis.karaokeGain : 0.95;
    } else if (options.LevelAdpt == 0) {
        p.karaokeGain = analysis.karaokeGain;
    } else if (options.LevelAdpt == 1) {
        p.adaptive = true;
        p.karaokeGain = p.precise ? analysis.karaokeGain : 1.0;
    } else if (options.LevelAdpt == 2) {
        p.karaokeGain = options.Klvl;
    } else {
        p.karaokeGain = 1.0;
    }
    if (options.AdptMode == 0) {
        p.driftFramesPerBlock = analysis.driftFramesPerBlock;
        p.searchHalfWidthFrames = analysis.searchHalfWidthFrames;
    } else if (options.AdptMode == 1) {
        p.searchHalfWidthFrames = options.AdptRange;
    }
    return p;
}

namespace {

// Whether clean pauses run and why, into the report.
void DescribeClean(RunReport& report, const ExtractionPlan& plan, const cleanup::LeakModel& leak,
                   const CommittedOptions& options, int sampleRate)
{
    using Clean = RunReport::Clean;
    report.cleanAlways = options.CleanMode == 1;
    report.leakMeasured = leak.Valid();
    report.leakDb = report.leakMeasured ? std::round(leak.VoiceBandLeakDb(sampleRate) * 10) / 10 + 0.0 : 0;
    char text[240];
    if (plan.clean) {
        report.clean = Clean::On;
        std::snprintf(text, sizeof text, "on: the removal leaves %.1f dB of the karaoke where there is no voice%s",
                      report.leakDb, options.CleanMode == 1 ? ", as set" : "");
    } else if (options.CleanMode == 2) {
        report.clean = Clean::Off;
        std::snprintf(text, sizeof text, "off, as set");
    } else if (!plan.precise) {
        report.clean = Clean::NoPosition;
        std::snprintf(text, sizeof text, "off: %s",
                      options.AlignFlg ? "the karaoke is not read along a fitted position (an offset, range or "
                                         "phase set by hand, or none found)"
                                       : "precise alignment is off, and clean pauses need the aligned karaoke");
    } else if (!leak.Valid()) {
        report.clean = Clean::NoLeak;
        std::snprintf(text, sizeof text,
                      "off: no leak to go by (too few blocks without voice, or a karaoke that does not match the "
                      "accompaniment there)");
    } else {
        report.clean = Clean::Exact;
        std::snprintf(text, sizeof text,
                      "off: the aligned karaoke cancels the accompaniment almost exactly (%.1f dB; clean pauses "
                      "start at %.0f dB)",
                      report.cancellationDb, kCleanCancellationDb);
    }
    report.cleanReason = text;
}

} // namespace

void DescribePlan(RunReport& report, const ExtractionPlan& plan, const Analysis& analysis,
                  const CommittedOptions& options, int offsetFrames, int sampleRate)
{
    const KaraokeMap& map = analysis.map;
    const int half = int(sampleRate * options.BlkSec * 2.0) / 2;
    report.analysed = plan.analysed;
    report.inverted = plan.inverted;
    report.merge = static_cast<int>(plan.merge);
    report.mergeChosenAutomatically = options.MergeMode == 2;
    report.preciseAlignment = plan.precise;
    if (plan.precise) {
        report.offsetFrames = std::llround(map.track.At(0));
        report.offsetSeconds = map.track.At(0) / sampleRate;
        report.driftPpm = (map.track.Slope() - 1.0) * 1e6;
    } else {
        report.offsetFrames = offsetFrames;
        report.offsetSeconds = double(offsetFrames) / sampleRate;
        report.driftPpm = half > 0 ? double(plan.driftFramesPerBlock) / half * 1e6 : 0;
    }
    // Rounded to what any reader needs (and never "-0").
    report.driftPpm = std::round(report.driftPpm * 1000) / 1000 + 0.0;
    report.gain = plan.adaptive && !plan.precise ? 1.0 : plan.karaokeGain;
    report.gainDb = report.gain > 0 ? 20 * std::log10(report.gain) : -200;
    const bool precise = options.AlignFlg && map.Valid();
    report.cancellationDb = precise ? map.cancellationPreciseDb : map.cancellationWholeDb;
    report.cancellationThresholdDb = kWaveformCancellationDb;
    if (plan.analysed) report.analysis = analysis;
    report.unmatchedSeconds.clear();
    report.seamSeconds.clear();
    report.edits = 0;
    if (plan.precise) {
        for (const auto& [first, end] : map.Uncovered(report.originalFrames, report.karaokeFrames))
            report.unmatchedSeconds.emplace_back(double(first) / sampleRate, double(end) / sampleRate);
        for (int64_t seam : map.Seams()) report.seamSeconds.push_back(double(seam) / sampleRate);
        report.edits = map.Edits();
    }
    const char* name = plan.merge == Merge::Waveform ? "waveform merge" : "frequency merge";
    char text[320];
    if (options.MergeMode != 2) {
        std::snprintf(text, sizeof text, "%s, as set", name);
    } else if (!plan.analysed) {
        std::snprintf(text, sizeof text, "%s: nothing was analysed to choose by", name);
    } else if (plan.merge == Merge::Waveform && report.cancellationDb < kWaveformCancellationDb) {
        std::snprintf(text, sizeof text,
                      "%s: where there is no voice the aligned karaoke cancels the accompaniment to %.1f dB "
                      "(the waveform merge needs %.0f dB or better)",
                      name, report.cancellationDb, kWaveformCancellationDb);
    } else if (plan.merge == Merge::Waveform) {
        std::snprintf(text, sizeof text,
                      "%s: where there is no voice the aligned karaoke cancels the accompaniment only to %.1f dB, "
                      "and clean pauses take up what the waveform merge leaves",
                      name, report.cancellationDb);
    } else {
        std::snprintf(text, sizeof text,
                      "%s: where there is no voice the aligned karaoke cancels the accompaniment only to %.1f dB "
                      "(the waveform merge needs %.0f dB or better): the karaoke differs from the original's "
                      "accompaniment (lossy coding, other mastering%s)",
                      name, report.cancellationDb, kWaveformCancellationDb, precise ? "" : " or drift");
    }
    report.mergeReason = text;
    DescribeClean(report, plan, map.leak, options, sampleRate);
}

int SetupFinishingStages(TVocalFunc& buffer, const CommittedOptions& options)
{
    constexpr float kLowPassAttenuationDb = 80.0f, kHighPassAttenuationDb = 60.0f;
    if (options.CntrFlg && buffer.SetupCenterFocus(options.CntrGain) != 0) return RunResult::kNoMemory;
    if (options.LPFFlg && buffer.SetupLowPass(kLowPassAttenuationDb, float(options.LPFFreq)) != 0) return RunResult::kNoMemory;
    if (options.HPFFlg && buffer.SetupHighPass(kHighPassAttenuationDb, float(options.HPFFreq)) != 0) return RunResult::kNoMemory;
    return RunResult::kDone;
}

Extraction::Extraction(PairReader& pair, RunContext& run, TVocalFunc& buffer, VoiceWriter& writer,
                       const ExtractionPlan& plan, const CommittedOptions& options)
    : pair_(pair), run_(run), f_(buffer), writer_(writer), plan_(plan), options_(options)
{
    const int64_t seconds = pair.SampleRate() > 0 ? writer.Total() / pair.SampleRate() + 1 : 0;
    secondOrig_.reserve(size_t(seconds));
    secondOut_.reserve(size_t(seconds));
}

void Extraction::PassThrough(int count, bool readKaraoke, int64_t originalAt, int64_t karaokeAt)
{
    TVocalFunc& f = f_;
    const bool mono = plan_.channels == ChannelMode::Mono;
    const bool waveform = plan_.merge == Merge::Waveform;
    f.ClearBuffers();
    while (count > 0) {
        const int c = std::min(count, f.blockLen);
        pair_.ReadOriginal(originalAt, f.origPcm.get(), c);
        if (readKaraoke) pair_.ReadKaraoke(karaokeAt, f.karPcm.get(), c);
        originalAt += c;
        karaokeAt += c;
        f.UnpackInput();
        if (mono) {
            if (waveform)
                f.SubtractMid(0, 0.95);
            else
                f.SpectralSubtractMid(0, c, 0.95, 0);
        } else {
            if (waveform)
                f.SubtractStereo(0, 0.95);
            else
                f.SpectralSubtractStereo(0, c, 0.95, 0);
        }
        f.ApplyFinishing(0, c);
        f.PackOutput();
        if (!writer_.Write(f.outPcm.get(), c)) return;
        count -= f.blockLen;
    }
}

int32_t Extraction::ReadBlock(int64_t u, int64_t k, int karFrames)
{
    TVocalFunc& f = f_;
    const int32_t n = pair_.ReadOriginal(u, f.origPcm.get(), f.blockLen);
    pair_.ReadKaraoke(k, f.karPcm.get(), karFrames);
    if (n < f.origPcmBytes) writer_.LimitTotal(u + n / (2 * pair_.Channels()));
    f.UnpackInput(f.blockLen, karFrames);
    return n;
}

int32_t Extraction::ReadMiddle(int64_t u)
{
    TVocalFunc& f = f_;
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    const int32_t n = pair_.ReadOriginal(u + quarter, f.origPcm.get() + quarter * pair_.Channels(), half);
    if (n < pair_.Bytes(half)) writer_.LimitTotal(u + quarter + n / (2 * pair_.Channels()));
    f.UnpackRange(quarter, half, 0, 0);
    return n;
}

void Extraction::ReadKaraokeWindow(int64_t k, int karFrames)
{
    pair_.ReadKaraoke(k, f_.karPcm.get(), karFrames);
    f_.UnpackRange(0, 0, 0, karFrames);
}

bool Extraction::FinishBlock(int64_t u, int32_t progressBytes)
{
    TVocalFunc& f = f_;
    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    f.ApplyFinishing(quarter, half);
    f.PackOutput(quarter, half);
    double blockOrig = 0, blockOut = 0;
    f.SumSquares(quarter, half, blockOrig, blockOut);
    energyOrig_ += blockOrig;
    energyOut_ += blockOut;
    const int64_t second = std::max<int64_t>(u + quarter, 0) / pair_.SampleRate();
    if (secondOrig_.size() <= size_t(second)) {
        secondOrig_.resize(size_t(second) + 1, 0.0);
        secondOut_.resize(size_t(second) + 1, 0.0);
    }
    secondOrig_[size_t(second)] += blockOrig;
    secondOut_[size_t(second)] += blockOut;
    run_.Progress() += progressBytes;
    return writer_.Write(f.outPcm.get() + quarter * pair_.Channels(), half);
}

bool Extraction::NextBlock(int64_t& u, int& counter)
{
    u += f_.blockLen / 2;
    run_.ProgressStep(counter);
    run_.Pump();
    return !run_.Stopped();
}

namespace {

double RemovalDbOf(double original, double voice)
{
    return original > 0 ? 10 * std::log10(std::max(voice, 1e-3) / original) : 0;
}

} // namespace

double Extraction::RemovalDb() const
{
    return RemovalDbOf(energyOrig_, energyOut_);
}

std::vector<double> Extraction::RemovalDbPerSecond() const
{
    std::vector<double> db(secondOrig_.size());
    for (size_t s = 0; s < db.size(); ++s)
        db[s] = secondOrig_[s] > 0 ? RemovalDbOf(secondOrig_[s], secondOut_[s]) : std::nan("");
    return db;
}

int Extraction::RunClassic(int offsetFrames, int searchHalfWidthFrames)
{
    TVocalFunc& f = f_;
    const int range = searchHalfWidthFrames;
    const int channels = pair_.Channels();
    // The karaoke's search window starts `range` frames before the expected
    // position: until it can, the original passes alone.
    int64_t lead = offsetFrames < 0 ? int64_t(range) - offsetFrames : range;
    lead = std::min<int64_t>(lead, INT32_MAX);
    const int64_t karaokeStart = offsetFrames < 0 ? range : int64_t(offsetFrames) + range;
    PassThrough(int(lead), false, 0, karaokeStart);
    run_.Progress() = lead * channels * 2;

    const int quarter = f.blockLen / 4, half = f.blockLen / 2;
    int64_t u = lead, w = karaokeStart;
    PassThrough(quarter, true, u, w);
    run_.Progress() += int64_t(quarter) * channels * 2;

    const ModeRow& row = ClassicMode(plan_.channels, plan_.oversampled);
    const int factor = plan_.oversamplingFactor;
    const int rangeF = range * factor;
    // The karaoke frames a block can reach: the block at the largest shift
    // (and the next frame, which the oversampling interpolates towards).
    const int karFrames = std::min(f.karaokeLen, f.blockLen + 2 * range + 2);
    int counter = 0;
    while (!writer_.Done()) {
        w -= range;
        const int32_t n = ReadBlock(u, w, karFrames);
        if (row.form == MonoForm::Side) f.MakeSide();
        if (row.form == MonoForm::Mid) f.MakeMid();
        if (row.oversampled) {
            f.OversampleKaraoke(karFrames);
            if (row.form != MonoForm::None) f.OversampleKaraokeMono(karFrames);
        }
        int B = (f.*row.findShift)(rangeF, rangeF, factor);
        if (row.oversampled) B = (f.*row.findShift)(B, factor - 1, 1);
        double g = plan_.karaokeGain;
        if (plan_.adaptive) g = (f.*row.findGain)(B, 0.002, 0.03, (f.*row.findGain)(B, 0.02, 0.2, 1.0));
        if (plan_.merge == Merge::Waveform)
            (f.*row.subtract)(B, g);
        else
            (f.*row.spectral)(quarter, half, g, B);
        if (!FinishBlock(u, n / 2)) return RunResult::kWriteFailed;
        w += B / factor + plan_.driftFramesPerBlock + half;
        if (!NextBlock(u, counter)) break;
    }
    return RunResult::kDone;
}

namespace {

// Where the karaoke has no counterpart, the removal stops over this many
// frames rather than at once, on the side where it still has one.
constexpr int kFadeFrames = 256;
// A block is left as the original where its removal would leave more than
// this share of the original's energy over the last half second (0.25 dB
// more), or in the block alone 1 dB more: a voice louder than the original
// it is part of happens where the two cancel each other a little, never by
// as much as a karaoke that holds something else adds.
const double kAddedLimit = std::pow(10.0, 0.025);
const double kBlockAddedLimit = std::pow(10.0, 0.1);

double Ramp(int64_t distance)
{
    if (distance >= kFadeFrames) return 1.0;
    if (distance < 0) return 0.0;
    return 0.5 - 0.5 * std::cos(3.14159265358979323846 * (double(distance) + 0.5) / kFadeFrames);
}

// The removal's weight at frame t of a matched stretch: it fades towards
// its edges where an unmatched stretch meets it.
double EdgeWeight(const KaraokeMap& map, const MapStretch* s, int64_t t)
{
    if (s == nullptr) return 1.0;
    const size_t i = size_t(s - map.stretches.data());
    double w = 1.0;
    if (i > 0 && !map.stretches[i - 1].matched) w *= Ramp(t - s->first);
    if (i + 1 < map.stretches.size() && !map.stretches[i + 1].matched) w *= Ramp(s->end - 1 - t);
    return w;
}

} // namespace

int Extraction::RunPrecise(const KaraokeMap& map)
{
    TVocalFunc& f = f_;
    const PreciseRow& row = PreciseMode(plan_.channels);
    const int quarter = f.blockLen / 4, half = f.blockLen / 2, channels = pair_.Channels();
    // The frequency merge limits its gain to the extraction strength: a
    // karaoke quieter than that is raised first, so it is still removed at
    // its whole gain.
    const double strengthCap = options_.SoundQty == 0 ? std::min(options_.Kvol, 1.5f) : options_.Kvol;
    // Of the karaoke window only the stretch the interpolator (and the
    // matching filter) reach is read: the middle half, a quarter block
    // before it and the taps after it.
    const int karFrames =
        std::min(f.karaokeLen, quarter + half + 2 * (fracdelay::kTaps + (plan_.match ? kMatchHalfTaps : 0)));
    // A block that spans a seam is read piece by piece; each piece's aligned
    // karaoke is kept here while the next is read around it.
    constexpr int kMaxPieces = 8;
    MapPiece pieces[kMaxPieces];
    std::vector<float> held[2];
    if (!map.stretches.empty())
        for (int c = 0; c < channels; ++c) held[c].assign(size_t(half), 0.0f);
    const bool mid = plan_.channels == ChannelMode::Mono;
    double previousWeight = 1.0;
    // The loop starts with the song, a quarter block before its first frame;
    // where the karaoke has not begun (or has ended) it reads silence, so
    // the original passes untouched there.
    int64_t u = -quarter;
    run_.Progress() = 0;
    int counter = 0;
    while (!writer_.Done()) {
        const int64_t t0 = u + quarter;
        double g = plan_.karaokeGain;
        if (plan_.match) g = 1.0; // the filter carries the gain
        const int32_t n = ReadMiddle(u);
        const int count = map.Pieces(t0, half, pieces, kMaxPieces);
        for (int i = 0; i < count; ++i) {
            const MapPiece& piece = pieces[i];
            const int at = quarter + piece.offset;
            if (piece.stretch != nullptr && !piece.stretch->matched) {
                // No counterpart in the karaoke: nothing to remove.
                f.ClearKaraokeAligned(at, piece.count);
            } else {
                // The karaoke window starts a quarter block before the
                // piece's position, as the classic window starts a search
                // range before it: the interpolator's taps stay inside it.
                const Trajectory& track = piece.stretch ? piece.stretch->track : map.track;
                const int64_t t = t0 + piece.offset;
                const double p0 = track.At(t), step = (track.At(t + piece.count) - p0) / piece.count;
                const int64_t k = int64_t(std::floor(p0)) - quarter;
                ReadKaraokeWindow(k, karFrames);
                if (plan_.match) {
                    const int m = kMatchHalfTaps;
                    f.ReadKaraokeAligned(p0 - double(k) - m * step, step, at - m, piece.count + 2 * m);
                    f.FilterAligned(map.matchTaps.data(), m, at, piece.count);
                } else {
                    f.ReadKaraokeAligned(p0 - double(k), step, at, piece.count);
                }
                if (piece.stretch != nullptr)
                    for (int c = 0; c < channels; ++c)
                        for (int x = 0; x < piece.count; ++x)
                            f.KaraokeAligned(c)[at + x] *= float(EdgeWeight(map, piece.stretch, t + x));
            }
            if (count > 1)
                for (int c = 0; c < channels; ++c)
                    std::copy_n(f.KaraokeAligned(c) + at, piece.count, held[c].data() + piece.offset);
        }
        if (count > 1)
            for (int c = 0; c < channels; ++c) std::copy_n(held[c].data(), half, f.KaraokeAligned(c) + quarter);

        // A block where the removal would make the original louder (a
        // karaoke that holds something else there) is left as it is.
        double original = 0, left = 0;
        for (int c = 0; c < (mid ? 1 : channels); ++c)
            for (int x = quarter; x < quarter + half; ++x) {
                double o = f.orig[c][x], a = f.KaraokeAligned(c)[x];
                if (mid && channels > 1) {
                    o += f.orig[1][x];
                    a += f.KaraokeAligned(1)[x];
                }
                const double r = o - g * a;
                original += o * o;
                left += r * r;
            }
        // Over the last half second: a block where voice and accompaniment
        // happen to cancel each other is louder as voice alone, a karaoke
        // that holds something else makes every block louder.
        recentOriginal_[recentAt_] = original;
        recentLeft_[recentAt_] = left;
        recentAt_ = (recentAt_ + 1) % kRecentBlocks;
        double windowOriginal = 0, windowLeft = 0;
        for (int i = 0; i < kRecentBlocks; ++i) {
            windowOriginal += recentOriginal_[i];
            windowLeft += recentLeft_[i];
        }
        const bool adds = (original > 0 && left > original * kBlockAddedLimit) ||
                          (windowOriginal > 0 && windowLeft > windowOriginal * kAddedLimit);
        const double weight = adds ? 0.0 : 1.0;
        if (weight == 0.0) {
            if (!guarded_.empty() && guarded_.back().second == t0)
                guarded_.back().second = t0 + half;
            else
                guarded_.emplace_back(t0, t0 + half);
        }
        if (weight != 1.0 || previousWeight != 1.0)
            for (int x = 0; x < half; ++x) {
                const double w = x < kFadeFrames ? previousWeight + (weight - previousWeight) * Ramp(x) : weight;
                for (int c = 0; c < channels; ++c) f.KaraokeAligned(c)[quarter + x] *= float(w);
            }
        previousWeight = weight;

        if (plan_.adaptive) g = (f.*row.findGain)(quarter, half, 0.002 * g, 0.03 * g, g);
        if (plan_.merge == Merge::Waveform) {
            (f.*row.subtract)(quarter, half, g);
            f.SetCleanGain(g);
        } else {
            const double raise = strengthCap > 0 && g > strengthCap ? g / strengthCap : 1.0;
            if (raise != 1.0) f.FilterAligned(&raise, 0, quarter, half);
            (f.*row.spectral)(quarter, half, g / raise);
            f.SetCleanGain(g / raise);
        }
        if (!FinishBlock(u, n)) return RunResult::kWriteFailed;
        if (!NextBlock(u, counter)) break;
    }
    return RunResult::kDone;
}
