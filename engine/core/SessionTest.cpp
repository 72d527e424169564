#include "engine/core/Session.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "engine/core/Component.h"
#include "engine/core/MemoryUser.h"
#include "engine/core/SVMKCredentials.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

// Holds a fixed number of bytes under a tracker.
class Holder : public MemoryUser {
public:
    Holder(const boost::shared_ptr<MemoryTracker>& tracker, uint32_t bytes)
        : MemoryUser(tracker), bytes_(bytes) {}
    ByteAmount BytesHeld() const override { return bytes_; }

private:
    uint32_t bytes_;
};

// Runs f, which must throw the invalid-parameter exception, and returns its detail text (its
// what() is the table's "SVL_Internal: Invalid parameter" for every capacity check).
template <typename F>
std::string InvalidParameter(F f) {
    try {
        f();
    } catch (const SV::SVLibraryException& e) {
        EXPECT_EQ(SV::SVL_InvalidParameter, e.GetCode());
        EXPECT_STREQ("SVL_Internal: Invalid parameter", e.what());
        return e.GetDetail();
    }
    ADD_FAILURE() << "no exception";
    return "";
}

const char kTooLarge[] = "Cannot allocate Tracker that large";
const char kBelowTrackers[] = "Cannot set session capacity to less than that of allocated trackers";
const char kBelowHeld[] = "Session capacity cannot be set to less than current bytes held";

TEST(SessionMemoryTest, ANewSessionHasNoCapacity) {
    boost::shared_ptr<Session> session = Session::Create();
    EXPECT_EQ(0u, session->GetCapacity());
    EXPECT_EQ(0u, session->GetUnallocatedCapacity());
    boost::shared_ptr<MemoryTracker> main = session->GetMemoryTracker();
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, main->Limit());
    EXPECT_EQ(kTooLarge, InvalidParameter([&] { session->AllocateTracker(1); }));
    EXPECT_EQ(0u, session->GetCapacity());
    EXPECT_EQ(0u, session->GetUnallocatedCapacity());
    EXPECT_EQ(main, session->GetMemoryTracker());
}

TEST(SessionMemoryTest, ATrackerOfTheWholeCapacityLeavesNothing) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(4096);
    boost::shared_ptr<MemoryTracker> main = session->GetMemoryTracker();
    EXPECT_EQ(4096u, main->Limit());  // the main tracker takes the unallocated capacity

    boost::shared_ptr<MemoryTracker> dedicated = session->AllocateTracker(4096);
    ASSERT_TRUE(dedicated);
    EXPECT_EQ(4096u, dedicated->Limit());
    EXPECT_EQ(0u, session->GetUnallocatedCapacity());
    EXPECT_EQ(0u, main->Limit());
    EXPECT_EQ(kTooLarge, InvalidParameter([&] { session->AllocateTracker(1); }));
    EXPECT_EQ(0u, session->GetUnallocatedCapacity());
}

TEST(SessionMemoryTest, CapacityCannotDropBelowTrackersOrBytesHeld) {
    struct Case {
        uint32_t mainHeld;       // bytes held under the main tracker
        uint32_t dedicatedHeld;  // bytes held under the 1000-byte tracker
        uint32_t newCapacity;
        const char* thrown;  // the detail text, or null when the change is accepted
        uint32_t unallocatedAfter;
    };
    const Case cases[] = {
        {0, 0, 999, kBelowTrackers, 4000},  // below the dedicated tracker's limit
        {0, 0, 1000, nullptr, 0},           // exactly the allocated limits
        {0, 0, 6000, nullptr, 5000},        // growing adds to the unallocated part
        {0, 1200, 1100, kBelowHeld, 4000},  // trackers hold more than the new capacity
        {300, 800, 1100, nullptr, 100},    {300, 800, 1099, kBelowHeld, 4000},
    };
    for (const Case& c : cases) {
        boost::shared_ptr<Session> session = Session::Create();
        session->SetCapacity(5000);
        boost::shared_ptr<MemoryTracker> dedicated = session->AllocateTracker(1000);
        Holder onMain(session->GetMemoryTracker(), c.mainHeld);
        Holder onDedicated(dedicated, c.dedicatedHeld);
        if (c.thrown) {
            EXPECT_EQ(c.thrown, InvalidParameter([&] { session->SetCapacity(c.newCapacity); }))
                << c.newCapacity;
            EXPECT_EQ(5000u, session->GetCapacity());
        } else {
            session->SetCapacity(c.newCapacity);
            EXPECT_EQ(c.newCapacity, session->GetCapacity());
        }
        EXPECT_EQ(c.unallocatedAfter, session->GetUnallocatedCapacity()) << c.newCapacity;
        EXPECT_EQ(1000u, dedicated->Limit());
    }
}

