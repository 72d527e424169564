// The engine's C entry points: initialisation, the session registry, the status codes of each
// call, and one real playback of a fixture title from setup to terminate.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "SVLibrary/Path/Path.h"
#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/Time/Timer.h"
#include "engine/api/EngineEventLogTestSupport.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/serve/ListeningPort.h"
#include "tests/support/Fixtures.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/HeldLoopbackPort.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"

namespace SarvelonMediaKit {
namespace {

// Fires on the process-wide timer thread: once it has fired, every timer handler that was
// running or due when it was armed has returned.
class TimerBarrier : public SV::Timer {
public:
    TimerBarrier() { SV::TimerSet(this, 0, 0, true); }
    ~TimerBarrier() override { CancelTimer(); }
    void TimerExpired() override { fired_.Set(); }
    bool Wait() { return fired_.Wait(20000); }

private:
    SV::Event fired_;
};

using test::AsDictionary;
using test::EngineEvent;
using test::EngineEventLog;
using test::MakeTrack;

std::atomic<int> gOtherCallbackCalls{0};
void OtherCallback(SVMediaTransformerSession*, int, const SV::SVTypedValue*) {
    ++gOtherCallbackCalls;
}

// The five per-session calls other than teardown, each with the handle; their statuses in order.
std::vector<SVStatus> QueryAll(SVMediaTransformerSession* handle) {
    SV::SVDictionary dictionary;
    std::vector<SV::SVTypedValue> values;
    return {SV_GetVideoTrackInfo(handle, &dictionary), SV_GetAudioTrackInfo(handle, &dictionary),
            SV_QueryAllTracks(handle, &values), SV_QueryChapters(handle, &values),
            SV_GetChapterData(handle, 0, 0)};
}

bool SameDictionary(const SV::SVDictionary& a, const SV::SVDictionary& b) {
    std::vector<uint8_t> left, right;
    a.Serialize(left);
    b.Serialize(right);
    return left == right;
}

// A port nothing listens on right now.
uint16_t FreeLoopbackPort() { return SvTestSupport::UnusedLoopbackPort(); }

// Runs call on a thread of its own and waits for it at most limit. A call that never returns
// means threads of the engine wait for each other: nothing can be cleaned up after that, so
// the test program stops here with the reason rather than hang until an outside timeout.
void ExpectReturnsWithin(const char* what, const std::function<void()>& call,
                         std::chrono::seconds limit) {
    std::shared_ptr<std::promise<void>> done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread runner([call, done] {
        call();
        done->set_value();
    });
    if (returned.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FATAL: %s did not return within %lld s (deadlock)\n", what,
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::abort();
    }
    runner.join();
}

std::string CurrentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

class MediaTransformerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineEventLog::Clear();
        // Whatever an earlier test left, start uninitialised.
        SV_MediaTransformerTerminate();
        registeredBefore_ = SVMediaTransformerSession::RegisteredCount();
    }
    void TearDown() override {
        SV_MediaTransformerInitialize(&EngineEventLog::Callback);
        for (SVMediaTransformerSession* handle : handles_) SV_MediaTransformerTeardown(handle);
        SV_MediaTransformerTerminate();
        EngineEventLog::Clear();
        EXPECT_EQ(registeredBefore_, SVMediaTransformerSession::RegisteredCount());
    }

    // Points the engine's loopback port at one nothing holds and initialises the engine;
    // returns the port, 0 when either failed.
    uint16_t InitializeOnAFreePort() {
        const uint16_t port = FreeLoopbackPort();
        if (port == 0) return 0;
        SetLoopbackPort(port);
        return SV_MediaTransformerInitialize(&EngineEventLog::Callback) == 200u ? port : 0;
    }

    // A registered session whose setup was refused (no transformer).
    SVMediaTransformerSession* Refused() {
        SVMediaTransformerSession* handle = nullptr;
        std::string url;
        EXPECT_EQ(4201u,
                  SV_MediaTransformerSetup("clip.xyz", SV::SVDictionary(), 1, &url, &handle));
        handles_.push_back(handle);
        return handle;
    }

