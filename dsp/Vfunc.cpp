#include "Vfunc.h"

#include "BufferUtil.h"

#include "SampleMath.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

using buffer_util::Allocate;
using buffer_util::ClipRange;

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();


// Installed memory in bytes, or the largest value when it cannot be told.
uint64_t PhysicalMemory()
{
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
#endif
    return std::numeric_limits<uint64_t>::max();
}

} // namespace

TVocalFunc::TVocalFunc() = default;

TVocalFunc::~TVocalFunc()
{
    Release();
}

void TVocalFunc::Release()
{
    spectral_.Release(); // the workers stop before any array is freed
    precise_.Release();
    clean.Release(); // its arrays are sized for the block
    origPcm.reset();
    karPcm.reset();
    outPcm.reset();
    for (int c = 0; c < 2; ++c) {
        orig[c].reset();
        kar[c].reset();
        karOvsp[c].reset();
        out[c].reset();
    }
    origMono.reset();
    karMono.reset();
    karMonoOvsp.reset();
    filterScratch.reset();
    gainScratch.reset();
    ovspFraction_.reset();
    blockLen = karaokeLen = 0;
    origPcmBytes = karPcmBytes = outPcmBytes = 0;
    const search::Impl impl = view_.impl;
    view_ = BufferView{};
    view_.impl = impl;
}

int TVocalFunc::Setup(int channelCount, int rate, double blockSeconds, int factor)
{
    Release();
    channels = channelCount;
    sampleRate = rate;
    ovspFactor = factor;
    karaokeSign = 1;
    if (channelCount < 1 || channelCount > 2 || rate < 1 || factor < 1) return 1;

    const double frames = static_cast<double>(rate) * blockSeconds;
    const double karaokeFrames = frames * 1.5;
    // Also rejects NaN and infinities.
    if (!(frames >= 1.0) || !(karaokeFrames < 2147483648.0)) return 1;
    const int64_t block = static_cast<int64_t>(frames);
    const int64_t karaoke = static_cast<int64_t>(karaokeFrames);
    const int64_t pcmKaraokeBytes = karaoke * channelCount * 2;
    const int64_t oversampled = karaoke * factor;
    // Every array's size in bytes fits a 32-bit count, like the byte counts
    // the buffer reports, so every index fits an int as well.
    if (pcmKaraokeBytes > kInt32Max || karaoke * 4 > kInt32Max || oversampled * 4 > kInt32Max ||
        int64_t(factor) * 8 > kInt32Max)
        return 1;

    // Everything below, in bytes: refuse what the machine cannot hold rather
    // than fail later while the arrays are filled.
    const uint64_t int32Entries = 2u * static_cast<uint64_t>(block) * 2u        // orig, out
                                  + 2u * static_cast<uint64_t>(karaoke)          // kar
                                  + 3u * static_cast<uint64_t>(oversampled)      // karOvsp, karMonoOvsp
                                  + 2u * static_cast<uint64_t>(block)            // origMono, filterScratch
                                  + static_cast<uint64_t>(karaoke);              // karMono
    const uint64_t totalBytes = int32Entries * 4u + 4u * static_cast<uint64_t>(block) * sizeof(double) + // gainScratch
                                static_cast<uint64_t>(pcmKaraokeBytes) +
                                2u * static_cast<uint64_t>(block * channelCount * 2) +
                                static_cast<uint64_t>(factor) * sizeof(double);
    if (totalBytes > PhysicalMemory()) return 1;

    bool ok = true;
    for (int c = 0; c < 2; ++c) {
        ok = ok && Allocate(orig[c], block);
        ok = ok && Allocate(kar[c], karaoke);
        ok = ok && Allocate(karOvsp[c], oversampled);
        ok = ok && Allocate(out[c], block);
    }
    ok = ok && Allocate(origPcm, block * channelCount);
    ok = ok && Allocate(karPcm, karaoke * channelCount);
    ok = ok && Allocate(outPcm, block * channelCount);
    ok = ok && Allocate(origMono, block);
    ok = ok && Allocate(karMono, karaoke);
    ok = ok && Allocate(karMonoOvsp, oversampled);
    ok = ok && Allocate(filterScratch, block);
    ok = ok && Allocate(gainScratch, 4 * block);
    ok = ok && Allocate(ovspFraction_, factor);
    if (!ok) {
        Release();
        return 1;
    }
    for (int l = 0; l < factor; ++l) ovspFraction_[l] = static_cast<double>(l) / static_cast<double>(factor);

    blockLen = static_cast<int32_t>(block);
    karaokeLen = static_cast<int32_t>(karaoke);
    origPcmBytes = outPcmBytes = static_cast<int32_t>(block * channelCount * 2);
    karPcmBytes = static_cast<int32_t>(pcmKaraokeBytes);

    view_.channels = channels;
    view_.sampleRate = sampleRate;
    view_.blockLen = blockLen;
    view_.karaokeLen = karaokeLen;
    for (int c = 0; c < 2; ++c) {
        view_.orig[c] = orig[c].get();
        view_.kar[c] = kar[c].get();
        view_.out[c] = out[c].get();
    }
    view_.origMono = origMono.get();
    view_.karMono = karMono.get();
    view_.filterScratch = filterScratch.get();
    return 0;
}

