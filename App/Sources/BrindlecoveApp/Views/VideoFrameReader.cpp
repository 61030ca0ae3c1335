#include "BrindlecoveApp/Views/VideoFrameReader.hpp"

#include "Tessaline/MetadataReader/MediaLibraries.hpp"

#include <QTransform>

#include <chrono>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace brindlecove::VideoFrameReader {

namespace {

using Clock = std::chrono::steady_clock;

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

int interruptWhenLate(void* opaque) { return Clock::now() > *static_cast<Clock::time_point*>(opaque) ? 1 : 0; }

// Clockwise quarter turns that show the picture upright (0..3).
int quarterTurns(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t)) return 0;
    double angle = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (!std::isfinite(angle)) return 0;
    long turns = std::lround(angle / 90.0) % 4;
    return static_cast<int>(turns < 0 ? turns + 4 : turns);
}

// `size` scaled (aspect kept) so it covers `cover`; never larger than `size` itself.
QSize coverSize(QSize size, QSize cover) {
    if (size.isEmpty()) return {};
    QSize scaled = size.scaled(cover, Qt::KeepAspectRatioByExpanding);
    if (scaled.width() > size.width() || scaled.height() > size.height()) return size;
    return scaled.expandedTo(QSize(1, 1));
}

}  // namespace

QImage frame(const QString& path, QSize cover, int deadlineMs) {
    tessaline::initializeMediaLibraries();  // FFmpeg's own warnings muted
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return {};
    raw->interrupt_callback.callback = &interruptWhenLate;
    raw->interrupt_callback.opaque = &deadline;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "2000000", 0);
    av_dict_set(&options, "analyzeduration", "1000000", 0);
    const QByteArray file = path.toUtf8();
    int opened = avformat_open_input(&raw, file.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) return {};  // the context is freed on failure
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);

    // Containers with a movie header (MP4, MOV and kin) already know the video's codec and
    // size; probing them decodes frames for nothing. Others (MPEG-TS, AVI) need the probe.
    int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0 || format->streams[streamIndex]->codecpar->width <= 0) {
        if (avformat_find_stream_info(format.get(), nullptr) < 0) return {};
        streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    }
    if (streamIndex < 0) return {};
    AVStream* stream = format->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return {};
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) return {};
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return {};

    double duration = format->duration > 0 ? double(format->duration) / AV_TIME_BASE : 0.0;
    double seekSeconds = duration > 0 ? std::min(1.0, duration * 0.1) : 0.0;
    if (seekSeconds > 0) {
        int64_t target = av_rescale_q(static_cast<int64_t>(seekSeconds * AV_TIME_BASE), AV_TIME_BASE_Q,
                                      stream->time_base);
        if (stream->start_time != AV_NOPTS_VALUE) target += stream->start_time;
        if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
            av_seek_frame(format.get(), streamIndex, stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                          AVSEEK_FLAG_BACKWARD);
    }

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> picture(av_frame_alloc());
    if (!packet || !picture) return {};
    bool decoded = false;
    bool draining = false;
    while (!decoded) {
        if (Clock::now() > deadline) return {};
        int result = avcodec_receive_frame(decoder.get(), picture.get());
        if (result == 0) {
            decoded = true;
            break;
        }
        if (result == AVERROR_EOF) return {};
        if (result != AVERROR(EAGAIN)) return {};
        if (draining) return {};
        int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            draining = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
    }

    const int width = picture->width;
    const int height = picture->height;
    if (width <= 0 || height <= 0) return {};
    AVRational aspect = av_guess_sample_aspect_ratio(format.get(), stream, picture.get());
    double displayWidth = width;
    if (aspect.num > 0 && aspect.den > 0) displayWidth = width * av_q2d(aspect);
    const int turns = quarterTurns(stream);
    QSize shown(static_cast<int>(std::lround(displayWidth)), height);
    if (turns % 2) shown.transpose();
    QSize target = coverSize(shown, cover);
    if (target.isEmpty()) return {};
    if (turns % 2) target.transpose();  // scaled before the turn

    std::unique_ptr<SwsContext, ScalerFreer> scaler(
        sws_getContext(width, height, static_cast<AVPixelFormat>(picture->format), target.width(), target.height(),
                       AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) return {};
    QImage image(target, QImage::Format_RGB32);
    if (image.isNull()) return {};
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scaler.get(), picture->data, picture->linesize, 0, height, planes, strides) <= 0) return {};
    if (turns) image = image.transformed(QTransform().rotate(90.0 * turns));
    return image;
}

bool opensAsMedia(const QString& path, int deadlineMs) {
    tessaline::initializeMediaLibraries();
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return false;
    raw->interrupt_callback.callback = &interruptWhenLate;
    raw->interrupt_callback.opaque = &deadline;
    const QByteArray file = path.toUtf8();
    if (avformat_open_input(&raw, file.constData(), nullptr, nullptr) < 0) return false;
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return false;
    return av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) >= 0 ||
           av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
}

}  // namespace brindlecove::VideoFrameReader
