#pragma once
// The seeker's test chain on real titles, run on the test's thread.

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/seek/MediaSeeker.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {

// file client -> front stage -> seeker -> demultiplexer -> recording multiplexer -> sink, run
// on the test's thread. The front stage is an observing stage unless the test makes its own.
struct SeekChain {
    using FrontMaker = std::function<boost::shared_ptr<Component>(Session*)>;

    explicit SeekChain(const std::string& path, const FrontMaker& makeFront = FrontMaker())
        : session(Session::Create()) {
        session->SetCapacity(ByteAmount(16u << 20));  // room for the preload cache
        boost::shared_ptr<Component> source = CreateFileClient(session.get(), nullptr);
        source->SetName(path, true);
        if (makeFront) {
            front = makeFront(session.get());
        } else {
            front = stage = boost::make_shared<demuxtest::ObservingStage>(session.get(), 0);
        }
        seeker = boost::make_shared<MediaSeeker>(session.get());
        demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        mux = boost::make_shared<demuxtest::RecordingMux>(session.get());
        // What the multiplexer writes goes nowhere, but a consumer asks for it: the stages
        // below size their pulls by what the output end wants.
        sink = boost::make_shared<SvTestSupport::RecordingSink>();
        ComponentStack stack =
            SvTestSupport::BuildChain(StackIdMain, {sink, mux, demux, seeker, front, source});
        session->SetComponentStack(stack);
        demux->StreamInfoSource::AddMonitor(seeker.get());
        demux->StreamInfoSource::AddMonitor(&events);
        demux->ErrorInfoSource::AddMonitor(&events);
        stack.Link();
    }
    ~SeekChain() { session->Stop(true); }

    void Preload() {
        demux->PreLoad(MediaTime(15000000));
        for (int i = 0; i < 100000 && !events.WaitForPreload(0); ++i) {
            session->GetTaskManager()->RunTasks();
        }
        ASSERT_TRUE(events.WaitForPreload(0));
    }
    void Pull(int times) {
        for (int i = 0; i < times; ++i) mux->PullData(ByteAmount(65536));
    }
    void PullToEnd() {
        for (int i = 0; i < 5000 && mux->CountMarkers(MemoryMarkerTypeEndOfStream) == 0; ++i) {
            mux->PullData(ByteAmount(1u << 20));
        }
        ASSERT_EQ(1u, mux->CountMarkers(MemoryMarkerTypeEndOfStream));
    }
    // What reached the multiplexer of the video stream: sizes and (decode time, key flag).
    demuxtest::StreamRecord VideoRecord() const {
        const std::map<uint32_t, demuxtest::StreamRecord> streams = mux->Streams();
        const auto it = streams.find(0xE0);
        return it == streams.end() ? demuxtest::StreamRecord() : it->second;
    }
    std::vector<std::pair<uint64_t, bool>> Video() const { return VideoRecord().samples; }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<SvTestSupport::RecordingSink> sink;
    boost::shared_ptr<Component> front;
    // The front stage when the chain made it; null otherwise.
    boost::shared_ptr<demuxtest::ObservingStage> stage;
    boost::shared_ptr<MediaSeeker> seeker;
    boost::shared_ptr<Mpeg2PsDemux> demux;
    boost::shared_ptr<demuxtest::RecordingMux> mux;
    demuxtest::EventRecorder events;
};

}  // namespace SarvelonMediaKit
