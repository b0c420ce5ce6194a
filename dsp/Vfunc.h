// The processing buffer of one extraction run or analysis pass: the 16-bit
// blocks read from and written to the files, the per-channel 32-bit working
// arrays and the operations on them (unpacking, mid and side, oversampling,
// subtraction, packing with the soft limiter, shift and gain searches). The
// rest it delegates to its parts (BufferParts.h): the frequency merge
// (SpectralMerge.h), the precise reader (PreciseReader.h) and the finishing
// stages (CleanStage.h, FinishingStages.h), which run on the output in the
// order clean pauses, centre focus, low-pass, high-pass.
//
// The engine sizes the object once with Setup and then drives it block by
// block; nothing is allocated after Setup except by the setup operations of
// the parts. All per-channel arrays exist for both channels, also for
// one-channel recordings; per-channel operations visit only c < channels
// unless said otherwise.
//
// Karaoke indices are shifts: kar[c][shift + i] is the karaoke sample aligned
// with orig[c][i]. The searches skip candidates that would read outside the
// karaoke arrays, and the subtractions read karaoke samples outside them as 0.
#pragma once

#include "BufferParts.h"
#include "BufferUtil.h"
#include "CleanStage.h"
#include "FinishingStages.h"
#include "PreciseReader.h"
#include "SearchKernels.h"
#include "SpectralMerge.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

class TVocalFunc final {
public:
    TVocalFunc();
    ~TVocalFunc();
    TVocalFunc(const TVocalFunc&) = delete;
    TVocalFunc& operator=(const TVocalFunc&) = delete;

    // Sizes the buffer for `channelCount` channels at `rate` Hz: blocks of
    // trunc(rate * blockSeconds) frames and karaoke blocks of
    // trunc(rate * blockSeconds * 1.5) frames, the karaoke arrays
    // oversampled by `factor`. Returns 0, or 1 when the arrays
    // cannot be allocated: arguments out of range (channels other than 1 or 2,
    // a rate or factor below 1, a block under one frame), an array of more
    // than 2^31 - 1 bytes, more memory in all than the machine has, or a
    // failed allocation. After a failure the object holds no arrays and stays
    // safe to destroy or to set up again. Arrays start zeroed.
    int Setup(int channelCount, int rate, double blockSeconds, int factor);
    // karaokeSign -1 when invert, else +1; applies from the next UnpackInput.
    void SetKaraokeInvert(bool invert);

    // Zeroes orig, kar (both channels), origPcm, karPcm, origMono and karMono.
    void ClearBuffers();
    // origPcm and karPcm to orig and kar (kar times karaokeSign); the second
    // channel is 0 for one-channel recordings.
    void UnpackInput();
    // The same for the first origFrames and karFrames frames only (clipped to
    // the blocks); the arrays beyond keep their contents.
    void UnpackInput(int origFrames, int karFrames);
    // The same for frames origStart .. origStart + origCount - 1 and karStart
    // .. karStart + karCount - 1 (each clipped to its block), from the same
    // places in origPcm and karPcm.
    void UnpackRange(int origStart, int origCount, int karStart, int karCount);
    // origMono = orig[0] - orig[1], karMono = kar[0] - kar[1].
    void MakeSide();
    // origMono = orig[0] + orig[1], karMono = kar[0] + kar[1] (no halving).
    void MakeMid();
    // MakeSide and MakeMid over the first origFrames and karFrames frames only
    // (clipped to the blocks); the rest keeps its contents.
    void MakeSide(int origFrames, int karFrames);
    void MakeMid(int origFrames, int karFrames);
    // out[c][i] = trunc(orig[c][i] - kar[c][shift + i] * gain) for both channels.
    // SubtractStereo(0, 0.0) copies the original to the output.
    void SubtractStereo(int shift, double gain);
    // out[0][i] = out[1][i] = trunc(((orig[0] + orig[1]) - (kar[0] + kar[1]) * gain) * 0.5).
    void SubtractMid(int shift, double gain);
    // As above, reading karOvsp at shift + ovspFactor * i.
    void SubtractOvspStereo(int shift, double gain);
    void SubtractOvspMid(int shift, double gain);
    // What SubtractStereo(shift, 1.0) (or, when mid, SubtractMid(shift, 1.0))
    // would leave in out[0] and out[1] over orig index start .. start +
    // count - 1, as the sum of the absolute values of both channels, and the
    // same sum of the original; without writing out. The range is clipped to
    // the block.
    struct ResidualSum {
        uint64_t voice = 0, original = 0;
    };
    ResidualSum SumResidual(int shift, int start, int count, bool mid) const;
    // out to outPcm: beyond +-31129 the excess is halved, then the result
    // saturates at the 16-bit limits. Channel 1 only for two channels.
    void PackOutput();
    // The same for frames start .. start + count - 1 (clipped to the block).
    void PackOutput(int start, int count);
    // The energies (sums of squares) of orig and of out over frames start ..
    // start + count - 1 (clipped to the block) and the channels c < channels:
    // exact, as a plain sum in double is while its partial sums are whole
    // numbers below 2^53 (samples within +-2^19; larger ones are summed so).
    void SumSquares(int start, int count, double& origSum, double& outSum) const;
    // Linear interpolation kar[c] -> karOvsp[c] (c < channels) and
    // karMono -> karMonoOvsp: (karaokeLen - 1) * ovspFactor entries; the last
    // ovspFactor entries keep their contents.
    void OversampleKaraoke();
    void OversampleKaraokeMono();
    // The same from the first `frames` karaoke frames only (clipped to the
    // block): (frames - 1) * ovspFactor entries; the rest keep their contents.
    void OversampleKaraoke(int frames);
    void OversampleKaraokeMono(int frames);

