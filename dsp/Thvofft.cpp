#include "Thvofft.h"

#include "BinKernels.h"

#include <algorithm>
#include <numbers>

using buffer_util::AllocateAligned;

void ThVocalFFT::UseReferenceKernels(bool on)
{
    reference_ = on;
    stream_.UseReferenceTransforms(on);
}

void ThVocalFFT::Release()
{
    configured_ = false;
    stream_.Release();
    phaseThreshold_.reset();
    phaseBound_.reset();
}

int ThVocalFFT::Configure(int n, int overlapCount, int modeValue, float strengthValue)
{
    Release();
    frameSize_ = n;
    strength_ = strengthValue;
    cappedStrength_ = strengthValue > 1.5f ? 1.5f : strengthValue;
    mode_ = modeValue;
    if (stream_.Configure(n, overlapCount, 1, FrameStream::WindowAngle::Double) != 0) return 1;
    hop_ = stream_.Hop();
    const int half = n / 2;
    if (!AllocateAligned(phaseThreshold_, static_cast<size_t>(half)) ||
        !AllocateAligned(phaseBound_, static_cast<size_t>(half))) {
        Release();
        return 1;
    }
    for (int j = 0; j < half; ++j) {
        float t = static_cast<float>(std::numbers::pi / (static_cast<double>(half) / (j + 1)));
        if (t < 0.15f) t = 0.15f;
        phaseThreshold_[j] = t * strength_;
        phaseBound_[j] = spectral::PhaseBound(phaseThreshold_[j]);
    }
    configured_ = true;
    return 0;
}

void ThVocalFFT::Run(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count)
{
    if (!configured_ || count <= 0) return;
    if (mode_ == 0) {
        const double g = std::min(gain, static_cast<double>(cappedStrength_));
        const float cs = cappedStrength_;
        const float* threshold = phaseThreshold_.get();
        const float* bounds = phaseBound_.get();
        if (reference_) {
            stream_.Run(orig, kar, out, nullptr, count, [&](float* o, float* k, int bins) {
                spectral::QualityBinsReference(o, k, bins, g, cs, threshold);
            });
        } else {
            stream_.RunPacked(orig, kar, out, count, [&](float* zo, const float* zk, const CPackedRealFFT& fft) {
                spectral::QualityFramePass(zo, zk, fft.TwiddleCos(), fft.TwiddleSin(), fft.size / 2, g, cs, bounds);
            });
        }
    } else if (mode_ == 1) {
        const double g = std::min(gain, static_cast<double>(strength_));
        const float s = strength_;
        if (reference_) {
            stream_.Run(orig, kar, out, nullptr, count, [&](float* o, float* k, int bins) {
                spectral::ExtractionBinsReference(o, k, bins, g, s);
            });
        } else {
            stream_.Run(orig, kar, out, nullptr, count,
                       [&](float* o, float* k, int bins) { spectral::ExtractionBins(o, k, bins, g, s); });
        }
    }
}