void TVocalFunc::SetKaraokeInvert(bool invert)
{
    karaokeSign = invert ? -1 : 1;
}

void TVocalFunc::ClearBuffers()
{
    if (blockLen <= 0) return;
    const size_t block = static_cast<size_t>(blockLen);
    const size_t karaoke = static_cast<size_t>(karaokeLen);
    for (int c = 0; c < 2; ++c) {
        std::memset(orig[c].get(), 0, block * sizeof(int32_t));
        std::memset(kar[c].get(), 0, karaoke * sizeof(int32_t));
    }
    std::memset(origPcm.get(), 0, static_cast<size_t>(origPcmBytes));
    std::memset(karPcm.get(), 0, static_cast<size_t>(karPcmBytes));
    std::memset(origMono.get(), 0, block * sizeof(int32_t));
    std::memset(karMono.get(), 0, karaoke * sizeof(int32_t));
}

void TVocalFunc::UnpackInput()
{
    UnpackInput(blockLen, karaokeLen);
}

namespace {

// Interleaved 16-bit frames to one or two 32-bit channel arrays, times sign.
void Deinterleave(const int16_t* pcm, int channels, int frames, int32_t sign, int32_t* left, int32_t* right)
{
    if (channels >= 2) {
        for (int i = 0; i < frames; ++i) {
            left[i] = pcm[2 * i] * sign;
            right[i] = pcm[2 * i + 1] * sign;
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            left[i] = pcm[i] * sign;
            right[i] = 0;
        }
    }
}

} // namespace

void TVocalFunc::UnpackInput(int origFrames, int karFrames)
{
    UnpackRange(0, origFrames, 0, karFrames);
}

void TVocalFunc::UnpackRange(int origStart, int origCount, int karStart, int karCount)
{
    if (channels < 1 || channels > 2) return;
    int from = 0, n = 0;
    ClipRange(origStart, origCount, blockLen, from, n);
    if (n > 0)
        Deinterleave(origPcm.get() + from * channels, channels, n, 1, orig[0].get() + from, orig[1].get() + from);
    ClipRange(karStart, karCount, karaokeLen, from, n);
    if (n > 0)
        Deinterleave(karPcm.get() + from * channels, channels, n, karaokeSign, kar[0].get() + from,
                     kar[1].get() + from);
}

void TVocalFunc::MakeSide()
{
    MakeSide(blockLen, karaokeLen);
}

void TVocalFunc::MakeSide(int origFrames, int karFrames)
{
    const int n = std::clamp(origFrames, 0, blockLen), m = std::clamp(karFrames, 0, karaokeLen);
    for (int i = 0; i < n; ++i) origMono[i] = orig[0][i] - orig[1][i];
    for (int i = 0; i < m; ++i) karMono[i] = kar[0][i] - kar[1][i];
}

void TVocalFunc::MakeMid()
{
    MakeMid(blockLen, karaokeLen);
}

void TVocalFunc::MakeMid(int origFrames, int karFrames)
{
    const int n = std::clamp(origFrames, 0, blockLen), m = std::clamp(karFrames, 0, karaokeLen);
    for (int i = 0; i < n; ++i) origMono[i] = orig[0][i] + orig[1][i];
    for (int i = 0; i < m; ++i) karMono[i] = kar[0][i] + kar[1][i];
}

int32_t TVocalFunc::KarAt(const SampleArray<int32_t>& a, int64_t idx, int64_t len) const
{
    return idx >= 0 && idx < len ? a[idx] : 0;
}

namespace {

// Calls body(i, idx) for i < n with idx = shift + stride * i, telling the body
// whether every idx lies inside 0 .. len - 1 (then it may read without checks).
template <typename Body>
void ForBlock(int n, int64_t shift, int stride, int64_t len, Body body)
{
    const bool inside = n <= 0 || (shift >= 0 && shift + static_cast<int64_t>(stride) * (n - 1) < len);
    if (inside) {
        for (int i = 0; i < n; ++i) body.template operator()<true>(i, shift + static_cast<int64_t>(stride) * i);
    } else {
        for (int i = 0; i < n; ++i) body.template operator()<false>(i, shift + static_cast<int64_t>(stride) * i);
    }
}

} // namespace