TEST(SessionMemoryTest, AReleasedTrackerGivesItsLimitBackOnce) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(10000);
    boost::shared_ptr<MemoryTracker> a = session->AllocateTracker(3000);
    boost::shared_ptr<MemoryTracker> b = session->AllocateTracker(2000);
    EXPECT_EQ(5000u, session->GetUnallocatedCapacity());

    // Neither the main tracker nor a stranger is released.
    session->ReleaseTracker(session->GetMemoryTracker().get());
    MemoryTracker stranger(boost::weak_ptr<Session>(), 700);
    session->ReleaseTracker(&stranger);
    EXPECT_EQ(5000u, session->GetUnallocatedCapacity());

    {
        Holder user(a, 100);  // the last user leaving hands the tracker back
    }
    EXPECT_EQ(8000u, session->GetUnallocatedCapacity());
    { Holder again(a, 100); }
    session->ReleaseTracker(a.get());
    EXPECT_EQ(8000u, session->GetUnallocatedCapacity());

    // Lowering the capacity now only has b's 2000 bytes to respect.
    session->SetCapacity(2000);
    EXPECT_EQ(0u, session->GetUnallocatedCapacity());
}

TEST(SessionMemoryTest, ATrackerMayOutliveItsSession) {
    boost::shared_ptr<MemoryTracker> main;
    boost::shared_ptr<MemoryTracker> dedicated;
    std::unique_ptr<Holder> user;
    {
        boost::shared_ptr<Session> session = Session::Create();
        session->SetCapacity(1000);
        main = session->GetMemoryTracker();
        dedicated = session->AllocateTracker(400);
        user.reset(new Holder(dedicated, 10));
    }
    EXPECT_EQ(0u, main->Limit());         // no session to take capacity from
    EXPECT_EQ(400u, dedicated->Limit());  // its own limit stays
    user.reset();                         // the last user leaves: nobody to give back to
}

TEST(SessionMemoryTest, TrackersComeAndGoFromManyThreads) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(1000000);
    std::vector<std::thread> threads;
    std::atomic<int> refused(0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                boost::shared_ptr<MemoryTracker> tracker;
                try {
                    tracker = session->AllocateTracker(1000);
                } catch (const SV::SVLibraryException&) {
                    ++refused;
                    continue;
                }
                (void)session->GetMemoryTracker()->Limit();
                session->ReleaseTracker(tracker.get());
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 500; ++i) {
            try {
                session->SetCapacity(1000000 + (i % 2) * 1000);
            } catch (const SV::SVLibraryException&) {
                ++refused;
            }
        }
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, refused.load());  // four trackers of 1000 bytes at most at any time
    EXPECT_EQ(session->GetCapacity(), session->GetUnallocatedCapacity());
}

struct Counter {
    std::vector<std::string> ran;
    void Run(std::string name) { ran.push_back(name); }
};

TEST(SessionTaskTest, TasksGoThroughTheSessionsQueue) {
    boost::shared_ptr<Session> session = Session::Create();
    Counter counter;
    typedef TaskTemplate1<Counter*, void (Counter::*)(std::string), std::string> RunTask;
    const auto post = [&](const std::string& name, uint32_t category, StackId stack) {
        session->AddTask(
            boost::make_shared<RunTask>(category, stack, name, &counter, &Counter::Run, name));
    };
    post("seek stack 1", 2, 1);
    post("seek stack 2", 2, 2);
    post("data", 1, 1);
    post("control", 8, 1);
    session->RemoveTasks(2, StackIdAny);
    session->RemoveTasks(1, 2);  // "data" is of stack 1: stays

    boost::shared_ptr<TaskManager> tasks = session->GetTaskManager();
    ASSERT_TRUE(tasks);
    EXPECT_EQ(tasks, session->GetTaskManager());
    session->SetDropDataTasks();
    EXPECT_TRUE(tasks->IsDroppingDataTasks());
    session->ClearDropDataTasks();
    EXPECT_FALSE(tasks->IsDroppingDataTasks());
    tasks->RunTasks();
    EXPECT_EQ((std::vector<std::string>{"data", "control"}), counter.ran);
}

