#include "CleanStage.h"

#include <algorithm>
#include <cstring>

using buffer_util::ClipRange;

void CleanStage::Release()
{
    suppressor_.Release();
    for (int c = 0; c < 2; ++c) {
        reference_[c].reset();
        line_[c].reset();
    }
    channels_ = delay_ = at_ = 0;
}

int CleanStage::Setup(const BufferView& view, const cleanup::LeakModel& model, bool mid, int referenceDelay)
{
    Release();
    view_ = &view;
    mid_ = mid && view.channels == 2;
    const int channels = mid_ ? 1 : std::min(view.channels, 2);
    if (!view.aligned[0] || view.blockLen <= 0 || referenceDelay < 0 ||
        suppressor_.Setup(channels, view.sampleRate, model) != 0)
        return Release(), 1;
    bool ok = true;
    for (int c = 0; ok && c < channels; ++c) {
        ok = buffer_util::AllocateAligned(reference_[c], size_t(view.blockLen));
        if (ok && referenceDelay > 0) ok = buffer_util::AllocateAligned(line_[c], size_t(referenceDelay));
    }
    if (!ok) return Release(), 1;
    channels_ = channels;
    delay_ = referenceDelay;
    Reset();
    return 0;
}

void CleanStage::Reset()
{
    suppressor_.Reset();
    at_ = 0;
    for (int c = 0; c < channels_ && delay_ > 0; ++c) std::fill(line_[c].get(), line_[c].get() + delay_, 0.0f);
}

void CleanStage::Process(int start, int count)
{
    if (!Active()) return;
    int from = 0, n = 0;
    ClipRange(start, count, view_->blockLen, from, n);
    if (n <= 0) return;
    // The reference as the removal subtracted it: per channel, or the mid
    // signal's half sum.
    const float g = float(gain_);
    for (int c = 0; c < channels_; ++c) {
        float* r = reference_[c].get();
        const float* a = view_->aligned[c];
        if (mid_) {
            const float half = 0.5f * g;
            for (int i = from; i < from + n; ++i) r[i] = half * (a[i] + view_->aligned[1][i]);
        } else {
            for (int i = from; i < from + n; ++i) r[i] = g * a[i];
        }
    }
    // Held back by the merge's delay, so that it meets the output it was
    // removed from.
    if (delay_ > 0) {
        int at = at_;
        for (int i = from; i < from + n; ++i) {
            for (int c = 0; c < channels_; ++c) std::swap(reference_[c][i], line_[c][at]);
            if (++at == delay_) at = 0;
        }
        at_ = at;
    }
    int32_t* voice[2] = {view_->out[0], view_->out[1]};
    const float* reference[2] = {reference_[0].get(), reference_[1].get()};
    suppressor_.Process(voice, reference, from, n);
    if (mid_) std::memcpy(view_->out[1] + from, view_->out[0] + from, sizeof(int32_t) * size_t(n));
}
