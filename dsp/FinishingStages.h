// The processing buffer's finishing stages: the centre focus and the two
// Kaiser-window filters (treble cut and bass cut), each a FinishingStage on
// the buffer's output channels.
#pragma once

#include "BufferParts.h"
#include "Cntrfocus.h"
#include "FirUnit.h"

class CenterFocusStage final : public FinishingStage {
public:
    // Sizes and zeroes the stream for out[0] (left) and out[1] (right) with
    // strength `strength`. 0, or 1 when its arrays cannot be allocated (the
    // stage is then bypassed).
    int Setup(const BufferView& view, float strength);
    void Process(int start, int count) override;
    void Reset() override { focus_.Reset(); }
    int Latency() const override { return focus_.Latency(); }
    bool Active() const override { return view_ && focus_.Configured(); }

    const CenterFocus& Focus() const { return focus_; }

private:
    const BufferView* view_ = nullptr;
    CenterFocus focus_;
};

class FirStage final : public FinishingStage {
public:
    explicit FirStage(CFIRUnit::FilterType type) : type_(type) {}

    // One filter per output channel (c < channels). The low-pass has its
    // pass-band edge at cutoffHz and its stop-band edge at 1.2 times it, the
    // high-pass its stop-band edge at 0.75 times it. 0, or 1 when a filter's
    // arrays cannot be allocated (that channel is then left alone).
    int Setup(const BufferView& view, float attenuationDb, float cutoffHz);
    // Filters through the buffer's filterScratch. The high-pass design
    // negates its even-numbered taps, which inverts the pass band when its
    // half-order is even (the centre tap is one of them): the output is then
    // negated, so that either order keeps the signal's polarity.
    void Process(int start, int count) override;
    void Reset() override;
    // Half the filter's order.
    int Latency() const override { return units_[0].Half(); }
    bool Active() const override { return view_ && units_[0].Designed(); }

    const CFIRUnit& Unit(int c) const { return units_[c]; }

private:
    CFIRUnit::FilterType type_;
    const BufferView* view_ = nullptr;
    CFIRUnit units_[2];
};