    // Treble and bass cut on the output channels (c < channels), the
    // finishing stages lowPass and highPass (see FirStage). Return 0, or 1
    // when a filter's arrays cannot be allocated.
    int SetupLowPass(float attenuationDb, float cutoffHz);
    int SetupHighPass(float attenuationDb, float cutoffHz);
    // Filter out[c][start .. start + count) in place; the range is clipped
    // to the block; channels whose filter is not designed are left alone.
    void ApplyLowPass(int start, int count);
    void ApplyHighPass(int start, int count);

    // Frequency merge, one stream per channel: the first runs on the calling
    // thread, the second on a spectral worker meanwhile (see SpectralMerge).
    // Returns 0, or 1 when the worker cannot be started or the arrays cannot
    // be allocated (the worker is then stopped). A new Setup stops the worker.
    int SetupSpectral(int mode, float strength);
    // Runs the frequency merge's channels one after the other on the calling
    // thread, without the worker (same results): for batches that keep every
    // core busy with jobs already. Set before SetupSpectral.
    void SpectralOnCaller(bool on) { spectral_.RunOnCaller(on); }
    // Streams orig[c][start .. start + count) against kar[c][shift + start ..]
    // through stream c (c < channels, in parallel) into out[c][start ..]; the
    // output lags by 7168 samples across successive calls. The range is
    // clipped to the block; karaoke samples outside the karaoke block count as
    // 0. Returns once every stream has finished: an expired wait is waited out
    // rather than leaving the worker writing into arrays being read. Does
    // nothing unless SetupSpectral succeeded.
    void SpectralSubtractStereo(int start, int count, double gain, int shift);
    // Averages the channels in place (orig[0][i], kar[0][shift + i] for i in
    // the range, truncating), streams the average through stream 0 and copies
    // out[0] to out[1] over the range.
    void SpectralSubtractMid(int start, int count, double gain, int shift);

    // True when no job of the frequency merge is left running (so always
    // once the calls above have returned).
    bool SpectralIdle() { return spectral_.Idle(); }

    // Centre focus on out[0] (left) and out[1] (right), in place; a stream
    // lagging by 7168 samples. SetupCenterFocus returns 0, or 1 when its arrays
    // cannot be allocated; ApplyCenterFocus clips the range to the block and
    // does nothing unless SetupCenterFocus succeeded.
    int SetupCenterFocus(float strength);
    void ApplyCenterFocus(int start, int count);

    // Clean pauses on the output (see CleanStage), after a precise read: set
    // up after SetupPrecise and, for the frequency merge, after
    // SetupSpectral, whose delay the reference then follows. `mid`: the
    // removal writes the mid signal. 0, or 1 when the stage cannot be set up.
    int SetupClean(const cleanup::LeakModel& model, bool mid);
    // The gain the aligned karaoke is removed with in the block being
    // processed, for the stage's reference.
    void SetCleanGain(double gain) { clean.SetGain(gain); }

