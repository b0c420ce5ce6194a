#include "FFT.h"

#include "FftWisdom.h"
#include "SampleMath.h"

#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>
#include <tuple>

using buffer_util::AllocateAligned;

namespace {

enum class PlanKind { ComplexForward, ComplexInverse, RealForward, RealInverse };

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

// The plan for kind and n, made on first use. Complex plans are in-place, real
// ones out-of-place, all for 16-byte aligned arrays unless unaligned is set.
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
            plan = fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(a), reinterpret_cast<fftwf_complex*>(a),
                                     kind == PlanKind::ComplexForward ? FFTW_FORWARD : FFTW_BACKWARD,
                                     flags);
            break;
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

} // namespace

void FrameStream::Release()
{
    frameSize = hop = overlap = outputs = 0;
    readPos = writePos = 0;
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
    const size_t history = static_cast<size_t>(n) + static_cast<size_t>(h);
    const size_t count = static_cast<size_t>(n);
    bool ok = fwdFft_.Init(n, true) == 0 && invFft_.Init(n, false) == 0 && realFft_.Init(n) == 0;
    ok = ok && AllocateAligned(window, count) && AllocateAligned(synthesis_, count);
    ok = ok && AllocateAligned(inA, history) && AllocateAligned(inB, history);
    for (int k = 0; k < 2; ++k) {
        ok = ok && AllocateAligned(spectrum[k], 2 * count) && AllocateAligned(frame_[k], count);
        if (k < outputCount) ok = ok && AllocateAligned(acc[k], history);
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
    return 0;
}

void FrameStream::Feed(const int32_t* a, const int32_t* b, int32_t* outA, int32_t* outB, int m)
{
    float* ia = inA.get() + writePos;
    float* ib = inB.get() + writePos;
    const float* acc0 = acc[0].get() + readPos;
    if (outB != nullptr) {
        const float* acc1 = acc[1].get() + readPos;
        for (int k = 0; k < m; ++k) {
            ia[k] = static_cast<float>(a[k]);
            ib[k] = static_cast<float>(b[k]);
            outA[k] = TruncToInt32(acc0[k]);
            outB[k] = TruncToInt32(acc1[k]);
        }
    } else {
        for (int k = 0; k < m; ++k) {
            ia[k] = static_cast<float>(a[k]);
            ib[k] = static_cast<float>(b[k]);
            outA[k] = TruncToInt32(acc0[k]);
        }
    }
    writePos += m;
    readPos += m;
}

void FrameStream::Analyse()
{
    const int n = frameSize;
    const float* in[2] = {inA.get(), inB.get()};
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
        float* a = acc[k].get();
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
    // Entries n .. n + hop - 1 are never written and stay zero.
    const size_t moved = sizeof(float) * static_cast<size_t>(n);
    std::memmove(inA.get(), inA.get() + hop, moved);
    std::memmove(inB.get(), inB.get() + hop, moved);
    for (int k = 0; k < outputs; ++k) std::memmove(acc[k].get(), acc[k].get() + hop, moved);
    writePos -= hop;
    readPos -= hop;
}

void FrameStream::Reset()
{
    if (!Configured()) return;
    const size_t history = sizeof(float) * static_cast<size_t>(frameSize + hop);
    std::memset(inA.get(), 0, history);
    std::memset(inB.get(), 0, history);
    const size_t n = static_cast<size_t>(frameSize);
    for (int k = 0; k < 2; ++k) {
        if (k < outputs) std::memset(acc[k].get(), 0, history);
        std::memset(spectrum[k].get(), 0, sizeof(float) * 2 * n);
        std::memset(frame_[k].get(), 0, sizeof(float) * n);
    }
    readPos = 0;
    writePos = frameSize - hop;
}
