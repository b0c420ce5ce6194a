// The spectral worker's stream: the frequency merge for one channel. Frame
// by frame it subtracts the karaoke spectrum, scaled by the measured gain,
// from the original spectrum and silences the bins in which the karaoke
// outweighs the original by the strength factor (in quality-first mode only
// where the two also agree in phase).
//
// Jobs continue the same signal: the frame state carries from job to job and
// is reset only by Configure and Reset. The output lags the input by n - hop samples
// (7168). The threads that run the jobs and their hand-over are
// SpectralWorkers' (SpectralHandover.h); this class holds no thread.
#pragma once

#include "FFT.h"

#include <cstdint>

class ThVocalFFT final {
public:
    ThVocalFFT() = default;
    ThVocalFFT(const ThVocalFFT&) = delete;
    ThVocalFFT& operator=(const ThVocalFFT&) = delete;

    // Sizes and zeroes the frame state. mode 0 = quality first, 1 =
    // extraction first, anything else = jobs do nothing. n a power of two
    // (4 .. 2^24), 1 <= overlap <= n. Returns 0, or 1 when the arguments are
    // not allowed or the arrays cannot be allocated; the unit is then
    // unconfigured and runs no stream.
    int Configure(int n, int overlapCount, int modeValue, float strengthValue);
    // Frees the frame state; the unit is then unconfigured.
    void Release();
    // Starts the stream anew with the same configuration.
    void Reset() { stream_.Reset(); }
    // Runs one job's stream on the calling thread: count samples of orig and
    // kar in, out out (see FrameStream::Run).
    void Run(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count);

    // The literal per-bin rules with two atan2 calls per bin instead of the
    // dot-product phase test, and the complex-transform frame path.
    void UseReferenceKernels(bool on);

    bool Configured() const { return configured_; }
    int FrameSize() const { return frameSize_; }
    int Hop() const { return hop_; }
    int Mode() const { return mode_; }
    float Strength() const { return strength_; }
    float CappedStrength() const { return cappedStrength_; }  // min(strength, 1.5)
    // The per-bin phase thresholds (n/2 of them; null when unconfigured).
    const float* PhaseThreshold() const { return phaseThreshold_.get(); }
    // The frame state: window, histories (A original, B karaoke), the
    // accumulator, the two spectra and the read and write positions.
    const FrameStream& Stream() const { return stream_; }

private:

    int32_t frameSize_ = 0;
    int32_t hop_ = 0;
    float strength_ = 0.0f;
    float cappedStrength_ = 0.0f;
    int32_t mode_ = 0;
    bool configured_ = false;
    FrameStream stream_;
    SampleArray<float> phaseThreshold_;  // n/2
    SampleArray<float> phaseBound_;      // the phase thresholds as the fast rule tests them
    bool reference_ = false;
};