    // The finishing stages that are set up, in their order, over the range.
    void ApplyFinishing(int start, int count);
    // Frames by which the parts that are set up delay the output (the
    // frequency merge 7168, clean pauses 3072, the centre focus 7168, each
    // filter half its order).
    int Latency() const;
    // Starts every part's stream anew.
    void ResetParts();

    // Shift searches: the best karaoke position among center, center + step,
    // center - step, ... up to range away (none below 0); ties go to the
    // candidate tried first. Positions are karaoke indices (oversampled indices
    // for the Ovsp searches). Plain scores |d|; the others |d| plus the change
    // of d from the previous sample.
    int FindShiftPlain(int center, int range, int step) const;        // origMono vs karMono
    int FindShiftStereo(int center, int range, int step) const;       // orig vs kar, per channel
    int FindShiftMono(int center, int range, int step) const;         // origMono vs karMono
    // Over count samples; `pump`, when given, is called now and then (see
    // search::FindShift).
    int FindShiftMonoN(int center, int range, int count, int step,
                       const std::function<void()>& pump = {}) const;
    int FindShiftOvspStereo(int center, int range, int step) const;   // orig vs karOvsp
    int FindShiftOvspMono(int center, int range, int step) const;     // origMono vs karMonoOvsp

    // Gain searches at a fixed shift: the factor g on the karaoke that minimises
    // the sum of |trunc(orig - kar * g)|. The plain ones try center, center +
    // step, center - step, ... with the offset built by repeated addition while
    // at most range; the Ovsp ones ascend from center - range to center + range.
    double FindGainStereo(int shift, double step, double range, double center) const;
    double FindGainMono(int shift, double step, double range, double center) const;
    double FindGainOvspStereo(int shift, double step, double range, double center) const;
    double FindGainOvspMono(int shift, double step, double range, double center) const;

    // Precise alignment: the karaoke read between its samples along a
    // position that moves by a fraction of a frame per frame, removed and
    // fitted (see PreciseReader). SetupPrecise allocates the arrays these
    // use (0, or 1 when they cannot be had); the operations below do
    // nothing before it succeeded.
    int SetupPrecise();
    // The aligned karaoke: karAligned[c][start + i] = kar[c] read at position
    // pos0 + step * i (karaoke-array index, fractional) for i < count and
    // c < channels; the karaoke is zero outside its block. The range is
    // clipped to the block.
    void ReadKaraokeAligned(double pos0, double step, int start, int count);
    // karAligned[c][start + i] = 0 for i < count, both channels (clipped to
    // the block): a stretch where the karaoke has no counterpart.
    void ClearKaraokeAligned(int start, int count) { precise_.Clear(start, count); }
    // The aligned karaoke of channel c (null before SetupPrecise succeeded).
    float* KaraokeAligned(int c) const { return view_.aligned[c]; }
    // out[c][i] = round(orig[c][i] - karAligned[c][i] * gain) over the range,
    // both channels.
    void SubtractAlignedStereo(int start, int count, double gain);
    // out[0][i] = out[1][i] = round(((orig[0] + orig[1]) - (karAligned[0] + karAligned[1]) * gain) * 0.5).
    void SubtractAlignedMid(int start, int count, double gain);
    // The frequency merge against the aligned karaoke (rounded to whole
    // sample values), as SpectralSubtractStereo / SpectralSubtractMid.
    void SpectralSubtractAlignedStereo(int start, int count, double gain);
    void SpectralSubtractAlignedMid(int start, int count, double gain);
    // The gain among center + k * step (|k| * step <= range, ties to the
    // smaller |k|) that minimises the sum of |orig - karAligned * gain| over the
    // range: per channel (Stereo) or on the mid signal (Mono).
    double FindGainAlignedStereo(int start, int count, double step, double range, double center) const;
    double FindGainAlignedMono(int start, int count, double step, double range, double center) const;

