// Centre-channel focus: a streaming stereo processor that keeps what sits in
// the middle of the stereo image (equal level and phase in both channels) and
// attenuates what differs between the channels.
//
// Per frame and bin (see spectral::CenterBinsReference): the louder channel is
// pulled down to the quieter one plus levelMix of their difference, and a bin
// whose channels differ in phase by more than the bin's threshold fades along
// a raised cosine to silence a further pi / (2c) radians on. Larger strength c
// gives tighter thresholds, a steeper fade and stronger level equalisation.
// The output lags the input by n - hop samples (7168).
#pragma once

#include "FFT.h"

#include <cstdint>

class CenterFocus final {
public:
    CenterFocus() = default;
    CenterFocus(const CenterFocus&) = delete;
    CenterFocus& operator=(const CenterFocus&) = delete;

    // Sizes and zeroes the stream: frames of n (a power of two, 4 .. 2^24),
    // hop n / overlap, strength c. levelMix = max(0.4 - 0.1 c, 0). Returns 0,
    // or 1 when the arguments are not allowed or the arrays cannot be
    // allocated; the processor is then unconfigured and Process does nothing.
    int Configure(int n, int overlapCount, float strengthValue);
    // Starts the stream anew with the same configuration.
    void Reset() { stream_.Reset(); }

    // Runs count samples of both channels. Each input sample is read before
    // the output sample of the same index is written, so the outputs may be
    // the inputs (in place).
    void Process(const int32_t* inL, const int32_t* inR, int32_t* outR, int32_t* outL, int count);

    // The literal per-bin rule (two atan2 calls per bin) and the
    // complex-transform frame path.
    void UseReferenceKernels(bool on);

    bool Configured() const { return configured_; }
    // Samples by which the output lags the input (0 when unconfigured).
    int Latency() const { return configured_ ? stream_.FrameSize() - stream_.Hop() : 0; }
    float Strength() const { return strength_; }
    float LevelMix() const { return levelMix_; }
    // The per-bin phase thresholds (n/2 of them; null when unconfigured).
    const float* PhaseThreshold() const { return phaseThreshold_.get(); }

private:
    void Release();

    float strength_ = 0.0f;
    float levelMix_ = 0.0f;
    bool configured_ = false;
    // The frame state: window, histories (A left, B right), accumulators, the
    // two spectra and the read and write positions.
    FrameStream stream_;
    SampleArray<float> phaseThreshold_;  // n/2
    SampleArray<double> cosThreshold_;   // phase thresholds for the dot-product test
    SampleArray<double> cosFadeEnd_;     // ends of the fade for the dot-product test
    SampleArray<double> binScratch_;     // 3 * n/2 values for the per-bin passes
    bool reference_ = false;
};
