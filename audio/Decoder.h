// Reading the compressed and non-16-bit formats people hold (FLAC, MP3,
// AAC/M4A, Ogg Vorbis, Opus, AIFF, WAVE of other depths, float and
// extensible) by decoding them once into a 16-bit PCM WAVE file, which is then
// read like any other input. Also writes FLAC from a finished WAVE file.
//
// No Qt here: the command line and the window use it alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct AudioInfo {
    std::string container; // short name for people: "WAVE", "FLAC", "MP3", "AAC", "Vorbis", "Opus", "AIFF"...
    std::string codec;     // the decoder's name, e.g. "pcm_s24le", "flac", "mp3float"
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;          // bits per stored sample; 0 for lossy codecs
    bool isFloat = false;  // samples stored as floating point
    int64_t bitRate = 0;   // bits per second, 0 when unknown
    double seconds = 0;    // duration, 0 when unknown
};

// Result codes of the functions below.
enum DecodeResult : int {
    kDecodeOk = 0,
    kDecodeCannotOpen = 1, // the file cannot be opened or read
    kDecodeNotAudio = 2,   // no decodable audio in it
    kDecodeFailed = 3,     // decoding or writing the WAVE file failed
    kDecodeCancelled = 4,
};

// The sampling rates an input may have. Outside them a header is damaged or
// the file is not meant to be heard (a 1 Hz file converted to 44.1 kHz would
// need gigabytes).
inline constexpr int64_t kMinSampleRate = 1000, kMaxSampleRate = 768000;

// Empty when an input of `rate` frames per second can be read, else why not.
inline std::string SampleRateProblem(int64_t rate) {
    if (rate >= kMinSampleRate && rate <= kMaxSampleRate) return {};
    return std::to_string(rate) + " Hz: the sampling rate must be " + std::to_string(kMinSampleRate) + " to " +
           std::to_string(kMaxSampleRate) + " Hz";
}

// What a decode read, so that a damaged or cut file can be named.
struct DecodeReport {
    int64_t frames = 0;         // frames written, at the output's rate
    int rate = 0;               // the output's rate
    double statedSeconds = 0;   // the length the file states; 0 when it states none (or a guess from its size)
    int64_t packetsSkipped = 0; // packets the decoder refused as damaged
    bool readError = false;     // reading stopped at damage before the end of the file

    double Seconds() const { return rate > 0 ? double(frames) / rate : 0.0; }
    // Whether less than the whole recording could be decoded. A decoded
    // length may fall short of the stated one by a codec's padding, never by
    // more than kLengthSlack.
    bool Incomplete() const { return packetsSkipped > 0 || readError || Seconds() < statedSeconds - kLengthSlack; }
    static constexpr double kLengthSlack = 0.1;
};

// Asked between packets while a file is decoded, with the share of the file
// read so far (0 to 1); true stops the decode.
using DecodeProgress = std::function<bool(double share)>;

// Looks at `path` without decoding it all. `error`, when given, receives a
// one-line English reason on failure.
int ProbeAudio(const std::string& path, AudioInfo& info, std::string* error = nullptr);

// Decodes the first audio stream of `path` into a 16-bit PCM WAVE file at
// `wavePath` with `targetRate` frames per second and `targetChannels` (1 or
// 2) channels. Samples are rounded to 16 bits and clipped; a different rate
// is converted with a high-quality resampler (see Decoder.cpp), mono becomes
// stereo by copying and stereo becomes mono by averaging; NaN samples become
// silence and infinities full scale. Damaged stretches in the middle of a
// file are skipped; a file that ends early gives a shorter WAVE file; either
// shows in `report`, when given. `wavePath` is made new, as a temporary is
// (TWaveData::CreateNew): nothing may have that name yet. `progress` is
// asked between packets and may stop the decode. Samples at the output's
// rate are converted directly; another rate goes through the resampler.
int DecodeToWave(const std::string& path, const std::string& wavePath, int targetRate, int targetChannels,
                 std::string* error = nullptr, const DecodeProgress& progress = {},
                 DecodeReport* report = nullptr);

// Encodes the 16-bit PCM WAVE file open at `waveFd` to FLAC, written into
// the empty file open for writing at `flacFd`: the caller opens (and names)
// both, so no path is opened here. Both descriptors stay the caller's.
// `error`, when given, receives a one-line reason on failure.
int EncodeWaveToFlac(int waveFd, int flacFd, std::string* error = nullptr);

// The passband and stopband of the resampler, as fractions of the output's
// Nyquist frequency (for messages and tests).
inline constexpr double kResamplePassband = 0.97;
inline constexpr double kResampleStopband = 1.0;
