#ifndef APP_TESTING_SCRIPTEDMOVIEPLAYER_H
#define APP_TESTING_SCRIPTEDMOVIEPLAYER_H
// Header-only, for tests of what the application makes of a movie player's position, duration
// and states without playing anything.

#include <memory>
#include <string>

#include "platform/Value.h"
#include "platform/core/NotificationCenter.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/View.h"

namespace AppTestSupport {

// A movie player that plays nothing: position, duration and states are what the test says.
class ScriptedMoviePlayer : public ns::MoviePlayer {
public:
    void SetContentUrl(const std::string& url) override { url_ = url; }
    const std::string& ContentUrl() const override { return url_; }
    void PrepareToPlay() override {}
    void Play() override { SetState(ns::MoviePlaybackState::Playing); }
    void Pause() override { SetState(ns::MoviePlaybackState::Paused); }
    void Stop() override { state_ = ns::MoviePlaybackState::Stopped; }
    double CurrentPlaybackTime() const override { return time; }
    void SetCurrentPlaybackTime(double seconds) override { time = seconds; }
    double Duration() const override { return duration; }
    ns::MoviePlaybackState PlaybackState() const override { return state_; }
    unsigned LoadState() const override { return loadState_; }
    ns::MovieScalingMode ScalingMode() const override { return mode_; }
    void SetScalingMode(ns::MovieScalingMode mode) override { mode_ = mode; }
    ns::MovieControlStyle ControlStyle() const override { return ns::MovieControlStyle::None; }
    void SetControlStyle(ns::MovieControlStyle) override {}
    bool ShouldAutoplay() const override { return true; }
    void SetShouldAutoplay(bool) override {}
    std::shared_ptr<ui::View> View() const override { return view_; }

    void BecomePlayable() {
        loadState_ = ns::kLoadStatePlayable;
        ns::Dictionary info;
        info.Set(kLoadStateKey, loadState_);
        ns::NotificationCenter::Default().Post(kLoadStateDidChange, this, ns::Value(info));
    }

    double time = 0;
    double duration = 0;

private:
    void SetState(ns::MoviePlaybackState state) {
        state_ = state;
        ns::Dictionary info;
        info.Set(kPlaybackStateKey, static_cast<int>(state));
        ns::NotificationCenter::Default().Post(kPlaybackStateDidChange, this, ns::Value(info));
    }

    std::string url_;
    ns::MoviePlaybackState state_ = ns::MoviePlaybackState::Stopped;
    unsigned loadState_ = 0;
    ns::MovieScalingMode mode_ = ns::MovieScalingMode::AspectFit;
    std::shared_ptr<ui::View> view_ = std::make_shared<ui::View>();
};

}  // namespace AppTestSupport

#endif  // APP_TESTING_SCRIPTEDMOVIEPLAYER_H
