#include "ResidualSuppressor.h"

#include "SampleMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace cleanup {

namespace {

// Decision-directed smoothing of the voice's share: how much of the last
// frame's estimate carries into this one.
constexpr float kCarry = 0.9f;
// The pause decision: how much of the last frame's voice presence carries
// into this one, and how much of the next frame's reaches back.
constexpr float kPresenceRelease = 0.7f;
constexpr float kPresenceLookAhead = 0.5f;
// The smoothing of the reference power over frames: at least this share of
// the last frame's value.
constexpr float kReferenceDecay = 0.5f;
// The band the pause decision and the leak figure look at, Hz.
constexpr double kVoiceLoHz = 300, kVoiceHiHz = 4000;
// A band of the leak model needs this many frames with reference in it.
constexpr int kMinFrames = 8;
// The share of the collected frames the leak is measured on: those where the
// voice band stands lowest against the reference. The blocks with least
// voice may still hold some at their edges, or softly throughout when the
// song has few pauses.
constexpr double kVoiceFreeShare = 0.3;
// The noise floor of a band: this quantile of its power over those frames.
constexpr double kFloorQuantile = 0.1;
// The pause decision: the voice band must stand this many times above the
// expected residue before the voice counts as present at all (a pause's
// residue swings above its expectation at the accompaniment's transients).
constexpr double kPresenceMargin = 4;
// Bins above the karaoke's bandwidth follow the share of the band from this
// fraction of the cutoff up to it.
constexpr double kShareBandStart = 0.66;

int BinOf(double hz, int sampleRate)
{
    return std::clamp(int(hz / sampleRate * kFrame), 0, kBins);
}

// Whether the band starting at bin `first` lies in the voice band.
bool InVoiceBand(int first, int sampleRate)
{
    const double hz = double(first) * sampleRate / kFrame;
    return hz >= kVoiceLoHz && hz < kVoiceHiHz;
}

bool MakeWindow(SampleArray<float>& window)
{
    if (!buffer_util::AllocateAligned(window, kFrame)) return false;
    // Periodic Hann, square-rooted: analysis times synthesis is Hann, whose
    // copies at half-frame steps add up to one.
    for (int j = 0; j < kFrame; ++j)
        window[j] = float(std::sqrt(0.5 - 0.5 * std::cos(2 * std::numbers::pi * j / kFrame)));
    return true;
}

// power[k] = |spectrum bin k|^2 of the windowed frame `in`.
void Analyse(const CRealFFT& fft, const float* in, const float* window, float* frame, float* spectrum, float* power)
{
    for (int j = 0; j < kFrame; ++j) frame[j] = in[j] * window[j];
    fft.Forward(frame, spectrum);
    for (int k = 0; k < kBins; ++k) power[k] = spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
}

template <typename T>
T Quantile(std::vector<T> v, double q)
{
    const size_t i = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(i), v.end());
    return v[i];
}

} // namespace

std::vector<int> BandEdges(int sampleRate)
{
    std::vector<int> edges{0};
    for (double hz = 50; hz < sampleRate / 2.0; hz *= std::cbrt(2.0)) {
        const int b = BinOf(hz, sampleRate);
        if (b > edges.back() && b < kBins) edges.push_back(b);
    }
    edges.push_back(kBins);
    return edges;
}

double LeakModel::VoiceBandLeakDb(int sampleRate) const
{
    if (!Valid()) return -200;
    const std::vector<int> edges = BandEdges(sampleRate);
    std::vector<float> inBand;
    for (size_t b = 0; b + 1 < edges.size() && b < leak.size(); ++b)
        if (InVoiceBand(edges[b], sampleRate)) inBand.push_back(leak[b]);
    if (inBand.empty()) return -200;
    const float m = Quantile(inBand, 0.5);
    return m > 0 ? 10 * std::log10(double(m)) : -200;
}

namespace {

// One bin's smoothing from the bins lo .. hi - 1 around it.
SONVELT_ALWAYS_INLINE void SmoothEdgeBin(const float* power, float* smoothed, int k, int bins)
{
    const int lo = std::max(k - 2, 0), hi = std::min(k + 3, bins);
    float sum = 0;
    for (int j = lo; j < hi; ++j) sum += power[j];
    smoothed[k] = std::max(sum / float(hi - lo), kReferenceDecay * smoothed[k]);
}

SONVELT_ALWAYS_INLINE void SmoothReferenceFastBody(const float* power, float* smoothed, int bins)
{
    const int inner = std::min(2, bins), end = std::max(inner, bins - 2);
    for (int k = 0; k < inner; ++k) SmoothEdgeBin(power, smoothed, k, bins);
    for (int k = inner; k < end; ++k) {
        const float sum = power[k - 2] + power[k - 1] + power[k] + power[k + 1] + power[k + 2];
        smoothed[k] = std::max(sum / 5.0f, kReferenceDecay * smoothed[k]);
    }
    for (int k = end; k < bins; ++k) SmoothEdgeBin(power, smoothed, k, bins);
}

SONVELT_MULTI_ISA(void, SmoothReferenceFast, (const float* power, float* smoothed, int bins), (power, smoothed, bins))

} // namespace

