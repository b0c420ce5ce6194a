// Decoding and encoding through FFmpeg's libraries (libavformat, libavcodec,
// libswresample, libavutil).
//
// Rate conversion uses the SoX resampler engine of libswresample at 28-bit
// precision: passband flat up to 97 % of the output's Nyquist frequency
// (21.39 kHz at 44.1 kHz), stopband from the Nyquist frequency on, with an
// attenuation far below the 16-bit noise floor.
#include "Decoder.h"

#include "Twave.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Only demuxers for audio files: nothing that follows playlists or
// references to other files, and only plain files are opened.
constexpr const char* kFormatWhitelist = "wav,w64,flac,mp3,mov,aac,ogg,aiff,matroska,caf";

// The largest WAVE payload our reader accepts without overflowing its sizes.
constexpr int64_t kMaxWaveBytes = 0x7FFFFFFFLL - TWaveData::kHeaderSize - 1;

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string AvError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// Quiet unless something is badly wrong; damaged files are judged by us.
void QuietLogs() {
    static const bool once = [] {
        av_log_set_level(AV_LOG_FATAL);
        return true;
    }();
    (void)once;
}

struct InputFile {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    int stream = -1;
    ~InputFile() {
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
};

bool PlainFileReadable(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    return ::access(path.c_str(), R_OK) == 0;
}

// Opens the container and its best audio stream; with `openDecoder` also the
// decoder. Returns one of the DecodeResult codes.
int OpenInput(const std::string& path, InputFile& in, bool openDecoder, std::string* error) {
    QuietLogs();
    if (!PlainFileReadable(path)) {
        SetError(error, "cannot be opened");
        return kDecodeCannotOpen;
    }
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    av_dict_set(&opts, "format_whitelist", kFormatWhitelist, 0);
    int r = avformat_open_input(&in.fmt, path.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        SetError(error, "not a WAVE, FLAC, MP3, AAC/M4A, Ogg Vorbis, Opus or AIFF file");
        return kDecodeNotAudio;
    }
    r = avformat_find_stream_info(in.fmt, nullptr);
    if (r < 0) {
        SetError(error, "damaged: " + AvError(r));
        return kDecodeNotAudio;
    }
    const AVCodec* codec = nullptr;
    in.stream = av_find_best_stream(in.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (in.stream < 0 || !codec) {
        SetError(error, in.stream == AVERROR_DECODER_NOT_FOUND ? "audio in a coding that cannot be decoded"
                                                                : "no audio in it");
        return kDecodeNotAudio;
    }
    const AVCodecParameters* par = in.fmt->streams[in.stream]->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
        SetError(error, "damaged: no sampling rate or channel count");
        return kDecodeNotAudio;
    }
    if (std::string why = SampleRateProblem(par->sample_rate); !why.empty()) {
        SetError(error, why);
        return kDecodeNotAudio;
    }
    for (unsigned i = 0; i < in.fmt->nb_streams; ++i)
        if (int(i) != in.stream) in.fmt->streams[i]->discard = AVDISCARD_ALL;
    if (!openDecoder) return kDecodeOk;

    in.dec = avcodec_alloc_context3(codec);
    if (!in.dec || avcodec_parameters_to_context(in.dec, par) < 0) {
        SetError(error, "out of memory");
        return kDecodeFailed;
    }
    in.dec->pkt_timebase = in.fmt->streams[in.stream]->time_base;
    // FLAC frames carry a checksum: a frame that fails it is refused, and so
    // counted as damaged, rather than decoded into noise without a word.
    if (codec->id == AV_CODEC_ID_FLAC) in.dec->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    r = avcodec_open2(in.dec, codec, nullptr);
    if (r < 0) {
        SetError(error, "cannot decode it: " + AvError(r));
        return kDecodeNotAudio;
    }
    return kDecodeOk;
}

std::string ContainerName(const AVFormatContext* fmt, AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_FLAC: return "FLAC";
    case AV_CODEC_ID_MP3: return "MP3";
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_OPUS: return "Opus";
    case AV_CODEC_ID_ALAC: return "ALAC";
    default: break;
    }
    const std::string name = fmt->iformat->name;
    if (name == "wav" || name == "w64") return "WAVE";
    if (name == "aiff") return "AIFF";
    if (name == "caf") return "CAF";
    std::string first = name.substr(0, name.find(','));
    for (char& c : first) c = char(std::toupper(static_cast<unsigned char>(c)));
    return first;
}

