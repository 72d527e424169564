#include "engine/serve/LiveHttpFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/serve/LiveHttpFileSource.h"

namespace SarvelonMediaKit {
namespace {

class Listener : public LiveHttpFileSource {
public:
    void GetFile(const std::string&, LiveHttpServer*, boost::shared_ptr<Component>) override {}
    void FileStateChanged(LiveHttpFile* file) override {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(file->GetState());
    }
    std::mutex mutex;
    std::vector<int> seen;
};

MemoryChunk Text(const std::string& text) {
    return MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                               static_cast<uint32_t>(text.size()));
}

std::string AsText(const MemoryChunk& chunk) {
    return std::string(reinterpret_cast<const char*>(chunk.Data()), chunk.Size());
}

TEST(LiveHttpFileTest, TheStateOnlyRisesAndEachRiseIsToldOnce) {
    Listener listener;
    LiveHttpFile file(&listener, 3);
    file.SetState(1);
    file.SetState(3);
    file.SetState(3);
    file.SetState(2);  // not a rise
    file.SetState(4);
    file.SetState(3);
    EXPECT_EQ(4, file.GetState());
    EXPECT_EQ(std::vector<int>({1, 3, 4}), listener.seen);
    LiveHttpFile silent(nullptr, 0);
    silent.SetState(5);
    EXPECT_EQ(5, silent.GetState());
}

TEST(LiveHttpFileTest, RacingRaisesNeverLowerTheStateNorTellTwice) {
    for (int round = 0; round < 50; ++round) {
        Listener listener;
        LiveHttpFile file(&listener, 1);
        std::atomic<bool> done{false};
        std::atomic<bool> wentDown{false};
        std::atomic<int> raises{0};
        std::thread watcher([&]() {
            int last = 0;
            while (!done) {
                const int now = file.GetState();
                if (now < last) wentDown = true;
                last = now;
            }
        });
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&file, &raises, t]() {
                for (int value = 1; value <= 5; ++value) {
                    if (file.SetState((value + t) % 5 + 1)) ++raises;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        done = true;
        watcher.join();
        EXPECT_FALSE(wentDown);
        EXPECT_EQ(5, file.GetState());
        // Exactly one report per rise that happened: none lost, none told twice. Five values
        // can rise at most five times.
        EXPECT_EQ(static_cast<size_t>(raises.load()), listener.seen.size());
        EXPECT_GE(raises.load(), 1);
        EXPECT_LE(raises.load(), 5);
    }
    // Calls that change nothing say so.
    LiveHttpFile file(nullptr, 1);
    EXPECT_TRUE(file.SetState(3));
    EXPECT_FALSE(file.SetState(3));
    EXPECT_FALSE(file.SetState(2));
    EXPECT_TRUE(file.SetState(4));
}

TEST(LiveHttpFileTest, AFileDroppedWhileWrittenIsServedOnceComplete) {
    Listener listener;
    LiveHttpFile growing(&listener, 1);
    growing.SetState(2);
    growing.MarkServed();
    EXPECT_EQ(2, growing.GetState());  // still being written: not yet
    growing.SetState(3);
    EXPECT_EQ(5, growing.GetState());
    EXPECT_EQ(std::vector<int>({2, 3, 5}), listener.seen);

    LiveHttpFile complete(nullptr, 1);
    complete.SetState(4);
    complete.MarkServed();
    EXPECT_EQ(5, complete.GetState());
}

TEST(LiveHttpFileTest, EachReaderKeepsItsOwnPlace) {
    LiveHttpFile file(nullptr, 0);
    file.Append(Text("abcd"));
    file.Append(MemoryChunk());  // nothing
    file.Append(Text(""));       // nothing
    file.Append(Text("efghij"));
    EXPECT_EQ(10u, file.Size());

    LiveHttpFile::Cursor one, two;
    // A whole chunk that fits is handed out as it is (shared bytes).
    MemoryChunk first = file.Read(one, 100);
    EXPECT_EQ("abcd", AsText(first));
    EXPECT_EQ(first.Data(), file.Read(two, 4).Data());
    // The other reader moves on its own, reading parts of chunks.
    EXPECT_EQ("ef", AsText(file.Read(two, 2)));
    EXPECT_EQ("efg", AsText(file.Read(one, 3)));
    EXPECT_EQ("ghij", AsText(file.Read(two, 100)));
    EXPECT_TRUE(file.IsAtEnd(two));
    EXPECT_FALSE(file.IsAtEnd(one));
    EXPECT_EQ("hij", AsText(file.Read(one, 100)));
    EXPECT_TRUE(file.Read(one, 100).IsEmpty());
    // Bytes appended later are read from where each reader stopped.
    file.Append(Text("kl"));
    EXPECT_EQ("kl", AsText(file.Read(one, 100)));

    file.SeekTo(two, 3);
    EXPECT_EQ("d", AsText(file.Read(two, 100)));
    file.SeekTo(two, 4);
    EXPECT_EQ("efghij", AsText(file.Read(two, 100)));
    file.SeekTo(two, 12);
    EXPECT_TRUE(file.IsAtEnd(two));
    EXPECT_TRUE(file.Read(two, 0).IsEmpty());
}

TEST(LiveHttpFileTest, APartOfAChunkSharesItsBytesAndWritingItLeavesTheFileAlone) {
    LiveHttpFile file(nullptr, 0);
    const MemoryChunk chunk = Text("abcdef");
    file.Append(chunk);
    LiveHttpFile::Cursor cursor;
    MemoryChunk front = file.Read(cursor, 2);
    const MemoryChunk back = file.Read(cursor, 100);
    EXPECT_EQ("ab", AsText(front));
    EXPECT_EQ("cdef", AsText(back));
    // No copy: the parts show the chunk's own bytes, from where each begins.
    EXPECT_EQ(chunk.Data(), front.Data());
    EXPECT_EQ(chunk.Data() + 2, back.Data());
    // A reader that writes into its part gets bytes of its own; the file reads as it was.
    front.MakeWritable();
    front.Data()[0] = 'X';
    EXPECT_EQ("Xb", AsText(front));
    LiveHttpFile::Cursor again;
    EXPECT_EQ("abcdef", AsText(file.Read(again, 100)));
}

TEST(LiveHttpFileTest, AfterClearListenerRisesTellNobodyAndTheListenerMayGo) {
    std::unique_ptr<Listener> listener(new Listener);
    LiveHttpFile file(listener.get(), 1);
    file.SetState(LiveHttpFile::StateWriting);
    // Rises on another thread race the clearing; each either reached the listener before
    // ClearListener returned or tells nobody.
    std::atomic<bool> go(false);
    std::thread riser([&]() {
        while (!go) std::this_thread::yield();
        file.SetState(LiveHttpFile::StateComplete);
        file.SetState(LiveHttpFile::StateCompleteServed);
    });
    go = true;
    file.ClearListener(true);
    const size_t seenAtClear = [&]() {
        std::lock_guard<std::mutex> lock(listener->mutex);
        return listener->seen.size();
    }();
    listener.reset();  // ASan: any later call into it is a use after free
    riser.join();
    EXPECT_TRUE(file.SetState(LiveHttpFile::StateServed));
    EXPECT_EQ(LiveHttpFile::StateServed, file.GetState());
    // The first rise was seen; at most the two racing ones after it.
    EXPECT_GE(seenAtClear, 1u);
    EXPECT_LE(seenAtClear, 3u);
}

}  // namespace
}  // namespace SarvelonMediaKit
