#ifndef ENGINE_SERVE_LIVEHTTPSEGMENTERTESTSUPPORT_H
#define ENGINE_SERVE_LIVEHTTPSEGMENTERTESTSUPPORT_H

// Shared by the segmenter's tests (included by *Test.cpp only): a segmenter at the front of a
// playback session that runs no threads (the test feeds it markers and bytes, pulls, and runs
// the session's queued tasks by hand, on a clock it sets), tracks with a made-up index, and
// a loopback client.

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/RecordingStage.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace test {

// The complete playlist of a title of two 2 s segments, line by line: the header, no caching,
// the longest segment rounded to whole seconds, each segment's duration and name, and the end
// (a complete list carries no media sequence).
const char kTwoSegmentCompletePlaylist[] =
    "#EXTM3U\n"
    "#EXT-X-ALLOW-CACHE:NO\n"
    "#EXT-X-TARGETDURATION:2\n"
    "#EXTINF:2,\n"
    "0.ts\n"
    "#EXTINF:2,\n"
    "1.ts\n"
    "#EXT-X-ENDLIST\n";

// A live title's sliding window once its first segment has finished and the second is still
// being written: only the finished one is named.
const char kFirstSegmentLiveWindow[] =
    "#EXTM3U\n"
    "#EXT-X-ALLOW-CACHE:NO\n"
    "#EXT-X-TARGETDURATION:2\n"  // the longest group, 2 s
    "#EXT-X-MEDIA-SEQUENCE:0\n"  // the first segment listed
    "#EXTINF:2,\n"
    "0.ts\n";  // no end tag: the list goes on

// The source side of the segmenter: notes what reaches it (pulls, seeks, track choices) and
// always has bytes to give, so every pull the segmenter makes shows with its amount.
class SegmenterSource : public SvTestSupport::RecordingStage {
public:
    explicit SegmenterSource(Session* session) : RecordingStage(session, "SegmenterSource") {}
    ByteAmount DoGetBufferedBytes() override { return ByteAmount(0xFFFFFFFFu); }
};

// A video track with key frames at the given ticks.
inline boost::shared_ptr<MediaTrack> VideoTrack(uint32_t id, uint32_t timescale, uint32_t duration,
                                                const std::vector<uint32_t>& keyFrames,
                                                uint32_t bitsPerSecond = 800000) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetVideo(true);
    track->SetAudio(true);
    track->SetBitRate(bitsPerSecond);
    MediaTrackIndex& index = track->GetIndex();
    index.SetTimescale(timescale);
    index.SetDuration(duration);
    index.Reserve(static_cast<uint32_t>(keyFrames.size()));
    for (size_t i = 0; i < keyFrames.size(); ++i) index.AddEntry(keyFrames[i], 1000 * i);
    return track;
}

class SegmenterRig {
public:
    SegmenterRig(bool onDemand, bool adaptive, const std::string& name = "title.m3u8")
        : now_(1000000) {
        session_ = Session::Create([this]() { return now_; });
        segmenter_ =
            boost::make_shared<LiveHttpSegmenter>(session_.get(), [this]() { return now_; });
        source_ = boost::make_shared<SegmenterSource>(session_.get());
        ComponentStack stack =
            SvTestSupport::BuildLinkedChain(StackIdServing, {segmenter_, source_});
        session_->SetComponentStack(stack);
        segmenter_->SetName(name, false);
        segmenter_->SetOnDemand(onDemand);
        segmenter_->SetAdaptive(adaptive);
    }

    LiveHttpSegmenter& Segmenter() { return *segmenter_; }
    SegmenterSource& Source() { return *source_; }