    size_t registeredBefore_ = 0;
    std::vector<SVMediaTransformerSession*> handles_;
};

TEST_F(MediaTransformerTest, InitialisationKeepsTheFirstCallbackAndRefusesANullOne) {
    EXPECT_EQ(451u, SV_MediaTransformerInitialize(nullptr));
    EXPECT_EQ(1022u, SV_MediaTransformerTerminate()) << "a null callback leaves it uninitialised";

    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    EXPECT_EQ(1021u, SV_MediaTransformerInitialize(&OtherCallback));
    EXPECT_EQ(1021u, SV_MediaTransformerInitialize(nullptr));

    // Events still reach the first callback.
    gOtherCallbackCalls = 0;
    SVMediaTransformerSession* handle = Refused();
    ASSERT_EQ(200u, SV_MediaTransformerTeardown(handle));
    EXPECT_EQ(1u, EngineEventLog::Of(SVMediaTransformEvent_SessionStopped).size());
    EXPECT_EQ(0, gOtherCallbackCalls.load());

    EXPECT_EQ(200u, SV_MediaTransformerTerminate());
    EXPECT_EQ(1022u, SV_MediaTransformerTerminate());
    // Initialised again afterwards, with another callback.
    EXPECT_EQ(200u, SV_MediaTransformerInitialize(&OtherCallback));
    EXPECT_EQ(200u, SV_MediaTransformerTerminate());
}

TEST_F(MediaTransformerTest, BeforeInitialisationEveryCallAnswers1022WhateverTheHandle) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    SVMediaTransformerSession* registered = Refused();
    ASSERT_EQ(200u, SV_MediaTransformerTerminate());
    size_t count = SVMediaTransformerSession::RegisteredCount();

    int notASession = 0;
    SVMediaTransformerSession* bogus = reinterpret_cast<SVMediaTransformerSession*>(&notASession);
    for (SVMediaTransformerSession* handle :
         {registered, bogus, static_cast<SVMediaTransformerSession*>(nullptr)}) {
        for (SVStatus status : QueryAll(handle)) EXPECT_EQ(1022u, status);
        EXPECT_EQ(1022u, SV_MediaTransformerTeardown(handle));
    }

    // Setup makes no session and leaves the out arguments alone.
    SVMediaTransformerSession* out = bogus;
    std::string url = "unchanged";
    EXPECT_EQ(1022u, SV_MediaTransformerSetup("title.ps", SV::SVDictionary(), 1, &url, &out));
    EXPECT_EQ(bogus, out);
    EXPECT_EQ("unchanged", url);
    EXPECT_EQ(count, SVMediaTransformerSession::RegisteredCount());
    EXPECT_TRUE(EngineEventLog::Snapshot().empty());
}

TEST_F(MediaTransformerTest, HandlesNeverReturnedOrTornDownAnswer4200) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    int notASession = 0;
    SVMediaTransformerSession* bogus = reinterpret_cast<SVMediaTransformerSession*>(&notASession);
    for (SVMediaTransformerSession* handle :
         {bogus, static_cast<SVMediaTransformerSession*>(nullptr)}) {
        for (SVStatus status : QueryAll(handle)) EXPECT_EQ(4200u, status);
        EXPECT_EQ(4200u, SV_MediaTransformerTeardown(handle));
    }

    SVMediaTransformerSession* handle = Refused();
    handles_.clear();
    ASSERT_EQ(200u, SV_MediaTransformerTeardown(handle));
    for (SVStatus status : QueryAll(handle)) EXPECT_EQ(4200u, status);
    EXPECT_EQ(4200u, SV_MediaTransformerTeardown(handle));
    EXPECT_EQ(1u, EngineEventLog::Of(SVMediaTransformEvent_SessionStopped).size())
        << "a second teardown posts nothing";
}

