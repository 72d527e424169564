#include "engine/core/TaskManager.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {
namespace {

// Records what ran, in order.
struct Recorder {
    std::vector<std::string> log;
    void Note(std::string text) { log.push_back(text); }
    void Plain() { log.push_back("plain"); }
    void Chunk(MemoryChunk chunk) { log.push_back("chunk " + std::to_string(chunk.Size())); }
    void Four(int a, const std::string& b, char c, long d) {
        log.push_back(std::to_string(a) + b + c + std::to_string(d));
    }
    void Two(int a, int b) { log.push_back(std::to_string(a * 10 + b)); }
};

typedef TaskTemplate1<Recorder*, void (Recorder::*)(std::string), std::string> NoteTask;

boost::shared_ptr<Task> MakeNote(Recorder* r, const std::string& text, uint32_t category = 8,
                                 StackId stack = 0) {
    return boost::make_shared<NoteTask>(category, stack, "Note(" + text + ")", r, &Recorder::Note,
                                        text);
}

// A task that runs a callback and asks to run again while `again` says so.
class CallbackTask : public Task {
public:
    CallbackTask(const std::string& name, std::function<bool()> body)
        : Task(8, 0, name), body_(body) {}
    bool Execute() override { return body_(); }

private:
    std::function<bool()> body_;
};

TEST(TaskManagerTest, TemplatesCallTheMemberWithTheirStoredCopies) {
    Recorder r;
    boost::shared_ptr<Recorder> shared(new Recorder);
    TaskManager tm;
    tm.AddTask(boost::make_shared<TaskTemplate0<Recorder*, void (Recorder::*)()>>(
        1, 0, "Recorder::Plain", &r, &Recorder::Plain));
    std::string text = "b";
    tm.AddTask(boost::make_shared<
               TaskTemplate4<Recorder*, void (Recorder::*)(int, const std::string&, char, long),
                             int, const std::string&, char, long>>(
        1, 0, "Recorder::Four", &r, &Recorder::Four, 1, text, 'c', 4L));
    text = "changed";  // the task holds its own copy
    tm.AddTask(boost::make_shared<
               TaskTemplate2<boost::shared_ptr<Recorder>, void (Recorder::*)(int, int), int, int>>(
        1, 0, "Recorder::Two", shared, &Recorder::Two, 4, 2));
    tm.RunTasks();
    EXPECT_EQ((std::vector<std::string>{"plain", "1bc4"}), r.log);
    EXPECT_EQ(std::vector<std::string>{"42"}, shared->log);
}

TEST(TaskManagerTest, EachCallRunsOnlyWhatWasQueuedAtEntry) {
    Recorder r;
    TaskManager tm;
    int repeats = 0;
    // Posts a further task while it runs, and re-queues itself three times.
    tm.AddTask(boost::make_shared<CallbackTask>("poster", [&] {
        r.Note("poster");
        tm.AddTask(MakeNote(&r, "posted"));
        return ++repeats < 3;
    }));
    tm.AddTask(MakeNote(&r, "second"));

    tm.RunTasks();
    EXPECT_EQ((std::vector<std::string>{"poster", "second"}), r.log);
    r.log.clear();
    tm.RunTasks();  // the posted task, then the re-queued poster, once
    EXPECT_EQ((std::vector<std::string>{"posted", "poster"}), r.log);
    r.log.clear();
    tm.RunTasks();
    EXPECT_EQ((std::vector<std::string>{"posted", "poster"}), r.log);
    r.log.clear();
    tm.RunTasks();  // the poster has stopped re-queuing
    EXPECT_EQ(std::vector<std::string>{"posted"}, r.log);
    r.log.clear();
    tm.RunTasks();
    EXPECT_TRUE(r.log.empty());
}

TEST(TaskManagerTest, AThrowingTaskIsDroppedAndTheRestRun) {
    Recorder r;
    TaskManager tm;
    int runs = 0;
    tm.AddTask(boost::make_shared<CallbackTask>("thrower", [&]() -> bool {
        ++runs;
        throw std::runtime_error("boom");
    }));
    tm.AddTask(MakeNote(&r, "after"));
    tm.RunTasks();
    tm.RunTasks();
    EXPECT_EQ(1, runs);  // not queued again
    EXPECT_EQ(std::vector<std::string>{"after"}, r.log);
    std::string name;
    EXPECT_FALSE(tm.IsTaskHung(name));  // the running-task stamp was reset
}

TEST(TaskManagerTest, RemoveTasksByCategoryAndStack) {
    struct Case {
        uint32_t mask;
        StackId stack;
        std::vector<std::string> left;
    };
    // Queued: a (category 1, stack 1), b (category 2, stack 2), c (category 3, stack 3),
    // d (category 8, stack 2).
    const Case cases[] = {
        {1, StackIdAny, {"b", "d"}},            // every stack: a and c share bit 1
        {1, 3, {"a", "b", "d"}},                // stack 3 only
        {2, 2, {"a", "c", "d"}},                // c has the bit but another stack
        {4, StackIdAny, {"a", "b", "c", "d"}},  // no task has bit 4
        {0xFFFFFFFF, 2, {"a", "c"}},
        {0, StackIdAny, {"a", "b", "c", "d"}},
    };
    for (const Case& c : cases) {
        Recorder r;
        TaskManager tm;
        tm.AddTask(MakeNote(&r, "a", 1, 1));
        tm.AddTask(MakeNote(&r, "b", 2, 2));
        tm.AddTask(MakeNote(&r, "c", 3, 3));
        tm.AddTask(MakeNote(&r, "d", 8, 2));
        tm.RemoveTasks(c.mask, c.stack);
        tm.RunTasks();
        EXPECT_EQ(c.left, r.log) << "mask " << c.mask << " stack " << c.stack;
    }
}

TEST(TaskManagerTest, TheCallEndsWhenItsLastTaskWasRemovedAndAnotherKeepsRequeuing) {
    Recorder r;
    TaskManager tm;
    int runs = 0;
    tm.AddTask(boost::make_shared<CallbackTask>("spinner", [&] {
        ++runs;
        tm.RemoveTasks(2, StackIdAny);  // removes "last" before its turn
        return true;
    }));
    tm.AddTask(MakeNote(&r, "last", 2, 0));
    tm.RunTasks();  // must return
    EXPECT_EQ(1, runs);
    EXPECT_TRUE(r.log.empty());
    tm.RunTasks();
    EXPECT_EQ(2, runs);
}

TEST(TaskManagerTest, DataTasksAreDroppedWhileTheFlagIsSetAndPendingDataSumsThem) {
    Recorder r;
    TaskManager tm;
    typedef TaskTemplate1<Recorder*, void (Recorder::*)(MemoryChunk), MemoryChunk> ChunkTask;
    const auto post = [&](uint32_t size) {
        tm.AddTask(boost::make_shared<ChunkTask>(1, 0, "Recorder::Chunk", &r, &Recorder::Chunk,
                                                 MemoryChunk(size, 4, 4)));
    };
    EXPECT_EQ(0u, tm.PendingData());
    post(100);
    tm.AddTask(MakeNote(&r, "control"));
    post(250);
    post(0);  // a chunk without bytes carries no data
    EXPECT_EQ(350u, tm.PendingData());

    tm.SetDropDataTasks();
    EXPECT_TRUE(tm.IsDroppingDataTasks());
    tm.RunTasks();
    EXPECT_EQ((std::vector<std::string>{"control", "chunk 0"}), r.log);
    EXPECT_EQ(0u, tm.PendingData());

    r.log.clear();
    tm.ClearDropDataTasks();
    post(7);
    EXPECT_EQ(7u, tm.PendingData());
    tm.RunTasks();
    EXPECT_EQ(std::vector<std::string>{"chunk 7"}, r.log);
}

TEST(TaskManagerTest, PendingDataSaturatesAt32Bits) {
    class BigTask : public Task {
    public:
        BigTask() : Task(1, 0, "big") {}
        bool Execute() override { return false; }
        ByteAmount PendingDataSize() const override { return 0xF0000000u; }
    };
    TaskManager tm;
    tm.AddTask(boost::make_shared<BigTask>());
    tm.AddTask(boost::make_shared<BigTask>());
    EXPECT_EQ(0xFFFFFFFFu, tm.PendingData());
}

TEST(TaskManagerTest, HangAndIdleChecksFollowTheClock) {
    std::atomic<uint64_t> now(50000);
    TaskManager tm([&] { return SV::PilTime(now.load()); });
    std::string name;
    EXPECT_FALSE(tm.IsTaskHung(name));
    EXPECT_FALSE(tm.IsNotRunning(name));  // never run yet

    struct Seen {
        bool at1000 = true;
        bool at1001 = false;
        std::string name;
    } seen;
    tm.AddTask(boost::make_shared<CallbackTask>("Session::Seek(MS)", [&] {
        std::string n;
        now += 1000;
        seen.at1000 = tm.IsTaskHung(n);  // exactly 1000 ms is not yet hung
        now += 1;
        seen.at1001 = tm.IsTaskHung(seen.name);
        return false;
    }));
    tm.RunTasks();
    EXPECT_FALSE(seen.at1000);
    EXPECT_TRUE(seen.at1001);
    EXPECT_EQ("Session::Seek(MS)", seen.name);
    EXPECT_FALSE(tm.IsTaskHung(name));  // it has returned

    // RunTasks was entered at 50000; the clock now reads 51001.
    name.clear();
    EXPECT_TRUE(tm.IsNotRunning(name));
    EXPECT_EQ("Session::Seek(MS)", name);
    tm.RunTasks();  // an empty run only stamps the entry time
    EXPECT_FALSE(tm.IsNotRunning(name));
    now += 1000;
    EXPECT_FALSE(tm.IsNotRunning(name));
    now += 1;
    EXPECT_TRUE(tm.IsNotRunning(name));
}

TEST(TaskManagerTest, AStopRequestEndsTheRunBeforeTheNextTask) {
    Recorder r;
    TaskManager tm;
    tm.AddTask(boost::make_shared<CallbackTask>("stopper", [&] {
        tm.RequestStop();
        return false;
    }));
    tm.AddTask(MakeNote(&r, "never"));
    tm.RunTasks();
    EXPECT_TRUE(tm.IsStopRequested());
    EXPECT_TRUE(r.log.empty());
}

TEST(TaskManagerTest, PostersOnOtherThreadsLoseNothing) {
    TaskManager tm;
    std::atomic<int> ran(0);
    const int kPerThread = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                tm.AddTask(boost::make_shared<CallbackTask>("count", [&] {
                    ++ran;
                    return false;
                }));
            }
        });
    }
    std::atomic<bool> done(false);
    std::thread runner([&] {
        while (!done) tm.RunTasks();
        tm.RunTasks();
    });
    for (auto& p : posters) p.join();
    done = true;
    runner.join();
    EXPECT_EQ(4 * kPerThread, ran.load());
}

