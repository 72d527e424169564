#ifndef APP_TESTING_FAKESARVELONBRIDGE_H
#define APP_TESTING_FAKESARVELONBRIDGE_H
// Header-only, for the player screen's tests: a bridge that starts no engine. It records every
// call with its arguments, answers SV_Play with the statuses it was given (0 when none is left)
// and the configured playback URL on success, and posts events to the stored callback the way
// the engine's bridge does: through the main queue, to run when ns::RunLoop::Main() is stepped.
// Install it with Install() and take it away with Uninstall() (or the destructor of Scoped).

#include <deque>
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
        calls.push_back(call);
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
        calls.push_back(call);
        int status = 0;
        if (!playStatuses.empty()) {
            status = playStatuses.front();
            playStatuses.pop_front();
        }
        if (status == 0 && playbackUrl != nullptr) *playbackUrl = playbackUrlToHand;
        return status;
    }
    int Stop() override {
        calls.push_back(Named("SV_Stop"));
        return 0;
    }
    int Terminate() override {
        calls.push_back(Named("SV_Terminate"));
        initialized_ = false;
        return 0;
    }
    std::string EventToString(int event) override { return SV_EventToString(event); }

    // Queues the event for the stored callback on the main queue, as the engine's bridge does;
    // nothing happens without one.
    void PostEvent(int event, const ns::Dictionary& attributes) {
        SViOsApiCallback callback = callback_;
        if (callback == nullptr) return;
        ns::MainQueue().AddOperation([callback, event, attributes] {
            callback(static_cast<SViOsApiEvent>(event), attributes);
        });
    }

    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const Call& call : calls) names.push_back(call.name);
        return names;
    }

    // What the next SV_Play calls return, in order (0 once it is empty).
    std::deque<int> playStatuses;
    std::string playbackUrlToHand = "http://localhost:20001/fake.m3u8";
    std::vector<Call> calls;

private:
    static Call Named(const std::string& name) {
        Call call;
        call.name = name;
        return call;
    }

    SViOsApiCallback callback_ = nullptr;
    bool initialized_ = false;
};

// Installs a fresh fake for its lifetime.
class ScopedFakeSarvelonBridge {
public:
    ScopedFakeSarvelonBridge() : fake_(std::make_shared<FakeSarvelonBridge>()) {
        SarvelonBridge::SetCurrent(fake_);
    }
    ~ScopedFakeSarvelonBridge() { SarvelonBridge::SetCurrent(nullptr); }
    FakeSarvelonBridge& operator*() const { return *fake_; }
    FakeSarvelonBridge* operator->() const { return fake_.get(); }

private:
    std::shared_ptr<FakeSarvelonBridge> fake_;
};

#endif  // APP_TESTING_FAKESARVELONBRIDGE_H