void SmoothReference(const float* power, float* smoothed, int bins)
{
    SmoothReferenceFast(power, smoothed, bins);
}

void SmoothReferenceReference(const float* power, float* smoothed, int bins)
{
    float window = 0;
    int lo = 0, hi = 0; // power[lo .. hi) summed in window
    for (int k = 0; k < bins; ++k) {
        while (hi < std::min(bins, k + 3)) window += power[hi++];
        while (lo < k - 2) window -= power[lo++];
        const float mean = std::max(window, 0.0f) / float(hi - lo);
        smoothed[k] = std::max(mean, kReferenceDecay * smoothed[k]);
    }
}

// ---------------------------------------------------------------- estimator

int LeakEstimator::Setup(int sampleRate)
{
    sampleRate_ = sampleRate;
    edges_ = BandEdges(sampleRate);
    bands_.assign(kBins, 0);
    voiceBand_.assign(edges_.size() - 1, false);
    for (size_t b = 0; b + 1 < edges_.size(); ++b) {
        for (int k = edges_[b]; k < edges_[b + 1]; ++k) bands_[size_t(k)] = int(b);
        voiceBand_[b] = InVoiceBand(edges_[b], sampleRate);
    }
    bandVoice_.clear();
    bandReference_.clear();
    referenceSum_.assign(kBins, 0.0);
    if (!MakeWindow(window_) || !buffer_util::AllocateAligned(frame_, kFrame) ||
        !buffer_util::AllocateAligned(spectrum_, kFrame + 2) || !buffer_util::AllocateAligned(power_, 2 * kBins) ||
        !buffer_util::AllocateAligned(smoothed_, kBins) || fft_.Init(kFrame) != 0)
        return 1;
    return 0;
}

void LeakEstimator::AddStretch(const float* voice, const float* reference, int count)
{
    if (fft_.size == 0) return;
    const size_t nb = edges_.size() - 1;
    std::fill(smoothed_.get(), smoothed_.get() + kBins, 0.0f);
    float* refPower = power_.get() + kBins;
    for (int at = 0; at + kFrame <= count; at += kHop) {
        Analyse(fft_, reference + at, window_.get(), frame_.get(), spectrum_.get(), refPower);
        SmoothReference(refPower, smoothed_.get(), kBins);
        Analyse(fft_, voice + at, window_.get(), frame_.get(), spectrum_.get(), power_.get());
        const size_t row = bandVoice_.size();
        bandVoice_.resize(row + nb, 0.0f);
        bandReference_.resize(row + nb, 0.0f);
        for (int k = 0; k < kBins; ++k) {
            const size_t b = row + size_t(bands_[size_t(k)]);
            bandVoice_[b] += power_[k];
            bandReference_[b] += smoothed_[k];
            referenceSum_[size_t(k)] += refPower[k];
        }
    }
}

LeakModel LeakEstimator::Estimate() const
{
    LeakModel m;
    const size_t nb = edges_.size() - 1;
    const int frames = nb > 0 ? Frames() : 0;
    if (frames < kMinFrames) return m;
    // The frames where the voice band holds least against the reference.
    std::vector<float> share(size_t(frames), 0.0f);
    for (int f = 0; f < frames; ++f) {
        double v = 0, r = 0;
        for (size_t b = 0; b < nb; ++b)
            if (voiceBand_[b]) {
                v += bandVoice_[size_t(f) * nb + b];
                r += bandReference_[size_t(f) * nb + b];
            }
        share[size_t(f)] = r > 1e-3 ? float(v / r) : std::numeric_limits<float>::max();
    }
    const size_t keep = std::max<size_t>(kMinFrames, size_t(kVoiceFreeShare * frames));
    std::vector<float> order(share);
    std::nth_element(order.begin(), order.begin() + long(keep - 1), order.end());
    const float limit = order[keep - 1];
    std::vector<int> used;
    for (int f = 0; f < frames && used.size() < keep; ++f)
        if (share[size_t(f)] <= limit) used.push_back(f);

    m.leak.assign(nb, 0.0f);
    m.noise.assign(nb, 0.0f);
    std::vector<float> ratios, power;
    for (size_t b = 0; b < nb; ++b) {
        ratios.clear();
        power.clear();
        for (int f : used) {
            const float v = bandVoice_[size_t(f) * nb + b], r = bandReference_[size_t(f) * nb + b];
            if (r > 1e-3f) ratios.push_back(v / r);
            power.push_back(v);
        }
        if (int(ratios.size()) >= kMinFrames) m.leak[b] = Quantile(ratios, 0.5);
        const int width = edges_[b + 1] - edges_[b];
        m.noise[b] = Quantile(power, kFloorQuantile) / float(width);
    }
    // The karaoke's bandwidth: the last bin whose power is within 60 dB of
    // the mean of the 2 to 8 kHz bins (a codec's cutoff leaves almost nothing
    // above it).
    const int lo = BinOf(2000, sampleRate_), hi = std::max(lo + 1, BinOf(8000, sampleRate_));
    double mid = 0;
    for (int k = lo; k < hi; ++k) mid += referenceSum_[size_t(k)];
    mid /= hi - lo;
    int last = kBins - 1;
    while (last > hi && referenceSum_[size_t(last)] <= 1e-6 * mid) --last;
    if (mid > 0 && last + 1 < kBins - 8) m.cutoffBin = last + 1;
    return m;
}

