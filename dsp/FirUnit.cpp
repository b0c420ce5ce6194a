#include "FirUnit.h"

#include "SampleMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Output samples computed together in the fast kernel: eight AVX2 or four
// AVX-512 accumulators per coefficient, enough independent additions to hide
// their latency.
constexpr int kLanes = 64;

// out[i] = trunc(sum over j < taps of c[j] * w[i + taps - j]) for i < n, the sum
// in single precision in order of ascending j. Each output keeps its own
// accumulator, so computing many outputs side by side changes no rounding.
SONVELT_ALWAYS_INLINE void FirKernelBody(const float* c, int taps, const float* w, int n, int32_t* out)
{
    int i0 = 0;
    for (; i0 + kLanes <= n; i0 += kLanes) {
        float acc[kLanes] = {};
        const float* base = w + i0 + taps;
        for (int j = 0; j < taps; ++j) {
            const float cj = c[j];
            const float* x = base - j;
            for (int l = 0; l < kLanes; ++l) acc[l] = acc[l] + cj * x[l];
        }
        for (int l = 0; l < kLanes; ++l) out[i0 + l] = TruncToInt32(acc[l]);
    }
    for (; i0 < n; ++i0) {
        float sum = 0.0f;
        const float* x = w + i0 + taps;
        for (int j = 0; j < taps; ++j) sum = sum + c[j] * x[-j];
        out[i0] = TruncToInt32(sum);
    }
}

SONVELT_MULTI_ISA(void, FirKernel,
                  (const float* c, int taps, const float* w, int n, int32_t* out),
                  (c, taps, w, n, out))

} // namespace

CFIRUnit::CFIRUnit() = default;
CFIRUnit::~CFIRUnit() = default;

float CFIRUnit::KaiserBeta(float attenuationDb)
{
    const float a = attenuationDb;
    if (a > 50.0f) return 0.1102f * (a - 8.7f);
    if (a < 21.0f) return 0.0f;
    const float d = a - 21.0f;
    // 0.4 as the single-precision value, widened; the power and the linear term in double.
    return static_cast<float>(0.5842f * std::pow(static_cast<double>(d), 0.4000000059604645) +
                              0.07886 * static_cast<double>(d));
}

float CFIRUnit::BesselI0(float x)
{
    const float h = x / 2.0f;
    float factorial = 1.0f;
    float sum = 0.0f;
    for (int k = 1; k <= 20; ++k) {
        factorial = factorial * static_cast<float>(k);
        const float q = static_cast<float>(std::pow(static_cast<double>(h), k) / factorial);
        sum = sum + q * q;
    }
    return sum + 1.0f;
}

int CFIRUnit::RawOrder(float attenuationDb, float transitionWidth)
{
    const float quotient = (attenuationDb - 8.0f) / (2.285f * transitionWidth);
    const float s = quotient + 1.0f;
    if (!(s < 2147483647.0f)) return kMaxOrder;   // infinite, NaN or beyond int
    if (s <= -2147483648.0f) return 0;
    return static_cast<int>(s);
}

