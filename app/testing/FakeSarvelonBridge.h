#ifndef APP_TESTING_FAKESARVELONBRIDGE_H
#define APP_TESTING_FAKESARVELONBRIDGE_H
// Header-only, for the player screen's tests: a bridge that starts no engine. It records every
// call with its arguments, answers SV_Play with the statuses it was given (0 when none is left)
// and the configured playback URL on success, and posts events to the stored callback the way
// the engine's bridge does: through the main queue, to run when ns::RunLoop::Main() is stepped.
// SV_Play can be held, as a slow origin holds the engine's: it then waits until released (20 s
// at most) or until SV_Stop comes from another thread, which ends it at once with 408 as the
// engine's stop ends a start that waits for its origin. SV_Stop answers 15 when no SV_Play made
// a session since the last stop.
// Install it with ScopedFakeSarvelonBridge.
//
// The player screen calls it on the bridge's thread (SarvelonQueue) while the test reads it:
// the record is locked. Set playStatuses and playbackUrlToHand before the screen starts.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "app/SarvelonBridge.h"
#include "platform/core/OperationQueue.h"

class FakeSarvelonBridge : public SarvelonBridge {
public:
    struct Call {
        std::string name;                 // "SV_Initialize", "SV_Play", "SV_Stop", "SV_Terminate"
        ns::Dictionary settings;          // SV_Initialize
        std::string assetUrl;             // SV_Play
        int unused = 0;                   // SV_Play's third argument
        bool playbackUrlWasEmpty = true;  // SV_Play: the string it was handed
    };

    int Initialize(SViOsApiCallback callback, const ns::Dictionary& settings) override {
        Call call;
        call.name = "SV_Initialize";
        call.settings = settings;
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        callback_ = callback;
        const int status = initialized_ ? 2 : 0;
        initialized_ = true;
        return status;
    }
    int Play(const std::string& assetUrl, std::string* playbackUrl, int unused) override {
        Call call;
        call.name = "SV_Play";
        call.assetUrl = assetUrl;
        call.unused = unused;
        call.playbackUrlWasEmpty = playbackUrl == nullptr || playbackUrl->empty();
        std::unique_lock<std::mutex> lock(mutex_);
        calls_.push_back(call);
        ++playsEntered_;
        playing_ = true;
        session_ = true;
        changed_.notify_all();
        // Bounded, so that a screen that waits for its start on the calling thread fails its
        // test instead of hanging it.
        changed_.wait_for(lock, std::chrono::seconds(20),
                          [this] { return !holdPlay_ || stopPlay_; });
        playing_ = false;
        if (stopPlay_) {
            stopPlay_ = false;
            ++playsStopped_;
            return kStoppedStatus;
        }
        int status = 0;
        if (!playStatuses.empty()) {
            status = playStatuses.front();
            playStatuses.pop_front();
        }
        if (status == 0 && playbackUrl != nullptr) *playbackUrl = playbackUrlToHand;
        return status;
    }
    int Stop() override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(Named("SV_Stop"));
        if (playing_) {
            stopPlay_ = true;
            changed_.notify_all();
        }
        const bool had = session_;
        session_ = false;
        return had ? 0 : kNoSession;
    }
    int Terminate() override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(Named("SV_Terminate"));
        initialized_ = false;
        return 0;
    }
    std::string EventToString(int event) override { return SV_EventToString(event); }

    // Queues the event for the stored callback on the main queue, as the engine's bridge does;
    // nothing happens without one.
    void PostEvent(int event, const ns::Dictionary& attributes) {
        SViOsApiCallback callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = callback_;
        }
        if (callback == nullptr) return;
        ns::MainQueue().AddOperation([callback, event, attributes] {
            callback(static_cast<SViOsApiEvent>(event), attributes);
        });
    }

    std::vector<Call> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const Call& call : Calls()) names.push_back(call.name);
        return names;
    }

    // From now on SV_Play waits inside until ReleasePlay().
    void HoldPlay() {
        std::lock_guard<std::mutex> lock(mutex_);
        holdPlay_ = true;
    }
    void ReleasePlay() {
        std::lock_guard<std::mutex> lock(mutex_);
        holdPlay_ = false;
        changed_.notify_all();
    }
    // SV_Play calls begun so far (a held one included).
    int PlaysEntered() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return playsEntered_;
    }
    // SV_Play calls that a stop from another thread ended.
    int PlaysStopped() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return playsStopped_;
    }

    // What a held SV_Play that a stop ended returns: the engine's status for a start cut short.
    static constexpr int kStoppedStatus = 408;

    // What the next SV_Play calls return, in order (0 once it is empty).
    std::deque<int> playStatuses;
    std::string playbackUrlToHand = "http://localhost:20001/fake.m3u8";

private:
    static Call Named(const std::string& name) {
        Call call;
        call.name = name;
        return call;
    }

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable changed_;
    std::vector<Call> calls_;
    SViOsApiCallback callback_ = nullptr;
    bool initialized_ = false;
    bool holdPlay_ = false;
    bool playing_ = false;   // an SV_Play is inside
    bool stopPlay_ = false;  // ... and a stop asked it to end
    bool session_ = false;   // an SV_Play made a session that no stop has ended yet
    int playsEntered_ = 0;
    int playsStopped_ = 0;
};

// Installs a fresh fake for its lifetime.
class ScopedFakeSarvelonBridge {
public:
    ScopedFakeSarvelonBridge() : fake_(std::make_shared<FakeSarvelonBridge>()) {
        SarvelonBridge::SetCurrent(fake_);
    }
    // A held SV_Play goes on, so that the bridge's thread is free for the next test.
    ~ScopedFakeSarvelonBridge() {
        fake_->ReleasePlay();
        SarvelonBridge::SetCurrent(nullptr);
    }
    FakeSarvelonBridge& operator*() const { return *fake_; }
    FakeSarvelonBridge* operator->() const { return fake_.get(); }

private:
    std::shared_ptr<FakeSarvelonBridge> fake_;
};

#endif  // APP_TESTING_FAKESARVELONBRIDGE_H