// A thread that sleeps until there is work learns of each post and of a stop through the post
// handler, and of nothing once the handler is replaced; RunTasks says whether it took anything.
TEST(TaskManagerTest, PostsAndTheStopCallThePostHandlerAndRunTasksSaysWhetherItTookAny) {
    Recorder r;
    TaskManager tm;
    typedef TaskTemplate1<Recorder*, void (Recorder::*)(MemoryChunk), MemoryChunk> ChunkTask;
    int calls = 0;
    tm.SetPostHandler([&]() { ++calls; });
    EXPECT_FALSE(tm.RunTasks());  // nothing queued
    tm.AddTask(MakeNote(&r, "a"));
    tm.AddTask(boost::shared_ptr<Task>());  // nothing posted: no call
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(tm.RunTasks());
    EXPECT_FALSE(tm.RunTasks());

    // A data task released unrun while a seek is pending was still taken off the queue.
    tm.SetDropDataTasks();
    tm.AddTask(boost::make_shared<ChunkTask>(1, 0, "Recorder::Chunk", &r, &Recorder::Chunk,
                                             MemoryChunk(100, 4, 4)));
    EXPECT_EQ(2, calls);
    EXPECT_TRUE(tm.RunTasks());
    EXPECT_EQ(std::vector<std::string>{"a"}, r.log);

    // A task that posts from inside its run calls the handler on the running thread.
    tm.AddTask(boost::make_shared<CallbackTask>("poster", [&] {
        tm.AddTask(MakeNote(&r, "b"));
        return false;
    }));
    EXPECT_EQ(3, calls);
    EXPECT_TRUE(tm.RunTasks());
    EXPECT_EQ(4, calls);

    tm.RequestStop();
    EXPECT_EQ(5, calls);

    tm.SetPostHandler(boost::function<void()>());
    tm.AddTask(MakeNote(&r, "c"));
    EXPECT_EQ(5, calls);
}

}  // namespace
}  // namespace SarvelonMediaKit