TEST_F(MediaTransformerTest, RefusedSetupLeavesARegisteredSessionThatTearsDownCleanly) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    SVMediaTransformerSession* handle = nullptr;
    std::string url = "unchanged";
    // An unrecognised media format: refused before anything is built.
    ASSERT_EQ(4201u, SV_MediaTransformerSetup("clip.xyz", SV::SVDictionary(), 1, &url, &handle));
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ("unchanged", url);
    EXPECT_EQ(registeredBefore_ + 1, SVMediaTransformerSession::RegisteredCount());
    for (SVStatus status : QueryAll(handle)) EXPECT_EQ(2008u, status);
    EXPECT_TRUE(EngineEventLog::Snapshot().empty()) << "no setup event for a refused setup";

    ASSERT_EQ(200u, SV_MediaTransformerTeardown(handle));
    std::vector<EngineEvent> events = EngineEventLog::Snapshot();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_SessionStopped, events[0].event);
    EXPECT_EQ(handle, events[0].session);
    EXPECT_EQ(SV::SVTypedValueKind::Null, events[0].data.GetKind());
    EXPECT_EQ(registeredBefore_, SVMediaTransformerSession::RegisteredCount());

    // Mode 1 refuses no other format: a program stream of an unreadable scheme gets a
    // transformer (which reports the scheme), so its queries answer from the session.
    SVMediaTransformerSession* other = nullptr;
    EXPECT_EQ(1012u, SV_MediaTransformerSetup("ftp://127.0.0.1/a.ps", SV::SVDictionary(), 1, &url,
                                              &other));
    handles_.push_back(other);
    for (SVStatus status : QueryAll(other)) EXPECT_NE(2008u, status);
}

TEST_F(MediaTransformerTest, AudioInfoFallsBackToAVideoTrackThatCarriesTheAudio) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    std::string url;
    SVMediaTransformerSession* handle = nullptr;
    SV_MediaTransformerSetup("ftp://127.0.0.1/a.ps", SV::SVDictionary(), 1, &url, &handle);
    handles_.push_back(handle);

    // Nothing known yet: the out dictionary is emptied.
    SV::SVDictionary out;
    out.SetValue("stale", SV::SVTypedValue(uint32_t(1)));
    ASSERT_EQ(200u, SV_GetAudioTrackInfo(handle, &out));
    EXPECT_TRUE(out.empty());

    // Video without audio keys: still nothing for audio.
    SV::SVDictionary plain;
    plain.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(320)));
    handle->TrackChanged(MakeTrack(1, true, false, plain));
    out.SetValue("stale", SV::SVTypedValue(uint32_t(1)));
    ASSERT_EQ(200u, SV_GetAudioTrackInfo(handle, &out));
    EXPECT_TRUE(out.empty());

    SV::SVDictionary muxed;
    muxed.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(640)));
    muxed.SetValue(TrackInfoKey_AudioFormat, SV::SVTypedValue(uint32_t(2)));
    boost::shared_ptr<MediaTrack> muxedTrack = MakeTrack(2, true, true, muxed);
    handle->TrackChanged(muxedTrack);
    ASSERT_EQ(200u, SV_GetAudioTrackInfo(handle, &out));
    EXPECT_TRUE(SameDictionary(muxedTrack->GetInfo(), out));
    SV::SVDictionary video;
    ASSERT_EQ(200u, SV_GetVideoTrackInfo(handle, &video));
    EXPECT_TRUE(SameDictionary(muxedTrack->GetInfo(), video));

    // An audio track of its own wins.
    SV::SVDictionary audio;
    audio.SetValue(TrackInfoKey_AudioSampleFrequency, SV::SVTypedValue(uint32_t(48000)));
    boost::shared_ptr<MediaTrack> audioTrack = MakeTrack(3, false, true, audio);
    handle->TrackChanged(audioTrack);
    ASSERT_EQ(200u, SV_GetAudioTrackInfo(handle, &out));
    EXPECT_TRUE(SameDictionary(audioTrack->GetInfo(), out));
}

