#include "FFT.h"

#include "FftWisdom.h"
#include "SampleMath.h"
#include "SpectrumLanes.h"

#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <tuple>

using buffer_util::AllocateAligned;

namespace {

enum class PlanKind {
    ComplexForward,
    ComplexInverse,
    RealForward,
    RealInverse,
    ComplexForwardOutOfPlace,
    ComplexInverseOutOfPlace
};

// Plans made so far, shared by every transform object of the process. The
// planner is not thread-safe, so plans are made and looked up under one lock;
// they live until the process ends.
struct PlanCache {
    std::mutex lock;
    std::map<std::tuple<PlanKind, int, bool>, fftwf_plan> plans;
};

PlanCache& Cache()
{
    static PlanCache* cache = new PlanCache;  // never destroyed: plans outlive every user
    return *cache;
}

bool PowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// The plan for kind and n, made on first use. Complex plans are in-place
// unless their kind says otherwise, real ones out-of-place, all for 16-byte
// aligned arrays unless unaligned is set.
// Plans are estimated, or measured once and remembered when the program
// enabled that (FftWisdom.h): measuring makes each frame about 30 % faster
// but costs some tenths of a second the first time.
fftwf_plan GetPlan(PlanKind kind, int n, bool unaligned)
{
    PlanCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.lock);
    const auto key = std::make_tuple(kind, n, unaligned);
    if (auto it = cache.plans.find(key); it != cache.plans.end()) return it->second;

    const size_t floats = 2 * static_cast<size_t>(n) + 2;
    float* a = static_cast<float*>(fftwf_malloc(sizeof(float) * floats));
    float* b = static_cast<float*>(fftwf_malloc(sizeof(float) * floats));
    fftwf_plan plan = nullptr;
    if (a != nullptr && b != nullptr) {
        const unsigned flags = (unaligned ? FFTW_UNALIGNED : 0u) | fftwisdom::PlannerFlags();
        switch (kind) {
        case PlanKind::ComplexForward:
        case PlanKind::ComplexInverse:
        case PlanKind::ComplexForwardOutOfPlace:
        case PlanKind::ComplexInverseOutOfPlace: {
            const bool inPlace = kind == PlanKind::ComplexForward || kind == PlanKind::ComplexInverse;
            const bool forward = kind == PlanKind::ComplexForward || kind == PlanKind::ComplexForwardOutOfPlace;
            plan = fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(a),
                                     reinterpret_cast<fftwf_complex*>(inPlace ? a : b),
                                     forward ? FFTW_FORWARD : FFTW_BACKWARD, flags);
            break;
        }
        case PlanKind::RealForward:
            plan = fftwf_plan_dft_r2c_1d(n, a, reinterpret_cast<fftwf_complex*>(b), flags);
            break;
        case PlanKind::RealInverse:
            plan = fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(a), b, flags);
            break;
        }
    }
    fftwf_free(a);
    fftwf_free(b);
    if (plan != nullptr) {
        cache.plans.emplace(key, plan);
        fftwisdom::AfterPlanning();
    }
    return plan;
}

} // namespace

// ------------------------------------------------------------------- CFFT

CFFT::CFFT() = default;
CFFT::~CFFT() = default;

int CFFT::Init(int n, bool forwardDirection)
{
    size = 0;
    forward = forwardDirection;
    plan_ = unalignedPlan_ = nullptr;
    if (!PowerOfTwo(n) || n > (1 << 24)) return 1;
    const PlanKind kind = forwardDirection ? PlanKind::ComplexForward : PlanKind::ComplexInverse;
    plan_ = GetPlan(kind, n, false);
    unalignedPlan_ = GetPlan(kind, n, true);
    if (plan_ == nullptr || unalignedPlan_ == nullptr) {
        plan_ = unalignedPlan_ = nullptr;
        return 1;
    }
    size = n;
    return 0;
}

void CFFT::Transform(float* data) const
{
    if (size <= 0 || data == nullptr) return;
    auto* c = reinterpret_cast<fftwf_complex*>(data);
    const bool aligned = fftwf_alignment_of(data) == 0;
    fftwf_execute_dft(static_cast<fftwf_plan>(aligned ? plan_ : unalignedPlan_), c, c);
    if (!forward) {
        const float scale = 1.0f / static_cast<float>(size);
        const size_t floats = 2 * static_cast<size_t>(size);
        for (size_t i = 0; i < floats; ++i) data[i] *= scale;
    }
}

