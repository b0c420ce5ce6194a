#include "PreciseReader.h"

#include "FracDelay.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using buffer_util::Allocate;
using buffer_util::ClipRange;

int PreciseReader::Setup(BufferView& view)
{
    Release();
    view_ = &view;
    const int64_t block = view.blockLen;
    if (block <= 0) return 1;
    bool ok = true;
    for (int c = 0; c < 2; ++c) {
        ok = ok && Allocate(karF_[c], view.karaokeLen);
        ok = ok && Allocate(aligned_[c], block);
    }
    ok = ok && Allocate(fitSpan_, block + 2 * fracdelay::kTaps) && Allocate(fitSlope_, block) &&
         Allocate(filtered_, block) && Allocate(matchOrig_, block) && Allocate(matchKar_, block);
    if (!ok) {
        Release();
        return 1;
    }
    for (int c = 0; c < 2; ++c) view.aligned[c] = aligned_[c].get();
    return 0;
}

void PreciseReader::Release()
{
    if (view_)
        for (float*& a : view_->aligned) a = nullptr;
    for (int c = 0; c < 2; ++c) {
        karF_[c].reset();
        aligned_[c].reset();
    }
    fitSpan_.reset();
    fitSlope_.reset();
    filtered_.reset();
    matchOrig_.reset();
    matchKar_.reset();
}

void PreciseReader::Read(double pos0, double step, int start, int count)
{
    if (!Ready()) return;
    const BufferView& v = *view_;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    if (n <= 0) return;
    pos0 += step * (from - start);
    // Only the karaoke samples the interpolator's taps reach are converted.
    const double last = pos0 + step * (n - 1);
    const double lowPos = std::min(pos0, last), highPos = std::max(pos0, last);
    const int64_t lo = std::clamp<int64_t>(static_cast<int64_t>(std::floor(lowPos)) - fracdelay::kBefore - 1, 0,
                                           v.karaokeLen);
    const int64_t hi = std::clamp<int64_t>(static_cast<int64_t>(std::floor(highPos)) + fracdelay::kTaps + 1, lo,
                                           v.karaokeLen);
    for (int c = 0; c < std::min(v.channels, 2); ++c) {
        float* kf = karF_[c].get();
        for (int64_t i = lo; i < hi; ++i) kf[i] = static_cast<float>(v.kar[c][i]);
        if (v.impl == search::Impl::Reference)
            fracdelay::ReadAlongReference(kf, v.karaokeLen, pos0, step, n, aligned_[c].get() + from);
        else
            fracdelay::ReadAlong(kf, v.karaokeLen, pos0, step, n, aligned_[c].get() + from);
    }
    if (v.channels < 2) std::memset(aligned_[1].get() + from, 0, sizeof(float) * static_cast<size_t>(n));
}

void PreciseReader::Clear(int start, int count)
{
    if (!Ready()) return;
    int from = 0, n = 0;
    ClipRange(start, count, view_->blockLen, from, n);
    for (int c = 0; c < 2; ++c) std::fill(aligned_[c].get() + from, aligned_[c].get() + from + n, 0.0f);
}

namespace {

// Adds the fit of n original samples (orig[i], plus orig2[i] when given)
// against the karaoke span[margin + i] and its slope, taken inside the span.
void AddToFit(precise::BlockFit& fit, const float* span, int margin, int n, float* slope, const int32_t* orig,
              const int32_t* orig2, search::Impl impl)
{
    if (impl == search::Impl::Reference) {
        fracdelay::SlopeReference(span, n + 2 * margin, margin, n, slope);
        precise::AddBlockFitReference(fit, orig, orig2, span + margin, slope, n);
    } else {
        fracdelay::Slope(span, n + 2 * margin, margin, n, slope);
        precise::AddBlockFit(fit, orig, orig2, span + margin, slope, n);
    }
}

} // namespace

precise::BlockFit PreciseReader::FitAtShift(int shift, int start, int count, bool mono)
{
    precise::BlockFit fit;
    if (!Ready()) return fit;
    const BufferView& v = *view_;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    if (n <= 0) return fit;
    const int margin = fracdelay::kTaps;
    float* span = fitSpan_.get();
    // The karaoke from `margin` before the first sample used to `margin`
    // after the last, as float, so the slope can be taken inside it.
    const int64_t k0 = static_cast<int64_t>(shift) + from - margin;
    const int spanLen = n + 2 * margin;
    const int64_t len = v.karaokeLen;
    auto accumulate = [&](const int32_t* o, const int32_t* k) {
        if (k0 >= 0 && k0 + spanLen <= len) {
            for (int j = 0; j < spanLen; ++j) span[j] = static_cast<float>(k[k0 + j]);
        } else {
            for (int j = 0; j < spanLen; ++j) {
                const int64_t idx = k0 + j;
                span[j] = idx >= 0 && idx < len ? static_cast<float>(k[idx]) : 0.0f;
            }
        }
        AddToFit(fit, span, margin, n, fitSlope_.get(), o + from, nullptr, v.impl);
    };
    if (mono) {
        accumulate(v.origMono, v.karMono);
    } else {
        for (int c = 0; c < std::min(v.channels, 2); ++c) accumulate(v.orig[c], v.kar[c]);
    }
    return fit;
}