TEST_F(MediaTransformerTest, ASessionFoundByACallOutlivesATeardownOnAnotherThread) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    SVMediaTransformerSession* handle = Refused();
    handles_.clear();

    // What a call in flight holds between its look-up and its return.
    boost::shared_ptr<SVMediaTransformerSession> inFlight = SVMediaTransformerSession::Find(handle);
    ASSERT_TRUE(inFlight);
    boost::weak_ptr<SVMediaTransformerSession> watch(inFlight);
    SVStatus teardown = 0;
    std::thread other([&] { teardown = SV_MediaTransformerTeardown(handle); });
    other.join();
    EXPECT_EQ(200u, teardown);
    EXPECT_EQ(4200u, QueryAll(handle)[0]) << "the handle is gone for new calls";
    EXPECT_FALSE(watch.expired()) << "but not from under the call that holds it";
    SV::SVDictionary out;
    EXPECT_EQ(2008u, inFlight->GetVideoTrackInfo(&out));
    EXPECT_EQ("clip.xyz", inFlight->GetUrl());
    inFlight.reset();
    EXPECT_TRUE(watch.expired()) << "destroyed when the last call returns";
}

TEST_F(MediaTransformerTest, QueriesRacingSetupAndTeardownNeverTouchADestroyedSession) {
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    const size_t kSlots = 4;
    std::atomic<SVMediaTransformerSession*> slots[kSlots];
    for (size_t i = 0; i < kSlots; ++i) slots[i] = nullptr;
    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                for (size_t i = 0; i < kSlots; ++i) {
                    for (SVStatus status : QueryAll(slots[i].load())) {
                        // A live refused session answers 2008, a gone one 4200.
                        if (status != 2008u && status != 4200u) ++unexpected;
                    }
                }
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        size_t i = static_cast<size_t>(round) % kSlots;
        SVMediaTransformerSession* old = slots[i].exchange(nullptr);
        if (old != nullptr) {
            EXPECT_EQ(200u, SV_MediaTransformerTeardown(old));
        }
        SVMediaTransformerSession* made = nullptr;
        std::string url;
        SV_MediaTransformerSetup("clip.xyz", SV::SVDictionary(), 1, &url, &made);
        slots[i] = made;
        // Readers may still hold the old handle value: it must now answer 4200.
        if (old != nullptr && old != made) {
            EXPECT_EQ(4200u, SV_GetChapterData(old, 0, 0));
        }
    }
    done = true;
    for (std::thread& t : readers) t.join();
    for (size_t i = 0; i < kSlots; ++i) {
        if (slots[i] != nullptr) {
            EXPECT_EQ(200u, SV_MediaTransformerTeardown(slots[i]));
        }
    }
    EXPECT_EQ(0, unexpected.load());
}

