#ifndef ENGINE_API_SVIOSAPITESTSUPPORT_H
#define ENGINE_API_SVIOSAPITESTSUPPORT_H
// Header-only, for the bridge's tests: an application callback that records every bridge
// event with the thread it ran on, draining of the main queue, and the bridge state reset that
// starts and ends each test.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "platform/core/RunLoop.h"

namespace BridgeTestSupport {

// The transport-stream multiplexer's fixed PIDs (ISO/IEC 13818-1 PMT), where the served
// segments carry their pictures and their sound.
const uint16_t kVideoPid = 0x21;
const uint16_t kAudioPid = 0x22;

struct Delivered {
    int event;
    ns::Dictionary attributes;
    std::thread::id thread;
};

inline std::mutex& RecordMutex() {
    static std::mutex m;
    return m;
}
inline std::vector<Delivered>& Records() {
    static std::vector<Delivered> r;
    return r;
}

inline int Record(SViOsApiEvent event, const ns::Dictionary& attributes) {
    std::lock_guard<std::mutex> lock(RecordMutex());
    Records().push_back({static_cast<int>(event), attributes, std::this_thread::get_id()});
    return 0;
}

// A second callback, to tell which one a delivery reached.
inline std::vector<int>& OtherRecords() {
    static std::vector<int> r;
    return r;
}
inline int RecordOther(SViOsApiEvent event, const ns::Dictionary&) {
    std::lock_guard<std::mutex> lock(RecordMutex());
    OtherRecords().push_back(static_cast<int>(event));
    return 1;
}

inline std::vector<Delivered> Taken() {
    std::lock_guard<std::mutex> lock(RecordMutex());
    return Records();
}

inline void Forget() {
    std::lock_guard<std::mutex> lock(RecordMutex());
    Records().clear();
    OtherRecords().clear();
}

// Runs whatever is queued on the main queue now (several steps, in case operations queue more).
inline void DrainQueued() {
    for (int i = 0; i < 4; ++i) ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
}

// Drains the main queue until at least n events were delivered or the time is up.
inline std::vector<Delivered> DrainUntil(
    size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    ns::RunLoop::Main().RunUntil([n] { return Taken().size() >= n; }, timeout);
    return Taken();
}

// A fresh bridge whose application callback is Record, with nothing queued or recorded.
inline void StartRecordingFresh() {
    SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    SarvelonMediaKit::SViOsApiState::Instance().SetCallback(&Record);
    DrainQueued();
    Forget();
}

// Runs what is still queued, then forgets the records and resets the bridge.
inline void FinishRecording() {
    DrainQueued();
    Forget();
    SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
}

inline std::vector<int> EventNumbers(const std::vector<Delivered>& delivered) {
    std::vector<int> numbers;
    for (const auto& d : delivered) numbers.push_back(d.event);
    return numbers;
}

inline std::vector<std::string> SortedKeys(const ns::Dictionary& d) {
    std::vector<std::string> keys = d.Keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace BridgeTestSupport

#endif  // ENGINE_API_SVIOSAPITESTSUPPORT_H
