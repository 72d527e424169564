#include "engine/core/InfoSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/ChapterInfoSource.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/SessionInfoSource.h"
#include "engine/core/StreamInfoSource.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {

namespace {

// Tracks are only handed around by pointer here, so stand-ins that are never dereferenced do:
// each points at an int of its own and is told apart by its address.
std::vector<boost::shared_ptr<MediaTrack>>& Tracks() {
    static std::vector<boost::shared_ptr<MediaTrack>> tracks;
    while (tracks.size() < 3) {
        boost::shared_ptr<int> owner(new int(0));
        tracks.push_back(
            boost::shared_ptr<MediaTrack>(owner, reinterpret_cast<MediaTrack*>(owner.get())));
    }
    return tracks;
}

std::string TrackName(const boost::shared_ptr<MediaTrack>& track) {
    for (size_t i = 0; i < Tracks().size(); ++i) {
        if (Tracks()[i] == track) return "T" + std::to_string(i);
    }
    return "unknown";
}

// Writes every event it receives as a line.
class Recorder : public ErrorInfoMonitor, public StreamInfoMonitor {
public:
    ~Recorder() override {
        ErrorInfoMonitor::DetachFromSources();
        StreamInfoMonitor::DetachFromSources();
    }
    void SetError(SVStatus status, std::string text) override {
        log.push_back("error " + std::to_string(status) + " " + text);
    }
    void SetWarning(SVStatus status, std::string text) override {
        log.push_back("warning " + std::to_string(status) + " " + text);
    }
    void TracksAvailable(const TrackMap& tracks, bool complete) override {
        std::string line = "tracks";
        for (const auto& t : tracks) {
            line += " " + std::to_string(t.first.Get()) + "=" + TrackName(t.second);
        }
        log.push_back(line + (complete ? " complete" : " partial"));
    }
    void TrackChanged(const boost::shared_ptr<MediaTrack>& track) override {
        log.push_back("track " + TrackName(track));
    }
    void DurationAvailable(MediaTime duration) override {
        log.push_back("duration " + std::to_string(duration.Get()));
    }
    void MediaSizeAvailable(BytePosition size) override {
        log.push_back("size " + std::to_string(size.Get()));
    }
    void TrickPlayAvailable(bool available) override {
        log.push_back(std::string("trick ") + (available ? "yes" : "no"));
    }
    void PreloadComplete() override { log.push_back("preloaded"); }
    void MediaTimeAvailable(uint32_t type, MediaTime a, MediaTime b) override {
        log.push_back("time " + std::to_string(type) + " " + std::to_string(a.Get()) + " " +
                      std::to_string(b.Get()));
    }

