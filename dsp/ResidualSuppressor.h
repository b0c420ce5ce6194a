// Clean pauses: suppressing the accompaniment that the removal leaves behind.
//
// Where the karaoke is not an exact copy of the original's accompaniment
// (lossy coding, noise, other mastering), subtracting it leaves a residue of
// the accompaniment in the voice. That residue follows the karaoke: it is
// large where the karaoke is loud and absent where the karaoke is silent.
// The suppressor takes the voice and the karaoke as it was subtracted (the
// reference) and, bin by bin, expects a residue of
//
//     leak(band) * |reference|^2 (smoothed over neighbouring bins and frames)
//     + noise(band)
//
// against which a Wiener gain with a decision-directed estimate of the
// voice's share decides how much of each bin is voice. A frame where the
// voice band (300 Hz to 4 kHz) does not stand well above the expected residue
// (four times) is a pause, and every bin is brought down to the gain floor
// there; bins above the karaoke's own bandwidth (a codec's cutoff), which
// have no reference, follow the voice's share of the band below the cutoff.
//
// The leak and noise per band come from `LeakEstimator`, fed with frames the
// analysis judged free of voice.
//
// Frames of 2048 samples every 1024 (square-root Hann windows, so an all-pass
// gain gives back the input exactly); a frame's gains are applied when the
// next frame is known (its pause decision looks one frame ahead). The output
// lags the input by `Latency()` samples; the state carries across calls.
#pragma once

#include "BufferUtil.h"
#include "FFT.h"

#include <cstdint>
#include <vector>

namespace cleanup {

inline constexpr int kFrame = 2048;
inline constexpr int kHop = 1024;
inline constexpr int kBins = kFrame / 2 + 1;

// The frequency bands of the leak model: third-octave bands from 50 Hz, the
// first from 0 Hz. BandEdges(rate) gives the first bin of each band and,
// last, kBins.
std::vector<int> BandEdges(int sampleRate);

// What the analysis measured of the residue in pauses.
struct LeakModel {
    std::vector<float> leak;  // per band: residue power per unit of reference power
    std::vector<float> noise; // per band: residue power that does not follow the reference, per bin
    int cutoffBin = kBins;    // first bin above the karaoke's bandwidth (kBins: none)
    bool Valid() const { return !leak.empty() && leak.size() == noise.size(); }
    // The leak over the voice band as one figure, dB (the median band of
    // 300 Hz to 4 kHz); -200 when there is none.
    double VoiceBandLeakDb(int sampleRate) const;
};

// Per frame and bin, the smoothing of the reference power: the mean over
// bins k - 2 .. k + 2 (those that exist), then at least half of the previous
// frame's value. smoothed holds the previous frame's values on entry. Each
// bin's sum formed on its own, for the active instruction set.
void SmoothReference(const float* power, float* smoothed, int bins);
// The same as one plain loop over a running sum; equal to rounding.
void SmoothReferenceReference(const float* power, float* smoothed, int bins);

// Collects voice-free frames of (voice, reference) and estimates the leak
// model from them.
class LeakEstimator final {
public:
    // 0, or 1 when the arrays or transforms cannot be had.
    int Setup(int sampleRate);
    // Adds the frames of one stretch of `count` samples of one channel (no
    // state carries between stretches).
    void AddStretch(const float* voice, const float* reference, int count);
    // The model, from the frames where the voice band stands lowest against
    // the reference (the lowest 30 %, at least 8): per band the median over
    // them of the band's residue power over its smoothed reference power,
    // and the tenth percentile of the band's residue power as the noise
    // floor. Invalid without enough frames.
    LeakModel Estimate() const;
    int Frames() const { return edges_.size() > 1 ? int(bandVoice_.size() / (edges_.size() - 1)) : 0; }

private:
    std::vector<int> edges_;
    std::vector<int> bands_;           // band of each bin
    std::vector<bool> voiceBand_;      // per band: within the voice band
    std::vector<float> bandVoice_;     // per frame, per band
    std::vector<float> bandReference_; // per frame, per band
    std::vector<double> referenceSum_; // per bin, over all frames
    SampleArray<float> window_, frame_, spectrum_, power_, smoothed_;
    CRealFFT fft_;
    int sampleRate_ = 0;
};

class ResidualSuppressor final {
public:
    // Gain floor and the over-estimate of the expected residue.
    static constexpr float kFloorDb = -40.0f;
    static constexpr float kResidueScale = 1.5f;

    // 0, or 1 when the arrays or transforms cannot be had (the stage then
    // does nothing). channels 1 or 2.
    int Setup(int channels, int sampleRate, const LeakModel& model);
    void Release();
    bool Active() const { return channels_ > 0; }
    // Streams voice[c][start .. start + count) in place, with the reference
    // ref[c][start ..] that was subtracted at the same times; the output lags
    // by Latency(). Nothing happens unless Setup succeeded.
    void Process(int32_t* const* voice, const float* const* ref, int start, int count);
    void Reset();
    int Latency() const { return Active() ? kFrame + kHop : 0; }

    // The per-bin gains of one channel for one frame, plain: Wiener gain
    // from the decision-directed estimate, not below the floor. previous
    // holds |gain * voice|^2 of the last frame and is updated.
    static void WienerGains(const float* voicePower, const float* expected, float* previous, float* gain, int bins,
                            float floor);

private:
    void Frame();
    // Finishes the waiting frame's gains with its pause decision and adds it
    // to the overlap-add; the next kHop output samples are then complete.
    void Synthesise(int c, float presence);

    int channels_ = 0;
    int fill_ = 0;               // samples of the current hop received
    bool havePrevious_ = false;  // a frame waits for its gains to be finished
    float presence_ = 0;         // pause decision of the waiting frame's predecessor
    float rawPresence_ = 0;      // of the waiting frame
    std::vector<float> leakPerBin_, noisePerBin_;
    int cutoffBin_ = kBins;
    int voiceLo_ = 0, voiceHi_ = 0; // the voice band, bins
    float floor_ = 0;
    SampleArray<float> window_;      // analysis and synthesis: square-root Hann
    SampleArray<float> frame_;       // kFrame
    SampleArray<float> power_;       // kBins
    SampleArray<float> expected_;    // kBins
    struct Channel {
        SampleArray<float> voiceIn, refIn; // the last kFrame inputs
        SampleArray<float> acc;            // overlap-add, kFrame
        SampleArray<float> out;            // kHop samples being handed out
        SampleArray<float> smoothedRef;    // kBins
        SampleArray<float> previous;       // kBins, decision-directed state
        SampleArray<float> spectrum[2];    // kFrame + 2 each: the waiting frame and the current one
        SampleArray<float> gain[2];        // kBins each, the same
        float share[2] = {0, 0};           // voice share just below the cutoff, the same
    };
    int current_ = 0; // which of the pairs above holds the current frame
    Channel ch_[2];
    CRealFFT fft_;
};

} // namespace cleanup
