#include "platform/media/MovieDecodeVerifier.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ns {

MovieDecodeVerifier::MovieDecodeVerifier(const AVFormatContext* format) : frame_(av_frame_alloc()) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* parameters = format->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (decoder != nullptr && (avcodec_parameters_to_context(decoder, parameters) < 0 ||
                                   avcodec_open2(decoder, codec, nullptr) < 0)) {
            avcodec_free_context(&decoder);
        }
        decoders_.push_back(decoder);
    }
}

MovieDecodeVerifier::~MovieDecodeVerifier() {
    for (AVCodecContext*& decoder : decoders_) {
        avcodec_free_context(&decoder);
    }
    av_frame_free(&frame_);
}

uint64_t MovieDecodeVerifier::Receive(AVCodecContext* decoder, uint64_t* errors) {
    uint64_t frames = 0;
    for (;;) {
        const int rc = avcodec_receive_frame(decoder, frame_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return frames;
        }
        if (rc < 0) {
            ++*errors;
            return frames;
        }
        // A frame the decoder marks corrupt (concealed errors) counts as an error too.
        if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
            ++*errors;
        }
        ++frames;
        av_frame_unref(frame_);
    }
}

uint64_t MovieDecodeVerifier::Decode(const AVPacket* packet, uint64_t* errors) {
    if (packet->stream_index < 0 || static_cast<size_t>(packet->stream_index) >= decoders_.size() ||
        decoders_[packet->stream_index] == nullptr || frame_ == nullptr) {
        ++*errors;
        return 0;
    }
    AVCodecContext* decoder = decoders_[packet->stream_index];
    uint64_t frames = 0;
    int rc = avcodec_send_packet(decoder, packet);
    if (rc == AVERROR(EAGAIN)) {  // output waits first
        frames += Receive(decoder, errors);
        rc = avcodec_send_packet(decoder, packet);
    }
    if (rc < 0) {
        ++*errors;
        return frames;
    }
    return frames + Receive(decoder, errors);
}

uint64_t MovieDecodeVerifier::Drain(int streamIndex, uint64_t* errors) {
    if (streamIndex < 0 || static_cast<size_t>(streamIndex) >= decoders_.size() ||
        decoders_[streamIndex] == nullptr || frame_ == nullptr) {
        return 0;
    }
    AVCodecContext* decoder = decoders_[streamIndex];
    if (avcodec_send_packet(decoder, nullptr) < 0) {
        return 0;  // already drained
    }
    return Receive(decoder, errors);
}

void MovieDecodeVerifier::Flush() {
    for (AVCodecContext* decoder : decoders_) {
        if (decoder != nullptr) {
            avcodec_flush_buffers(decoder);
        }
    }
}

}  // namespace ns
