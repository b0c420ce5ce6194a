// Clean pauses as a finishing stage: the residual suppressor
// (ResidualSuppressor.h) on the buffer's output, with the karaoke as it was
// subtracted (the aligned karaoke times the removal's gain) for its
// reference. It runs first among the finishing stages, on what the merge
// wrote.
#pragma once

#include "BufferParts.h"
#include "BufferUtil.h"
#include "ResidualSuppressor.h"

class CleanStage final : public FinishingStage {
public:
    // Sets the stage up for the buffer's output with the leak model the
    // analysis measured. `mid`: the removal wrote the mid signal to both
    // channels (the stage then runs on one and copies it). `referenceDelay`:
    // frames by which the merge's output lags the karaoke it removed (the
    // frequency merge's latency; 0 for the waveform merge), by which the
    // reference is held back. 0, or 1 when the model is unusable, the buffer
    // has no aligned karaoke or the arrays cannot be had (the stage is then
    // bypassed).
    int Setup(const BufferView& view, const cleanup::LeakModel& model, bool mid, int referenceDelay);
    // The gain the karaoke is removed with in the range processed next.
    void SetGain(double gain) { gain_ = gain; }
    void Process(int start, int count) override;
    void Reset() override;
    int Latency() const override { return suppressor_.Latency(); }
    bool Active() const override { return view_ && suppressor_.Active(); }
    // Bypasses the stage and frees its arrays.
    void Release();

private:
    const BufferView* view_ = nullptr;
    cleanup::ResidualSuppressor suppressor_;
    bool mid_ = false;
    int channels_ = 0;  // channels the suppressor runs on
    int delay_ = 0;     // frames the reference is held back
    int at_ = 0;        // the delay line's position
    double gain_ = 1;
    SampleArray<float> reference_[2]; // blockLen each: the reference of the range
    SampleArray<float> line_[2];      // delay_ each
};