TEST_F(MediaTransformerTest, PlaysAFixtureTitleFromSetupToTerminate) {
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    const uint16_t previousPort = GetLoopbackPort();
    const uint16_t port = InitializeOnAFreePort();
    ASSERT_NE(0, port);

    // The title named relative to an asset root given without its final '/'.
    std::string directory = SV::GetDirectoryPart(title);
    std::string name = title.substr(directory.size() + 1);
    SV::SVDictionary credentials;
    credentials.SetValue("CredentialsKey_AssetFsRoot", SV::SVTypedValue(directory));
    SVMediaTransformerSession* handle = nullptr;
    std::string url;
    ASSERT_EQ(200u, SV_MediaTransformerSetup(name, credentials, 1, &url, &handle));
    handles_.push_back(handle);
    const std::string playlist = SV::RemoveFileExtension(name) + ".m3u8";
    EXPECT_EQ("http://localhost:" + std::to_string(port) + "/" + playlist, url);

    std::vector<EngineEvent> setup = EngineEventLog::Of(SVMediaTransformEvent_SetupCompleted);
    ASSERT_EQ(1u, setup.size()) << "posted before setup returns";
    EXPECT_EQ(handle, setup[0].session);
    ASSERT_NE(nullptr, AsDictionary(setup[0].data));
    EXPECT_TRUE(AsDictionary(setup[0].data)->empty());

    using std::chrono::seconds;
    ASSERT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_VideoTrackChange, 1, seconds(20)));
    ASSERT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_AudioTrackChange, 1, seconds(20)));
    EngineEvent video = EngineEventLog::Of(SVMediaTransformEvent_VideoTrackChange)[0];
    EngineEvent audio = EngineEventLog::Of(SVMediaTransformEvent_AudioTrackChange)[0];
    EXPECT_EQ(handle, video.session);
    EXPECT_NE(std::this_thread::get_id(), video.thread) << "events come on the engine's thread";
    ASSERT_NE(nullptr, AsDictionary(video.data));
    ASSERT_NE(nullptr, AsDictionary(audio.data));
    // The fixture's recipe: 320x180 video, AAC at 48 kHz.
    uint32_t width = 0, height = 0, rate = 0;
    EXPECT_TRUE(AsDictionary(video.data)->GetUnsignedInt(TrackInfoKey_VideoWidth, width));
    EXPECT_TRUE(AsDictionary(video.data)->GetUnsignedInt(TrackInfoKey_VideoHeight, height));
    EXPECT_EQ(320u, width);
    EXPECT_EQ(180u, height);
    EXPECT_TRUE(AsDictionary(audio.data)->GetUnsignedInt(TrackInfoKey_AudioSampleFrequency, rate));
    EXPECT_EQ(48000u, rate);

    SV::SVDictionary videoInfo;
    ASSERT_EQ(200u, SV_GetVideoTrackInfo(handle, &videoInfo));
    EXPECT_TRUE(SameDictionary(*AsDictionary(video.data), videoInfo));
    std::vector<SV::SVTypedValue> tracks;
    ASSERT_EQ(200u, SV_QueryAllTracks(handle, &tracks));
    ASSERT_FALSE(tracks.empty());
    if (tracks.size() == 1) {
        // One track carries both: the audio event stands on the video track's description.
        EXPECT_TRUE(SameDictionary(*AsDictionary(video.data), *AsDictionary(audio.data)));
        SV::SVDictionary audioInfo;
        ASSERT_EQ(200u, SV_GetAudioTrackInfo(handle, &audioInfo));
        EXPECT_TRUE(SameDictionary(videoInfo, audioInfo));
    }
    uint32_t previousId = 0;
    bool sawVideo = false;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const SV::SVDictionary* track = AsDictionary(tracks[i]);
        ASSERT_NE(nullptr, track);
        uint32_t id = 0;
        ASSERT_TRUE(track->GetUnsignedInt(TrackInfoKey_Id, id));
        if (i > 0) {
            EXPECT_GT(id, previousId) << "in track-identifier order";
        }
        previousId = id;
        uint32_t w = 0;
        if (track->GetUnsignedInt(TrackInfoKey_VideoWidth, w) && w == 320) sawVideo = true;
    }
    EXPECT_TRUE(sawVideo);

    // The URL handed out is served, once the worker has opened the port.
    ASSERT_TRUE(SvTestSupport::WaitForListener(port));
    const SvTestSupport::HttpAnswer answer = SvTestSupport::HttpGet(port, playlist);
    const std::string response = answer.head + answer.body;
    EXPECT_EQ(0u, response.find("HTTP/1.1 200")) << response.substr(0, 200);
    EXPECT_NE(std::string::npos, response.find("#EXTM3U"));

    EXPECT_EQ(200u, SV_MediaTransformerTeardown(handle));
    handles_.clear();
    EXPECT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_SessionStopped, 1, seconds(10)));
    EXPECT_TRUE(EngineEventLog::Of(SVMediaTransformEvent_Error).empty());
    EXPECT_EQ(4200u, QueryAll(handle)[0]);
    EXPECT_EQ(200u, SV_MediaTransformerTerminate());
    SetLoopbackPort(previousPort);
}

