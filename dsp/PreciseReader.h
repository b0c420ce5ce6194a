// The processing buffer's precise reader: the karaoke read between its
// samples along a position that moves by a fraction of a frame per frame
// (the aligned karaoke, see FracDelay.h), the least-squares fits of one
// block's fractional shift and gain, and the short filter that matches a
// differently mastered karaoke to the original.
#pragma once

#include "BufferParts.h"
#include "BufferUtil.h"
#include "PreciseKernels.h"

#include <cstdint>

class PreciseReader final : public BufferPart {
public:
    // Allocates the aligned karaoke (published in the view) and the fits'
    // work arrays for the view's blocks. 0, or 1 when they cannot be had;
    // the operations below do nothing until it succeeded.
    int Setup(BufferView& view);
    void Release();
    bool Ready() const { return aligned_[0] != nullptr; }

    // aligned[c][start + i] = kar[c] read at position pos0 + step * i
    // (karaoke-array index, fractional) for i < count and c < channels; the
    // karaoke is zero outside its block. The range is clipped to the block.
    void Read(double pos0, double step, int start, int count);
    // The aligned karaoke silent over the range (clipped to the block):
    // where the karaoke has no counterpart for the original.
    void Clear(int start, int count);
    // The fit's sums over orig index start .. start + count - 1 against the
    // karaoke at the whole shift `shift` (kar[c][shift + i] with orig[c][i]):
    // per channel, or on origMono and karMono when mono. The range is
    // clipped to the block.
    precise::BlockFit FitAtShift(int shift, int start, int count, bool mono);
    // The same against the aligned karaoke, which must hold fracdelay::kTaps
    // samples beyond either end of the range; per channel, or on the
    // channels' sum when mid.
    precise::BlockFit FitAligned(int start, int count, bool mid);
    // aligned[c][start + i] = sum over m of taps[m + halfTaps] *
    // aligned[c][start + i + m], |m| <= halfTaps, for i < count; the aligned
    // karaoke must hold halfTaps samples beyond either end.
    void Filter(const double* taps, int halfTaps, int start, int count);
    // Adds one block's normal equations of the filter fit orig ~ filter *
    // aligned over the range, times weight (see precise::AccumulateMatch).
    // Per channel, or on the channels' sum when mid.
    void AccumulateMatch(int start, int count, int halfTaps, bool mid, double weight, double* gram,
                         double* cross);
    // The share of the original's energy over the range left after
    // subtracting the aligned karaoke (per channel, or on the sum when mid).
    double Residual(int start, int count, bool mid) const;

    // Every read stands alone: nothing to start anew.
    void Reset() override {}
    // The interpolator is centred on the position: no delay.
    int Latency() const override { return 0; }

private:
    BufferView* view_ = nullptr;
    SampleArray<float> karF_[2];       // kar[c] as float, for the interpolator
    SampleArray<float> aligned_[2];    // the karaoke read along the position
    SampleArray<float> fitSpan_;       // a karaoke stretch with margins, for the fits
    SampleArray<float> fitSlope_;      // and its slope
    SampleArray<float> filtered_;      // a filtered stretch, before it replaces the aligned karaoke
    SampleArray<double> matchOrig_;    // the original and the aligned karaoke in double,
    SampleArray<double> matchKar_;     // for the matching filter's equations
};