using SvTestSupport::RecordingStage;

TEST(SessionStackTest, ANewSessionHoldsAnEmptyStackZeroAndTakesACopyOfAnother) {
    boost::shared_ptr<Session> session = Session::Create();
    EXPECT_TRUE(session->GetComponentStack().IsEmpty());
    EXPECT_EQ(StackIdServing, session->GetComponentStack().GetStackId());

    boost::shared_ptr<Component> output(new RecordingStage(session.get()));
    boost::shared_ptr<Component> input(new RecordingStage(session.get()));
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {output, input});
    session->SetComponentStack(stack);
    stack.AddComponent(
        boost::shared_ptr<Component>(new RecordingStage(session.get())));  // not seen

    ComponentStack held = session->GetComponentStack();
    EXPECT_EQ(StackIdMain, held.GetStackId());
    EXPECT_EQ((std::list<boost::shared_ptr<Component>>{output, input}), held.GetComponents());
}

// The settings record is shared with whoever hands it over, not copied: an entry written
// through the giver's pointer is what the session's readers see. Components read it on the task
// thread while the setting-up thread may hand over another.
TEST(SessionCredentialsTest, TheRecordIsSharedAndMayBeReplacedWhileRead) {
    boost::shared_ptr<Session> session = Session::Create();
    EXPECT_FALSE(session->GetCredentials()) << "empty until one is set";

    boost::shared_ptr<SVMKCredentials> record = boost::make_shared<SVMKCredentials>();
    session->SetCredentials(record);
    record->GetEntries().SetValue("CredentialsKey_Pda", SV::SVTypedValue(true));
    ASSERT_EQ(record, session->GetCredentials());
    EXPECT_TRUE(session->GetCredentials()->GetEntries().GetValue("CredentialsKey_Pda") != nullptr);

    boost::shared_ptr<SVMKCredentials> other = boost::make_shared<SVMKCredentials>();
    std::atomic<bool> done(false);
    std::atomic<int> strangers(0);
    std::thread reader([&] {
        do {
            boost::shared_ptr<SVMKCredentials> now = session->GetCredentials();
            if (now != record && now != other) ++strangers;  // only ever one of the two
        } while (!done);
    });
    for (int i = 0; i < 2000; ++i) session->SetCredentials(i % 2 ? record : other);
    done = true;
    reader.join();
    EXPECT_EQ(0, strangers.load());
    EXPECT_EQ(record, session->GetCredentials());  // the last one handed over (i = 1999)
    session->SetCredentials(boost::shared_ptr<SVMKCredentials>());
    EXPECT_FALSE(session->GetCredentials());
    EXPECT_EQ(1, record.use_count()) << "the session let its share go";
}

class SessionEventLog : public SessionInfoMonitor {
public:
    ~SessionEventLog() override { DetachFromSources(); }
    void SessionStopped() override { log.push_back("stopped"); }
    std::vector<std::string> log;
};

TEST(SessionEventsTest, TheSessionIsAnErrorSourceASessionSourceAndAnErrorMonitor) {
    SvTestSupport::ErrorRecorder errors;
    SessionEventLog life;
    ErrorInfoSource upstream;
    {
        boost::shared_ptr<Session> session = Session::Create();
        session->AddMonitor(&errors);
        session->AddMonitor(&life);
        upstream.AddMonitor(session.get());
        EXPECT_TRUE(session->HasMonitor(&errors));
        EXPECT_TRUE(session->HasMonitor(&life));

        session->PublishError(1013, "file://x");
        session->PublishSessionStopped();
        upstream.PublishError(1, "reaches the session's own handler, not its monitors");
        EXPECT_EQ((std::vector<SvTestSupport::ErrorRecorder::Report>{{1013, "file://x"}}),
                  errors.Errors());
        EXPECT_EQ(std::vector<std::string>{"stopped"}, life.log);
    }
    // Every link went with the session.
    EXPECT_FALSE(errors.HasSources());
    EXPECT_FALSE(life.HasSources());
    EXPECT_FALSE(upstream.HasMonitors());
}

}  // namespace
}  // namespace SarvelonMediaKit