// The length the container states, in seconds; 0 when it states none, or
// when the length is only a guess from the file's size and bit rate and
// `guessed` is false. A length no recording can have counts as none.
double StatedSeconds(const AVFormatContext* fmt, const AVStream* st, bool guessed) {
    double s = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        s = double(st->duration) * av_q2d(st->time_base);
    else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        s = double(fmt->duration) / AV_TIME_BASE;
    if (!guessed && fmt->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return 0;
    constexpr double kYear = 365.0 * 24 * 3600;
    return s > 0 && s < kYear ? s : 0;
}

// A WAVE file's length as its header states it, which the demuxer drops
// when the file is shorter; 0 when the header marks the length as unknown
// (a stream written before its end was known).
double WaveHeaderSeconds(const std::string& path) {
    TWaveData w;
    if (w.OpenRead(path) != 0) return 0;
    const WaveFormat& f = w.Format;
    if (w.DataBytes == 0 || w.DataBytes == 0xFFFFFFFFu || f.nBlockAlign == 0 || f.nSamplesPerSec == 0) return 0;
    return double(w.DataBytes / f.nBlockAlign) / f.nSamplesPerSec;
}

// NaN samples become silence and infinities full scale, before the resampler
// could spread them over their neighbours. Nothing is touched, nor copied,
// in a frame without them.
template <typename T>
bool MakeFinite(AVFrame* f, int planes, size_t count) {
    // One pass over every sample without an early exit, so that it
    // vectorises: a not-a-number fails the comparison as an infinity does.
    auto finite = [&] {
        int bad = 0;
        for (int p = 0; p < planes; ++p) {
            const T* x = reinterpret_cast<const T*>(f->extended_data[p]);
            for (size_t i = 0; i < count; ++i) bad |= std::fabs(x[i]) <= std::numeric_limits<T>::max() ? 0 : 1;
        }
        return bad == 0;
    };
    if (finite()) return true;
    if (av_frame_make_writable(f) < 0) return false;
    for (int p = 0; p < planes; ++p) {
        T* x = reinterpret_cast<T*>(f->extended_data[p]);
        for (size_t i = 0; i < count; ++i)
            if (std::isnan(x[i])) x[i] = T(0);
            else if (std::isinf(x[i])) x[i] = x[i] > 0 ? T(1) : T(-1);
    }
    return true;
}

// Converts decoded frames to the output's rate as doubles, then to the
// output's channels as rounded 16-bit samples, and writes them.
class WaveSink {
public:
    WaveSink(TWaveData& out, int rate, int channels) : out_(out), rate_(rate), channels_(channels) {}
    ~WaveSink() { swr_free(&swr_); }

    // False with `error` set when the output cannot take more.
    bool Push(AVFrame* frame, std::string* error) {
        const int ch = frame->ch_layout.nb_channels;
        if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || ch <= 0) return true;
        const AVSampleFormat format = AVSampleFormat(frame->format);
        const AVSampleFormat packed = av_get_packed_sample_fmt(format);
        const bool direct = frame->sample_rate == rate_ && ch <= 2 &&
                            (packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL ||
                             packed == AV_SAMPLE_FMT_S16 || packed == AV_SAMPLE_FMT_S32);
        if (direct && swr_) {
            // What a stretch at another rate left in the resampler comes first.
            if (!Drain(error)) return false;
            swr_free(&swr_);
        } else if (!direct && (!swr_ || frame->sample_rate != inRate_ || ch != inChannels_ || frame->format != inFormat_)) {
            if (swr_ && !Drain(error)) return false;
            if (!Configure(frame->sample_rate, ch, format, error)) return false;
        }
        const int planes = av_sample_fmt_is_planar(format) ? ch : 1;
        const size_t perPlane = size_t(frame->nb_samples) * size_t(ch / planes);
        if ((packed == AV_SAMPLE_FMT_FLT && !MakeFinite<float>(frame, planes, perPlane)) ||
            (packed == AV_SAMPLE_FMT_DBL && !MakeFinite<double>(frame, planes, perPlane))) {
            SetError(error, "out of memory");
            return false;
        }
        if (direct) return WriteDirect(frame->extended_data, packed, planes > 1, ch, frame->nb_samples, error);
        return Convert(frame->extended_data, frame->nb_samples, error);
    }

    // Writes what the resampler still holds.
    bool Drain(std::string* error) {
        if (!swr_) return true;
        for (;;) {
            const int got = Run(nullptr, 0, error);
            if (got <= 0) return got == 0;
        }
    }

    // Frames written so far.
    int64_t Frames() const { return written_ / (int64_t(channels_) * 2); }

private:
    // At most about this many frames come out of one conversion, whatever the
    // ratio of the rates: memory stays bounded for any input.
    static constexpr int kChunkFrames = 16384;

    bool Configure(int rate, int ch, AVSampleFormat format, std::string* error) {
        swr_free(&swr_);
        if (ch > 2) {
            SetError(error, std::to_string(ch) + " channels: at most 2 channels");
            return false;
        }
        if (std::string why = SampleRateProblem(rate); !why.empty()) {
            SetError(error, "damaged: a stretch at " + why);
            return false;
        }
        AVChannelLayout layout;
        av_channel_layout_default(&layout, ch);
        int r = swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_DBL, rate_, &layout, format, rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (r < 0 || !swr_) {
            SetError(error, "out of memory");
            return false;
        }
        if (rate != rate_) {
            av_opt_set_int(swr_, "resampler", SWR_ENGINE_SOXR, 0);
            av_opt_set_double(swr_, "precision", 28, 0);
            av_opt_set_double(swr_, "cutoff", kResamplePassband, 0);
        }
        r = swr_init(swr_);
        if (r < 0) {
            SetError(error, "cannot convert the sampling rate: " + AvError(r));
            swr_free(&swr_);
            return false;
        }
        inRate_ = rate;
        inChannels_ = ch;
        inFormat_ = format;
        planes_ = av_sample_fmt_is_planar(format) ? ch : 1;
        planeBytes_ = size_t(av_get_bytes_per_sample(format)) * size_t(ch / planes_);
        return true;
    }

    // Converts the frames in pieces of at most kChunkFrames output frames.
    bool Convert(uint8_t* const* in, int count, std::string* error) {
        const int most = int(std::clamp<int64_t>(int64_t(kChunkFrames) * inRate_ / rate_, 1, kChunkFrames));
        const uint8_t* piece[2] = {};
        for (int done = 0; done < count;) {
            const int n = std::min(most, count - done);
            for (int p = 0; p < planes_; ++p) piece[p] = in[p] + size_t(done) * planeBytes_;
            if (Run(piece, n, error) < 0) return false;
            done += n;
        }
        return true;
    }

    // One call of the converter, whose output is written: the number of
    // frames, or -1 with `error` set.
    int Run(const uint8_t** in, int count, std::string* error) {
        const int cap = std::max(swr_get_out_samples(swr_, count), 1024);
        if (buf_.size() < size_t(cap) * size_t(inChannels_)) buf_.resize(size_t(cap) * size_t(inChannels_));
        uint8_t* outp = reinterpret_cast<uint8_t*>(buf_.data());
        const int got = swr_convert(swr_, &outp, cap, in, count);
        if (got < 0) {
            SetError(error, "cannot convert the samples: " + AvError(got));
            return -1;
        }
        return got > 0 && !Write(got, error) ? -1 : got;
    }

    // Rounded to 16 bits (halves to even) and clipped; not a number gives 0.
    // The rounding adds and takes away 1.5 * 2^52, which leaves the nearest
    // whole number for any |x| < 2^51 in the default rounding mode, as
    // nearbyint would, without its call. Written with selects only, so that
    // the loops over a frame's samples vectorise.
    static int16_t Round16(double x) {
        constexpr double kRound = 6755399441055744.0;
        double c = x > 1.0 ? 1.0 : x; // not a number stays so through both
        c = c < -1.0 ? -1.0 : c;
        c = x == x ? c : 0.0;
        double s = (c * 32768.0 + kRound) - kRound;
        s = s > 32767.0 ? 32767.0 : s;
        return int16_t(int32_t(s));
    }

    // The same for a float, in single precision: clipping and scaling by a
    // power of two are exact in either, and 1.5 * 2^23 rounds |x| <= 2^15 to
    // the nearest whole number as 1.5 * 2^52 does in double precision. Twice
    // the samples per instruction.
    static int16_t Round16(float x) {
        constexpr float kRound = 12582912.0f;
        float c = x > 1.0f ? 1.0f : x;
        c = c < -1.0f ? -1.0f : c;
        c = x == x ? c : 0.0f;
        float s = (c * 32768.0f + kRound) - kRound;
        s = s > 32767.0f ? 32767.0f : s;
        return int16_t(int32_t(s));
    }

    // Frames at the output's rate, converted without the resampler: the same
    // samples it gives (it converts to double exactly: every float, 16-bit
    // and 32-bit value is a double, and the scaling a power of two).
    bool WriteDirect(uint8_t* const* data, AVSampleFormat packed, bool planar, int ch, int frames,
                     std::string* error) {
        pcm_.resize(size_t(frames) * size_t(channels_));
        const size_t n = size_t(frames), step = planar ? 1 : size_t(ch);
        int16_t* out = pcm_.data();
        auto put = [&](auto type, double scale) {
            using T = decltype(type);
            // Each channel's samples lie `step` apart.
            const T* first = reinterpret_cast<const T*>(data[0]);
            const T* second = ch < 2 ? first : planar ? reinterpret_cast<const T*>(data[1]) : first + 1;
            auto at = [&](const T* p, size_t i) { return double(p[i * step]) * scale; };
            // A float sample is rounded as it is (scale 1), the others through double.
            auto one = [&](const T* p, size_t i) {
                if constexpr (std::is_same_v<T, float>) return Round16(p[i * step]);
                else return Round16(at(p, i));
            };
            if (ch == channels_ && ch == 2) {
                for (size_t i = 0; i < n; ++i) {
                    out[2 * i] = one(first, i);
                    out[2 * i + 1] = one(second, i);
                }
            } else if (ch == channels_) {
                for (size_t i = 0; i < n; ++i) out[i] = one(first, i);
            } else if (channels_ == 2) { // mono to stereo
                for (size_t i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = one(first, i);
            } else { // stereo to mono
                for (size_t i = 0; i < n; ++i) out[i] = Round16(0.5 * (at(first, i) + at(second, i)));
            }
        };
        switch (packed) {
        case AV_SAMPLE_FMT_FLT: put(float{}, 1.0); break;
        case AV_SAMPLE_FMT_DBL: put(double{}, 1.0); break;
        case AV_SAMPLE_FMT_S16: put(int16_t{}, 1.0 / 32768.0); break;
        default: put(int32_t{}, 1.0 / 2147483648.0); break;
        }
        return Store(frames, error);
    }

    // Converts what the resampler gave (buf_) and writes it.
    bool Write(int frames, std::string* error) {
        pcm_.resize(size_t(frames) * size_t(channels_));
        const double* d = buf_.data();
        for (int i = 0; i < frames; ++i) {
            if (inChannels_ == channels_) {
                for (int c = 0; c < channels_; ++c) {
                    const size_t k = size_t(i) * size_t(channels_) + size_t(c);
                    pcm_[k] = Round16(d[k]);
                }
            } else if (channels_ == 2) { // mono to stereo
                const int16_t s = Round16(d[i]);
                pcm_[size_t(i) * 2] = s;
                pcm_[size_t(i) * 2 + 1] = s;
            } else { // stereo to mono
                pcm_[size_t(i)] = Round16(0.5 * (d[size_t(i) * 2] + d[size_t(i) * 2 + 1]));
            }
        }
        return Store(frames, error);
    }

    // Writes the first `frames` frames of pcm_.
    bool Store(int frames, std::string* error) {
        const int64_t bytes = int64_t(frames) * channels_ * 2;
        if (written_ + bytes > kMaxWaveBytes) {
            SetError(error, "too long: more than 2 GiB of 16-bit samples");
            return false;
        }
        if (out_.Write(pcm_.data(), int32_t(bytes)) != bytes) {
            SetError(error, "writing the decoded samples failed (disk full?)");
            return false;
        }
        written_ += bytes;
        return true;
    }

    TWaveData& out_;
    const int rate_, channels_;
    SwrContext* swr_ = nullptr;
    int inRate_ = 0, inChannels_ = 0;
    int inFormat_ = AV_SAMPLE_FMT_NONE;
    int planes_ = 1;         // input planes: the channels when planar, else 1
    size_t planeBytes_ = 0;  // bytes of one frame in one plane
    std::vector<double> buf_;
    std::vector<int16_t> pcm_;
    int64_t written_ = 0;
};

struct Packet {
    AVPacket* p = av_packet_alloc();
    ~Packet() { av_packet_free(&p); }
};
struct Frame {
    AVFrame* f = av_frame_alloc();
    ~Frame() { av_frame_free(&f); }
};

} // namespace