int CFIRUnit::Design(int sampleRate, FilterType type, float attenuationDb, float edgeHighHz, float edgeLowHz)
{
    halfRate_ = static_cast<float>(sampleRate) * 0.5f;
    edgeLow_ = edgeLowHz;
    edgeHigh_ = edgeHighHz;
    attenuationDb_ = attenuationDb;
    filterType_ = type;

    const float transition = (edgeHighHz - edgeLowHz) / halfRate_ * kPi;
    int order = RawOrder(attenuationDb, transition);
    if (order % 2 != 0) ++order;
    order = std::clamp(order, 0, kMaxOrder);
    const int taps = order + 1;

    tapCount_ = 0;
    if (!buffer_util::Allocate(coeffs_, taps) || !buffer_util::Allocate(history_, taps) ||
        !buffer_util::Allocate(work_, taps + kSegment)) {
        coeffs_.reset();
        history_.reset();
        work_.reset();
        return 1;
    }
    tapCount_ = taps;

    const int half = order / 2;
    float wLow = edgeLowHz / halfRate_ * kPi;
    float wHigh = edgeHighHz / halfRate_ * kPi;
    if (type == FilterType::HighPass) {
        // The low-pass prototype mirrored about half the sampling rate.
        wLow = kPi - wLow;
        wHigh = kPi - wHigh;
    }
    const float wc = (wLow + wHigh) * 0.5f;
    const float beta = KaiserBeta(attenuationDb);
    const float i0Beta = BesselI0(beta);

    for (int i = -half; i <= half; ++i) {
        const float r = half > 0 ? static_cast<float>(i) / static_cast<float>(half) : 0.0f;
        const double r2 = static_cast<double>(r) * static_cast<double>(r);
        const float inside = static_cast<float>(1.0 - r2);
        const float x = static_cast<float>(static_cast<double>(beta) * std::sqrt(static_cast<double>(inside)));
        const float window = BesselI0(x) / i0Beta;
        const int m = i + half;
        if (i != 0) {
            const float arg = static_cast<float>(i) * wc;
            const float den = static_cast<float>(i) * kPi;
            coeffs_[m] = static_cast<float>(std::sin(static_cast<double>(arg)) / den * window);
        } else {
            coeffs_[m] = static_cast<float>(static_cast<double>(window) * wc / kPi);
        }
    }
    if (type == FilterType::HighPass) {
        for (int m = 0; m <= order; m += 2) coeffs_[m] = -coeffs_[m];
    }
    return 0;
}

void CFIRUnit::Reset()
{
    if (history_) std::fill(history_.get(), history_.get() + tapCount_, 0);
}

void CFIRUnit::Filter(const int32_t* in, int count, int32_t* out)
{
    if (count <= 0) return;
    if (!Designed()) {
        if (in != out) std::memmove(out, in, sizeof(int32_t) * static_cast<size_t>(count));
        return;
    }
    for (int done = 0; done < count;) {
        const int n = std::min(kSegment, count - done);
        FilterSegment(in + done, n, out + done);
        done += n;
    }
}

void CFIRUnit::FilterSegment(const int32_t* in, int n, int32_t* out)
{
    const int taps = tapCount_;
    float* w = work_.get();
    for (int j = 0; j < taps; ++j) w[j] = static_cast<float>(history_[j]);
    for (int i = 0; i < n; ++i) w[taps + i] = static_cast<float>(in[i]);
    // The history moves on before out is written, since out may be in.
    int32_t* h = history_.get();
    if (n >= taps) {
        std::memcpy(h, in + (n - taps), sizeof(int32_t) * static_cast<size_t>(taps));
    } else {
        std::memmove(h, h + n, sizeof(int32_t) * static_cast<size_t>(taps - n));
        std::memcpy(h + (taps - n), in, sizeof(int32_t) * static_cast<size_t>(n));
    }
    FirKernel(coeffs_.get(), taps, w, n, out);
}

void CFIRUnit::FilterReference(const int32_t* in, int count, int32_t* out)
{
    if (count <= 0) return;
    if (!Designed()) {
        if (in != out) std::memmove(out, in, sizeof(int32_t) * static_cast<size_t>(count));
        return;
    }
    const int taps = tapCount_;
    std::vector<int32_t> work(static_cast<size_t>(taps) + static_cast<size_t>(count));
    std::copy(history_.get(), history_.get() + taps, work.begin());
    std::copy(in, in + count, work.begin() + taps);
    for (int i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int j = 0; j < taps; ++j) sum = sum + coeffs_[j] * static_cast<float>(work[static_cast<size_t>(i + taps - j)]);
        out[i] = TruncToInt32(sum);
    }
    std::copy(work.begin() + count, work.end(), history_.get());
}
