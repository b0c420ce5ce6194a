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
#include <sys/stat.h>
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
    for (unsigned i = 0; i < in.fmt->nb_streams; ++i)
        if (int(i) != in.stream) in.fmt->streams[i]->discard = AVDISCARD_ALL;
    if (!openDecoder) return kDecodeOk;

    in.dec = avcodec_alloc_context3(codec);
    if (!in.dec || avcodec_parameters_to_context(in.dec, par) < 0) {
        SetError(error, "out of memory");
        return kDecodeFailed;
    }
    in.dec->pkt_timebase = in.fmt->streams[in.stream]->time_base;
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

// Converts decoded frames to the output's rate as doubles, then to the
// output's channels as rounded 16-bit samples, and writes them.
class WaveSink {
public:
    WaveSink(TWaveData& out, int rate, int channels) : out_(out), rate_(rate), channels_(channels) {}
    ~WaveSink() { swr_free(&swr_); }

    // False with `error` set when the output cannot take more.
    bool Push(const AVFrame* frame, std::string* error) {
        const int ch = frame->ch_layout.nb_channels;
        if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || ch <= 0) return true;
        if (!swr_ || frame->sample_rate != inRate_ || ch != inChannels_ || frame->format != inFormat_) {
            if (swr_ && !Drain(error)) return false;
            if (!Configure(frame->sample_rate, ch, AVSampleFormat(frame->format), error)) return false;
        }
        return Convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples, error);
    }

    // Writes what the resampler still holds.
    bool Drain(std::string* error) {
        if (!swr_) return true;
        return Convert(nullptr, 0, error);
    }

private:
    bool Configure(int rate, int ch, AVSampleFormat format, std::string* error) {
        swr_free(&swr_);
        if (ch > 2) {
            SetError(error, std::to_string(ch) + " channels: at most 2 channels");
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
        return true;
    }

    bool Convert(const uint8_t** in, int count, std::string* error) {
        for (;;) {
            const int cap = std::max(swr_get_out_samples(swr_, count), 1024);
            if (buf_.size() < size_t(cap) * size_t(inChannels_)) buf_.resize(size_t(cap) * size_t(inChannels_));
            uint8_t* outp = reinterpret_cast<uint8_t*>(buf_.data());
            const int got = swr_convert(swr_, &outp, cap, in, count);
            if (got < 0) {
                SetError(error, "cannot convert the samples: " + AvError(got));
                return false;
            }
            if (got > 0 && !Write(got, error)) return false;
            // Input is consumed by the first call; a drain goes on until empty.
            if (in != nullptr || got == 0) return true;
        }
    }

    static int16_t Round16(double x) {
        const double s = std::nearbyint(x * 32768.0);
        return int16_t(std::clamp(s, -32768.0, 32767.0));
    }

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
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        info.seconds = double(st->duration) * av_q2d(st->time_base);
    else if (in.fmt->duration != AV_NOPTS_VALUE && in.fmt->duration > 0)
        info.seconds = double(in.fmt->duration) / AV_TIME_BASE;
    return kDecodeOk;
}

int DecodeToWave(const std::string& path, const std::string& wavePath, int targetRate, int targetChannels,
                 std::string* error, const std::function<bool()>& cancelled) {
    if (targetRate <= 0 || targetChannels < 1 || targetChannels > 2) {
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
    auto receive = [&]() {
        int rr;
        while ((rr = avcodec_receive_frame(in.dec, frame.f)) >= 0) {
            const bool ok = sink.Push(frame.f, error);
            av_frame_unref(frame.f);
            if (!ok) return false;
        }
        return true;
    };
    bool stopped = false;
    for (;;) {
        if (cancelled && cancelled()) {
            stopped = true;
            break;
        }
        r = av_read_frame(in.fmt, pkt.p);
        if (r == AVERROR(EAGAIN)) continue;
        if (r < 0) break; // the end, or a read error: keep what was decoded
        if (pkt.p->stream_index == in.stream) {
            // A damaged packet is skipped; decoding goes on with the next.
            avcodec_send_packet(in.dec, pkt.p);
            if (!receive()) failed = true;
        }
        av_packet_unref(pkt.p);
        if (failed) break;
    }
    if (!failed && !stopped) {
        avcodec_send_packet(in.dec, nullptr);
        failed = !receive() || !sink.Drain(error);
    }
    const int closed = out.Close();
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
