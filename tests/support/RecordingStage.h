#ifndef TESTS_SUPPORT_RECORDINGSTAGE_H
#define TESTS_SUPPORT_RECORDINGSTAGE_H

// Header-only (tests of every folder from engine/core up use it): a middle or output stage of
// a test chain that notes what reaches it.

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"

namespace SvTestSupport {

// A stage with the base behaviour of a component (data, markers and requests pass through it
// as through any stage without a job of its own) that counts every operation reaching it and
// logs it as a line of text, such as "seek 7000000" or "position 0 65535". A few settings give
// it what a test chain asks of a stage: its own head- and tailroom, refusing the markers,
// taking out-of-band requests and data, a known end position.
//
// The counts are atomic and the log is locked, so another thread may read them while the
// chain runs; the settings are made before it runs. A chain that runs for long (a pump with no
// wait between passes) can turn the log off and keep only the counts.
class RecordingStage : public SarvelonMediaKit::Component {
public:
    enum Operation {
        kPull,              // "pull <amount>"
        kTick,              // "tick"
        kCheck,             // "check" (the periodic check)
        kSeek,              // "seek <media time>"
        kSeekFilePosition,  // "seek file <start> <second> <flag>"
        kTrickPlay,         // "trick <rate> <media time>"
        kSelectTrack,       // "track <id>"
        kChapters,          // "chapters <first> <last>"
        kPosition,          // "position <byte position> <stack id>"
        kPreLoad,           // "preload <timeout>"
        kStop,              // "stop"
        kLinked,            // "linked first" or "linked again"
        kData,              // "data <size>"
        kMarker,            // "marker <type>"
        kOutOfBandRequest,  // "out-of-band request <start> <end>"
        kOutOfBandData,     // "out-of-band data <size>"
        kOperationCount
    };

    explicit RecordingStage(SarvelonMediaKit::Session* session = nullptr,
                            const std::string& typeName = "RecordingStage")
        : Component(session), typeName_(typeName) {
        for (std::atomic<int>& count : counts_) count = 0;
    }

    // ---- Settings ----

    // The room this stage needs before and after a payload (0 and 0 at first).
    void SetRoom(uint32_t headroom, uint32_t tailroom) {
        ownHeadroom_ = headroom;
        ownTailroom_ = tailroom;
    }
    // False stops every marker here (after counting it).
    void SetPassMarkers(bool pass) { passMarkers_ = pass; }
    // True takes every out-of-band request and chunk offered here.
    void SetAcceptOutOfBand(bool accept) { acceptOutOfBand_ = accept; }
    // Known when not 0.
    void SetEndPosition(uint64_t end) { endPosition_ = end; }
    void SetPreloadState(uint32_t state) { preloadState_ = state; }
    void KeepLog(bool keep) { keepLog_ = keep; }

    // ---- What reached it ----

