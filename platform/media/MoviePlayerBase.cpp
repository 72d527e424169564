#include "platform/media/MoviePlayerBase.h"

#include <utility>

namespace ns {

MoviePlayerBase::MoviePlayerBase(NotificationCenter& center)
    : center_(center), alive_(std::make_shared<const bool>(true)) {}

MoviePlayerBase::~MoviePlayerBase() = default;

void MoviePlayerBase::SetContentUrl(const std::string& url) {
    if (url == url_) {
        return;
    }
    // The stop posts state changes, and an observer may let go of the player in one of them:
    // the new address is kept only when the player is still there to keep it.
    wantPlay_ = false;
    if (Reset()) {
        url_ = url;
    }
}

void MoviePlayerBase::Stop() {
    wantPlay_ = false;
    Reset();
}

bool MoviePlayerBase::SetLoadState(unsigned state) {
    if (state == loadState_) {
        return true;
    }
    loadState_ = state;
    Dictionary info;
    info.Set(kLoadStateKey, state);
    return Post(kLoadStateDidChange, Value(std::move(info)));
}

bool MoviePlayerBase::SetPlaybackState(MoviePlaybackState state) {
    if (state == state_) {
        return true;
    }
    state_ = state;
    Dictionary info;
    info.Set(kPlaybackStateKey, static_cast<int>(state));
    return Post(kPlaybackStateDidChange, Value(std::move(info)));
}

bool MoviePlayerBase::Post(const char* name, Value userInfo) {
    // An observer called at once may destroy the player; the caller then must not go on.
    std::weak_ptr<const bool> alive = alive_;
    center_.Post(name, static_cast<const MoviePlayer*>(this), std::move(userInfo));
    return !alive.expired();
}

bool MoviePlayerBase::Reset() {
    ResetMedia();
    return SetPlaybackState(MoviePlaybackState::Stopped) && SetLoadState(kLoadStateUnknown);
}

void MoviePlayerBase::Finish(MovieFinishReason reason, const Error* error) {
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
