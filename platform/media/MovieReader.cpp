#include "platform/media/MovieReader.h"

#include <pthread.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "platform/media/HlsMasterPlaylist.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/MovieDecodeVerifier.h"
#include "platform/net/URL.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/error.h>
}

namespace ns {
namespace {

// A master playlist is small; anything longer is read as what it is.
constexpr size_t kMaxPlaylistBytes = 1 << 20;

void InitialiseLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        avformat_network_init();
        // libavformat reports every segment it opens at the information level; keep only
        // real errors on standard error.
        av_log_set_level(AV_LOG_ERROR);
    });
}

const char* MediaTypeName(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: return "video";
        case AVMEDIA_TYPE_AUDIO: return "audio";
        case AVMEDIA_TYPE_SUBTITLE: return "subtitle";
        case AVMEDIA_TYPE_DATA: return "data";
        default: return "unknown";
    }
}

std::string StatusText(int status) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(status, text, sizeof text);
    return text;
}

}  // namespace

MovieReader::MovieReader(Options options, Listener listener)
    : options_(std::move(options)), listener_(std::move(listener)) {
    InitialiseLibraries();
    playhead_ = options_.start;
    thread_ = std::thread([this] { Run(); });
}

MovieReader::~MovieReader() {
    Abort();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void MovieReader::Abort() {
    abort_.store(true);
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
}

void MovieReader::SetPlayhead(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    playhead_ = seconds;
    wake_.notify_all();
}

void MovieReader::Seek(double seconds, uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    seekRequested_ = true;
    seekTarget_ = seconds;
    seekId_ = id;
    playhead_ = seconds;
    wake_.notify_all();
}

double MovieReader::BufferedEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bufferedEnd_;
}

bool MovieReader::AtEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return atEnd_;
}

std::vector<MovieStreamStatistics> MovieReader::Statistics() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statistics_;
}

Error MovieReader::ErrorFor(int status, const std::string& url) {
    const std::string suffix = ": " + url;
    if (status == AVERROR(ECONNREFUSED)) {
        return Error(Error::kURLErrorDomain, Error::kCannotConnectToHost,
                     "Could not connect to the server" + suffix, url);
    }
    if (status == AVERROR(ETIMEDOUT)) {
        return Error(Error::kURLErrorDomain, Error::kTimedOut, "The request timed out" + suffix,
                     url);
    }
    if (status == AVERROR_HTTP_BAD_REQUEST || status == AVERROR_HTTP_UNAUTHORIZED ||
        status == AVERROR_HTTP_FORBIDDEN || status == AVERROR_HTTP_NOT_FOUND ||
        status == AVERROR_HTTP_OTHER_4XX || status == AVERROR_HTTP_SERVER_ERROR) {
        return Error(Error::kURLErrorDomain, Error::kBadServerResponse,
                     "The server answered " + StatusText(status) + suffix, url);
    }
    return Error(MoviePlayer::kErrorDomain, status, StatusText(status) + suffix, url);
}

int MovieReader::Interrupt(void* opaque) {
    return static_cast<MovieReader*>(opaque)->abort_.load() ? 1 : 0;
}

void MovieReader::Emit(Event event) {
    if (!abort_.load() && listener_) {
        listener_(event);
    }
}

void MovieReader::Run() {
    pthread_setname_np(pthread_self(), "MovieReader");
    const std::string url = ResolveVariant(options_.url);
    if (!abort_.load() && Open(url)) {
        ReadLoop();
    }
    delete verifier_;
    verifier_ = nullptr;
    av_packet_free(&packet_);
    avformat_close_input(&format_);
}

