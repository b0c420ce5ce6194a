#include "Cntrfocus.h"

#include "BinKernels.h"

#include <numbers>

using buffer_util::AllocateAligned;

void CenterFocus::UseReferenceKernels(bool on)
{
    reference_ = on;
    stream_.UseReferenceTransforms(on);
}

void CenterFocus::Release()
{
    configured_ = false;
    stream_.Release();
    phaseThreshold_.reset();
    cosThreshold_.reset();
    cosFadeEnd_.reset();
    binScratch_.reset();
}

int CenterFocus::Configure(int n, int overlapCount, float strengthValue)
{
    Release();
    strength_ = strengthValue;
    levelMix_ = static_cast<float>(0.4 - 0.1 * static_cast<double>(strengthValue));
    if (levelMix_ < 0.0f) levelMix_ = 0.0f;
    if (stream_.Configure(n, overlapCount, 2, FrameStream::WindowAngle::SinglePi) != 0) return 1;
    const int half = n / 2;
    if (!AllocateAligned(phaseThreshold_, static_cast<size_t>(half)) ||
        !AllocateAligned(cosThreshold_, static_cast<size_t>(half)) ||
        !AllocateAligned(cosFadeEnd_, static_cast<size_t>(half)) ||
        !AllocateAligned(binScratch_, 3 * static_cast<size_t>(half))) {
        Release();
        return 1;
    }
    const double c = strengthValue;
    for (int j = 0; j < half; ++j) {
        const float t = static_cast<float>(std::numbers::pi / (static_cast<double>(half) / (j + 1)));
        phaseThreshold_[j] = static_cast<float>((t * 0.5 + 1.0) / c);
        cosThreshold_[j] = spectral::PhaseTestCosine(phaseThreshold_[j]);
        // The fade reaches 0 at threshold + pi / (2c); without a positive c
        // every bin beyond the threshold takes the exact fade.
        cosFadeEnd_[j] = c > 0.0 ? spectral::PhaseTestCosine(phaseThreshold_[j] + std::numbers::pi / (2.0 * c)) : -2.0;
    }
    configured_ = true;
    return 0;
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outR, int32_t* outL, int count)
{
    if (!configured_ || count <= 0) return;
    const float c = strength_;
    const float k = levelMix_;
    const float* threshold = phaseThreshold_.get();
    if (reference_) {
        stream_.Run(inL, inR, outL, outR, count, [&](float* l, float* r, int bins) {
            spectral::CenterBinsReference(l, r, bins, c, k, threshold);
        });
    } else {
        const double* cosines = cosThreshold_.get();
        const double* ends = cosFadeEnd_.get();
        double* scratch = binScratch_.get();
        stream_.Run(inL, inR, outL, outR, count, [&](float* l, float* r, int bins) {
            spectral::CenterBinsFast(l, r, bins, c, k, threshold, cosines, ends, scratch);
        });
    }
}