// --------------------------------------------------------------- CRealFFT

int CRealFFT::Init(int n)
{
    size = 0;
    forwardPlan_ = inversePlan_ = nullptr;
    if (!PowerOfTwo(n) || n < 4 || n > (1 << 24)) return 1;
    forwardPlan_ = GetPlan(PlanKind::RealForward, n, false);
    inversePlan_ = GetPlan(PlanKind::RealInverse, n, false);
    if (forwardPlan_ == nullptr || inversePlan_ == nullptr) {
        forwardPlan_ = inversePlan_ = nullptr;
        return 1;
    }
    size = n;
    return 0;
}

void CRealFFT::Forward(const float* real, float* half) const
{
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(forwardPlan_), const_cast<float*>(real),
                          reinterpret_cast<fftwf_complex*>(half));
}

void CRealFFT::Inverse(float* half, float* real) const
{
    fftwf_execute_dft_c2r(static_cast<fftwf_plan>(inversePlan_), reinterpret_cast<fftwf_complex*>(half), real);
}

// --------------------------------------------------------- CPackedRealFFT
//
// With z[m] = x[2m] + i x[2m+1] (N = n/2 points) and Z its transform, the half
// spectrum of x is, for k = 0 .. N (Z[N] taken as Z[0], W = e^(-2 pi i / n)):
//   E = (Z[k] + conj Z[N-k]) / 2,  O = (Z[k] - conj Z[N-k]) / (2i),
//   X[k] = E + W^k O,  X[N-k] = conj(E - W^k O).
// The inverse undoes it: with a = X[k], b = X[N-k],
//   E = a + conj b,  T = W^-k (a - conj b),
//   Z[k] = E + i T,  Z[N-k] = conj E + i conj T,
// and the backward transform of Z gives n/2 * 2 z, the unscaled real inverse.
// Each pass takes k and N - k together, so it runs over k = 0 .. N/2 only.

namespace {

using namespace packed;

// z holds N + 1 points (the last a copy of the first); x gets bins 0 .. N.
// wr, wi: the real and imaginary parts of W^k for k = 0 .. N/2.
template <bool Merge>
SONVELT_ALWAYS_INLINE void PairPassBody(const float* in, float* out, const float* wr, const float* wi, int points)
{
    auto pair = [](auto ar, auto ai, auto br, auto bi, auto cr, auto ci, auto& xr, auto& xi, auto& yr,
                   auto& yi) SONVELT_ALWAYS_INLINE_LAMBDA {
        if constexpr (Merge)
            MergePair(ar, ai, br, bi, cr, ci, xr, xi, yr, yi);
        else
            SplitPair(ar, ai, br, bi, cr, ci, xr, xi, yr, yi);
    };
    const int half = points / 2;
    int k = 0;
    for (; k + kLanes <= half; k += kLanes) {
        Lanes ar, ai, br, bi, xr, xi, yr, yi;
        LoadPoints(in, k, ar, ai);
        LoadPointsReversed(in, points - k, br, bi);
        pair(ar, ai, br, bi, LoadLanes(wr + k), LoadLanes(wi + k), xr, xi, yr, yi);
        StorePoints(out, k, xr, xi);
        StorePointsReversed(out, points - k, yr, yi);
    }
    for (; k <= half; ++k) {
        const int m = points - k;
        float xr, xi, yr, yi;
        pair(in[2 * k], in[2 * k + 1], in[2 * m], in[2 * m + 1], wr[k], wi[k], xr, xi, yr, yi);
        out[2 * k] = xr;
        out[2 * k + 1] = xi;
        out[2 * m] = yr;
        out[2 * m + 1] = yi;
    }
}

SONVELT_ALWAYS_INLINE void SplitPassBody(const float* z, float* x, const float* wr, const float* wi, int points)
{
    PairPassBody<false>(z, x, wr, wi, points);
}
SONVELT_MULTI_ISA(void, SplitPass, (const float* z, float* x, const float* wr, const float* wi, int points),
                  (z, x, wr, wi, points))

SONVELT_ALWAYS_INLINE void MergePassBody(const float* x, float* z, const float* wr, const float* wi, int points)
{
    PairPassBody<true>(x, z, wr, wi, points);
}
SONVELT_MULTI_ISA(void, MergePass, (const float* x, float* z, const float* wr, const float* wi, int points),
                  (x, z, wr, wi, points))

} // namespace