    using BlockFit = precise::BlockFit;
    // One block's sums of the least-squares fit of orig ~ g * kar(shift + i + d)
    // over orig index start .. start + count - 1 at karaoke shift `shift`:
    // per channel (c < channels) when mono is false, else on origMono and
    // karMono (after MakeSide or MakeMid).
    BlockFit FitBlock(int shift, int start, int count, bool mono) { return precise_.FitAtShift(shift, start, count, mono); }
    // The same fit against the aligned karaoke: the residual shift and gain
    // of a block already read along a position. karAligned must hold
    // fracdelay::kTaps samples beyond either end of the range. Per channel,
    // or on the channels' sum when mid is true.
    BlockFit FitAligned(int start, int count, bool mid) { return precise_.FitAligned(start, count, mid); }
    // A short filter on the aligned karaoke: a karaoke mastered differently
    // (another equaliser) is matched to the original before it is removed.
    // karAligned[c][start + i] = sum over m of taps[m + halfTaps] *
    // karAligned[c][start + i + m], |m| <= halfTaps, for i < count; the
    // aligned karaoke must hold halfTaps samples beyond either end.
    void FilterAligned(const double* taps, int halfTaps, int start, int count)
    {
        precise_.Filter(taps, halfTaps, start, count);
    }
    // Adds one block's normal equations of the filter fit orig ~ filter *
    // karAligned over the range, times weight: gram[(2h+1)^2] the aligned
    // karaoke's products at lags m, m', cross[2h+1] the original's products
    // with it. Per channel, or on the channels' sum when mid is true.
    void AccumulateMatch(int start, int count, int halfTaps, bool mid, double weight, double* gram,
                         double* cross)
    {
        precise_.AccumulateMatch(start, count, halfTaps, mid, weight, gram, cross);
    }
    // The share of the original's energy over the range that is left after
    // subtracting the aligned karaoke (per channel, or on the sum when mid).
    double AlignedResidual(int start, int count, bool mid) const { return precise_.Residual(start, count, mid); }

    // Selects the plain reference loops instead of the fast kernels (the
    // default) for the shift and gain searches, the FIR filters, the
    // fractional read and its slope, the block fits, the matching filter's
    // equations and the matching filter. Both give the same results (the
    // sums of the fits and of the equations to rounding). The centre focus
    // and the frequency merge's streams have switches of their own.
    void UseReferenceKernels(bool on) { view_.impl = on ? search::Impl::Reference : search::Impl::Fast; }

    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t ovspFactor = 1;
    CleanStage clean;
    CenterFocusStage centerFocus;
    FirStage lowPass{CFIRUnit::FilterType::LowPass};
    FirStage highPass{CFIRUnit::FilterType::HighPass};
    int32_t karaokeSign = 1;
    SampleArray<int16_t> origPcm;
    SampleArray<int32_t> orig[2];
    SampleArray<int32_t> origMono;
    SampleArray<int16_t> karPcm;
    SampleArray<int32_t> kar[2];
    SampleArray<int32_t> karMono;
    SampleArray<int32_t> karMonoOvsp;
    SampleArray<int32_t> karOvsp[2];
    SampleArray<int16_t> outPcm;
    SampleArray<int32_t> out[2];
    SampleArray<int32_t> filterScratch;
    SampleArray<double> gainScratch; // 4 * blockLen: the gain searches' samples as doubles
    int32_t blockLen = 0;      // frames per block (and per channel array)
    int32_t karaokeLen = 0;    // frames per karaoke block
    int32_t origPcmBytes = 0;
    int32_t karPcmBytes = 0;
    int32_t outPcmBytes = 0;

    // How long one wait for the worker lasts before it is counted as expired
    // and waited again (10 s), and how many waits have expired so far.
    std::chrono::milliseconds spectralWaitSlice{10000};
    int64_t expiredSpectralWaits = 0;

private:
    void Release();
    // Streams orig[c][from ..] against kar[c] (n samples each) through
    // streams 0 .. jobs - 1 and returns once they are done.
    void RunSpectral(int from, int n, double gain, const int32_t* const* karSrc, int jobs);
    search::MatchSet StereoSet(bool oversampled) const;
    search::MatchSet MonoSet(bool oversampled, int count) const;
    int32_t KarAt(const SampleArray<int32_t>& a, int64_t idx, int64_t len) const;

    SampleArray<double> ovspFraction_; // l / ovspFactor for l < ovspFactor
    BufferView view_;                  // what the parts see of the arrays above
    PreciseReader precise_;
    SpectralMerge spectral_;           // its worker stops before the arrays go
    // The finishing stages in the order they run.
    std::array<FinishingStage*, 4> finishing_{&clean, &centerFocus, &lowPass, &highPass};
    std::array<BufferPart*, 6> parts_{&precise_, &spectral_, &clean, &centerFocus, &lowPass, &highPass};
};
