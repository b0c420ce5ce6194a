// Test signals and compressed fixtures made with the same libraries the
// decoder uses, so that no audio file needs to be shipped.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// Interleaved 16-bit music-like test signal: a few partials with a slow
// envelope, different in each channel, peaking near -6 dBFS.
inline std::vector<int16_t> TestSignal(int rate, int channels, int frames) {
    std::vector<int16_t> s(size_t(frames) * size_t(channels));
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(2 * pi * 1.3 * t);
        for (int c = 0; c < channels; ++c) {
            const double f = c == 0 ? 440.0 : 554.37;
            const double v = env * (0.3 * std::sin(2 * pi * f * t) + 0.15 * std::sin(2 * pi * 3.01 * f * t + c) +
                                    0.05 * std::sin(2 * pi * 2500.0 * t));
            s[size_t(i) * channels + c] = int16_t(std::lrint(v * 32767.0));
        }
    }
    return s;
}

// Signal-to-distortion ratio in dB of `test` against `ref` (both interleaved
// with `channels`), `test` read `lag` frames later than `ref`, over the frames
// both hold.
inline double SdrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int channels, int lag = 0) {
    const long nr = long(ref.size()) / channels, nt = long(test.size()) / channels;
    double sig = 0, err = 0;
    for (long i = std::max(0L, -long(lag)); i < nr && i + lag < nt; ++i)
        for (int c = 0; c < channels; ++c) {
            const double r = ref[size_t(i) * channels + c], t = test[size_t(i + lag) * channels + c];
            sig += r * r;
            err += (r - t) * (r - t);
        }
    if (err == 0) return 200.0;
    return 10 * std::log10(sig / err);
}

// The lag (test minus ref, frames) within ±maxLag where `test` matches `ref`
// best, judged on 4096 frames from the middle of `ref`.
inline int BestLag(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int channels, int maxLag) {
    const long nr = long(ref.size()) / channels, nt = long(test.size()) / channels;
    const long from = nr / 2, to = std::min(nr, from + 4096);
    int best = 0;
    double bestErr = 1e300;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double err = 0;
        for (long i = from; i < to; ++i)
            for (int c = 0; c < channels; ++c) {
                const long j = i + lag;
                const double t = j >= 0 && j < nt ? test[size_t(j) * channels + c] : 0.0;
                const double d = ref[size_t(i) * channels + c] - t;
                err += d * d;
            }
        if (err < bestErr) {
            bestErr = err;
            best = lag;
        }
    }
    return best;
}

// Encodes interleaved 16-bit samples with `encoder` into a file of container
// `muxer`. Empty on success, else what failed.
inline std::string EncodeFixture(const std::string& path, const char* muxer, const char* encoder, int rate,
                                 int channels, const std::vector<int16_t>& pcm, int64_t bitRate = 0) {
    av_log_set_level(AV_LOG_FATAL);
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) return std::string("no encoder ") + encoder;
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, muxer, path.c_str()) < 0) return "no muxer";
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    enc->sample_rate = rate;
    av_channel_layout_default(&enc->ch_layout, channels);
    enc->time_base = AVRational{1, rate};
    if (bitRate) enc->bit_rate = bitRate;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    std::string error;
    AVStream* st = nullptr;
    SwrContext* swr = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    if (avcodec_open2(enc, codec, nullptr) < 0) error = "encoder did not open";
    if (error.empty()) {
        st = avformat_new_stream(oc, nullptr);
        avcodec_parameters_from_context(st->codecpar, enc);
        st->time_base = enc->time_base;
        if (avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(oc, nullptr) < 0)
            error = "cannot write header";
    }
    if (error.empty())
        swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, rate, &enc->ch_layout, AV_SAMPLE_FMT_S16, rate,
                            0, nullptr);
    if (error.empty() && (!swr || swr_init(swr) < 0)) error = "no converter";
    auto drain = [&] {
        while (avcodec_receive_packet(enc, pkt) >= 0) {
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            av_interleaved_write_frame(oc, pkt);
        }
    };
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const int total = int(pcm.size()) / channels;
    for (int at = 0; error.empty() && at < total; at += frameSize) {
        const int n = std::min(frameSize, total - at);
        av_frame_unref(frame);
        frame->format = enc->sample_fmt;
        frame->sample_rate = rate;
        frame->nb_samples = n;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        if (av_frame_get_buffer(frame, 0) < 0) error = "no frame";
        const uint8_t* in = reinterpret_cast<const uint8_t*>(pcm.data() + size_t(at) * channels);
        if (error.empty() && swr_convert(swr, frame->extended_data, n, &in, n) != n) error = "conversion";
        frame->pts = at;
        if (error.empty() && avcodec_send_frame(enc, frame) < 0) error = "encoding";
        drain();
    }
    if (error.empty()) {
        avcodec_send_frame(enc, nullptr);
        drain();
        av_write_trailer(oc);
    }
    if (oc->pb) avio_closep(&oc->pb);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    swr_free(&swr);
    avcodec_free_context(&enc);
    avformat_free_context(oc);
    return error;
}

} // namespace testutil
