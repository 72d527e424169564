#ifndef TESTS_SUPPORT_MPEG2PSDEMUXTESTSUPPORT_H
#define TESTS_SUPPORT_MPEG2PSDEMUXTESTSUPPORT_H

// Helpers of the demultiplexer tests (included by *Test.cpp only): a multiplexer that records
// what it is given, monitors that record the events, a recording stage that can slow the
// source down, a chain that reads a title file through the demultiplexer, and ffprobe's view of
// the sources a title was made from.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Util/Saturating.h"
#include "engine/core/ChapterInfoMonitor.h"
#include "engine/core/Component.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "engine/core/StreamInfoMonitor.h"
#include "engine/container/MediaTrack.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/mux/Mux.h"
#include "engine/samples/Sample.h"
#include "tests/support/ChainBuilder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/RecordingStage.h"

namespace SarvelonMediaKit {
namespace demuxtest {

// What one stream delivered: per sample its decode time (microseconds) and key flag, and its
// payload size.
struct StreamRecord {
    void Add(const Sample& sample) {
        samples.push_back(std::make_pair(sample.GetDecodeTime().Get(), sample.IsKeyFrame()));
        sizes.push_back(sample.GetPayload().Size());
        bytes += sample.GetPayload().Size();
    }

    std::vector<std::pair<uint64_t, bool>> samples;
    std::vector<uint64_t> sizes;
    uint64_t bytes = 0;
};

// A multiplexer that writes nothing (a pull still ends after about the bytes asked for): it keeps
// every sample's stream, time and key flag and every marker type, in the order it takes them.
// Readable from another thread.
class RecordingMux : public Mux {
public:
    explicit RecordingMux(Session* session) : Mux(session) {}
    std::string GetTypeName() const override { return "RecordingMux"; }
    using Mux::DoProcessMemoryMarker;  // the sample form

    void DoProcessSample(Sample& sample) override {
        std::lock_guard<std::mutex> lock(mutex_);
        records_[sample.GetStreamRef().Get()].Add(sample);
        // Counted as if written, so that a pull ends after about the bytes it asked for.
        bytesSent_ = ByteAmount(SV::SaturatingNarrow<uint32_t>(
            SV::SaturatingAdd<uint64_t>(bytesSent_.Get(), sample.GetPayload().Size())));
    }
    // Every marker that leaves the multiplexer downstream: those that rode in a sample stream
    // (passed on through Add by the sample hook) and those that reached it through Add.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (marker) {
            std::lock_guard<std::mutex> lock(mutex_);
            markers_.push_back(marker->GetType());
        }
        changed_.notify_all();
        return true;
    }

    std::map<uint32_t, StreamRecord> Streams() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    std::vector<uint32_t> Markers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return markers_;
    }
    size_t CountMarkers(uint32_t type) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count(markers_.begin(), markers_.end(), type));
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
        markers_.clear();
    }
    // Waits until a marker of the type has been taken.
    bool WaitForMarker(uint32_t type, int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            return std::find(markers_.begin(), markers_.end(), type) != markers_.end();
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint32_t, StreamRecord> records_;
    std::vector<uint32_t> markers_;
};

// Records the stream, error and chapter events of a demultiplexer.
class EventRecorder : public StreamInfoMonitor, public ErrorInfoMonitor, public ChapterInfoMonitor {
public:
    struct Chapter {
        unsigned index;
        uint64_t time;
        std::string title;
    };

    void TracksAvailable(const TrackMap& tracks, bool complete) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint32_t> ids;
        for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
            ids.push_back(it->first.Get());
        }
        trackEvents.push_back(std::make_pair(ids, complete));
        events.push_back("tracks");
    }
    void TrackChanged(const boost::shared_ptr<MediaTrack>& track) override {
        std::lock_guard<std::mutex> lock(mutex_);
        changedTracks.push_back(track ? track->GetId().Get() : 0);
    }
    void DurationAvailable(MediaTime duration) override {
        std::lock_guard<std::mutex> lock(mutex_);
        durations.push_back(duration.Get());
    }
    void MediaSizeAvailable(BytePosition size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sizes.push_back(size.Get());
    }
    void MediaTimeAvailable(uint32_t streamType, MediaTime firstTime, MediaTime) override {
        std::lock_guard<std::mutex> lock(mutex_);
        timestamps[streamType].push_back(firstTime.Get());
    }
    void PreloadComplete() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events.push_back("preload complete");
        }
        changed_.notify_all();
    }
    void SetError(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors.push_back(std::make_pair(static_cast<uint32_t>(status), text));
        events.push_back("error " + std::to_string(static_cast<uint32_t>(status)));
    }
    void ChaptersAvailable(unsigned count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        chapterCounts.push_back(count);
    }
    void ChapterReceived(unsigned index, MediaTime time, const std::string& title) override {
        std::lock_guard<std::mutex> lock(mutex_);
        chapters.push_back(Chapter{index, time.Get(), title});
    }
    void ThumbnailReceived(unsigned index, const std::vector<unsigned char>& image) override {
        std::lock_guard<std::mutex> lock(mutex_);
        thumbnails.push_back(std::make_pair(index, image));
    }

    bool WaitForPreload(int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            for (size_t i = 0; i < events.size(); ++i) {
                if (events[i] == "preload complete") return true;
            }
            return false;
        });
    }
    bool HasError(uint32_t status, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < errors.size(); ++i) {
            if (errors[i].first == status && errors[i].second == text) return true;
        }
        return false;
    }

    // Read once the publishing thread has stopped (or on the publishing thread).
    std::vector<std::pair<std::vector<uint32_t>, bool>> trackEvents;
    std::vector<uint32_t> changedTracks;
    std::vector<uint64_t> durations;
    std::vector<uint64_t> sizes;
    std::vector<std::pair<uint32_t, std::string>> errors;
    std::vector<std::string> events;
    std::vector<unsigned> chapterCounts;
    std::vector<Chapter> chapters;
    std::vector<std::pair<unsigned, std::vector<unsigned char>>> thumbnails;
    // Per stream kind (0 other, 1 audio, 2 video) the first time of every timestamp event.
    std::map<uint32_t, std::vector<uint64_t>> timestamps;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// A stage between the source and the demultiplexer: passes on at most limit bytes per pull