int ProbeAudio(const std::string& path, AudioInfo& info, std::string* error) {
    InputFile in;
    info = AudioInfo{};
    const int r = OpenInput(path, in, false, error);
    if (r != kDecodeOk) return r;
    const AVStream* st = in.fmt->streams[in.stream];
    const AVCodecParameters* par = st->codecpar;
    info.container = ContainerName(in.fmt, par->codec_id);
    info.codec = avcodec_get_name(par->codec_id);
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    const bool lossless = desc && (desc->props & AV_CODEC_PROP_LOSSLESS);
    if (lossless) {
        info.bits = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;
        if (info.bits <= 0) info.bits = av_get_bytes_per_sample(AVSampleFormat(par->format)) * 8;
    }
    const AVSampleFormat sf = av_get_packed_sample_fmt(AVSampleFormat(par->format));
    info.isFloat = lossless && (sf == AV_SAMPLE_FMT_FLT || sf == AV_SAMPLE_FMT_DBL);
    info.bitRate = par->bit_rate > 0 ? par->bit_rate : std::max<int64_t>(in.fmt->bit_rate, 0);
    info.seconds = StatedSeconds(in.fmt, st, true);
    return kDecodeOk;
}

int DecodeToWave(const std::string& path, const std::string& wavePath, int targetRate, int targetChannels,
                 std::string* error, const DecodeProgress& progress, DecodeReport* report) {
    DecodeReport done;
    if (report) *report = done;
    if (!SampleRateProblem(targetRate).empty() || targetChannels < 1 || targetChannels > 2) {
        SetError(error, "no output format");
        return kDecodeFailed;
    }
    InputFile in;
    int r = OpenInput(path, in, true, error);
    if (r != kDecodeOk) return r;
    if (in.dec->ch_layout.nb_channels > 2) {
        SetError(error, std::to_string(in.dec->sample_rate) + " Hz, " + std::to_string(in.dec->ch_layout.nb_channels) +
                            " channels: at most 2 channels");
        return kDecodeNotAudio;
    }
    done.rate = targetRate;
    done.statedSeconds = std::string_view(in.fmt->iformat->name) == "wav"
                             ? WaveHeaderSeconds(path)
                             : StatedSeconds(in.fmt, in.fmt->streams[in.stream], false);

    TWaveData out;
    out.Format.wFormatTag = 1;
    out.Format.nChannels = uint16_t(targetChannels);
    out.Format.nSamplesPerSec = uint32_t(targetRate);
    out.Format.nBlockAlign = uint16_t(2 * targetChannels);
    out.Format.nAvgBytesPerSec = uint32_t(targetRate) * out.Format.nBlockAlign;
    out.Format.wBitsPerSample = 16;
    if (out.CreateNew(wavePath) != 0) {
        SetError(error, "cannot create the temporary file " + wavePath);
        return kDecodeFailed;
    }
    WaveSink sink(out, targetRate, targetChannels);
    Packet pkt;
    Frame frame;
    if (!pkt.p || !frame.f) {
        out.Close();
        SetError(error, "out of memory");
        return kDecodeFailed;
    }
    bool failed = false;
    // Takes every frame the decoder has ready; false when the decoder refused
    // the data it was given (a damaged packet, skipped) or the sink failed.
    auto receive = [&]() {
        int rr;
        while ((rr = avcodec_receive_frame(in.dec, frame.f)) >= 0) {
            const bool ok = sink.Push(frame.f, error);
            av_frame_unref(frame.f);
            if (!ok) {
                failed = true;
                return false;
            }
        }
        return rr == AVERROR(EAGAIN) || rr == AVERROR_EOF;
    };
    bool stopped = false;
    const int64_t fileBytes = in.fmt->pb ? avio_size(in.fmt->pb) : 0;
    for (;;) {
        const double share = fileBytes > 0 ? double(avio_tell(in.fmt->pb)) / double(fileBytes) : 0.0;
        if (progress && progress(std::clamp(share, 0.0, 1.0))) {
            stopped = true;
            break;
        }
        r = av_read_frame(in.fmt, pkt.p);
        if (r == AVERROR(EAGAIN)) continue;
        if (r < 0) {
            // The end, or damage the container cannot read past: what was
            // decoded is kept, and an early end is reported.
            done.readError = r != AVERROR_EOF;
            break;
        }
        if (pkt.p->stream_index == in.stream) {
            // A damaged packet is skipped; decoding goes on with the next.
            const int sent = avcodec_send_packet(in.dec, pkt.p);
            if ((!receive() || sent < 0) && !failed) ++done.packetsSkipped;
        }
        av_packet_unref(pkt.p);
        if (failed) break;
    }
    if (!failed && !stopped) {
        avcodec_send_packet(in.dec, nullptr);
        if (!receive() && !failed) ++done.packetsSkipped;
        failed = failed || !sink.Drain(error);
    }
    const int closed = out.Close();
    done.frames = sink.Frames();
    if (report) *report = done;
    if (stopped) {
        SetError(error, "stopped");
        return kDecodeCancelled;
    }
    if (failed) return kDecodeFailed;
    if (closed != 0) {
        SetError(error, "writing the temporary file " + wavePath + " failed (disk full?)");
        return kDecodeFailed;
    }
    return kDecodeOk;
}