// --------------------------------------------------------------- suppressor

void ResidualSuppressor::WienerGains(const float* voicePower, const float* expected, float* previous, float* gain,
                                     int bins, float floor)
{
    for (int k = 0; k < bins; ++k) {
        const float e = expected[k];
        const float posterior = voicePower[k] / e;
        const float prior = kCarry * previous[k] / e + (1 - kCarry) * std::max(posterior - 1.0f, 0.0f);
        const float g = std::max(prior / (1 + prior), floor);
        gain[k] = g;
        previous[k] = g * g * voicePower[k];
    }
}

void ResidualSuppressor::Release()
{
    channels_ = 0;
    for (Channel& c : ch_) c = Channel{};
}

int ResidualSuppressor::Setup(int channels, int sampleRate, const LeakModel& model)
{
    Release();
    if (channels < 1 || channels > 2 || !model.Valid() || sampleRate <= 0) return 1;
    const std::vector<int> edges = BandEdges(sampleRate);
    if (model.leak.size() + 1 != edges.size()) return 1;
    leakPerBin_.assign(kBins, 0.0f);
    noisePerBin_.assign(kBins, 0.0f);
    for (size_t b = 0; b + 1 < edges.size(); ++b)
        for (int k = edges[b]; k < edges[b + 1]; ++k) {
            leakPerBin_[size_t(k)] = kResidueScale * model.leak[b];
            noisePerBin_[size_t(k)] = kResidueScale * model.noise[b];
        }
    cutoffBin_ = std::clamp(model.cutoffBin, 1, kBins);
    voiceLo_ = BinOf(kVoiceLoHz, sampleRate);
    voiceHi_ = std::max(voiceLo_ + 1, std::min(BinOf(kVoiceHiHz, sampleRate), cutoffBin_));
    floor_ = std::pow(10.0f, kFloorDb / 20);
    bool ok = MakeWindow(window_) && buffer_util::AllocateAligned(frame_, kFrame) &&
              buffer_util::AllocateAligned(power_, kBins) && buffer_util::AllocateAligned(expected_, kBins) &&
              fft_.Init(kFrame) == 0;
    for (int c = 0; ok && c < channels; ++c) {
        Channel& h = ch_[c];
        ok = buffer_util::AllocateAligned(h.voiceIn, kFrame) && buffer_util::AllocateAligned(h.refIn, kFrame) &&
             buffer_util::AllocateAligned(h.acc, kFrame) && buffer_util::AllocateAligned(h.out, kHop) &&
             buffer_util::AllocateAligned(h.smoothedRef, kBins) && buffer_util::AllocateAligned(h.previous, kBins);
        for (int j = 0; ok && j < 2; ++j)
            ok = buffer_util::AllocateAligned(h.spectrum[j], kFrame + 2) &&
                 buffer_util::AllocateAligned(h.gain[j], kBins);
    }
    if (!ok) {
        Release();
        return 1;
    }
    channels_ = channels;
    Reset();
    return 0;
}

void ResidualSuppressor::Reset()
{
    if (!Active()) return;
    fill_ = 0;
    havePrevious_ = false;
    presence_ = rawPresence_ = 0;
    current_ = 0;
    for (int c = 0; c < channels_; ++c) {
        Channel& h = ch_[c];
        std::fill(h.voiceIn.get(), h.voiceIn.get() + kFrame, 0.0f);
        std::fill(h.refIn.get(), h.refIn.get() + kFrame, 0.0f);
        std::fill(h.acc.get(), h.acc.get() + kFrame, 0.0f);
        std::fill(h.out.get(), h.out.get() + kHop, 0.0f);
        std::fill(h.smoothedRef.get(), h.smoothedRef.get() + kBins, 0.0f);
        std::fill(h.previous.get(), h.previous.get() + kBins, 0.0f);
    }
}