precise::BlockFit PreciseReader::FitAligned(int start, int count, bool mid)
{
    precise::BlockFit fit;
    if (!Ready()) return fit;
    const BufferView& v = *view_;
    const int margin = fracdelay::kTaps;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    if (n <= 0 || from < margin || from + n + margin > v.blockLen) return fit;
    float* span = fitSpan_.get();
    const int spanLen = n + 2 * margin;
    const int first = from - margin;
    if (mid) {
        for (int j = 0; j < spanLen; ++j) span[j] = aligned_[0][first + j] + aligned_[1][first + j];
        AddToFit(fit, span, margin, n, fitSlope_.get(), v.orig[0] + from, v.orig[1] + from, v.impl);
    } else {
        for (int c = 0; c < std::min(v.channels, 2); ++c) {
            std::memcpy(span, aligned_[c].get() + first, sizeof(float) * static_cast<size_t>(spanLen));
            AddToFit(fit, span, margin, n, fitSlope_.get(), v.orig[c] + from, nullptr, v.impl);
        }
    }
    return fit;
}

void PreciseReader::Filter(const double* taps, int halfTaps, int start, int count)
{
    if (!Ready() || halfTaps < 0) return;
    const BufferView& v = *view_;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    if (n <= 0 || from < halfTaps || from + n + halfTaps > v.blockLen) return;
    float* y = filtered_.get();
    for (int c = 0; c < std::min(v.channels, 2); ++c) {
        const float* in = aligned_[c].get() + from - halfTaps;
        if (v.impl == search::Impl::Reference)
            precise::FilterAlignedReference(in, taps, halfTaps, n, y);
        else
            precise::FilterAligned(in, taps, halfTaps, n, y);
        std::memcpy(aligned_[c].get() + from, y, sizeof(float) * static_cast<size_t>(n));
    }
}

void PreciseReader::AccumulateMatch(int start, int count, int halfTaps, bool mid, double weight, double* gram,
                                    double* cross)
{
    if (!Ready() || halfTaps < 0) return;
    const BufferView& v = *view_;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    if (n <= 0 || from < halfTaps || from + n + halfTaps > v.blockLen) return;
    const int first = from - halfTaps, span = n + 2 * halfTaps;
    double* o = matchOrig_.get();
    double* x = matchKar_.get();
    auto accumulate = [&] {
        if (v.impl == search::Impl::Reference)
            precise::AccumulateMatchReference(o, x, n, halfTaps, weight, gram, cross);
        else
            precise::AccumulateMatch(o, x, n, halfTaps, weight, gram, cross);
    };
    if (mid) {
        for (int j = 0; j < span; ++j) x[j] = static_cast<double>(aligned_[0][first + j]) + aligned_[1][first + j];
        for (int i = 0; i < n; ++i) o[i] = static_cast<double>(v.orig[0][from + i]) + v.orig[1][from + i];
        accumulate();
    } else {
        for (int c = 0; c < std::min(v.channels, 2); ++c) {
            for (int j = 0; j < span; ++j) x[j] = aligned_[c][first + j];
            for (int i = 0; i < n; ++i) o[i] = v.orig[c][from + i];
            accumulate();
        }
    }
}

double PreciseReader::Residual(int start, int count, bool mid) const
{
    if (!Ready()) return 1;
    const BufferView& v = *view_;
    int from = 0, n = 0;
    ClipRange(start, count, v.blockLen, from, n);
    double left = 0, energy = 0;
    for (int i = from; i < from + n; ++i) {
        if (mid) {
            const double o = static_cast<double>(v.orig[0][i]) + v.orig[1][i];
            const double d = o - (static_cast<double>(aligned_[0][i]) + aligned_[1][i]);
            left += d * d;
            energy += o * o;
        } else {
            for (int c = 0; c < std::min(v.channels, 2); ++c) {
                const double o = v.orig[c][i];
                const double d = o - aligned_[c][i];
                left += d * d;
                energy += o * o;
            }
        }
    }
    return energy > 0 ? left / energy : 1;
}