TEST_F(MediaTransformerTest, AStopEventHandlerThatTearsDownAgainDoesNotBlockTheTeardown) {
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    const uint16_t previousPort = GetLoopbackPort();
    const uint16_t port = InitializeOnAFreePort();
    ASSERT_NE(0, port);
    SVMediaTransformerSession* handle = nullptr;
    std::string url;
    ASSERT_EQ(200u, SV_MediaTransformerSetup(title, SV::SVDictionary(), 1, &url, &handle));
    handles_.push_back(handle);
    using std::chrono::seconds;
    ASSERT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_VideoTrackChange, 1, seconds(20)));

    // The stop delivers event 8 from the session's thread while the outer teardown waits for
    // that thread; the handler tears the same handle down again.
    std::atomic<int> nestedCalls{0};
    std::atomic<SVStatus> nestedStatus{0};
    std::atomic<bool> nestedOnCaller{false};
    std::thread::id caller;
    EngineEventLog::SetHook([&](SVMediaTransformerSession* session, int event) {
        if (event != SVMediaTransformEvent_SessionStopped) return;
        nestedOnCaller = std::this_thread::get_id() == caller;
        nestedStatus = SV_MediaTransformerTeardown(session);
        ++nestedCalls;
    });
    SVStatus outer = 0;
    ExpectReturnsWithin(
        "the outer teardown",
        [&] {
            caller = std::this_thread::get_id();
            outer = SV_MediaTransformerTeardown(handle);
        },
        seconds(30));
    handles_.clear();
    EXPECT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_SessionStopped, 1, seconds(10)));
    EngineEventLog::SetHook(EngineEventLog::Hook());
    EXPECT_EQ(200u, outer) << "the first teardown keeps its own result";
    ASSERT_EQ(1, nestedCalls.load());
    EXPECT_FALSE(nestedOnCaller.load()) << "the event came on an engine thread";
    EXPECT_EQ(4200u, nestedStatus.load()) << "the handle was already on its way out";
    EXPECT_EQ(4200u, QueryAll(handle)[0]);
    EXPECT_TRUE(EngineEventLog::Of(SVMediaTransformEvent_Error).empty());
    SetLoopbackPort(previousPort);
}

TEST_F(MediaTransformerTest, AListenFailureHandlerMayTearTheSessionDownOnTheWorker) {
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    const uint16_t previousPort = GetLoopbackPort();
    // Another program listens on the engine's port.
    const SvTestSupport::HeldLoopbackPort taken;
    ASSERT_NE(0, taken.Port());
    SetLoopbackPort(taken.Port());
    ASSERT_EQ(200u, SV_MediaTransformerInitialize(&EngineEventLog::Callback));

    std::shared_ptr<std::promise<void>> handled = std::make_shared<std::promise<void>>();
    std::future<void> handledDone = handled->get_future();
    std::string handlerThread;
    SVStatus handlerStatus = 0;
    boost::weak_ptr<SVMediaTransformerSession> watch;
    std::atomic<bool> once{false};
    EngineEventLog::SetHook([&, handled](SVMediaTransformerSession* session, int event) {
        if (event != SVMediaTransformEvent_Error || once.exchange(true)) return;
        handlerThread = CurrentThreadName();
        watch = SVMediaTransformerSession::Find(session);
        handlerStatus = SV_MediaTransformerTeardown(session);
        handled->set_value();
    });
    SVMediaTransformerSession* handle = nullptr;
    std::string url;
    const SVStatus setup = SV_MediaTransformerSetup(title, SV::SVDictionary(), 1, &url, &handle);
    // The setup waits for the worker's listen: its failure is the setup's.
    EXPECT_EQ(1031u, setup);
    ASSERT_NE(nullptr, handle);
    if (handledDone.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "FATAL: the teardown inside the error handler never returned\n");
        std::fflush(stderr);
        std::abort();
    }
    EngineEventLog::SetHook(EngineEventLog::Hook());
    EXPECT_EQ("TWorker", handlerThread);
    EXPECT_EQ(1031u, handlerStatus) << "the stop reports the failure that ended the playback";
    EXPECT_EQ(4200u, QueryAll(handle)[0]);

    // The session goes, on some other thread than its worker, and takes the worker along.
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return watch.expired(); }, 20000));
    // It goes on the timer thread, which may still be joining its threads when the last
    // reference has gone: a timer armed now fires once that release is over.
    TimerBarrier barrier;
    EXPECT_TRUE(barrier.Wait());
    EXPECT_TRUE(SvTestSupport::WaitUntil([] { return SvTestSupport::ThreadsNamed("TWorker") == 0; },
                                         20000));
    SetLoopbackPort(previousPort);
}

