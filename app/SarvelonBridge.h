#ifndef APP_SARVELONBRIDGE_H
#define APP_SARVELONBRIDGE_H
// The player screen's way to the media engine: the four entry points of the engine's bridge
// (SV_Initialize, SV_Play, SV_Stop, SV_Terminate) and the names of its events, behind one
// interface so that tests can put a recording fake in place of the engine.
//
// Current() is the real bridge unless a test installed another with SetCurrent (main thread).
// The player screen calls the bridge only from its own thread (SarvelonQueue), one call at a
// time; events reach the callback on the thread that drains the main queue (ns::MainQueue()).

#include <memory>
#include <string>

#include "engine/api/SViOsApi.h"
#include "platform/Value.h"

class SarvelonBridge {
public:
    // Stop's answer when there was no session to stop.
    static constexpr int kNoSession = 15;

    virtual ~SarvelonBridge() = default;

    virtual int Initialize(SViOsApiCallback callback, const ns::Dictionary& settings) = 0;
    // Fills *playbackUrl with the loopback playlist URL on success (0).
    virtual int Play(const std::string& assetUrl, std::string* playbackUrl, int unused) = 0;
    // Also from another thread while Play waits for the origin: that start then ends at once.
    virtual int Stop() = 0;
    virtual int Terminate() = 0;
    virtual std::string EventToString(int event) = 0;

    // The bridge the player screen uses: the engine's unless a test set another.
    static SarvelonBridge& Current();
    // The same, held: a job on the bridge's thread keeps the bridge it was given (main thread).
    static std::shared_ptr<SarvelonBridge> CurrentShared();
    // Null brings back the engine's bridge.
    static void SetCurrent(std::shared_ptr<SarvelonBridge> bridge);
};

// The engine's bridge itself.
class SarvelonEngineBridge : public SarvelonBridge {
public:
    int Initialize(SViOsApiCallback callback, const ns::Dictionary& settings) override {
        return SV_Initialize(callback, settings);
    }
    int Play(const std::string& assetUrl, std::string* playbackUrl, int unused) override {
        return SV_Play(assetUrl, playbackUrl, unused);
    }
    int Stop() override { return SV_Stop(); }
    int Terminate() override { return SV_Terminate(); }
    std::string EventToString(int event) override { return SV_EventToString(event); }
};

#endif  // APP_SARVELONBRIDGE_H
