#ifndef PLATFORM_MEDIA_HEADLESS_MOVIE_PLAYER_H
#define PLATFORM_MEDIA_HEADLESS_MOVIE_PLAYER_H
// The movie player without a picture: reads the movie with libavformat on a reader thread
// (MovieReader) and plays it on a clock, for tests, scripts and the demo.
//
// The playback clock runs on the player's loop (so a test on a manual clock drives it):
// position = base + rate x time played, where time stalled or seeking does not count, and
// never past the data read. Reaching the data read before the input's end stalls playback
// (load state 5); it goes on, with load state 1, once a second more is read (or the end);
// load state 3 follows when four seconds are read ahead of the position (or the end).
// Reaching the end of the data at the input's end finishes: playback state 0, load state 0,
// then did-finish with reason "ended". A failure to open or read finishes the same way with
// reason "error" and the error. Stop() posts no did-finish.
//
// A seek while playable posts seeking forward (4) or backward (5), then, once the reader has
// data from the new place, the state it had before (playing: 1). A seek before the movie is
// playable only sets where reading starts.
//
// The states, their notifications, the settings, Stop() and the finish are MoviePlayerBase's.
//
// The loop, the centre and whatever posts to them must outlive the player; the player must be
// destroyed on its loop's thread. Destruction stops the reader (joined) and posts nothing.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/media/MoviePlayerBase.h"
#include "platform/media/MovieReader.h"
#include "platform/media/MovieStreamStatistics.h"

namespace ns {

class HeadlessMoviePlayer : public MoviePlayerBase {
public:
    // How often the clock is looked at, in seconds of the loop's clock.
    static constexpr double kTickSeconds = 0.1;
    // Data read past the position that ends a stall, and that counts as playthrough-OK.
    static constexpr double kResumeAhead = 1.0;
    static constexpr double kPlaythroughAhead = 4.0;

    // Makes this player the one MoviePlayer::Create() gives while no factory is installed.
    static void MakeDefault();

    // The loop defaults to ui::Loop() as it is at construction.
    HeadlessMoviePlayer();
    HeadlessMoviePlayer(RunLoop& loop, NotificationCenter& center);
    ~HeadlessMoviePlayer() override;

    void PrepareToPlay() override;
    void Play() override;
    void Pause() override;
    double CurrentPlaybackTime() const override;
    void SetCurrentPlaybackTime(double seconds) override;
    std::shared_ptr<ui::View> View() const override { return view_; }

    // Media seconds per clock second (1 by default); a rate that is not above zero is ignored.
    void SetRate(double rate);
    double Rate() const { return rate_; }
    // Decode every packet and count errors (MovieStreamStatistics), from the next PrepareToPlay.
    void SetVerify(bool verify) { verify_ = verify; }
    // Of the reading under way, or else of the last one.
    std::vector<MovieStreamStatistics> Statistics() const;

private:
    struct Link;

    void StartReader();
    void StopReader();
    void OnEvent(uint64_t generation, const MovieReader::Event& event);
    // Moves the load state and the end along the clock; run on every tick and reader event.
    void Evaluate();
    void StartClock();
    void FreezeClock();
    double Elapsed() const;
    // The reader stopped, the clock back at the start (MoviePlayerBase::Reset posts the rest).
    void ResetMedia() override;

    RunLoop& loop_;
    std::shared_ptr<Link> link_;  // what posted reader events reach while the player lives
    std::shared_ptr<ui::View> view_;

    bool verify_ = false;
    double rate_ = 1.0;

    std::unique_ptr<MovieReader> reader_;
    uint64_t generation_ = 0;  // of the reader; events of an earlier one are dropped
    uint64_t tickTimer_ = 0;
    std::vector<MovieStreamStatistics> lastStatistics_;
    bool playable_ = false;

    // The clock.
    double base_ = 0;
    RunLoop::TimePoint since_{};
    bool clockRunning_ = false;
    bool stalled_ = false;
    bool seeking_ = false;
    uint64_t seekId_ = 0;
    MoviePlaybackState resumeState_ = MoviePlaybackState::Stopped;  // after the seek
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_HEADLESS_MOVIE_PLAYER_H
