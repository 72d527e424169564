#ifndef ENGINE_SEEK_MEDIASEEKERTESTSUPPORT_H
#define ENGINE_SEEK_MEDIASEEKERTESTSUPPORT_H

// Header-only helpers for the seeker's tests: a scope for the process-wide default bandwidth,
// and the stage in the demultiplexer's place that writes down what the seeker hands on.

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

// Sets the default bandwidth for the scope and puts back the one before.
class DefaultBandwidthScope {
public:
    explicit DefaultBandwidthScope(uint32_t bandwidth) : saved_(GetDefaultBandwidth()) {
        SetDefaultBandwidth(ByteAmount(bandwidth));
    }
    ~DefaultBandwidthScope() { SetDefaultBandwidth(saved_); }

private:
    ByteAmount saved_;
};

// The demultiplexer's place: keeps the stream as words, "change <track> <type>", "time <us>
// <track>" (unless told to leave the times out) and "data <bytes>" (a run of data however it
// was cut), and the data bytes. Takes whatever it is offered.
class StreamWords : public Component {
public:
    explicit StreamWords(bool withTimes = true) : Component(nullptr), withTimes_(withTimes) {}
    std::string GetTypeName() const override { return "StreamWords"; }
    ByteAmount DoGetBytesWanted() override { return ByteAmount(0xFFFFFFFFu); }
    void DoAdd(const MemoryChunk& chunk) override {
        bytes.insert(bytes.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
        if (!words.empty() && words.back().compare(0, 5, "data ") == 0) {
            runBytes += chunk.Size();
            words.back() = "data " + std::to_string(runBytes);
        } else {
            runBytes = chunk.Size();
            words.push_back("data " + std::to_string(runBytes));
        }
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (const auto* change = dynamic_cast<const MemoryMarkerTrackChange*>(marker.get())) {
            words.push_back("change " + std::to_string(change->GetTrack().Get()) + " " +
                            std::to_string(change->GetChangeType()));
        } else if (const auto* seek =
                       dynamic_cast<const MemoryMarkerMediaTimeSeek*>(marker.get())) {
            if (withTimes_) {
                words.push_back("time " + std::to_string(seek->GetMediaTime().Get()) + " " +
                                std::to_string(seek->GetTrack().Get()));
            }
        }
        return false;
    }
    void Clear() {
        words.clear();
        bytes.clear();
    }

    std::vector<std::string> words;
    std::vector<uint8_t> bytes;
    uint64_t runBytes = 0;

private:
    const bool withTimes_;
};

}  // namespace SarvelonMediaKit

#endif