std::string MovieReader::ResolveVariant(const std::string& url) {
    AVIOInterruptCB interrupt = {&MovieReader::Interrupt, this};
    AVIOContext* io = nullptr;
    if (avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &interrupt, nullptr) < 0) {
        return url;  // the open proper reports why
    }
    std::string text;
    unsigned char buffer[4096];
    bool playlist = true;
    while (!abort_.load() && text.size() <= kMaxPlaylistBytes) {
        const int got = avio_read(io, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
        if (text.size() >= 10 && !HlsMasterPlaylist::LooksLikePlaylist(text)) {
            playlist = false;  // media bytes: no need to read them here
            break;
        }
    }
    avio_closep(&io);
    if (!playlist || text.size() > kMaxPlaylistBytes) {
        return url;
    }
    const std::optional<std::string> variant = HlsMasterPlaylist::FirstVariantUri(text);
    if (!variant) {
        return url;
    }
    const std::optional<URL> base = URL::Parse(url);
    if (base && base->IsAbsolute()) {
        if (const std::optional<URL> resolved = URL::Resolve(*variant, *base)) {
            return resolved->AbsoluteString();
        }
        return url;
    }
    // A file path: the variant is relative to its folder unless absolute itself.
    if (variant->find("://") != std::string::npos || (!variant->empty() && (*variant)[0] == '/')) {
        return *variant;
    }
    const size_t slash = url.rfind('/');
    return slash == std::string::npos ? *variant : url.substr(0, slash + 1) + *variant;
}

bool MovieReader::Open(const std::string& url) {
    format_ = avformat_alloc_context();
    packet_ = av_packet_alloc();
    if (format_ == nullptr || packet_ == nullptr) {
        Emit({EventKind::Failed, 0, 0, ErrorFor(AVERROR(ENOMEM), url)});
        return false;
    }
    format_->interrupt_callback = {&MovieReader::Interrupt, this};
    int status = avformat_open_input(&format_, url.c_str(), nullptr, nullptr);
    if (status >= 0) {
        status = avformat_find_stream_info(format_, nullptr);
    }
    if (status < 0) {
        Emit({EventKind::Failed, 0, 0, ErrorFor(status, url)});
        return false;
    }
    startSeconds_ = format_->start_time != AV_NOPTS_VALUE
                        ? static_cast<double>(format_->start_time) / AV_TIME_BASE
                        : 0.0;
    const double duration = format_->duration != AV_NOPTS_VALUE && format_->duration > 0
                                ? static_cast<double>(format_->duration) / AV_TIME_BASE
                                : 0.0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            const AVCodecParameters* parameters = format_->streams[i]->codecpar;
            MovieStreamStatistics s;
            s.index = static_cast<int>(i);
            s.mediaType = MediaTypeName(parameters->codec_type);
            s.codec = avcodec_get_name(parameters->codec_id);
            statistics_.push_back(s);
        }
    }
    baselines_.assign(format_->nb_streams, Baseline());
    if (options_.verify) {
        verifier_ = new MovieDecodeVerifier(format_);
    }
    Emit({EventKind::Opened, duration, 0, Error()});
    if (options_.start > 0) {
        DoSeek(options_.start, 0);
        seekDonePending_ = false;  // nobody waits for this one
    }
    return true;
}

void MovieReader::ReadLoop() {
    for (;;) {
        bool seek = false;
        double target = 0;
        uint64_t id = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] {
                return abort_.load() || seekRequested_ ||
                       (!atEnd_ && bufferedEnd_ - playhead_ < options_.readAhead);
            });
            if (abort_.load()) {
                return;
            }
            if (seekRequested_) {
                seek = true;
                seekRequested_ = false;
                target = seekTarget_;
                id = seekId_;
            }
        }
        if (seek) {
            DoSeek(target, id);
            continue;
        }
        const int status = av_read_frame(format_, packet_);
        if (abort_.load()) {
            return;
        }
        if (status == AVERROR(EAGAIN)) {
            continue;
        }
        if (status == AVERROR_EOF) {
            ReachedEnd();
            continue;
        }
        if (status < 0) {
            Emit({EventKind::Failed, 0, 0, ErrorFor(status, format_->url ? format_->url : "")});
            return;
        }
        Account(packet_);
        av_packet_unref(packet_);
        if (!sentPlayable_) {
            sentPlayable_ = true;
            Emit(Event{EventKind::Playable, 0, 0, Error()});
        }
        if (seekDonePending_) {
            seekDonePending_ = false;
            Emit({EventKind::SeekDone, 0, seekDoneId_, Error()});
        }
        Emit(Event{EventKind::Progress, 0, 0, Error()});
    }
}

