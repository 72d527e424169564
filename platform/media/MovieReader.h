#ifndef PLATFORM_MEDIA_MOVIE_READER_H
#define PLATFORM_MEDIA_MOVIE_READER_H
// The headless player's reading half: one thread ("MovieReader") that opens a URL with
// libavformat and reads packets ahead of the playhead the player publishes.
//
// - A master playlist's first variant is opened directly (see HlsMasterPlaylist).
// - Every blocking libavformat call watches the reader's abort flag through an interrupt
//   callback, so Abort() ends even an open that the server holds, within libavformat's poll
//   slice (0.1 s); the destructor aborts and joins.
// - Reading stops while the data read reaches `readAhead` seconds past the playhead, and goes
//   on when the playhead moves or a seek comes.
// - Times given and reported are seconds from the movie's start (the input's start time).
//
// Events go to the listener on the reader thread, in this order: Opened (duration known or 0),
// Playable (the first packet is in), then Progress after each packet, SeekDone once the first
// packet after a seek is in (or the end was met), Ended at the end of the input, Failed when
// the input cannot be opened or read (nothing more follows). An aborted reader reports nothing
// more.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/MovieStreamStatistics.h"
#include "platform/net/Error.h"

struct AVFormatContext;
struct AVPacket;

namespace ns {

class MovieDecodeVerifier;

class MovieReader {
public:
    enum class EventKind { Opened, Playable, Progress, SeekDone, Ended, Failed };
    struct Event {
        EventKind kind;
        double duration = 0;  // Opened
        uint64_t seekId = 0;  // SeekDone
        Error error;          // Failed
    };
    using Listener = std::function<void(const Event&)>;

    struct Options {
        std::string url;
        bool verify = false;     // decode every packet (MovieDecodeVerifier)
        double start = 0;        // where to start reading
        double readAhead = 8.0;  // seconds of media read past the playhead at most
    };

    // Starts the thread.
    MovieReader(Options options, Listener listener);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // Any thread. Asks the thread to stop; the destructor waits for it.
    void Abort();
    void SetPlayhead(double seconds);
    // Reads from the key frame at or before `seconds` on; SeekDone carries `id`.
    void Seek(double seconds, uint64_t id);

    // The latest presentation time read since the last seek, from the movie's start
    // (-infinity before the first packet), and whether the input's end was met since.
    double BufferedEnd() const;
    bool AtEnd() const;
    std::vector<MovieStreamStatistics> Statistics() const;

    // The error a libavformat status stands for, with the URL in its text: the platform's
    // network errors for a refused connection, a time-out and an HTTP error status; the
    // player's own domain (the status as code) for anything else.
    static Error ErrorFor(int status, const std::string& url);

private:
    struct Baseline {  // per stream, in the stream's time base; reset by a seek
        bool haveKey = false;
        int64_t lastKeyPts = 0;
        bool haveMax = false;
        int64_t maxPts = 0;
    };

    void Run();
    // Reads the URL's first bytes; a master playlist gives its first variant's URL.
    std::string ResolveVariant(const std::string& url);
    bool Open(const std::string& url);
    void ReadLoop();
    void Account(const AVPacket* packet);
    void DoSeek(double seconds, uint64_t id);
    void ReachedEnd();
    void Emit(Event event);

    static int Interrupt(void* opaque);

    const Options options_;
    const Listener listener_;
    std::atomic<bool> abort_{false};

    // Reader thread only.
    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    MovieDecodeVerifier* verifier_ = nullptr;
    double startSeconds_ = 0;
    std::vector<Baseline> baselines_;
    bool seekDonePending_ = false;
    uint64_t seekDoneId_ = 0;
    bool sentPlayable_ = false;

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    double playhead_ = 0;
    bool seekRequested_ = false;
    double seekTarget_ = 0;
    uint64_t seekId_ = 0;
    double bufferedEnd_ = -std::numeric_limits<double>::infinity();
    bool atEnd_ = false;
    std::vector<MovieStreamStatistics> statistics_;

    std::thread thread_;  // last: starts once everything above is set
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_MOVIE_READER_H