    std::vector<std::string> log;
};

class ChapterRecorder : public ChapterInfoMonitor {
public:
    void ChaptersAvailable(unsigned count) override {
        log.push_back("chapters " + std::to_string(count));
    }
    void ChapterReceived(unsigned n, MediaTime start, const std::string& title) override {
        log.push_back("chapter " + std::to_string(n) + " " + std::to_string(start.Get()) + " '" +
                      title + "'");
    }
    void ThumbnailReceived(unsigned index, const std::vector<unsigned char>& image) override {
        log.push_back("thumbnail " + std::to_string(index) + " " + std::to_string(image.size()));
    }
    std::vector<std::string> log;
};

class SessionRecorder : public SessionInfoMonitor {
public:
    void SessionSetupCompleted() override { log.push_back("setup"); }
    void SessionStopped() override { log.push_back("stopped"); }
    std::vector<std::string> log;
};

TEST(InfoSourceTest, EachFamilyDeliversItsEventsWithTheirArguments) {
    Recorder r;
    ErrorInfoSource errors;
    StreamInfoSource stream;
    errors.AddMonitor(&r);
    errors.AddMonitor(&r);  // held once
    stream.AddMonitor(&r);

    errors.PublishError(1013, "file://missing");
    errors.PublishWarning(2000, "Data stopped arriving, will retry");
    StreamInfoMonitor::TrackMap tracks;
    tracks[TrackId(2)] = Tracks()[2];
    tracks[TrackId(1)] = Tracks()[1];
    stream.PublishTracks(tracks, true);
    tracks.erase(TrackId(2));
    stream.PublishTracks(tracks, false);
    stream.PublishCurrentTrack(tracks[TrackId(1)]);
    stream.PublishDuration(MediaTime(5000000));
    stream.PublishEndPosition(BytePosition(123456789012ull));
    stream.PublishTrickPlayAvailable(true);
    stream.PublishPreloadComplete();
    stream.PublishTimestamp(2, MediaTime(7), MediaTime(3));
    // Held times go out together, every one and in order; none held publishes nothing.
    const StreamInfoSource::Timestamp held[] = {{1, MediaTime(40), MediaTime(9)},
                                                {2, MediaTime(33), MediaTime(9)},
                                                {1, MediaTime(40), MediaTime(12)}};
    stream.PublishTimestamps(held, 3);
    stream.PublishTimestamps(held, 0);
    EXPECT_EQ((std::vector<std::string>{
                  "error 1013 file://missing", "warning 2000 Data stopped arriving, will retry",
                  "tracks 1=T1 2=T2 complete", "tracks 1=T1 partial", "track T1",
                  "duration 5000000", "size 123456789012", "trick yes", "preloaded", "time 2 7 3",
                  "time 1 40 9", "time 2 33 9", "time 1 40 12"}),
              r.log);

    ChapterRecorder c;
    ChapterInfoSource chapters;
    c.AddSource(&chapters);  // either side may make the link
    chapters.PublishChapterCount(3);
    chapters.PublishChapter(0, MediaTime(0), "");
    chapters.PublishChapter(1, MediaTime(60000000), "Two");
    chapters.PublishThumbnail(1, std::vector<unsigned char>(17, 0xFF));
    EXPECT_EQ((std::vector<std::string>{"chapters 3", "chapter 0 0 ''", "chapter 1 60000000 'Two'",
                                        "thumbnail 1 17"}),
              c.log);

    SessionRecorder s;
    SessionInfoSource session;
    session.AddMonitor(&s);
    session.PublishSessionSetupCompleted();
    session.PublishSessionStopped();
    EXPECT_EQ((std::vector<std::string>{"setup", "stopped"}), s.log);
}

TEST(InfoSourceTest, AMonitorDestroyedWhileAttachedLeavesBothSourcesClean) {
    ErrorInfoSource first;
    ErrorInfoSource second;
    Recorder stays;
    first.AddMonitor(&stays);
    {
        std::unique_ptr<Recorder> goes(new Recorder);
        first.AddMonitor(goes.get());
        goes->ErrorInfoMonitor::AddSource(&second);
        EXPECT_TRUE(first.HasMonitor(goes.get()));
        EXPECT_TRUE(second.HasMonitor(goes.get()));
    }
    EXPECT_FALSE(second.HasMonitors());
    EXPECT_TRUE(first.HasMonitor(&stays));
    // Publishing afterwards reaches only what is left (the sanitizer build catches a dangling
    // pointer here).
    first.PublishError(1, "a");
    second.PublishError(2, "b");
    EXPECT_EQ(std::vector<std::string>{"error 1 a"}, stays.log);
}

TEST(InfoSourceTest, ASourceDestroyedFirstLeavesTheMonitorWithoutIt) {
    Recorder r;
    ErrorInfoSource lasting;
    lasting.AddMonitor(&r);
    {
        ErrorInfoSource brief;
        brief.AddMonitor(&r);
        EXPECT_TRUE(r.ErrorInfoMonitor::HasSource(&brief));
    }
    EXPECT_TRUE(r.ErrorInfoMonitor::HasSource(&lasting));
    {
        std::unique_ptr<ErrorInfoSource> other(new ErrorInfoSource);
        other->AddMonitor(&r);
        other->DetachAll();
        EXPECT_FALSE(other->HasMonitors());
    }
    lasting.RemoveMonitor(&r);
    EXPECT_FALSE(r.ErrorInfoMonitor::HasSources());
    lasting.RemoveMonitor(&r);  // nothing left to remove
    // r's destruction must touch none of the destroyed sources.
}

// Detaches itself, or another monitor, from inside its event.
class Detacher : public ErrorInfoMonitor {
public:
    ~Detacher() override { DetachFromSources(); }
    void SetError(SVStatus /*status*/, std::string) override {
        ++calls;
        if (target != nullptr) source->RemoveMonitor(target);
    }
    ErrorInfoSource* source = nullptr;
    ErrorInfoMonitor* target = nullptr;
    int calls = 0;
};

TEST(InfoSourceTest, AMonitorMayDetachItselfOrAnotherFromInsideAnEvent) {
    ErrorInfoSource source;
    Detacher a;
    Detacher b;
    a.source = b.source = &source;
    // Monitors are told in address order: the first detaches itself, the second then asks to
    // detach the first again, which is already gone.
    Detacher* first = &a < &b ? &a : &b;
    Detacher* second = first == &a ? &b : &a;
    first->target = first;
    second->target = first;
    source.AddMonitor(&a);
    source.AddMonitor(&b);
    source.PublishError(1, "");
    EXPECT_EQ(1, first->calls);
    EXPECT_EQ(1, second->calls);
    EXPECT_FALSE(source.HasMonitor(first));
    EXPECT_TRUE(source.HasMonitor(second));
    source.PublishError(1, "");
    EXPECT_EQ(1, first->calls);
    EXPECT_EQ(2, second->calls);

    // A monitor detached by an earlier one in the same publication is skipped.
    Detacher c;
    Detacher d;
    c.source = d.source = &source;
    source.AddMonitor(&c);
    source.AddMonitor(&d);
    Detacher* earlier = &c < &d ? &c : &d;
    Detacher* later = earlier == &c ? &d : &c;
    earlier->target = later;
    source.PublishError(1, "");
    EXPECT_EQ(1, earlier->calls);
    EXPECT_EQ(0, later->calls);
}

// Blocks inside its event until released.
class Blocker : public ErrorInfoMonitor {
public:
    ~Blocker() override { DetachFromSources(); }
    void SetError(SVStatus, std::string) override {
        entered = true;
        while (!release) std::this_thread::yield();
        finished = true;
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
};

TEST(InfoSourceTest, ADetachWaitsForADeliveryRunningOnAnotherThread) {
    ErrorInfoSource source;
    Blocker blocker;
    source.AddMonitor(&blocker);
    std::thread publisher([&] { source.PublishError(1, ""); });
    while (!blocker.entered) std::this_thread::yield();

    std::atomic<bool> detached(false);
    std::atomic<pid_t> detacherId(0);
    bool finishedBeforeDetach = false;
    std::thread detacher([&] {
        detacherId = SvTestSupport::ThisThreadId();
        source.RemoveMonitor(&blocker);
        finishedBeforeDetach = blocker.finished;
        detached = true;
    });
    // The detach cannot return while the event runs: once it has unlinked the monitor, the
    // detaching thread is found asleep waiting for the delivery, not returned.
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] {
        return detached || (!source.HasMonitor(&blocker) && SvTestSupport::IsAsleep(detacherId));
    }));
    EXPECT_FALSE(detached);
    blocker.release = true;
    detacher.join();
    publisher.join();
    EXPECT_TRUE(finishedBeforeDetach);
}