int CPackedRealFFT::Init(int n)
{
    size = 0;
    forwardPlan_ = inversePlan_ = nullptr;
    work_.reset();
    twiddle_.reset();
    if (!PowerOfTwo(n) || n < 4 || n > (1 << 24)) return 1;
    const int points = n / 2, quarter = n / 4;
    // The sines start at a whole number of vectors, for the loads.
    const size_t sines = (static_cast<size_t>(quarter) + kLanes) / kLanes * kLanes;
    if (!AllocateAligned(work_, static_cast<size_t>(n) + 2) || !AllocateAligned(twiddle_, 2 * sines)) return 1;
    forwardPlan_ = GetPlan(PlanKind::ComplexForwardOutOfPlace, points, false);
    inversePlan_ = GetPlan(PlanKind::ComplexInverseOutOfPlace, points, false);
    if (forwardPlan_ == nullptr || inversePlan_ == nullptr) {
        forwardPlan_ = inversePlan_ = nullptr;
        return 1;
    }
    // W^k = cos a - i sin a, a = 2 pi k / n in [0, pi/2], each part taken
    // from the function that is exact at its end (cos 0, sin pi/2).
    for (int k = 0; k <= quarter; ++k) {
        const double a = 2.0 * std::numbers::pi * k / n, b = 2.0 * std::numbers::pi * (quarter - k) / n;
        const bool low = 8 * k <= n;
        twiddle_[k] = static_cast<float>(low ? std::cos(a) : std::sin(b));
        twiddle_[static_cast<std::ptrdiff_t>(sines) + k] = static_cast<float>(-(low ? std::sin(a) : std::cos(b)));
    }
    twiddleSines_ = static_cast<int>(sines);
    size = n;
    return 0;
}

void CPackedRealFFT::ForwardPoints(const float* real, float* z) const
{
    const int points = size / 2;
    fftwf_execute_dft(static_cast<fftwf_plan>(forwardPlan_), reinterpret_cast<fftwf_complex*>(const_cast<float*>(real)),
                      reinterpret_cast<fftwf_complex*>(z));
    z[2 * points] = z[0];
    z[2 * points + 1] = z[1];
}

void CPackedRealFFT::InversePoints(const float* z, float* real) const
{
    fftwf_execute_dft(static_cast<fftwf_plan>(inversePlan_), reinterpret_cast<fftwf_complex*>(const_cast<float*>(z)),
                      reinterpret_cast<fftwf_complex*>(real));
}

void CPackedRealFFT::Forward(const float* real, float* half)
{
    if (size <= 0) return;
    float* z = work_.get();
    ForwardPoints(real, z);
    SplitPass(z, half, TwiddleCos(), TwiddleSin(), size / 2);
}

void CPackedRealFFT::Inverse(const float* half, float* real)
{
    if (size <= 0) return;
    float* z = work_.get();
    MergePass(half, z, TwiddleCos(), TwiddleSin(), size / 2);
    // Bins 0 and n/2 are real: their imaginary parts do not count.
    z[0] = half[0] + half[size];
    z[1] = half[0] - half[size];
    InversePoints(z, real);
}

// ------------------------------------------------------------ FrameStream