void MovieReader::Account(const AVPacket* packet) {
    if (packet->stream_index < 0 ||
        static_cast<unsigned>(packet->stream_index) >= baselines_.size()) {
        return;
    }
    const AVStream* stream = format_->streams[packet->stream_index];
    const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    uint64_t frames = 0;
    uint64_t errors = 0;
    if (verifier_ != nullptr) {
        frames = verifier_->Decode(packet, &errors);
    }
    const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    Baseline& b = baselines_[packet->stream_index];
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, stream->time_base);

    std::lock_guard<std::mutex> lock(mutex_);
    MovieStreamStatistics& s = statistics_[packet->stream_index];
    ++s.packets;
    s.bytes += static_cast<uint64_t>(packet->size);
    s.keyFrames += key ? 1 : 0;
    s.decodedFrames += frames;
    s.decodeErrors += errors;
    if (pts == AV_NOPTS_VALUE) {
        return;
    }
    const double seconds = static_cast<double>(pts) * av_q2d(stream->time_base);
    if (!s.hasPts) {
        s.hasPts = true;
        s.firstPts = seconds;
    }
    s.lastPts = seconds;
    if (b.haveKey && pts < b.lastKeyPts) {
        ++s.ptsBackwards;
    }
    if (b.haveMax && pts - b.maxPts > second) {
        ++s.gapsOverOneSecond;
    }
    if (key) {
        b.haveKey = true;
        b.lastKeyPts = pts;
    }
    if (!b.haveMax || pts > b.maxPts) {
        b.haveMax = true;
        b.maxPts = pts;
    }
    const double fromStart = seconds - startSeconds_;
    if (fromStart > bufferedEnd_) {
        bufferedEnd_ = fromStart;
    }
}

void MovieReader::DoSeek(double seconds, uint64_t id) {
    const int64_t ts = static_cast<int64_t>(std::llround((startSeconds_ + seconds) * AV_TIME_BASE));
    // The key frame at or before the target; failing that, the nearest one after it.
    int status = avformat_seek_file(format_, -1, INT64_MIN, ts, ts, 0);
    if (status < 0 && !abort_.load()) {
        status = avformat_seek_file(format_, -1, INT64_MIN, ts, INT64_MAX, 0);
    }
    if (verifier_ != nullptr) {
        verifier_->Flush();
    }
    baselines_.assign(baselines_.size(), Baseline());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bufferedEnd_ = -std::numeric_limits<double>::infinity();
        atEnd_ = false;
    }
    seekDonePending_ = true;
    seekDoneId_ = id;
    // A seek the input refuses leaves the reading where it was: the data that comes next
    // still ends the seek, and the playhead follows what is read.
    (void)status;
}

void MovieReader::ReachedEnd() {
    if (verifier_ != nullptr) {
        uint64_t frames = 0;
        std::vector<std::pair<uint64_t, uint64_t>> drained;  // frames, errors by stream
        for (unsigned i = 0; i < baselines_.size(); ++i) {
            uint64_t errors = 0;
            frames = verifier_->Drain(static_cast<int>(i), &errors);
            drained.emplace_back(frames, errors);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < drained.size() && i < statistics_.size(); ++i) {
            statistics_[i].decodedFrames += drained[i].first;
            statistics_[i].decodeErrors += drained[i].second;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        atEnd_ = true;
    }
    if (seekDonePending_) {
        seekDonePending_ = false;
        Emit({EventKind::SeekDone, 0, seekDoneId_, Error()});
    }
    if (!sentPlayable_) {  // an input without a packet ends at once
        sentPlayable_ = true;
        Emit(Event{EventKind::Playable, 0, 0, Error()});
    }
    Emit(Event{EventKind::Ended, 0, 0, Error()});
}

}  // namespace ns
