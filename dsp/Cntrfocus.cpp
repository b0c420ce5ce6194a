#include "Cntrfocus.h"

#include "BinKernels.h"

#include <numbers>

void CenterFocus::UseReferenceKernels(bool on)
{
    reference_ = on;
    stream.UseReferenceTransforms(on);
}

void CenterFocus::Release()
{
    configured = false;
    stream.Release();
    phaseThreshold.reset();
    cosThreshold_.reset();
    cosFadeEnd_.reset();
    binScratch_.reset();
}

int CenterFocus::Configure(int n, int overlapCount, float strengthValue)
{
    Release();
    overlap = overlapCount;
    frameSize = n;
    strength = strengthValue;
    levelMix = static_cast<float>(0.4 - 0.1 * static_cast<double>(strengthValue));
    if (levelMix < 0.0f) levelMix = 0.0f;
    if (stream.Configure(n, overlapCount, 2, FrameStream::WindowAngle::SinglePi) != 0) return 1;
    hop = stream.hop;
    const int half = n / 2;
    if (!AllocateAligned(phaseThreshold, static_cast<size_t>(half)) ||
        !AllocateAligned(cosThreshold_, static_cast<size_t>(half)) ||
        !AllocateAligned(cosFadeEnd_, static_cast<size_t>(half)) ||
        !AllocateAligned(binScratch_, 3 * static_cast<size_t>(half))) {
        Release();
        return 1;
    }
    const double c = strengthValue;
    for (int j = 0; j < half; ++j) {
        const float t = static_cast<float>(std::numbers::pi / (static_cast<double>(half) / (j + 1)));
        phaseThreshold[j] = static_cast<float>((t * 0.5 + 1.0) / c);
        cosThreshold_[j] = spectral::PhaseTestCosine(phaseThreshold[j]);
        // The fade reaches 0 at threshold + pi / (2c); without a positive c
        // every bin beyond the threshold takes the exact fade.
        cosFadeEnd_[j] = c > 0.0 ? spectral::PhaseTestCosine(phaseThreshold[j] + std::numbers::pi / (2.0 * c)) : -2.0;
    }
    configured = true;
    return 0;
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outR, int32_t* outL, int count)
{
    if (!configured || count <= 0) return;
    const float c = strength;
    const float k = levelMix;
    const float* threshold = phaseThreshold.get();
    if (reference_) {
        stream.Run(inL, inR, outL, outR, count, [&](float* l, float* r, int bins) {
            spectral::CentreBinsReference(l, r, bins, c, k, threshold);
        });
    } else {
        const double* cosines = cosThreshold_.get();
        const double* ends = cosFadeEnd_.get();
        double* scratch = binScratch_.get();
        stream.Run(inL, inR, outL, outR, count, [&](float* l, float* r, int bins) {
            spectral::CentreBinsFast(l, r, bins, c, k, threshold, cosines, ends, scratch);
        });
    }
}
