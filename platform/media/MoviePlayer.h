#ifndef PLATFORM_MEDIA_MOVIE_PLAYER_H
#define PLATFORM_MEDIA_MOVIE_PLAYER_H
// The movie player the player screen plays an HLS URL in: one contract, two implementations
// (HeadlessMoviePlayer on libavformat, which tests install as the default; the desktop installs
// its own through SetFactory). Both derive from MoviePlayerBase, which keeps the states and posts
// the notifications below.
//
// Threads: a player belongs to the thread that runs its loop (ui::Loop() when it was made:
// RunLoop::Main() in the application, a TestLoop in tests), called "the main thread" here.
// Every call is made there and every notification is posted from there, whatever thread the
// implementation reads media on. Notifications go through the centre the player was given
// (ns::NotificationCenter::Default() unless told otherwise) with the player as sender; their
// user info carries the new state, so that a log of them is exact even when delivery waits.
//
// Notifications, each posted only when the value changed:
// - kLoadStateDidChange, user info {"loadState": LoadState()}. The first one after
//   PrepareToPlay is exactly kLoadStatePlayable (1), alone; playthrough-OK (3) follows when
//   enough is read ahead, playable|stalled (5) when the data read runs out during playback,
//   and playable (1) again once data comes back. A paused movie never stalls, and its load
//   state never comes back to exactly playable (1) while it is paused (the player screen plays
//   on that): a seek while paused posts nothing for the data it waits for.
// - kPlaybackStateDidChange, user info {"playbackState": PlaybackState()}.
// - kPlaybackDidFinish, user info {"reason": FinishReason} and, for kFinishedWithError,
//   {"error": ErrorToValue(error)}; the player is stopped (state 0) when it is posted.

#include <functional>
#include <memory>
#include <string>

#include "platform/Value.h"
#include "platform/net/Error.h"

namespace ui {
class View;
}

namespace ns {

// The platform's numbering.
enum class MoviePlaybackState {
    Stopped = 0,
    Playing = 1,
    Paused = 2,
    Interrupted = 3,
    SeekingForward = 4,
    SeekingBackward = 5,
};

// Load state bits (0: unknown).
constexpr unsigned kLoadStateUnknown = 0;
constexpr unsigned kLoadStatePlayable = 1;
constexpr unsigned kLoadStatePlaythroughOK = 2;
constexpr unsigned kLoadStateStalled = 4;

enum class MovieScalingMode { None = 0, AspectFit = 1, AspectFill = 2, Fill = 3 };
enum class MovieControlStyle { None = 0, Embedded = 1, Fullscreen = 2, Default = 3 };
enum class MovieFinishReason { PlaybackEnded = 0, PlaybackError = 1 };

class MoviePlayer {
public:
    static constexpr const char* kLoadStateDidChange = "MoviePlayerLoadStateDidChange";
    static constexpr const char* kPlaybackStateDidChange = "MoviePlayerPlaybackStateDidChange";
    static constexpr const char* kPlaybackDidFinish = "MoviePlayerPlaybackDidFinish";
    static constexpr const char* kLoadStateKey = "loadState";
    static constexpr const char* kPlaybackStateKey = "playbackState";
    static constexpr const char* kFinishReasonKey = "reason";
    static constexpr const char* kErrorKey = "error";
    // The domain of failures that are not network errors (a stream that cannot be read).
    static constexpr const char* kErrorDomain = "MoviePlayerErrorDomain";

    using Factory = std::function<std::unique_ptr<MoviePlayer>()>;
    // Installs the factory Create() uses; an empty one brings back the default.
    static void SetFactory(Factory factory);
    // The factory Create() uses while none is installed: the headless player in the programs
    // that link it (HeadlessMoviePlayer::MakeDefault), none in the application, whose window
    // installs its own.
    static void SetDefaultFactory(Factory factory);
    // A new player from the installed factory, else from the default one; null when there is
    // neither (main thread).
    static std::unique_ptr<MoviePlayer> Create();

    // An error as the did-finish user info carries it ({"domain", "code", "description",
    // "url"}) and back (a value of another shape gives an empty error).
    static Value ErrorToValue(const Error& error);
    static Error ErrorFromValue(const Value& value);

    virtual ~MoviePlayer() = default;

    // A new URL stops what was playing.
    virtual void SetContentUrl(const std::string& url) = 0;
    virtual const std::string& ContentUrl() const = 0;
    // Starts loading; nothing when already loading or when there is no URL.
    virtual void PrepareToPlay() = 0;
    // Prepares first when needed; plays as soon as the movie is playable.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    // Stops loading and playing; the position goes back to the start.
    virtual void Stop() = 0;

    // Seconds from the movie's start. Setting it seeks (clamped to [0, Duration()] once the
    // duration is known; NaN is ignored).
    virtual double CurrentPlaybackTime() const = 0;
    virtual void SetCurrentPlaybackTime(double seconds) = 0;
    // Seconds; 0 while unknown.
    virtual double Duration() const = 0;
    virtual MoviePlaybackState PlaybackState() const = 0;
    virtual unsigned LoadState() const = 0;

    virtual MovieScalingMode ScalingMode() const = 0;
    virtual void SetScalingMode(MovieScalingMode mode) = 0;
    virtual MovieControlStyle ControlStyle() const = 0;
    virtual void SetControlStyle(MovieControlStyle style) = 0;
    // Whether the movie plays by itself once playable (default true).
    virtual bool ShouldAutoplay() const = 0;
    virtual void SetShouldAutoplay(bool autoplay) = 0;

    // The view the picture is shown in (the same view for the player's lifetime).
    virtual std::shared_ptr<ui::View> View() const = 0;
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_MOVIE_PLAYER_H
