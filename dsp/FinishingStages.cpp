#include "FinishingStages.h"

#include "BufferUtil.h"
#include "SampleMath.h"

#include <algorithm>
#include <cstring>

using buffer_util::ClipRange;

int CenterFocusStage::Setup(const BufferView& view, float strength)
{
    view_ = &view;
    return focus_.Configure(kSpectralFrameSize, kSpectralOverlap, strength);
}

void CenterFocusStage::Process(int start, int count)
{
    if (!Active() || view_->blockLen <= 0) return;
    int from = 0, n = 0;
    ClipRange(start, count, view_->blockLen, from, n);
    int32_t* left = view_->out[0] + from;
    int32_t* right = view_->out[1] + from;
    focus_.Process(left, right, right, left, n);
}

int FirStage::Setup(const BufferView& view, float attenuationDb, float cutoffHz)
{
    view_ = &view;
    const bool low = type_ == CFIRUnit::FilterType::LowPass;
    // The transition band runs from the lower edge to the higher one.
    const float otherEdgeHz = cutoffHz * (low ? 1.2f : 0.75f);
    const float highEdgeHz = low ? otherEdgeHz : cutoffHz, lowEdgeHz = low ? cutoffHz : otherEdgeHz;
    int result = 0;
    for (int c = 0; c < std::min(view.channels, 2); ++c)
        result |= units_[c].Design(view.sampleRate, type_, attenuationDb, highEdgeHz, lowEdgeHz);
    return result != 0 ? 1 : 0;
}

void FirStage::Process(int start, int count)
{
    if (!view_) return;
    int from = 0, n = 0;
    ClipRange(start, count, view_->blockLen, from, n);
    if (n <= 0) return;
    const bool negate = type_ == CFIRUnit::FilterType::HighPass && units_[0].Half() % 2 == 0;
    int32_t* scratch = view_->filterScratch;
    for (int c = 0; c < std::min(view_->channels, 2); ++c) {
        if (!units_[c].Designed()) continue;
        int32_t* y = view_->out[c] + from;
        if (view_->impl == search::Impl::Reference)
            units_[c].FilterReference(y, n, scratch);
        else
            units_[c].Filter(y, n, scratch);
        if (negate) {
            for (int j = 0; j < n; ++j) y[j] = NegateInt32(scratch[j]);
        } else {
            std::memcpy(y, scratch, sizeof(int32_t) * static_cast<size_t>(n));
        }
    }
}

void FirStage::Reset()
{
    for (CFIRUnit& unit : units_) unit.Reset();
}
