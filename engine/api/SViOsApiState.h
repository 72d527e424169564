#ifndef ENGINE_API_SVIOSAPISTATE_H
#define ENGINE_API_SVIOSAPISTATE_H
// The bridge's process-wide state. The entry points (main thread) write it; the engine's event
// handler reads the current asset on engine threads and queued events read the callback on the
// draining thread, so every member is guarded. No lock is held while the engine or the
// application's callback runs: callers take copies out.

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "engine/api/SViOsApi.h"
#include "engine/core/SVMKCredentials.h"

namespace SarvelonMediaKit {

class SViOsApiState {
public:
    // Made on first use and never destroyed: engine threads may still post while the process
    // exits.
    static SViOsApiState& Instance();

    // Stored by SV_Initialize once it passes its first test, never cleared, so events posted
    // after SV_Terminate still reach the application.
    SViOsApiCallback GetCallback() const { return callback_.load(); }
    void SetCallback(SViOsApiCallback callback) { callback_.store(callback); }

    bool IsInitialized() const { return initialized_.load(); }
    void SetInitialized(bool initialized) { initialized_.store(initialized); }

    // The credentials record: null before the first settings mapping, then kept for good.
    boost::shared_ptr<SVMKCredentials> GetCredentials() const;
    // The record, made with an empty dictionary when there is none yet.
    boost::shared_ptr<SVMKCredentials> EnsureCredentials();

    // The media URL of the current playback; nullopt when there is none.
    std::optional<std::string> GetCurrentAsset() const;
    // Replaces (releasing) any earlier asset.
    void SetCurrentAsset(const std::string& url);
    void ClearCurrentAsset();

    SVMediaTransformerSession* GetSession() const;
    void SetSession(SVMediaTransformerSession* session);
    // Forgets the session when it is still `session`.
    void ClearSession(SVMediaTransformerSession* session);

    // An SV_Play under way, from its first checks until it returns. Its session is set (and
    // so visible to SV_Stop on another thread) before the engine's setup runs.
    void BeginStart();
    void EndStart();
    // The current session; while a start is under way that has not made its session yet, the
    // session once it is made (or null when the start ends without one). The making takes no
    // time (no network), so a stop that comes with a start never misses the start's session.
    SVMediaTransformerSession* AwaitSession() const;

    // Back to the state at process start, but the callback stays (it is never cleared).
    // For tests that need a fresh bridge.
    void ResetForTesting();

private:
    SViOsApiState() = default;

    std::atomic<SViOsApiCallback> callback_{nullptr};
    std::atomic<bool> initialized_{false};

    mutable std::mutex mutex_;  // guards the members below
    mutable std::condition_variable sessionChanged_;
    boost::shared_ptr<SVMKCredentials> credentials_;
    std::optional<std::string> currentAsset_;
    SVMediaTransformerSession* session_ = nullptr;
    bool starting_ = false;
};

}  // namespace SarvelonMediaKit

#endif  // ENGINE_API_SVIOSAPISTATE_H
