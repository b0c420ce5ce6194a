// The parts a processing buffer (TVocalFunc) delegates to, and what they see
// of it. Every part has one life: it is set up for the buffer (its own Setup,
// which leaves it bypassed when it fails), processes ranges of the block,
// can be started anew by Reset, and tells by how many frames it delays what
// it writes (Latency, 0 while bypassed). The buffer's delay is the sum over
// its parts.
//
// The finishing stages run on the output in place, in the order the buffer
// lists them, after the karaoke has been removed; each sees the original and,
// after a precise read, the karaoke as it was aligned for the removal.
#pragma once

#include "SearchKernels.h"

#include <cstdint>

// The frame scheme of the buffer's spectral parts (the frequency merge and
// the centre focus): frames of 8192 samples, hop 1024. Each delays by
// 8192 - 1024 = 7168 samples.
inline constexpr int kSpectralFrameSize = 8192;
inline constexpr int kSpectralOverlap = 8;

// What the parts see of the processing buffer: its shape, its sample arrays
// and the kernels chosen. The buffer fills it when it is set up; a part keeps
// a pointer to it, so it always sees the arrays of the moment.
struct BufferView {
    int channels = 0;
    int sampleRate = 0;
    int blockLen = 0;
    int karaokeLen = 0;
    int32_t* orig[2] = {};
    int32_t* origMono = nullptr;
    int32_t* kar[2] = {};
    int32_t* karMono = nullptr;
    int32_t* out[2] = {};
    int32_t* filterScratch = nullptr; // blockLen samples
    // The karaoke the last precise read aligned with the original
    // (aligned[c][i] belongs with orig[c][i]); null while the buffer has no
    // precise reader.
    float* aligned[2] = {};
    search::Impl impl = search::Impl::Fast;
};

class BufferPart {
public:
    virtual ~BufferPart() = default;
    // Starts the part's stream anew; its configuration stays.
    virtual void Reset() = 0;
    // Frames by which the part delays what it writes; 0 while bypassed.
    virtual int Latency() const = 0;
};

// A stage of the output's finishing.
class FinishingStage : public BufferPart {
public:
    // Runs out[c][start .. start + count) through the stage in place (the
    // range clipped to the block); a bypassed stage leaves it alone.
    virtual void Process(int start, int count) = 0;
    // Set up, so Process changes the output.
    virtual bool Active() const = 0;
};
