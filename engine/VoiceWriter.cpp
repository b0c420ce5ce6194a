#include "VoiceWriter.h"

#include "Twave.h"

#include <algorithm>

VoiceWriter::VoiceWriter(TWaveData* output, int channels, int64_t latency, int64_t total)
    : output_(output), channels_(channels), latency_(std::max<int64_t>(latency, 0)),
      total_(std::max<int64_t>(total, 0))
{
}

bool VoiceWriter::Write(const int16_t* pcm, int frames)
{
    if (frames <= 0) return true;
    int64_t skip = std::min<int64_t>(latency_ - skipped_, frames);
    skipped_ += skip;
    const int64_t n = std::min<int64_t>(frames - skip, total_ - written_);
    if (n <= 0) return true;
    const int32_t bytes = int32_t(n * channels_ * 2);
    if (output_->Write(pcm + skip * channels_, bytes) != bytes) return false;
    written_ += n;
    return true;
}

void VoiceWriter::LimitTotal(int64_t total)
{
    total_ = std::max(std::min(total_, total), written_);
}