void ResidualSuppressor::Process(int32_t* const* voice, const float* const* ref, int start, int count)
{
    if (!Active()) return;
    constexpr int kNew = kFrame - kHop; // where the current hop's inputs go
    int i = 0;
    while (i < count) {
        const int m = std::min(count - i, kHop - fill_);
        for (int c = 0; c < channels_; ++c) {
            Channel& h = ch_[c];
            int32_t* v = voice[c] + start + i;
            const float* r = ref[c] + start + i;
            for (int j = 0; j < m; ++j) {
                h.voiceIn[kNew + fill_ + j] = float(v[j]);
                h.refIn[kNew + fill_ + j] = r[j];
                v[j] = int32_t(std::lrint(h.out[fill_ + j]));
            }
        }
        fill_ += m;
        i += m;
        if (fill_ == kHop) {
            Frame();
            fill_ = 0;
        }
    }
}

void ResidualSuppressor::Frame()
{
    const int cur = current_;
    const int hfLo = std::min(int(kShareBandStart * cutoffBin_), cutoffBin_ - 1);
    double voiceSum = 0, expectedSum = 0;
    for (int c = 0; c < channels_; ++c) {
        Channel& h = ch_[c];
        // The reference's power, smoothed, makes the expected residue.
        Analyse(fft_, h.refIn.get(), window_.get(), frame_.get(), h.spectrum[cur].get(), power_.get());
        SmoothReference(power_.get(), h.smoothedRef.get(), kBins);
        for (int k = 0; k < kBins; ++k)
            expected_[k] = leakPerBin_[size_t(k)] * h.smoothedRef[k] + noisePerBin_[size_t(k)] + 1e-3f;
        Analyse(fft_, h.voiceIn.get(), window_.get(), frame_.get(), h.spectrum[cur].get(), power_.get());
        WienerGains(power_.get(), expected_.get(), h.previous.get(), h.gain[cur].get(), kBins, floor_);
        for (int k = voiceLo_; k < voiceHi_; ++k) {
            voiceSum += power_[k];
            expectedSum += expected_[k];
        }
        double kept = 0, all = 0;
        for (int k = hfLo; k < cutoffBin_; ++k) {
            kept += double(h.gain[cur][k]) * h.gain[cur][k] * power_[k];
            all += power_[k];
        }
        h.share[cur] = all > 0 ? float(std::sqrt(kept / all)) : 0.0f;
        std::memmove(h.voiceIn.get(), h.voiceIn.get() + kHop, sizeof(float) * (kFrame - kHop));
        std::memmove(h.refIn.get(), h.refIn.get() + kHop, sizeof(float) * (kFrame - kHop));
    }
    // Voice presence: how far the voice band stands above the residue expected there.
    const double excess = expectedSum > 0 ? std::max(voiceSum / expectedSum - kPresenceMargin, 0.0) : 1e9;
    const float raw = float(excess / (1 + excess));
    if (havePrevious_) {
        presence_ = std::max({rawPresence_, kPresenceRelease * presence_, kPresenceLookAhead * raw});
        for (int c = 0; c < channels_; ++c) Synthesise(c, presence_);
    }
    rawPresence_ = raw;
    havePrevious_ = true;
    current_ = 1 - current_;
}

void ResidualSuppressor::Synthesise(int c, float presence)
{
    Channel& h = ch_[c];
    const int wait = 1 - current_;
    float* g = h.gain[wait].get();
    float* s = h.spectrum[wait].get();
    const float hf = std::max(std::min(presence, h.share[wait]), floor_);
    for (int k = cutoffBin_; k < kBins; ++k) g[k] = hf;
    const float cap = std::max(presence, floor_);
    for (int k = 0; k < kBins; ++k) {
        const float gk = std::min(g[k], cap);
        s[2 * k] *= gk;
        s[2 * k + 1] *= gk;
    }
    fft_.Inverse(s, frame_.get());
    constexpr float scale = 1.0f / kFrame;
    for (int j = 0; j < kFrame; ++j) h.acc[j] += frame_[j] * window_[j] * scale;
    std::memcpy(h.out.get(), h.acc.get(), sizeof(float) * kHop);
    std::memmove(h.acc.get(), h.acc.get() + kHop, sizeof(float) * (kFrame - kHop));
    std::fill(h.acc.get() + (kFrame - kHop), h.acc.get() + kFrame, 0.0f);
}

} // namespace cleanup
