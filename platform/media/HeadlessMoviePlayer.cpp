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
    : MoviePlayerBase(center),
      loop_(loop),
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

void HeadlessMoviePlayer::PrepareToPlay() {
    if (reader_ || Url().empty()) {
        return;
    }
    StartReader();
}

void HeadlessMoviePlayer::Play() {
    SetPlayWanted(true);
    PrepareToPlay();
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Playing;
        return;
    }
    if (playable_ && PlaybackState() != MoviePlaybackState::Playing) {
        StartClock();
        if (SetPlaybackState(MoviePlaybackState::Playing)) {
            Evaluate();
        }
    }
}

void HeadlessMoviePlayer::Pause() {
    SetPlayWanted(false);
    if (seeking_) {
        resumeState_ = MoviePlaybackState::Paused;
        return;
    }
    if (playable_ && PlaybackState() != MoviePlaybackState::Paused) {
        FreezeClock();
        SetPlaybackState(MoviePlaybackState::Paused);
    }
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
    if (Duration() > 0) {
        position = std::min(position, Duration());
    }
    return position;
}

void HeadlessMoviePlayer::SetCurrentPlaybackTime(double seconds) {
    if (std::isnan(seconds)) {
        return;
    }
    seconds = std::max(seconds, 0.0);
    if (Duration() > 0) {
        seconds = std::min(seconds, Duration());
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
        resumeState_ = PlaybackState();
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
    options.url = Url();
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
        case MovieReader::EventKind::Opened: SetDuration(event.duration); break;
        case MovieReader::EventKind::Playable:
            playable_ = true;
            if (!SetLoadState(kLoadStatePlayable)) {
                return;
            }
            // An observer of the load state may have played, paused or stopped already.
            if (reader_ && generation == generation_ && (ShouldAutoplay() || PlayWanted()) &&
                !seeking_ && PlaybackState() != MoviePlaybackState::Playing) {
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
    } else if (stalled_ && clockRunning_ && (atEnd || buffered - base_ >= kResumeAhead)) {
        // Playable again, which plays the movie on the screen: a movie paused during the
        // stall stays in it until Play().
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
    if (!stalled_ && (LoadState() & kLoadStatePlaythroughOK) == 0 &&
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

void HeadlessMoviePlayer::ResetMedia() {
    StopReader();
    playable_ = false;
    base_ = 0;
    clockRunning_ = false;
    stalled_ = false;
    seeking_ = false;
}

}  // namespace ns