// A portal names titles by paths under the asset root: one that leads out of it (by ".." steps,
// a symbolic link or a folder whose name merely begins like the root's), or that holds a NUL
// (the system would stop reading it there), is refused before anything is opened, and said on
// the engine's diagnostic line; so is one that names nothing. A name that is there but is no
// regular file (a FIFO, a device, a folder) cannot be played, and opening it does not wait.
// Paths that stay inside play.
TEST_F(MediaTransformerTest, AnAssetPathThatLeadsOutOfTheRootOrToNoTitleIsRefused) {
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    const uint16_t previousPort = GetLoopbackPort();
    ASSERT_NE(0, InitializeOnAFreePort());

    SvTestSupport::TemporaryDirectory top("asset-root-");
    const std::string root = top.File("titles");
    ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    ASSERT_EQ(0, mkdir((root + "/sub").c_str(), 0755));
    // A folder beside the root whose name begins with the root's.
    ASSERT_EQ(0, mkdir((root + "2").c_str(), 0755));
    {
        std::ifstream in(title, std::ios::binary);
        std::ofstream out(root + "/plain.svm", std::ios::binary);
        out << in.rdbuf();
        ASSERT_TRUE(out.good());
    }
    ASSERT_EQ(0, link((root + "/plain.svm").c_str(), (root + "/sub/nested.svm").c_str()));
    ASSERT_EQ(0, link((root + "/plain.svm").c_str(), (root + "2/title.svm").c_str()));
    ASSERT_EQ(0, symlink("sub/nested.svm", (root + "/inner-link.svm").c_str()));
    ASSERT_EQ(0, symlink(title.c_str(), (root + "/out-link.svm").c_str()));
    ASSERT_EQ(0, symlink(SV::GetDirectoryPart(title).c_str(), (root + "/out-dir").c_str()));
    const std::string fifo = root + "/fifo.svm";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, mkdir((root + "/folder.svm").c_str(), 0755));
    // A device named as a title (as /dev/null; making one takes privileges a test may lack:
    // the file layer's own test opens /dev/null itself).
    const bool deviceMade =
        mknod((root + "/device.svm").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    const std::string titleName = title.substr(SV::GetDirectoryPart(title).size() + 1);
    // Enough steps up from the root to reach "/", where ".." stays.
    std::string toTop;
    for (char c : root) {
        if (c == '/') toTop += "../";
    }
    const std::string escape = "the title's path leads out of the titles' folder " + root;
    const std::string nul = "a title's path or URL with a NUL in it is refused";
    const std::string missing = "no title at this path in the titles' folder " + root;

    struct Row {
        const char* what;
        std::string path;
        SVStatus status;
        std::string said;  // on the diagnostic line, after the path and ": " unless it is nul
    };
    std::vector<Row> rows = {
        {"a title in the root", "plain.svm", 200u, ""},
        {"a title in a folder of the root", "sub/nested.svm", 200u, ""},
        {"'..' steps that stay inside", "sub/../sub/nested.svm", 200u, ""},
        {"a link to a title inside", "inner-link.svm", 200u, ""},
        {"a path from '/' is read under the root", "/plain.svm", 200u, ""},
        {"'..' steps to the fixture folder", toTop + title.substr(1), 4201u, escape},
        {"a folder and then more '..' steps", "sub/../../titles2/title.svm", 4201u, escape},
        {"the folder beside whose name begins as the root's", "../titles2/title.svm", 4201u,
         escape},
        {"a link to a title elsewhere", "out-link.svm", 4201u, escape},
        {"a link to a folder elsewhere", "out-dir/" + titleName, 4201u, escape},
        // The system would open the name before the NUL, a title outside the root.
        {"a NUL after a way out", toTop + title.substr(1) + std::string(1, '\0') + "/x.svm", 4201u,
         nul},
        {"a NUL after a title inside", "plain.svm" + std::string(1, '\0') + ".svm", 4201u, nul},
        // Escapes are not decoded in a path: a folder named "%2e%2e" that is not there.
        {"percent-encoded dots", "%2e%2e/titles2/title.svm", 1013u, missing},
        {"a folder that is not there", "gone/../plain.svm", 1013u, missing},
        {"a FIFO", "fifo.svm", 1013u, ""},
        {"a folder", "folder.svm", 1013u, ""},
    };
    if (deviceMade) {
        rows.push_back({"a device", "device.svm", 1013u, ""});
    } else {
        std::printf("no device made in the titles' folder (%s): that row is left out\n",
                    std::strerror(errno));
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + ": " + row.path);
        EngineEventLog::Clear();
        SV::SVDictionary credentials;
        credentials.SetValue("CredentialsKey_AssetFsRoot", SV::SVTypedValue(root));
        FILE* said = std::tmpfile();
        ASSERT_NE(nullptr, said);
        SV::SetLineWriterStream(said);
        SVMediaTransformerSession* handle = nullptr;
        std::string url;
        SVStatus status = 0;
        bool heldOnTheFifo = false;
        {
            // An engine that waits in the FIFO's opening is let go (a writer comes) after a
            // bound no sound opening comes near, and the row fails; the test never hangs.
            std::mutex lock;
            std::condition_variable changed;
            bool done = false;
            std::thread guard([&] {
                std::unique_lock<std::mutex> held(lock);
                if (changed.wait_for(held, std::chrono::seconds(20), [&] { return done; })) return;
                const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                heldOnTheFifo = writer >= 0;
                if (writer >= 0) close(writer);
            });
            status = SV_MediaTransformerSetup(row.path, credentials, 1, &url, &handle);
            {
                std::lock_guard<std::mutex> held(lock);
                done = true;
            }
            changed.notify_all();
            guard.join();
        }
        // Nothing of the engine holds the FIFO open either.
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_LT(writer, 0) << "the FIFO is held open";
        if (writer >= 0) close(writer);
        EXPECT_FALSE(heldOnTheFifo);
        SV::SetLineWriterStream(nullptr);
        std::rewind(said);
        std::string lines;
        for (int c = std::fgetc(said); c != EOF; c = std::fgetc(said)) lines += char(c);
        std::fclose(said);
        EXPECT_EQ(row.status, status);
        if (row.said.empty()) {
            for (const std::string* text : {&escape, &nul, &missing}) {
                EXPECT_EQ(std::string::npos, lines.find(*text)) << lines;
            }
        } else if (row.said == nul) {
            EXPECT_NE(std::string::npos, lines.find(nul)) << lines;
        } else {
            EXPECT_NE(std::string::npos, lines.find(row.path + ": " + row.said)) << lines;
        }
        if (status == 200u) {
            EXPECT_TRUE(EngineEventLog::WaitFor(SVMediaTransformEvent_VideoTrackChange, 1,
                                                std::chrono::seconds(20)));
        }
        ASSERT_NE(nullptr, handle);
        const SVStatus stopped = SV_MediaTransformerTeardown(handle);
        // A setup refused before a transformer was made has nothing to stop.
        EXPECT_EQ(status == 4201u || !row.said.empty() ? 200u : status, stopped);
    }
    SetLoopbackPort(previousPort);
}

}  // namespace
}  // namespace SarvelonMediaKit
