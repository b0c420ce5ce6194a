#include "PairReader.h"

#include "Twave.h"

#include <algorithm>
#include <cstring>

PairReader::PairReader(TWaveData& original, TWaveData& karaoke)
    : original_(original), karaoke_(karaoke), channels_(original.Format.nChannels),
      sampleRate_(int(original.Format.nSamplesPerSec))
{
}

int64_t PairReader::OriginalFrames() const
{
    return original_.ReadableFrames();
}

int64_t PairReader::KaraokeFrames() const
{
    return karaoke_.ReadableFrames();
}

int32_t PairReader::ReadOriginal(int64_t first, int16_t* pcm, int frames)
{
    return Read(original_, first, pcm, Bytes(frames));
}

int32_t PairReader::ReadKaraoke(int64_t first, int16_t* pcm, int frames)
{
    return Read(karaoke_, first, pcm, Bytes(frames));
}

int32_t PairReader::Read(TWaveData& file, int64_t first, int16_t* pcm, int32_t bytes)
{
    if (bytes <= 0) return 0;
    file.SeekFrame(first);
    const int32_t got = std::max(file.Read(pcm, bytes), 0);
    if (got < bytes) std::memset(reinterpret_cast<char*>(pcm) + got, 0, size_t(bytes - got));
    return got;
}
