// Linear-phase FIR filter (low-pass or high-pass) designed by the windowed-sinc
// method with a Kaiser window, applied as a streaming direct-form convolution
// on 32-bit integer samples.
#pragma once

#include <cstdint>
#include <memory>

class CFIRUnit {
public:
    static constexpr int kMaxOrder = 1000;          // at most kMaxOrder + 1 taps
    static constexpr int kSegment = 4096;           // samples filtered per inner pass
    static constexpr float kPi = 3.141592f;         // the design's value of pi (slightly below pi)

    CFIRUnit();
    virtual ~CFIRUnit();
    CFIRUnit(const CFIRUnit&) = delete;
    CFIRUnit& operator=(const CFIRUnit&) = delete;

    // Computes the coefficients (replacing earlier ones) and zeroes the history.
    // filterType 0 = low-pass, 1 = high-pass. Returns 0, or 1 when the arrays
    // cannot be allocated; the unit is then undesigned and Filter copies its
    // input unchanged.
    int Design(int sampleRate, int filterType, float attenuationDb, float edgeHigh, float edgeLow);

    // Filters count samples of the stream continued from the previous call.
    // in and out may be the same array (the input is taken before any output is
    // written). Allocates nothing. out[i] = trunc(sum of coeffs[j] * x[i - j]),
    // the sum kept in single precision in order of ascending j.
    void Filter(const int32_t* in, int count, int32_t* out);
    // The same computation as one plain loop over a work array of
    // tapCount + count samples, allocated per call. Kept as the reference the
    // fast version is tested against; not for the block loop.
    void FilterReference(const int32_t* in, int count, int32_t* out);

    bool Designed() const { return tapCount > 0; }
    // The half-width of the impulse response: the filter delays by this many samples.
    int Half() const { return tapCount > 0 ? (tapCount - 1) / 2 : 0; }

    // Design helpers, exposed for checking the arithmetic.
    static float KaiserBeta(float attenuationDb);
    static float BesselI0(float x);
    // Order before rounding up to even and capping: trunc(float((A - 8) / (2.285 * dw)) + 1).
    // Returns kMaxOrder when the quotient is not finite or too large for an int.
    static int RawOrder(float attenuationDb, float transitionWidth);

    float halfRate = 0.0f;
    float edgeLow = 0.0f;
    float edgeHigh = 0.0f;
    float attenuationDb = 0.0f;
    int32_t filterType = 0;
    int32_t tapCount = 0;
    std::unique_ptr<float[]> coeffs;
    std::unique_ptr<int32_t[]> history;    // last tapCount input samples

private:
    std::unique_ptr<float[]> work_;        // tapCount + kSegment samples as float
    void FilterSegment(const int32_t* in, int count, int32_t* out);
};
