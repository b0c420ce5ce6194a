// Linear-phase FIR filter (low-pass or high-pass) designed by the windowed-sinc
// method with a Kaiser window, applied as a streaming direct-form convolution
// on 32-bit integer samples.
#pragma once

#include "BufferUtil.h"

#include <cstdint>

class CFIRUnit final {
public:
    static constexpr int kMaxOrder = 1000;          // at most kMaxOrder + 1 taps
    static constexpr int kSegment = 4096;           // samples filtered per inner pass
    static constexpr float kPi = 3.141592f;         // the design's value of pi (slightly below pi)

    enum class FilterType { LowPass = 0, HighPass = 1 };

    CFIRUnit();
    ~CFIRUnit();
    CFIRUnit(const CFIRUnit&) = delete;
    CFIRUnit& operator=(const CFIRUnit&) = delete;

    // Computes the coefficients (replacing earlier ones) and zeroes the
    // history. The transition band runs from edgeLowHz to edgeHighHz (the
    // low-pass passes below it, the high-pass above it). Returns 0, or 1 when
    // the arrays cannot be allocated; the unit is then undesigned and Filter
    // copies its input unchanged.
    int Design(int sampleRate, FilterType type, float attenuationDb, float edgeHighHz, float edgeLowHz);
    // Zeroes the history: the next sample starts a new stream.
    void Reset();

    // Filters count samples of the stream continued from the previous call.
    // in and out may be the same array (the input is taken before any output is
    // written). Allocates nothing. out[i] = trunc(sum of coeffs[j] * x[i - j]),
    // the sum kept in single precision in order of ascending j.
    void Filter(const int32_t* in, int count, int32_t* out);
    // The same computation as one plain loop over a work array of
    // tapCount + count samples, allocated per call. Kept as the reference the
    // fast version is tested against; not for the block loop.
    void FilterReference(const int32_t* in, int count, int32_t* out);

    bool Designed() const { return tapCount_ > 0; }
    // The half-width of the impulse response: the filter delays by this many samples.
    int Half() const { return tapCount_ > 0 ? (tapCount_ - 1) / 2 : 0; }
    int TapCount() const { return tapCount_; }
    // tapCount coefficients (null when undesigned).
    const float* Coeffs() const { return coeffs_.get(); }
    FilterType Type() const { return filterType_; }
    float HalfRateHz() const { return halfRate_; }
    float EdgeLowHz() const { return edgeLow_; }
    float EdgeHighHz() const { return edgeHigh_; }
    float AttenuationDb() const { return attenuationDb_; }

    // Design helpers, exposed for checking the arithmetic.
    static float KaiserBeta(float attenuationDb);
    static float BesselI0(float x);
    // Order before rounding up to even and capping: trunc(float((A - 8) / (2.285 * dw)) + 1).
    // Returns kMaxOrder when the quotient is not finite or too large for an int.
    static int RawOrder(float attenuationDb, float transitionWidth);

private:
    void FilterSegment(const int32_t* in, int n, int32_t* out);

    float halfRate_ = 0.0f;
    float edgeLow_ = 0.0f;
    float edgeHigh_ = 0.0f;
    float attenuationDb_ = 0.0f;
    FilterType filterType_ = FilterType::LowPass;
    int32_t tapCount_ = 0;
    SampleArray<float> coeffs_;
    SampleArray<int32_t> history_;   // last tapCount input samples
    SampleArray<float> work_;        // tapCount + kSegment samples as float
};
