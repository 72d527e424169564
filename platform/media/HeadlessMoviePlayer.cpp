#include "platform/media/HeadlessMoviePlayer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "platform/ui/Loop.h"
#include "platform/ui/View.h"

namespace ns {

struct HeadlessMoviePlayer::Link {
    explicit Link(HeadlessMoviePlayer* p) : player(p) {}
    HeadlessMoviePlayer* player;
    // A progress event is waiting on the loop: the reader posts no second one meanwhile.
    std::atomic<bool> progressQueued{false};
};

void HeadlessMoviePlayer::MakeDefault() {
    MoviePlayer::SetDefaultFactory([] { return std::make_unique<HeadlessMoviePlayer>(); });
}

HeadlessMoviePlayer::HeadlessMoviePlayer()
    : HeadlessMoviePlayer(ui::Loop(), NotificationCenter::Default()) {}

HeadlessMoviePlayer::HeadlessMoviePlayer(RunLoop& loop, NotificationCenter& center)
    : loop_(loop),
      center_(center),
      link_(std::make_shared<Link>(this)),
      view_(std::make_shared<ui::View>()) {
    view_->SetBackgroundColor(ui::Color::Black());
}

HeadlessMoviePlayer::~HeadlessMoviePlayer() {
    link_.reset();  // events still queued on the loop find nobody
    if (tickTimer_ != 0) {
        loop_.CancelTimer(tickTimer_);
    }
    reader_.reset();  // aborts and joins
}

void HeadlessMoviePlayer::SetContentUrl(const std::string& url) {
    if (url == url_) {
        return;
    }
    Stop();
    url_ = url;
}

void HeadlessMoviePlayer::PrepareToPlay() {
    if (reader_ || url_.empty()) {
        return;
    }
    StartReader();
}

void HeadlessMoviePlayer::Play() {
    wantPlay_ = true;
    PrepareToPlay();
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Playing;
        return;
    }
    if (playable_ && state_ != MoviePlaybackState::Playing) {
        StartClock();
        if (SetPlaybackState(MoviePlaybackState::Playing)) {
            Evaluate();
        }
    }
}

void HeadlessMoviePlayer::Pause() {
    wantPlay_ = false;
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Paused;
        return;
    }
    if (playable_ && state_ != MoviePlaybackState::Paused) {
        FreezeClock();
        SetPlaybackState(MoviePlaybackState::Paused);
    }
}

void HeadlessMoviePlayer::Stop() {
    wantPlay_ = false;
    Reset();
}

double HeadlessMoviePlayer::Elapsed() const {
    if (!clockRunning_ || stalled_ || seeking_) {
        return 0;
    }
    return rate_ * std::chrono::duration<double>(loop_.Now() - since_).count();
}

double HeadlessMoviePlayer::CurrentPlaybackTime() const {
    double position = base_;
    const double elapsed = Elapsed();
    if (elapsed > 0 && reader_) {
        // Never past the data read, and never back behind where the clock was set.
        position = std::min(base_ + elapsed, std::max(reader_->BufferedEnd(), base_));
    }
    if (duration_ > 0) {
        position = std::min(position, duration_);
    }
    return position;
}

void HeadlessMoviePlayer::SetCurrentPlaybackTime(double seconds) {
    if (std::isnan(seconds)) {
        return;
    }
    seconds = std::max(seconds, 0.0);
    if (duration_ > 0) {
        seconds = std::min(seconds, duration_);
    }
    if (!reader_) {
        base_ = seconds;  // where the next PrepareToPlay starts
        return;
    }
    if (!playable_) {
        base_ = seconds;
        reader_->Seek(seconds, ++seekId_);
        return;
    }
    const double from = CurrentPlaybackTime();
    if (!seeking_) {
        resumeState_ = state_;
    }
    base_ = seconds;
    clockRunning_ = false;
    stalled_ = false;
    seeking_ = true;
    reader_->Seek(seconds, ++seekId_);
    SetPlaybackState(seconds >= from ? MoviePlaybackState::SeekingForward
                                     : MoviePlaybackState::SeekingBackward);
}

void HeadlessMoviePlayer::SetRate(double rate) {
    if (!(rate > 0) || std::isinf(rate)) {
        return;
    }
    if (clockRunning_) {
        base_ = CurrentPlaybackTime();
        since_ = loop_.Now();
    }
    rate_ = rate;
}

std::vector<MovieStreamStatistics> HeadlessMoviePlayer::Statistics() const {
    return reader_ ? reader_->Statistics() : lastStatistics_;
}

void HeadlessMoviePlayer::StartReader() {
    const uint64_t generation = ++generation_;
    std::weak_ptr<Link> weak = link_;
    RunLoop* loop = &loop_;
    MovieReader::Options options;
    options.url = url_;
    options.verify = verify_;
    options.start = base_;
    // Runs on the reader thread: everything it reports is handled on the loop.
    auto listener = [weak, loop, generation](const MovieReader::Event& event) {
        if (event.kind == MovieReader::EventKind::Progress) {
            std::shared_ptr<Link> link = weak.lock();
            if (!link || link->progressQueued.exchange(true)) {
                return;
            }
        }
        loop->Post([weak, generation, event] {
            if (std::shared_ptr<Link> link = weak.lock()) {
                if (event.kind == MovieReader::EventKind::Progress) {
                    link->progressQueued.store(false);
                }
                link->player->OnEvent(generation, event);
            }
        });
    };
    reader_ = std::make_unique<MovieReader>(options, std::move(listener));
    tickTimer_ = loop_.AddTimer(ui::SecondsToDuration(kTickSeconds), true, [this] { Evaluate(); });
}