void TVocalFunc::SubtractStereo(int shift, double gain)
{
    const int64_t len = karaokeLen;
    for (int c = 0; c < 2; ++c) {
        const int32_t* o = orig[c].get();
        int32_t* y = out[c].get();
        const SampleArray<int32_t>& k = kar[c];
        ForBlock(blockLen, shift, 1, len, [&]<bool Inside>(int i, int64_t idx) {
            const int32_t kv = Inside ? k[idx] : KarAt(k, idx, len);
            y[i] = TruncToInt32(static_cast<double>(o[i]) - static_cast<double>(kv) * gain);
        });
    }
}

void TVocalFunc::SubtractOvspStereo(int shift, double gain)
{
    const int64_t len = static_cast<int64_t>(karaokeLen) * ovspFactor;
    for (int c = 0; c < 2; ++c) {
        const int32_t* o = orig[c].get();
        int32_t* y = out[c].get();
        const SampleArray<int32_t>& k = karOvsp[c];
        ForBlock(blockLen, shift, ovspFactor, len, [&]<bool Inside>(int i, int64_t idx) {
            const int32_t kv = Inside ? k[idx] : KarAt(k, idx, len);
            y[i] = TruncToInt32(static_cast<double>(o[i]) - static_cast<double>(kv) * gain);
        });
    }
}

namespace {

SONVELT_ALWAYS_INLINE int32_t MidValue(int32_t o0, int32_t o1, int32_t k0, int32_t k1, double gain)
{
    const int32_t o = o0 + o1;
    const int32_t k = k0 + k1;
    return TruncToInt32((static_cast<double>(o) - static_cast<double>(k) * gain) * 0.5);
}

} // namespace

void TVocalFunc::SubtractMid(int shift, double gain)
{
    const int64_t len = karaokeLen;
    ForBlock(blockLen, shift, 1, len, [&]<bool Inside>(int i, int64_t idx) {
        const int32_t k0 = Inside ? kar[0][idx] : KarAt(kar[0], idx, len);
        const int32_t k1 = Inside ? kar[1][idx] : KarAt(kar[1], idx, len);
        out[0][i] = out[1][i] = MidValue(orig[0][i], orig[1][i], k0, k1, gain);
    });
}

void TVocalFunc::SubtractOvspMid(int shift, double gain)
{
    const int64_t len = static_cast<int64_t>(karaokeLen) * ovspFactor;
    ForBlock(blockLen, shift, ovspFactor, len, [&]<bool Inside>(int i, int64_t idx) {
        const int32_t k0 = Inside ? karOvsp[0][idx] : KarAt(karOvsp[0], idx, len);
        const int32_t k1 = Inside ? karOvsp[1][idx] : KarAt(karOvsp[1], idx, len);
        out[0][i] = out[1][i] = MidValue(orig[0][i], orig[1][i], k0, k1, gain);
    });
}

void TVocalFunc::PackOutput()
{
    PackOutput(0, blockLen);
}

