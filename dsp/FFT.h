// Fast Fourier transforms and the streaming short-time Fourier frame scheme
// that the spectral workers and the centre focus share.
//
// CFFT is a complex transform of fixed size and direction on interleaved
// single-precision data (element 2k the real part, 2k + 1 the imaginary part
// of point k):
//   forward: X[k] = sum_j x[j] exp(-2 pi i j k / n), not scaled;
//   inverse: the same with exp(+2 pi i j k / n), then all 2n floats times 1/n,
//            so that inverse(forward(x)) = x.
// CRealFFT is the pair of real-input transforms (real -> half spectrum and
// back, unscaled); CPackedRealFFT computes the same through a complex
// transform of half the size, and is what the frame stream uses.
//
// All transforms run on FFTW plans that are made once per process and size
// under one lock and then shared; executing a shared plan on other arrays is
// safe from any thread.
#pragma once

#include "BufferUtil.h"

#include <cstdint>

class CFFT final {
public:
    CFFT();
    ~CFFT();
    CFFT(const CFFT&) = delete;
    CFFT& operator=(const CFFT&) = delete;

    // Prepares the transform of n complex points (n a power of two, 1 .. 2^24)
    // in the given direction. Returns 0, or 1 when n is not allowed or the
    // transform cannot be prepared; the object then transforms nothing.
    int Init(int n, bool forwardDirection);
    // Transforms the 2n floats at data in place. Any address works; a 16-byte
    // aligned one is faster. Does nothing before a successful Init.
    void Transform(float* data) const;

    int32_t size = 0;
    bool forward = true;

private:
    void* plan_ = nullptr;           // aligned data
    void* unalignedPlan_ = nullptr;  // any other address
};

class CRealFFT final {
public:
    // Prepares both transforms for n real points (a power of two, 4 .. 2^24).
    // Returns 0, or 1 when n is not allowed or a plan cannot be made.
    int Init(int n);
    // real[n] -> half[n + 2]: bins 0 .. n/2 interleaved, unscaled.
    // Both arrays must come from buffer_util::AllocateAligned.
    void Forward(const float* real, float* half) const;
    // half[n + 2] -> real[n]: y[j] = H0 + (-1)^j H(n/2) + 2 Re(sum_{k=1}^{n/2-1} Hk e^{+2 pi i jk/n}),
    // the imaginary parts of H0 and H(n/2) ignored. half is overwritten.
    void Inverse(float* half, float* real) const;

    int32_t size = 0;

private:
    void* forwardPlan_ = nullptr;
    void* inversePlan_ = nullptr;
};

// The transforms of CRealFFT, computed as a complex transform of n/2 points
// on the samples taken in pairs (x[2m] + i x[2m+1]), from which the half
// spectrum is split (and into which it is merged back for the inverse) by a
// vectorised pass. The library's complex plans are much faster than its real
// ones, so the pair costs about half of CRealFFT's; the results agree with
// it to float rounding and are the same on every instruction set.
class CPackedRealFFT final {
public:
    // Prepares both transforms for n real points (a power of two, 4 .. 2^24).
    // Returns 0, or 1 when n is not allowed or a plan or an array cannot be
    // had.
    int Init(int n);
    // real[n] -> half[n + 2], as CRealFFT::Forward.
    void Forward(const float* real, float* half);
    // half[n + 2] -> real[n], as CRealFFT::Inverse; half is left as it is.
    void Inverse(const float* half, float* real);

    // The two halves of Forward and Inverse, for a pass that works on the
    // packed points itself: real[n] -> z, the n/2 + 1 points split from
    // (n + 2 floats, the last point a copy of the first); and the merged
    // points z (n/2 of them; point 0 as Inverse leaves it) -> real[n]. Both
    // arrays from buffer_util::AllocateAligned; only after a successful Init.
    void ForwardPoints(const float* real, float* z) const;
    void InversePoints(const float* z, float* real) const;
    // W^k = e^(-2 pi i k / n) for k = 0 .. n/4: real and imaginary parts.
    const float* TwiddleCos() const { return twiddle_.get(); }
    const float* TwiddleSin() const { return twiddle_.get() + twiddleSines_; }

    int32_t size = 0;

private:
    void* forwardPlan_ = nullptr;  // n/2 complex points, out of place
    void* inversePlan_ = nullptr;
    SampleArray<float> work_;      // n/2 + 1 complex points
    // W^k = e^(-2 pi i k / n) for k = 0 .. n/4: the real parts, and from
    // twiddleSines_ on the imaginary parts.
    SampleArray<float> twiddle_;
    int twiddleSines_ = 0;
};