namespace {

constexpr float kSynthesisGain = 5.33333f;

SONVELT_ALWAYS_INLINE void WindowBody(const float* in, const float* window, float* out, int n)
{
    for (int j = 0; j < n; ++j) out[j] = in[j] * window[j];
}
SONVELT_MULTI_ISA(void, Window, (const float* in, const float* window, float* out, int n), (in, window, out, n))

SONVELT_ALWAYS_INLINE void OverlapAddBody(float* acc, const float* frame, const float* synthesis, int n)
{
    for (int j = 0; j < n; ++j) acc[j] += frame[j] * synthesis[j];
}
SONVELT_MULTI_ISA(void, OverlapAdd, (float* acc, const float* frame, const float* synthesis, int n),
                  (acc, frame, synthesis, n))

// TruncToInt32 of a float, in a form the loops below vectorise.
SONVELT_ALWAYS_INLINE int32_t TruncFloat(float v)
{
    const int32_t t = v >= 2147483648.0f ? std::numeric_limits<int32_t>::max()
                      : v <= -2147483648.0f ? std::numeric_limits<int32_t>::min()
                                            : static_cast<int32_t>(v == v ? v : 0.0f);
    return t;
}

// The inputs stored as floats, the outputs read from the accumulator.
SONVELT_ALWAYS_INLINE void FeedOneBody(const int32_t* a, const int32_t* b, float* ia, float* ib, const float* acc,
                                       int32_t* out, int m)
{
    for (int k = 0; k < m; ++k) {
        ia[k] = static_cast<float>(a[k]);
        ib[k] = static_cast<float>(b[k]);
        out[k] = TruncFloat(acc[k]);
    }
}
SONVELT_MULTI_ISA(void, FeedOne,
                  (const int32_t* a, const int32_t* b, float* ia, float* ib, const float* acc, int32_t* out, int m),
                  (a, b, ia, ib, acc, out, m))

SONVELT_ALWAYS_INLINE void FeedTwoBody(const int32_t* a, const int32_t* b, float* ia, float* ib, const float* accA,
                                       const float* accB, int32_t* outA, int32_t* outB, int m)
{
    for (int k = 0; k < m; ++k) {
        ia[k] = static_cast<float>(a[k]);
        ib[k] = static_cast<float>(b[k]);
        const int32_t ya = TruncFloat(accA[k]), yb = TruncFloat(accB[k]);
        outA[k] = ya;
        outB[k] = yb;
    }
}
SONVELT_MULTI_ISA(void, FeedTwo,
                  (const int32_t* a, const int32_t* b, float* ia, float* ib, const float* accA, const float* accB,
                   int32_t* outA, int32_t* outB, int m),
                  (a, b, ia, ib, accA, accB, outA, outB, m))

} // namespace

void FrameStream::Release()
{
    frameSize = hop = overlap = outputs = 0;
    readPos = writePos = start_ = 0;
    window.reset();
    inA.reset();
    inB.reset();
    for (int k = 0; k < 2; ++k) {
        acc[k].reset();
        spectrum[k].reset();
        frame_[k].reset();
    }
    synthesis_.reset();
}

int FrameStream::Configure(int n, int overlapCount, int outputCount, WindowAngle angle)
{
    Release();
    if (!PowerOfTwo(n) || n < 4 || n > (1 << 24) || overlapCount < 1 || overlapCount > n || outputCount < 1 ||
        outputCount > 2)
        return 1;
    const int h = n / overlapCount;
    const size_t count = static_cast<size_t>(n);
    bool ok = fwdFft_.Init(n, true) == 0 && invFft_.Init(n, false) == 0 && realFft_.Init(n) == 0;
    ok = ok && AllocateAligned(window, count) && AllocateAligned(synthesis_, count);
    ok = ok && AllocateAligned(inA, 2 * count) && AllocateAligned(inB, 2 * count);
    for (int k = 0; k < 2; ++k) {
        ok = ok && AllocateAligned(spectrum[k], 2 * count) && AllocateAligned(frame_[k], count);
        if (k < outputCount) ok = ok && AllocateAligned(acc[k], 2 * count);
    }
    if (!ok) {
        Release();
        return 1;
    }
    for (int j = 0; j < n; ++j) {
        double a;
        if (angle == WindowAngle::Double)
            a = 2.0 * std::numbers::pi * j / n;
        else
            a = 2.0 * static_cast<double>(3.1415927f) * j / n;
        window[j] = static_cast<float>(0.5 - 0.5 * std::cos(a));
        // The one-sided inverse of the real path is 2n times the complex one's real part.
        synthesis_[j] = static_cast<float>(static_cast<double>(kSynthesisGain) * window[j] / overlapCount /
                                           (2.0 * n));
    }
    frameSize = n;
    hop = h;
    overlap = overlapCount;
    outputs = outputCount;
    readPos = 0;
    writePos = n - h;
    start_ = 0;
    return 0;
}

