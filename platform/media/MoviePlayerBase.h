#ifndef PLATFORM_MEDIA_MOVIE_PLAYER_BASE_H
#define PLATFORM_MEDIA_MOVIE_PLAYER_BASE_H
// The state machine every movie player of ours shares (HeadlessMoviePlayer, the desktop's
// GstMoviePlayer): the URL, the duration, the load and playback states with their
// notifications (each posted only when the value changed), the settings (scaling mode,
// control style, autoplay), whether Play() was asked for, Stop() and the finish. A player
// derived from it keeps only what is its own (what reads and plays the movie, its clock) and
// brings that back to the start in ResetMedia().
//
// Notifications go through the centre given at construction, with the player (as a
// MoviePlayer) as sender; their user info is as MoviePlayer.h says. An observer called at
// once may destroy the player: every call here that posts says whether the player is still
// there, and the caller must not go on when it is not.

#include <memory>
#include <string>

#include "platform/Value.h"
#include "platform/core/NotificationCenter.h"
#include "platform/media/MoviePlayer.h"
#include "platform/net/Error.h"

namespace ns {

class MoviePlayerBase : public MoviePlayer {
public:
    ~MoviePlayerBase() override;
    MoviePlayerBase(const MoviePlayerBase&) = delete;
    MoviePlayerBase& operator=(const MoviePlayerBase&) = delete;

    // The same URL again does nothing; another stops what was playing (Stop()), then is kept.
    void SetContentUrl(const std::string& url) override;
    const std::string& ContentUrl() const override { return url_; }
    // Play() is no longer asked for; Reset().
    void Stop() override;
    double Duration() const final { return duration_; }
    MoviePlaybackState PlaybackState() const final { return state_; }
    unsigned LoadState() const final { return loadState_; }
    MovieScalingMode ScalingMode() const final { return scalingMode_; }
    void SetScalingMode(MovieScalingMode mode) override { scalingMode_ = mode; }
    MovieControlStyle ControlStyle() const final { return controlStyle_; }
    void SetControlStyle(MovieControlStyle style) final { controlStyle_ = style; }
    bool ShouldAutoplay() const final { return autoplay_; }
    void SetShouldAutoplay(bool autoplay) final { autoplay_ = autoplay; }

protected:
    explicit MoviePlayerBase(NotificationCenter& center);

    // The URL as set last, the one to load (ContentUrl() may be overridden to show another).
    const std::string& Url() const { return url_; }
    void SetDuration(double seconds) { duration_ = seconds; }
    // Play() asked for (set by the player's Play() and Pause(); Stop() and the finish clear it).
    bool PlayWanted() const { return wantPlay_; }
    void SetPlayWanted(bool want) { wantPlay_ = want; }

    // Each returns false when an observer destroyed the player meanwhile (the caller returns).
    bool SetLoadState(unsigned state);
    bool SetPlaybackState(MoviePlaybackState state);
    bool Post(const char* name, Value userInfo);
    // Back to the start with nothing loaded: ResetMedia(), then playback state 0 and load
    // state 0, each posted when it changed (in that order).
    bool Reset();
    // Play() no longer asked for, Reset(), then (when the player is still there) did-finish
    // with the reason and, when there is one, the error.
    void Finish(MovieFinishReason reason, const Error* error);

    // Stops reading and playing and brings the player's own state back to the start; posts
    // nothing (Reset() posts the states after it).
    virtual void ResetMedia() = 0;

private:
    NotificationCenter& center_;
    // Gone once the player is: what Post looks at after the observers have run.
    std::shared_ptr<const bool> alive_;

    std::string url_;
    double duration_ = 0;
    MoviePlaybackState state_ = MoviePlaybackState::Stopped;
    unsigned loadState_ = kLoadStateUnknown;
    MovieScalingMode scalingMode_ = MovieScalingMode::AspectFit;
    MovieControlStyle controlStyle_ = MovieControlStyle::Default;
    bool autoplay_ = true;
    bool wantPlay_ = false;
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_MOVIE_PLAYER_BASE_H