namespace {

// The FLAC encoder writes through these into a descriptor the caller opened,
// so that it never opens a path itself.
struct FdSink {
    int fd;
    int error = 0; // errno of the first failure
};

int WriteToFd(void* opaque, uint8_t* buf, int size) {
    FdSink& sink = *static_cast<FdSink*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t w = ::write(sink.fd, buf + done, size_t(size - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            sink.error = w < 0 ? errno : EIO;
            return AVERROR(sink.error);
        }
        done += int(w);
    }
    return size;
}

int64_t SeekFd(void* opaque, int64_t offset, int whence) {
    FdSink& sink = *static_cast<FdSink*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(sink.fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(sink.fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

} // namespace

int EncodeWaveToFlac(int waveFd, int flacFd, std::string* error) {
    QuietLogs();
    TWaveData in;
    if (in.OpenRead(::fcntl(waveFd, F_DUPFD_CLOEXEC, 0), "voice") != 0 || in.Format.wBitsPerSample != 16 ||
        in.Format.nChannels < 1 || in.Format.nChannels > 2 || in.Format.nBlockAlign != 2 * in.Format.nChannels) {
        SetError(error, "not a 16-bit PCM WAVE file with one or two channels");
        return kDecodeCannotOpen;
    }

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    AVFormatContext* oc = nullptr;
    AVCodecContext* enc = nullptr;
    AVStream* st = nullptr;
    FdSink sink{flacFd};
    Packet pkt;
    Frame frame;
    auto fail = [&](const std::string& what) {
        SetError(error, sink.error != 0 ? what + " (" + std::strerror(sink.error) + ")" : what);
        return false;
    };
    auto run = [&]() -> bool {
        if (!codec || avformat_alloc_output_context2(&oc, nullptr, "flac", nullptr) < 0 || !oc)
            return fail("no FLAC encoder");
        enc = avcodec_alloc_context3(codec);
        if (!enc || !pkt.p || !frame.f) return fail("out of memory");
        enc->sample_fmt = AV_SAMPLE_FMT_S16;
        enc->sample_rate = int(in.Format.nSamplesPerSec);
        av_channel_layout_default(&enc->ch_layout, in.Format.nChannels);
        enc->time_base = AVRational{1, enc->sample_rate};
        if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(enc, codec, nullptr) < 0) return fail("cannot start the FLAC encoder");
        st = avformat_new_stream(oc, nullptr);
        if (!st || avcodec_parameters_from_context(st->codecpar, enc) < 0) return fail("out of memory");
        st->time_base = enc->time_base;
        constexpr int kIoBuffer = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
        if (buffer) oc->pb = avio_alloc_context(buffer, kIoBuffer, 1, &sink, nullptr, WriteToFd, SeekFd);
        if (!oc->pb) {
            av_free(buffer);
            return fail("out of memory");
        }
        oc->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (avformat_write_header(oc, nullptr) < 0) return fail("writing failed");

        const int frameSize = enc->frame_size > 0 ? enc->frame_size : 4096;
        frame.f->format = AV_SAMPLE_FMT_S16;
        frame.f->sample_rate = enc->sample_rate;
        frame.f->nb_samples = frameSize;
        av_channel_layout_copy(&frame.f->ch_layout, &enc->ch_layout);
        if (av_frame_get_buffer(frame.f, 0) < 0) return fail("out of memory");

        auto drain = [&]() {
            int r;
            while ((r = avcodec_receive_packet(enc, pkt.p)) >= 0) {
                av_packet_rescale_ts(pkt.p, enc->time_base, st->time_base);
                pkt.p->stream_index = st->index;
                if (av_interleaved_write_frame(oc, pkt.p) < 0) return false;
            }
            return r == AVERROR(EAGAIN) || r == AVERROR_EOF;
        };
        int64_t pts = 0;
        const int align = in.Format.nBlockAlign;
        for (;;) {
            if (av_frame_make_writable(frame.f) < 0) return fail("out of memory");
            const int32_t got = in.Read(frame.f->data[0], frameSize * align);
            if (got < 0) return fail("reading the voice failed");
            const int n = got / align;
            if (n == 0) break;
            frame.f->nb_samples = n;
            frame.f->pts = pts;
            pts += n;
            if (avcodec_send_frame(enc, frame.f) < 0 || !drain()) return fail("writing failed");
        }
        if (avcodec_send_frame(enc, nullptr) < 0 || !drain() || av_write_trailer(oc) < 0) return fail("writing failed");
        avio_flush(oc->pb);
        return oc->pb->error == 0 || fail("writing failed");
    };
    const bool ok = run();
    if (oc && oc->pb) {
        av_freep(&oc->pb->buffer);
        avio_context_free(&oc->pb);
    }
    avcodec_free_context(&enc);
    avformat_free_context(oc);
    return ok ? kDecodeOk : kDecodeFailed;
}

#include "DecoderModule.h"

extern "C" __attribute__((visibility("default"))) const DecoderModuleApi* sonvelt_decoder_module() {
    static const DecoderModuleApi api{kDecoderModuleVersion, &ProbeAudio, &DecodeToWave, &EncodeWaveToFlac};
    return &api;
}