    int Count(Operation operation) const { return counts_[operation]; }
    std::vector<std::string> Log() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> lines;
        for (const auto& entry : log_) lines.push_back(entry.second);
        return lines;
    }
    // The lines of one operation only.
    std::vector<std::string> Log(Operation operation) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> lines;
        for (const auto& entry : log_) {
            if (entry.first == operation) lines.push_back(entry.second);
        }
        return lines;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
    }

    // ---- Component ----

    std::string GetTypeName() const override { return typeName_; }
    uint32_t GetHeadroom() const override { return ownHeadroom_; }
    uint32_t GetTailroom() const override { return ownTailroom_; }
    using Component::DoSeek;

    void DoPullData(SarvelonMediaKit::ByteAmount& amount) override {
        Note(kPull, "pull " + std::to_string(amount.Get()));
        Component::DoPullData(amount);
    }
    void DoTick() override {
        Note(kTick, "tick");
        Component::DoTick();
    }
    void DoPeriodicCheck() override {
        Note(kCheck, "check");
        Component::DoPeriodicCheck();
    }
    void DoSeek(SarvelonMediaKit::MediaTime time) override {
        Note(kSeek, "seek " + std::to_string(time.Get()));
        Component::DoSeek(time);
    }
    void DoSeek(SarvelonMediaKit::BytePosition start, SarvelonMediaKit::BytePosition second,
                bool flag) override {
        Note(kSeekFilePosition, "seek file " + std::to_string(start.Get()) + " " +
                                    std::to_string(second.Get()) + " " + std::to_string(flag));
        Component::DoSeek(start, second, flag);
    }
    bool DoTrickPlay(SarvelonMediaKit::TrickPlayRate rate,
                     SarvelonMediaKit::MediaTime time) override {
        Note(kTrickPlay, "trick " + std::to_string(rate.Get()) + " " + std::to_string(time.Get()));
        return Component::DoTrickPlay(rate, time);
    }
    void DoSelectTrack(SarvelonMediaKit::TrackId track) override {
        Note(kSelectTrack, "track " + std::to_string(track.Get()));
        Component::DoSelectTrack(track);
    }
    void DoGetChapterData(uint32_t first, uint32_t last) override {
        Note(kChapters, "chapters " + std::to_string(first) + " " + std::to_string(last));
        Component::DoGetChapterData(first, last);
    }
    void DoSetPosition(SarvelonMediaKit::BytePosition position,
                       SarvelonMediaKit::StackId stackId) override {
        Note(kPosition,
             "position " + std::to_string(position.Get()) + " " + std::to_string(stackId));
        Component::DoSetPosition(position, stackId);
    }
    void DoPreLoad(SarvelonMediaKit::MediaTime timeout) override {
        Note(kPreLoad, "preload " + std::to_string(timeout.Get()));
        Component::DoPreLoad(timeout);
    }
    void DoStop() override {
        Note(kStop, "stop");
        Component::DoStop();
    }
    void DoLinked(bool firstTime) override {
        Note(kLinked, firstTime ? "linked first" : "linked again");
        Component::DoLinked(firstTime);
    }
    void DoAdd(const SarvelonMediaKit::MemoryChunk& chunk) override {
        Note(kData, "data " + std::to_string(chunk.Size()));
        Component::DoAdd(chunk);
    }
    bool DoProcessMemoryMarker(
        const boost::shared_ptr<SarvelonMediaKit::MemoryMarker>& marker) override {
        Note(kMarker, "marker " + std::to_string(marker->GetType()));
        return passMarkers_;
    }
    bool DoOutOfBandRequest(SarvelonMediaKit::BytePosition start,
                            SarvelonMediaKit::BytePosition end) override {
        Note(kOutOfBandRequest, "out-of-band request " + std::to_string(start.Get()) + " " +
                                    std::to_string(end.Get()));
        return acceptOutOfBand_;
    }
    bool DoOutOfBandData(const SarvelonMediaKit::MemoryChunk& chunk) override {
        Note(kOutOfBandData, "out-of-band data " + std::to_string(chunk.Size()));
        return acceptOutOfBand_;
    }
    bool KnowEndPosition() override { return endPosition_ != 0; }
    SarvelonMediaKit::BytePosition DoEndPosition() override {
        return SarvelonMediaKit::BytePosition(endPosition_);
    }

protected:
    // The log line of an operation; a subclass may add what it knows of the moment, such as
    // the task running.
    virtual std::string Describe(const std::string& line) { return line; }

private:
    void Note(Operation operation, const std::string& line) {
        // Logged before it is counted: whoever sees the count also finds the line.
        if (keepLog_) {
            const std::string described = Describe(line);
            std::lock_guard<std::mutex> lock(mutex_);
            log_.push_back(std::make_pair(operation, described));
        }
        ++counts_[operation];
    }

    std::string typeName_;
    uint32_t ownHeadroom_ = 0;
    uint32_t ownTailroom_ = 0;
    bool passMarkers_ = true;
    bool acceptOutOfBand_ = false;
    uint64_t endPosition_ = 0;
    std::atomic<bool> keepLog_{true};
    std::atomic<int> counts_[kOperationCount];
    mutable std::mutex mutex_;
    std::vector<std::pair<Operation, std::string>> log_;
};

}  // namespace SvTestSupport

#endif