void FrameStream::Feed(const int32_t* a, const int32_t* b, int32_t* outA, int32_t* outB, int m)
{
    float* ia = inA.get() + start_ + writePos;
    float* ib = inB.get() + start_ + writePos;
    const float* acc0 = acc[0].get() + start_ + readPos;
    if (outB != nullptr)
        FeedTwo(a, b, ia, ib, acc0, acc[1].get() + start_ + readPos, outA, outB, m);
    else
        FeedOne(a, b, ia, ib, acc0, outA, m);
    writePos += m;
    readPos += m;
}

void FrameStream::Analyse()
{
    const int n = frameSize;
    const float* in[2] = {inA.get() + start_, inB.get() + start_};
    for (int k = 0; k < 2; ++k) {
        float* s = spectrum[k].get();
        if (reference_) {
            for (int j = 0; j < n; ++j) {
                s[2 * j] = in[k][j] * window[j];
                s[2 * j + 1] = 0.0f;
            }
            fwdFft_.Transform(s);
        } else {
            Window(in[k], window.get(), frame_[k].get(), n);
            realFft_.Forward(frame_[k].get(), s);
        }
    }
}

void FrameStream::Synthesise()
{
    const int n = frameSize;
    for (int k = 0; k < outputs; ++k) {
        float* s = spectrum[k].get();
        float* a = acc[k].get() + start_;
        if (reference_) {
            std::memset(s + n, 0, sizeof(float) * static_cast<size_t>(n));
            invFft_.Transform(s);
            for (int j = 0; j < n; ++j)
                a[j] = a[j] + s[2 * j] * kSynthesisGain * window[j] / static_cast<float>(overlap);
        } else {
            // Bins n/2 .. n - 1 are zero: the real part of the inverse is then
            // half the Hermitian inverse of bins 1 .. n/2 - 1 plus the whole DC bin.
            s[n] = s[n + 1] = 0.0f;
            s[0] *= 2.0f;
            s[1] = 0.0f;
            realFft_.Inverse(s, frame_[k].get());
            OverlapAdd(a, frame_[k].get(), synthesis_.get(), n);
        }
    }
    Advance();
}

void FrameStream::AnalysePacked()
{
    const float* in[2] = {inA.get() + start_, inB.get() + start_};
    for (int k = 0; k < 2; ++k) {
        Window(in[k], window.get(), frame_[k].get(), frameSize);
        realFft_.ForwardPoints(frame_[k].get(), spectrum[k].get());
    }
}

void FrameStream::SynthesisePacked()
{
    realFft_.InversePoints(spectrum[0].get(), frame_[0].get());
    OverlapAdd(acc[0].get() + start_, frame_[0].get(), synthesis_.get(), frameSize);
    Advance();
}

void FrameStream::Advance()
{
    writePos -= hop;
    readPos -= hop;
    start_ += hop;
    if (start_ + frameSize <= 2 * frameSize) return;
    // Back to the start: what the next frames still need is the history
    // written so far and the accumulators' sums; the rest of each
    // accumulator, beyond what frames have added to, is zero.
    const size_t kept = static_cast<size_t>(writePos);
    std::memmove(inA.get(), inA.get() + start_, sizeof(float) * kept);
    std::memmove(inB.get(), inB.get() + start_, sizeof(float) * kept);
    for (int k = 0; k < outputs; ++k) {
        float* a = acc[k].get();
        std::memmove(a, a + start_, sizeof(float) * kept);
        std::memset(a + kept, 0, sizeof(float) * (2 * static_cast<size_t>(frameSize) - kept));
    }
    start_ = 0;
}

void FrameStream::Reset()
{
    if (!Configured()) return;
    const size_t n = static_cast<size_t>(frameSize);
    std::memset(inA.get(), 0, sizeof(float) * 2 * n);
    std::memset(inB.get(), 0, sizeof(float) * 2 * n);
    for (int k = 0; k < 2; ++k) {
        if (k < outputs) std::memset(acc[k].get(), 0, sizeof(float) * 2 * n);
        std::memset(spectrum[k].get(), 0, sizeof(float) * 2 * n);
        std::memset(frame_[k].get(), 0, sizeof(float) * n);
    }
    readPos = 0;
    writePos = frameSize - hop;
    start_ = 0;
}