// Counts events, and events that arrive while its owner thinks it is detached.
class Counter : public StreamInfoMonitor {
public:
    ~Counter() override { DetachFromSources(); }
    void DurationAvailable(MediaTime) override {
        ++events;
        if (!attached) ++late;
    }
    std::atomic<bool> attached{false};
    std::atomic<long> events{0};
    std::atomic<long> late{0};
};

TEST(InfoSourceTest, AttachAndDetachOnFourThreadsWhileAFifthPublishes) {
    const long kEvents = 100000;
    StreamInfoSource source;
    StreamInfoSource spare;  // a second source the attaching threads also use
    Counter always;
    always.attached = true;
    source.AddMonitor(&always);

    std::atomic<bool> publishing(true);
    std::vector<std::thread> threads;
    std::atomic<long> lateTotal(0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Counter mine;
            long round = 0;
            while (publishing) {
                mine.attached = true;
                if (t % 2 == 0) {
                    source.AddMonitor(&mine);
                } else {
                    mine.AddSource(&source);
                }
                spare.AddMonitor(&mine);
                std::this_thread::yield();
                if (++round % 3 == 0) {
                    mine.DetachFromSources();
                } else {
                    source.RemoveMonitor(&mine);
                    mine.RemoveSource(&spare);
                }
                mine.attached = false;  // no event may arrive from here on
                // Now and then a monitor that is destroyed while still attached.
                if (round % 50 == 0) {
                    std::unique_ptr<Counter> passing(new Counter);
                    passing->attached = true;
                    source.AddMonitor(passing.get());
                    spare.AddMonitor(passing.get());
                }
            }
            lateTotal += mine.late;
        });
    }
    threads.emplace_back([&] {
        for (long i = 0; i < kEvents; ++i) {
            source.PublishDuration(MediaTime(i));
            if (i % 16 == 0) spare.PublishDuration(MediaTime(i));
        }
        publishing = false;
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(kEvents, always.events.load());
    EXPECT_EQ(0, lateTotal.load());
    EXPECT_EQ(0, always.late.load());
    EXPECT_TRUE(source.HasMonitor(&always));
    source.RemoveMonitor(&always);
    EXPECT_FALSE(source.HasMonitors());
    EXPECT_FALSE(spare.HasMonitors());
}

TEST(InfoSourceTest, ASourceAndItsMonitorMayBeDestroyedOnTwoThreadsAtOnce) {
    for (int i = 0; i < 2000; ++i) {
        std::unique_ptr<ErrorInfoSource> source(new ErrorInfoSource);
        std::unique_ptr<Recorder> monitor(new Recorder);
        source->AddMonitor(monitor.get());
        std::thread other([&] { source.reset(); });
        monitor.reset();
        other.join();
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