namespace {

// The soft limiter: above the knee (31129) half the excess is kept, and the
// result is clipped to 16 bits. Values beyond +-65536 are clipped first:
// they come out at the 16-bit limits either way, and the arithmetic below
// then cannot overflow. Free of branches, so the loops vectorise.
SONVELT_ALWAYS_INLINE int16_t Limit(int32_t v)
{
    constexpr int32_t kKnee = 31129;
    v = std::clamp(v, -65536, 65536);
    const int32_t above = kKnee + (v - kKnee) / 2, below = -kKnee + (v + kKnee) / 2;
    v = v > kKnee ? above : v;
    v = v < -kKnee ? below : v;
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

SONVELT_ALWAYS_INLINE void PackStereoBody(const int32_t* left, const int32_t* right, int16_t* pcm, int n)
{
    for (int i = 0; i < n; ++i) {
        pcm[2 * i] = Limit(left[i]);
        pcm[2 * i + 1] = Limit(right[i]);
    }
}
SONVELT_MULTI_ISA(void, PackStereo, (const int32_t* left, const int32_t* right, int16_t* pcm, int n),
                  (left, right, pcm, n))

// The sum of squares of a[0 .. n) in integers (modulo 2^64: it counts only
// where it cannot wrap), and the bits any |a[i]| has (|a| - 1 for negative
// a: only its magnitude's highest bit matters).
SONVELT_ALWAYS_INLINE void SquaresBody(const int32_t* a, int n, uint64_t& sum, uint32_t& bits)
{
    uint64_t s = 0;
    uint32_t b = 0;
    for (int i = 0; i < n; ++i) {
        s += uint64_t(int64_t(a[i]) * a[i]);
        b |= uint32_t(a[i] ^ (a[i] >> 31));
    }
    sum = s;
    bits = b;
}
SONVELT_MULTI_ISA(void, Squares, (const int32_t* a, int n, uint64_t& sum, uint32_t& bits), (a, n, sum, bits))

} // namespace

void TVocalFunc::SumSquares(int start, int count, double& origSum, double& outSum) const
{
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    const int ch = std::clamp(channels, 0, 2);
    uint64_t origInt = 0, outInt = 0;
    uint32_t bits = 0;
    for (int c = 0; c < ch; ++c) {
        uint64_t s = 0;
        uint32_t b = 0;
        Squares(orig[c].get() + from, n, s, b);
        origInt += s;
        bits |= b;
        Squares(out[c].get() + from, n, s, b);
        outInt += s;
        bits |= b;
    }
    // Within +-2^19 every square is below 2^38, so every partial sum of up
    // to 2^15 of them is exact in both forms.
    if (bits < (1u << 19) && int64_t(n) * ch <= (int64_t(1) << 15)) {
        origSum = double(origInt);
        outSum = double(outInt);
        return;
    }
    origSum = outSum = 0;
    for (int c = 0; c < ch; ++c)
        for (int i = from; i < from + n; ++i) {
            origSum += double(orig[c][i]) * orig[c][i];
            outSum += double(out[c][i]) * out[c][i];
        }
}

void TVocalFunc::PackOutput(int start, int count)
{
    const int ch = channels;
    int from = 0, n = 0;
    ClipRange(start, count, blockLen, from, n);
    if (n <= 0) return;
    if (ch == 2) {
        PackStereo(out[0].get() + from, out[1].get() + from, outPcm.get() + 2 * from, n);
        return;
    }
    for (int c = 0; c < std::min(ch, 2); ++c) {
        const int32_t* y = out[c].get();
        for (int i = from; i < from + n; ++i) outPcm[i * ch + c] = Limit(y[i]);
    }
}

namespace {

// dst[k * f + l] = trunc(src[k] + (l / f) * (src[k + 1] - src[k])) for k < n - 1.
// Every value lies between two int32 samples (rounding can only reach past the
// lower one by a fraction, which truncation removes), so the plain conversion
// cannot overflow.
SONVELT_ALWAYS_INLINE void InterpolateBody(const int32_t* src, int n, int f, const double* fraction, int32_t* dst)
{
    int64_t j = 0;
    for (int k = 0; k + 1 < n; ++k) {
        const double base = src[k];
        const double diff = static_cast<double>(src[k + 1]) - base;
        int32_t* d = dst + j;
        for (int l = 0; l < f; ++l) d[l] = static_cast<int32_t>(base + fraction[l] * diff);
        j += f;
    }
}

SONVELT_MULTI_ISA(void, Interpolate,
                  (const int32_t* src, int n, int f, const double* fraction, int32_t* dst),
                  (src, n, f, fraction, dst))

} // namespace

void TVocalFunc::OversampleKaraoke()
{
    OversampleKaraoke(karaokeLen);
}

void TVocalFunc::OversampleKaraoke(int frames)
{
    const int n = std::clamp(frames, 0, karaokeLen);
    for (int c = 0; c < std::min(channels, 2); ++c)
        Interpolate(kar[c].get(), n, ovspFactor, ovspFraction_.get(), karOvsp[c].get());
}

void TVocalFunc::OversampleKaraokeMono()
{
    OversampleKaraokeMono(karaokeLen);
}

void TVocalFunc::OversampleKaraokeMono(int frames)
{
    Interpolate(karMono.get(), std::clamp(frames, 0, karaokeLen), ovspFactor, ovspFraction_.get(), karMonoOvsp.get());
}

int TVocalFunc::SetupLowPass(float attenuationDb, float cutoffHz)
{
    return lowPass.Setup(view_, attenuationDb, cutoffHz);
}

int TVocalFunc::SetupHighPass(float attenuationDb, float cutoffHz)
{
    return highPass.Setup(view_, attenuationDb, cutoffHz);
}

void TVocalFunc::ApplyLowPass(int start, int count)
{
    lowPass.Process(start, count);
}

void TVocalFunc::ApplyHighPass(int start, int count)
{
    highPass.Process(start, count);
}

int TVocalFunc::SetupCenterFocus(float strength)
{
    return centerFocus.Setup(view_, strength);
}

void TVocalFunc::ApplyCenterFocus(int start, int count)
{
    centerFocus.Process(start, count);
}

int TVocalFunc::SetupClean(const cleanup::LeakModel& model, bool mid)
{
    return clean.Setup(view_, model, mid, spectral_.Latency());
}

void TVocalFunc::ApplyFinishing(int start, int count)
{
    for (FinishingStage* stage : finishing_)
        if (stage->Active()) stage->Process(start, count);
}

int TVocalFunc::Latency() const
{
    int frames = 0;
    for (const BufferPart* part : parts_) frames += part->Latency();
    return frames;
}

void TVocalFunc::ResetParts()
{
    for (BufferPart* part : parts_) part->Reset();
}