// (0: no limit) and logs what reaches it, the out-of-band ranges asked for on their way to the
// source among it (Log(kOutOfBandRequest)).
class ObservingStage : public SvTestSupport::RecordingStage {
public:
    ObservingStage(Session* session, uint32_t limit)
        : RecordingStage(session, "ObservingStage"), limit_(limit) {}
    void PrePullData(ByteAmount& amount) override {
        if (limit_ != 0 && amount > limit_) amount = ByteAmount(limit_);
    }
    // Straight on to the source (not logged): the limit alone decides how much is asked for.
    void DoPullData(ByteAmount& amount) override {
        if (boost::shared_ptr<Component> source = GetSource()) source->PullData(amount);
    }

private:
    uint32_t limit_;
};

// Lets the recorder hear every stream, error and chapter event of the demultiplexer.
inline void Watch(Mpeg2PsDemux& demux, EventRecorder& events) {
    demux.StreamInfoSource::AddMonitor(&events);
    demux.ErrorInfoSource::AddMonitor(&events);
    demux.ChapterInfoSource::AddMonitor(&events);
}

// A session reading `path` through the demultiplexer into a recording multiplexer, its events
// watched; the caller decides when to preload, pump and start.
struct FileDemuxChain {
    FileDemuxChain(const std::string& path, EventRecorder& events)
        : session(Session::Create()), stack(StackIdMain) {
        session->SetCapacity(ByteAmount(16u << 20));
        boost::shared_ptr<Component> source = CreateFileClient(session.get(), nullptr);
        source->SetName("file://" + path, true);
        demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        mux = boost::make_shared<RecordingMux>(session.get());
        stack = SvTestSupport::BuildChain(StackIdMain, {mux, demux, source});
        session->SetComponentStack(stack);
        Watch(*demux, events);
    }
    boost::shared_ptr<Session> session;
    ComponentStack stack;
    boost::shared_ptr<Mpeg2PsDemux> demux;
    boost::shared_ptr<RecordingMux> mux;
};

inline std::string NoStreamMapTitle() {
    return SvTestSupport::Fixtures::MakeTitle(
        "demux-nomap.svm", {SvTestSupport::Fixtures::ShortClip(), "{out}", "--no-stream-map"});
}

// What ffprobe reads from the transport streams a title was made from, as the demultiplexer
// should deliver it: per elementary stream kind, every packet in decode order with its size,
// its decode time and its key flag. This reading shares no code with the engine's parser.
struct ProbedStreams {
    StreamRecord video;
    StreamRecord audio;
};

// audioHeader: bytes the title adds in front of each audio frame (the four-byte header of a
// private stream 1 payload: substream id, frame count, first access unit pointer).
inline ProbedStreams ProbeSources(const std::vector<std::string>& sources, uint64_t audioHeader) {
    ProbedStreams probed;
    for (const std::string& source : sources) {
        struct Packet {
            bool video;
            uint64_t dts;
            uint64_t size;
            bool key;
        };
        std::vector<Packet> packets;
        for (SvTestSupport::PacketFields& fields :
             SvTestSupport::ProbePackets(source, "codec_type,dts,size,flags")) {
            if (fields.count("codec_type") == 0) continue;
            packets.push_back(Packet{fields["codec_type"] == "video", std::stoull(fields["dts"]),
                                     std::stoull(fields["size"]),
                                     SvTestSupport::IsKeyPacket(fields)});
        }
        EXPECT_FALSE(packets.empty()) << source;
        // The title maker starts every source's times at 0: its earliest decode time.
        uint64_t base = UINT64_MAX;
        for (const Packet& packet : packets) base = std::min(base, packet.dts);
        for (const Packet& packet : packets) {
            StreamRecord& record = packet.video ? probed.video : probed.audio;
            const uint64_t size = packet.size + (packet.video ? 0 : audioHeader);
            // 90 kHz ticks to microseconds, truncated.
            record.samples.push_back(
                std::make_pair((packet.dts - base) * 100 / 9, packet.video ? packet.key : true));
            record.sizes.push_back(size);
            record.bytes += size;
        }
    }
    return probed;
}

inline std::vector<std::string> ShortSources() { return {SvTestSupport::Fixtures::ShortClip()}; }

}  // namespace demuxtest
}  // namespace SarvelonMediaKit

#endif