    void Gop() { segmenter_->Add(MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(0))); }
    // A group of pictures whose marker carries the multiplexer's clock (microseconds).
    void Gop(uint64_t clock) {
        segmenter_->Add(MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(clock)));
    }
    void EndOfStream() {
        segmenter_->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    }
    void Data(const std::string& bytes) {
        segmenter_->Add(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(bytes.data()),
                                            static_cast<uint32_t>(bytes.size())));
    }
    // A marker, the bytes, and the next marker: one segment cut whole.
    void WholeSegment(const std::string& bytes) {
        Gop();
        Data(bytes);
        Gop();
    }
    // One pump pass's pull at the front of the chain.
    void Pull() { segmenter_->PullData(ByteAmount(131072)); }
    // The tasks the session has queued (seeks, track choices), run as its pump would.
    void RunTasks() { session_->GetTaskManager()->RunTasks(); }
    void Advance(int64_t milliseconds) { now_ += milliseconds; }
    void Tracks(const std::vector<boost::shared_ptr<MediaTrack>>& tracks, bool complete = true) {
        StreamInfoMonitor::TrackMap map;
        for (size_t i = 0; i < tracks.size(); ++i) map[tracks[i]->GetId()] = tracks[i];
        segmenter_->TracksAvailable(map, complete);
    }
    std::vector<std::pair<uint32_t, int32_t>> Segments() { return segmenter_->GetSegments(); }

private:
    SV::PilTime now_;
    boost::shared_ptr<Session> session_;
    boost::shared_ptr<LiveHttpSegmenter> segmenter_;
    boost::shared_ptr<SegmenterSource> source_;
};

// The whole text of a file.
inline std::string FileText(const boost::shared_ptr<LiveHttpFile>& file) {
    std::string text;
    if (!file) return text;
    LiveHttpFile::Cursor cursor;
    for (;;) {
        MemoryChunk piece = file->Read(cursor, 1u << 20);
        if (piece.IsEmpty()) break;
        text.append(reinterpret_cast<const char*>(piece.Data()), piece.Size());
    }
    return text;
}

// One GET on a new connection that asks to be closed after the answer.
inline int Ask(uint16_t port, const std::string& name) {
    const int fd = Connect(port);
    if (fd >= 0) {
        SendAll(fd, "GET /" + name + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    }
    return fd;
}

struct Reply {
    std::string status;  // the status line
    std::string body;
};

// The answer on a connection from Ask, read until the server closes; the connection is
// closed after.
inline Reply Await(int fd, int timeoutMs = 5000) {
    const std::string all = ReadUntilClosed(fd, timeoutMs);
    close(fd);
    Reply reply;
    const size_t lineEnd = all.find("\r\n");
    reply.status = all.substr(0, lineEnd);
    const size_t headEnd = all.find("\r\n\r\n");
    if (headEnd != std::string::npos) reply.body = all.substr(headEnd + 4);
    return reply;
}

inline Reply Fetch(uint16_t port, const std::string& name) { return Await(Ask(port, name)); }

// A video track at 90 kHz with a key frame every `gopSeconds`, `gops` of them: segment n is cut
// at n x gopSeconds.
inline boost::shared_ptr<MediaTrack> UniformTrack(uint32_t gops, uint32_t gopSeconds) {
    std::vector<uint32_t> keys;
    for (uint32_t k = 0; k < gops; ++k) keys.push_back(k * gopSeconds * 90000);
    return VideoTrack(1, 90000, gops * gopSeconds * 90000, keys);
}

// The segment numbers the segmenter holds with the sample count of each.
using Segments = std::vector<std::pair<uint32_t, int32_t>>;

// A segmenter rig with its loopback front, made by Start and taken down servers first.
class SegmenterTestBase : public ::testing::Test {
protected:
    void Start(bool onDemand, bool adaptive, const std::string& name = "title.m3u8") {
        rig.reset(new SegmenterRig(onDemand, adaptive, name));
        front.reset(new LiveFront(&rig->Segmenter()));
    }
    void TearDown() override {
        front.reset();  // the servers go before the files' maker
        rig.reset();
    }
    // Waits until the segmenter holds that many waiting requests.
    bool WaitingBecomes(size_t count) {
        return WaitUntil([&]() { return rig->Segmenter().GetWaitingRequestCount() == count; });
    }
    bool SegmentsBecome(const Segments& segments) {
        return WaitUntil([&]() { return rig->Segments() == segments; });
    }
    // Lets the delay before a seek pass and the session run the seek.
    void SeekNow() {
        rig->Advance(LiveHttpSegmenter::kSeekDelayMilliseconds + 1);
        rig->Pull();
        rig->RunTasks();
    }
    std::vector<std::string> Seeks() {
        return rig->Source().Log(SvTestSupport::RecordingStage::kSeek);
    }
    uint16_t Port() { return front->Port(); }

    std::unique_ptr<SegmenterRig> rig;
    std::unique_ptr<LiveFront> front;
};

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
