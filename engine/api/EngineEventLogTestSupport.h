#ifndef ENGINE_API_ENGINEEVENTLOGTESTSUPPORT_H
#define ENGINE_API_ENGINEEVENTLOGTESTSUPPORT_H

// Test helper (included by *Test.cpp only): a process-wide record of the engine events that
// reach the callback, with copies of their payloads and the thread each ran on; and the small
// builders and readers of the payloads those tests share.

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "SVLibrary/TypedValue/SVTypedValue.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {
namespace test {

struct EngineEvent {
    SVMediaTransformerSession* session;
    int event;
    SV::SVTypedValue data;
    std::thread::id thread;
};

class EngineEventLog {
public:
    typedef std::function<void(SVMediaTransformerSession*, int)> Hook;

    // The callback handed to SV_MediaTransformerInitialize.
    static void Callback(SVMediaTransformerSession* session, int event,
                         const SV::SVTypedValue* data) {
        Hook hook;
        {
            std::lock_guard<std::mutex> lock(Mutex());
            EngineEvent record = {session, event, data != nullptr ? *data : SV::SVTypedValue(),
                                  std::this_thread::get_id()};
            Events().push_back(record);
            hook = HookSlot();
        }
        Changed().notify_all();
        // Runs outside the log's lock, as a real callback would run its own work.
        if (hook) hook(session, event);
    }

    static void Clear() {
        std::lock_guard<std::mutex> lock(Mutex());
        Events().clear();
        HookSlot() = Hook();
    }
    static void SetHook(const Hook& hook) {
        std::lock_guard<std::mutex> lock(Mutex());
        HookSlot() = hook;
    }
    static std::vector<EngineEvent> Snapshot() {
        std::lock_guard<std::mutex> lock(Mutex());
        return Events();
    }
    // The events of one number, in order.
    static std::vector<EngineEvent> Of(int event) {
        std::vector<EngineEvent> out;
        std::lock_guard<std::mutex> lock(Mutex());
        for (const EngineEvent& e : Events()) {
            if (e.event == event) out.push_back(e);
        }
        return out;
    }
    // Waits (at most timeout) until count events of the number have arrived.
    static bool WaitFor(int event, size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Mutex());
        return Changed().wait_for(lock, timeout, [&] {
            size_t n = 0;
            for (const EngineEvent& e : Events()) n += e.event == event ? 1 : 0;
            return n >= count;
        });
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::condition_variable& Changed() {
        static std::condition_variable changed;
        return changed;
    }
    static std::vector<EngineEvent>& Events() {
        static std::vector<EngineEvent> events;
        return events;
    }
    static Hook& HookSlot() {
        static Hook hook;
        return hook;
    }
};

// A track with the identifier and kind given, its information merged from extra.
inline boost::shared_ptr<MediaTrack> MakeTrack(uint32_t id, bool video, bool audio,
                                               const SV::SVDictionary& extra) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetVideo(video);
    track->SetAudio(audio);
    track->GetInfo().Merge(extra, true);
    return track;
}

// The dictionary a payload holds; null when it holds something else.
inline const SV::SVDictionary* AsDictionary(const SV::SVTypedValue& value) {
    const SV::SVDictionary* dictionary = nullptr;
    return value.GetDictionary(dictionary) ? dictionary : nullptr;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