void HeadlessMoviePlayer::StopReader() {
    if (tickTimer_ != 0) {
        loop_.CancelTimer(tickTimer_);
        tickTimer_ = 0;
    }
    if (reader_) {
        reader_->Abort();
        lastStatistics_ = reader_->Statistics();
        reader_.reset();
    }
    ++generation_;
}

void HeadlessMoviePlayer::OnEvent(uint64_t generation, const MovieReader::Event& event) {
    if (generation != generation_ || !reader_) {
        return;
    }
    switch (event.kind) {
        case MovieReader::EventKind::Opened: duration_ = event.duration; break;
        case MovieReader::EventKind::Playable:
            playable_ = true;
            if (!SetLoadState(kLoadStatePlayable)) {
                return;
            }
            // An observer of the load state may have played, paused or stopped already.
            if (reader_ && generation == generation_ && (autoplay_ || wantPlay_) && !seeking_ &&
                state_ != MoviePlaybackState::Playing) {
                StartClock();
                if (!SetPlaybackState(MoviePlaybackState::Playing)) {
                    return;
                }
            }
            break;
        case MovieReader::EventKind::SeekDone:
            if (seeking_ && event.seekId == seekId_) {
                seeking_ = false;
                if (resumeState_ == MoviePlaybackState::Playing) {
                    StartClock();
                }
                if (!SetPlaybackState(resumeState_)) {
                    return;
                }
            }
            break;
        case MovieReader::EventKind::Failed:
            Finish(MovieFinishReason::PlaybackError, &event.error);
            return;
        case MovieReader::EventKind::Progress:
        case MovieReader::EventKind::Ended: break;
    }
    if (reader_ && generation == generation_) {  // an observer may have stopped the player
        Evaluate();
    }
}

void HeadlessMoviePlayer::Evaluate() {
    if (!reader_ || !playable_) {
        return;
    }
    if (seeking_) {
        reader_->SetPlayhead(base_);
        return;
    }
    const double buffered = reader_->BufferedEnd();
    const bool atEnd = reader_->AtEnd();
    if (clockRunning_ && !stalled_ && base_ + Elapsed() >= buffered) {
        if (atEnd) {
            Finish(MovieFinishReason::PlaybackEnded, nullptr);
            return;
        }
        // The data read runs out: the clock waits at its end.
        base_ = std::max(base_, buffered);
        stalled_ = true;
        if (!SetLoadState(kLoadStatePlayable | kLoadStateStalled)) {
            return;
        }
    } else if (stalled_ && (atEnd || buffered - base_ >= kResumeAhead)) {
        stalled_ = false;
        since_ = loop_.Now();
        if (!SetLoadState(kLoadStatePlayable)) {
            return;
        }
    }
    if (!reader_) {
        return;  // an observer stopped the player
    }
    const double position = CurrentPlaybackTime();
    if (!stalled_ && (loadState_ & kLoadStatePlaythroughOK) == 0 &&
        (atEnd || buffered - position >= kPlaythroughAhead)) {
        if (!SetLoadState(kLoadStatePlayable | kLoadStatePlaythroughOK)) {
            return;
        }
    }
    if (reader_) {
        reader_->SetPlayhead(position);
    }
}

void HeadlessMoviePlayer::StartClock() {
    since_ = loop_.Now();
    clockRunning_ = true;
}

void HeadlessMoviePlayer::FreezeClock() {
    base_ = CurrentPlaybackTime();
    clockRunning_ = false;
}

bool HeadlessMoviePlayer::SetLoadState(unsigned state) {
    if (state == loadState_) {
        return true;
    }
    loadState_ = state;
    Dictionary info;
    info.Set(kLoadStateKey, state);
    return Post(kLoadStateDidChange, Value(std::move(info)));
}

bool HeadlessMoviePlayer::SetPlaybackState(MoviePlaybackState state) {
    if (state == state_) {
        return true;
    }
    state_ = state;
    Dictionary info;
    info.Set(kPlaybackStateKey, static_cast<int>(state));
    return Post(kPlaybackStateDidChange, Value(std::move(info)));
}

bool HeadlessMoviePlayer::Post(const char* name, Value userInfo) {
    // An observer called at once may destroy the player; the caller then must not go on.
    std::weak_ptr<Link> alive = link_;
    center_.Post(name, this, std::move(userInfo));
    return !alive.expired();
}

bool HeadlessMoviePlayer::Reset() {
    StopReader();
    playable_ = false;
    base_ = 0;
    clockRunning_ = false;
    stalled_ = false;
    seeking_ = false;
    return SetPlaybackState(MoviePlaybackState::Stopped) && SetLoadState(kLoadStateUnknown);
}

void HeadlessMoviePlayer::Finish(MovieFinishReason reason, const Error* error) {
    Dictionary info;
    info.Set(kFinishReasonKey, static_cast<int>(reason));
    if (error != nullptr) {
        info.Set(kErrorKey, ErrorToValue(*error));
    }
    wantPlay_ = false;
    if (Reset()) {
        Post(kPlaybackDidFinish, Value(std::move(info)));
    }
}

}  // namespace ns
