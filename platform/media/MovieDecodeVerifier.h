#ifndef PLATFORM_MEDIA_MOVIE_DECODE_VERIFIER_H
#define PLATFORM_MEDIA_MOVIE_DECODE_VERIFIER_H
// Decodes every packet of every stream it has a decoder for and counts frames and errors:
// the headless player's verify mode, which checks that what was served decodes cleanly.
// Reader thread only.

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace ns {

class MovieDecodeVerifier {
public:
    // Opens a decoder for each stream of the opened input; a stream without one counts an error
    // for each of its packets.
    explicit MovieDecodeVerifier(const AVFormatContext* format);
    ~MovieDecodeVerifier();
    MovieDecodeVerifier(const MovieDecodeVerifier&) = delete;
    MovieDecodeVerifier& operator=(const MovieDecodeVerifier&) = delete;

    // Decodes one packet; returns frames decoded and adds errors to *errors.
    uint64_t Decode(const AVPacket* packet, uint64_t* errors);
    // Drains the decoder of a stream (at the end of the input); same counting.
    uint64_t Drain(int streamIndex, uint64_t* errors);
    // Drops what the decoders hold (after a seek).
    void Flush();
    size_t StreamCount() const { return decoders_.size(); }

private:
    uint64_t Receive(AVCodecContext* decoder, uint64_t* errors);

    std::vector<AVCodecContext*> decoders_;  // by stream index; null: no decoder
    AVFrame* frame_ = nullptr;
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_MOVIE_DECODE_VERIFIER_H