// The streaming frame scheme: two input streams A and B are analysed in
// Hann-windowed frames of n samples every hop = n / overlap samples; the
// owner's per-bin work edits the two spectra (bins 0 .. n/2 - 1); then the
// upper half of each synthesised spectrum is dropped, it is transformed back
// (one-sided), and its real part is overlap-added with the window and the
// factor 5.33333 / overlap. One or two streams are synthesised (A, or A and B).
//
// Per input sample: the inputs are stored, the output is read from the
// accumulator, and when a frame is complete it is processed. So the output
// lags the input by n - hop samples, an untouched in-band signal comes out at
// unit gain (within 0.7 %, as each output sample has received 7 of its 8
// frames when it is read), and a constant at about 5/3 of itself (the DC bin
// is kept whole). The state carries across calls: feeding a stream in pieces
// gives the same output as feeding it at once.
//
// Two equivalent frame paths: the complex transforms exactly as the scheme is
// written (the reference), and real-input transforms of a quarter of the
// work (the default; RunPacked hands the owner these transforms before
// their split). Either way the histories and the accumulators advance
// by moving where the frame starts in arrays of 2n values, so only one frame
// in n / hop + 1 moves them back to the start.
class FrameStream final {
public:
    // Angle of the window: 2 pi j / n in double precision, or with pi taken as
    // the single-precision 3.1415927.
    enum class WindowAngle { Double, SinglePi };

    FrameStream() = default;
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // (Re)sizes and zeroes the stream. n a power of two from 4 to 2^24,
    // 1 <= overlap <= n, outputs 1 or 2. Returns 0, or 1 when the arguments are
    // not allowed or the arrays or transforms cannot be had; the stream is then
    // unconfigured.
    int Configure(int n, int overlapCount, int outputCount, WindowAngle angle);
    void Release();
    bool Configured() const { return frameSize > 0; }
    // Selects the complex-transform path; takes effect at the next frame.
    void UseReferenceTransforms(bool on) { reference_ = on; }

    // Runs count samples: a[i], b[i] in, outA[i] (and outB[i] with two
    // outputs) out; each input is read before the output of the same index is
    // written, so outputs may be the inputs. perBin(specA, specB, bins) is
    // called once per frame on the two interleaved spectra.
    template <typename PerBin>
    void Run(const int32_t* a, const int32_t* b, int32_t* outA, int32_t* outB, int count, PerBin&& perBin)
    {
        Stream(a, b, outA, outB, count, [&] {
            Analyse();
            perBin(spectrum[0].get(), spectrum[1].get(), frameSize / 2);
            Synthesise();
        });
    }

    // The same for one output, with the owner's work done on the packed
    // transforms of the two frames instead of their spectra:
    // perFrame(zA, zB, fft) gets the points CPackedRealFFT::ForwardPoints
    // makes of each and leaves in zA the merged points of the spectrum to
    // synthesise, its bins n/2 .. n - 1 dropped and bin 0 counted twice (see
    // spectral::QualityFramePass). So the bins never pass through memory
    // between the split, the owner's rule and the merge. Always on the
    // packed transforms, whatever UseReferenceTransforms says.
    template <typename PerFrame>
    void RunPacked(const int32_t* a, const int32_t* b, int32_t* outA, int count, PerFrame&& perFrame)
    {
        if (outputs != 1) return;
        Stream(a, b, outA, nullptr, count, [&] {
            AnalysePacked();
            perFrame(spectrum[0].get(), static_cast<const float*>(spectrum[1].get()),
                     static_cast<const CPackedRealFFT&>(realFft_));
            SynthesisePacked();
        });
    }

    // Zeroes the histories and the accumulators and starts the stream anew,
    // keeping the configuration: the output is then that of a fresh stream.
    void Reset();

    int FrameSize() const { return frameSize; }  // n; 0 when unconfigured
    int Hop() const { return hop; }              // n / overlap
    int Overlap() const { return overlap; }
    int Outputs() const { return outputs; }
    // Where the next input sample is stored and the next output read,
    // counted from the start of the current frame.
    int WritePos() const { return writePos; }
    int ReadPos() const { return readPos; }
    // The analysis window (n values; null when unconfigured).
    const float* WindowCurve() const { return window.get(); }

private:
    // Feeds count samples, calling frame() whenever a frame is complete.
    template <typename Frame>
    void Stream(const int32_t* a, const int32_t* b, int32_t* outA, int32_t* outB, int count, Frame&& frame)
    {
        if (!Configured()) return;
        int i = 0;
        while (i < count) {
            const int m = count - i < frameSize - writePos ? count - i : frameSize - writePos;
            Feed(a + i, b + i, outA + i, outputs > 1 ? outB + i : nullptr, m);
            i += m;
            if (writePos >= frameSize) frame();
        }
    }
    void Feed(const int32_t* a, const int32_t* b, int32_t* outA, int32_t* outB, int m);
    void Analyse();
    void Synthesise();
    void AnalysePacked();
    void SynthesisePacked();
    void Advance();

    int32_t frameSize = 0;   // n
    int32_t hop = 0;         // n / overlap
    int32_t overlap = 0;
    int32_t outputs = 0;
    int32_t readPos = 0;
    int32_t writePos = 0;
    int32_t start_ = 0;      // where the current frame starts in the histories and accumulators
    SampleArray<float> window;   // n
    // 2n each. Entries start_ .. start_ + n - 1 are the current frame's; an
    // accumulator is zero from start_ + n - hop on.
    SampleArray<float> inA;
    SampleArray<float> inB;
    SampleArray<float> acc[2];   // the second only with two outputs
    SampleArray<float> spectrum[2];  // 2n each: complex spectra of A and B

    SampleArray<float> synthesis_;   // window * (5.33333 / overlap) / (2n) for the real path
    SampleArray<float> frame_[2];    // n each: windowed frames and inverse output
    CFFT fwdFft_, invFft_;
    CPackedRealFFT realFft_;
    bool reference_ = false;
};
