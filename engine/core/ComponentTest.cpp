#include "engine/core/Component.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/ExternalClient.h"
#include "engine/core/MemoryTracker.h"

namespace SarvelonMediaKit {
namespace {

// Output end of a test chain: records what reaches it, in order, and wants `wanted` bytes.
class Sink : public Component {
public:
    explicit Sink(uint32_t wanted = std::numeric_limits<uint32_t>::max())
        : Component(nullptr), wanted_(wanted) {}
    std::string GetTypeName() const override { return "Sink"; }
    ByteAmount DoGetBytesWanted() override { return wanted_; }
    void DoAdd(const MemoryChunk& chunk) override {
        received.push_back("D" + std::to_string(chunk.Size()));
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        received.push_back("M" + std::to_string(marker->GetType()));
        return false;
    }

    std::vector<std::string> received;

private:
    uint32_t wanted_;
};

// A middle stage with the base behaviour, counting the markers it is offered.
class Stage : public Component {
public:
    explicit Stage(const std::string& type = "Stage", Session* session = nullptr)
        : Component(session), type_(type) {}
    std::string GetTypeName() const override { return type_; }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>&) override {
        ++markersSeen;
        return passMarkers;
    }
    bool KnowEndPosition() override { return endPosition != 0; }
    BytePosition DoEndPosition() override { return endPosition; }
    bool DoOutOfBandRequest(BytePosition, BytePosition) override { return acceptsOutOfBand; }
    bool DoOutOfBandData(const MemoryChunk&) override { return acceptsOutOfBand; }
    std::string DoDump() override { return dump; }
    using Component::preloadState_;

    int markersSeen = 0;
    bool passMarkers = true;
    uint64_t endPosition = 0;
    bool acceptsOutOfBand = false;
    std::string dump;

private:
    std::string type_;
};

typedef boost::shared_ptr<Stage> StagePtr;

MemoryChunk Data(uint32_t size) { return MemoryChunk(size, 0, 0); }

MemoryChunk Marker(uint32_t type) {
    switch (type) {
        case 0: return MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(0));
        case 4: return MemoryChunk(boost::make_shared<MemoryMarkerEndOfData>());
        default: return MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>());
    }
}

boost::shared_ptr<DequeMemoryCache> GiveCache(const StagePtr& stage, uint32_t limit = 1 << 20) {
    boost::shared_ptr<DequeMemoryCache> cache = DequeMemoryCache::Create(
        boost::make_shared<MemoryTracker>(boost::weak_ptr<Session>(), ByteAmount(limit)),
        stage.get());
    stage->SetMemoryCache(cache);
    return cache;
}

// sink <- a <- b <- c, each linked by a stack.
struct ChainFixture : ::testing::Test {
    ChainFixture()
        : sink(boost::make_shared<Sink>()),
          a(boost::make_shared<Stage>("A")),
          b(boost::make_shared<Stage>("B")),
          c(boost::make_shared<Stage>("C")) {
        stack.AddComponent(sink);
        stack.AddComponent(a);
        stack.AddComponent(b);
        stack.AddComponent(c);
    }
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<Sink> sink;
    StagePtr a, b, c;
};

TEST_F(ChainFixture, MarkerChunksWithDataAndEmptyDataChunksAreDropped) {
    MemoryChunk bad = Marker(2);
    bad.SetSize(4);
    c->Add(bad);
    c->Add(Data(0));
    EXPECT_EQ(0, c->markersSeen);
    EXPECT_TRUE(sink->received.empty());
    c->Add(Data(3));
    EXPECT_EQ((std::vector<std::string>{"D3"}), sink->received);
}

TEST_F(ChainFixture, MarkersPassStagesWithoutCachesInOrderUntilOneRefuses) {
    c->Add(Data(3));
    c->Add(Marker(2));
    c->Add(Data(2));
    c->Add(Marker(0));
    EXPECT_EQ((std::vector<std::string>{"D3", "M2", "D2", "M0"}), sink->received);
    EXPECT_EQ(2, a->markersSeen);
    EXPECT_EQ(2, c->markersSeen);

    b->passMarkers = false;
    c->Add(Marker(4));
    c->Add(Data(1));
    EXPECT_EQ(3, c->markersSeen);
    EXPECT_EQ(3, b->markersSeen);
    EXPECT_EQ(2, a->markersSeen);
    EXPECT_EQ((std::vector<std::string>{"D3", "M2", "D2", "M0", "D1"}), sink->received);
}

TEST_F(ChainFixture, AMarkerWaitsInACacheBehindTheDataBeforeIt) {
    GiveCache(b);
    c->Add(Data(5));
    c->Add(Marker(2));
    EXPECT_TRUE(sink->received.empty());
    b->PullData(100);
    EXPECT_EQ((std::vector<std::string>{"D5"}), sink->received);
    b->PullData(100);
    EXPECT_EQ((std::vector<std::string>{"D5", "M2"}), sink->received);
}

TEST_F(ChainFixture, BytesReadyAsksTheFirstCacheWithSomethingQueued) {
    EXPECT_EQ(65536u, a->BytesReady());
    boost::shared_ptr<DequeMemoryCache> cache = GiveCache(b);
    EXPECT_EQ(65536u, a->BytesReady());  // an empty cache passes the question on
    cache->Add(Marker(2));
    EXPECT_EQ(1u, a->BytesReady());
    cache->ReadAll();
    cache->Add(Data(700));
    cache->Add(Data(300));
    EXPECT_EQ(700u, a->BytesReady());
}

TEST_F(ChainFixture, PositionsWhenNobodyKnowsThem) {
    EXPECT_EQ(0u, a->EndPosition());
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), a->CurrentLoadedFilePosition());
    c->endPosition = 5000;
    EXPECT_EQ(5000u, a->EndPosition());
    boost::shared_ptr<DequeMemoryCache> cache = GiveCache(b);
    cache->SetPosition(300);
    cache->Add(Data(20));
    EXPECT_EQ(320u, a->CurrentLoadedFilePosition());
}

TEST_F(ChainFixture, BufferedBytesSaturateAt32Bits) {
    // 3000 MiB in each of two caches, all of it one shared MiB.
    MemoryChunk mib = Data(1 << 20);
    for (const StagePtr& stage : {b, c}) {
        boost::shared_ptr<DequeMemoryCache> cache = GiveCache(stage);
        for (int i = 0; i < 3000; ++i) {
            cache->Add(mib);
        }
    }
    EXPECT_EQ(3000u << 20, c->GetBufferedBytes());
    EXPECT_EQ(std::numeric_limits<uint32_t>::max(), b->GetBufferedBytes());
    EXPECT_EQ(std::numeric_limits<uint32_t>::max(), a->GetBufferedBytes());
}

TEST(Component, APullForAConsumerThatWantsNothingMovesNothing) {
    ComponentStack stack(StackIdMain);
    boost::shared_ptr<Sink> full = boost::make_shared<Sink>(0);
    StagePtr a = boost::make_shared<Stage>("A");
    StagePtr source = boost::make_shared<Stage>("S");
    stack.AddComponent(full);
    stack.AddComponent(a);
    stack.AddComponent(source);
    boost::shared_ptr<DequeMemoryCache> cacheA = GiveCache(a);
    boost::shared_ptr<DequeMemoryCache> cacheS = GiveCache(source);
    cacheA->Add(Data(10));
    cacheS->Add(Data(10));
    a->PullData(100);
    EXPECT_TRUE(full->received.empty());
    EXPECT_EQ(10u, cacheA->BytesHeld());
    EXPECT_EQ(10u, cacheS->BytesHeld());
}

TEST_F(ChainFixture, APreloadCacheGoesOnceReadOutMarkersIncluded) {
    boost::shared_ptr<DequeMemoryCache> cache = GiveCache(a);
    cache->Add(Data(10));
    cache->Add(Marker(2));
    a->SetPreLoaded();
    a->PullData(10);
    // The data is out but the marker behind it must not be lost with the cache.
    EXPECT_EQ(cache, a->GetMemoryCache());
    a->PullData(10);
    EXPECT_EQ((std::vector<std::string>{"D10", "M2"}), sink->received);
    EXPECT_FALSE(a->GetMemoryCache());
    EXPECT_EQ(0u, a->GetPreloadState());
    EXPECT_EQ(65536u, a->BytesReady());
}

TEST_F(ChainFixture, SetPositionForAnyStackRepositionsEveryCacheAndDropsThePreload) {
    boost::shared_ptr<DequeMemoryCache> cacheA = GiveCache(a);
    boost::shared_ptr<DequeMemoryCache> cacheC = GiveCache(c);
    cacheA->Add(Data(10));
    cacheC->Add(Data(10));
    c->SetPreLoaded();

    a->SetPosition(777, StackIdAudioBranch);  // another stack: nothing happens
    EXPECT_EQ(10u, cacheA->BytesHeld());
    EXPECT_EQ(cacheC, c->GetMemoryCache());

    a->SetPosition(777, StackIdAny);
    EXPECT_EQ(0u, cacheA->BytesHeld());
    EXPECT_EQ(777u, a->CurrentLoadedFilePosition());
    EXPECT_EQ(0u, cacheC->BytesHeld());
    EXPECT_EQ(777u, cacheC->LoadedPosition());
    EXPECT_FALSE(c->GetMemoryCache());
    EXPECT_EQ(0u, c->GetPreloadState());
}

TEST(Component, IsPreLoadingLooksTowardTheSource) {
    ComponentStack stack(StackIdMain);
    StagePtr a = boost::make_shared<Stage>("A");
    StagePtr b = boost::make_shared<Stage>("B");
    stack.AddComponent(a);
    stack.AddComponent(b);
    EXPECT_FALSE(a->IsPreLoading());
    b->preloadState_ = Component::PreloadStatePreloading;
    EXPECT_TRUE(a->IsPreLoading());
    EXPECT_FALSE(b->GetConsumer()->GetConsumer());
    b->SetPreLoaded();
    EXPECT_FALSE(a->IsPreLoading());
}

TEST(Component, AllocateMemoryCacheTakesHalfTheFreeBudget) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(1000);
    DequeMemoryCache shared(session->GetMemoryTracker(), nullptr);
    shared.Add(Data(200));
    {
        StagePtr stage = boost::make_shared<Stage>("A", session.get());
        stage->AllocateMemoryCache();
        ASSERT_TRUE(stage->GetMemoryCache());
        EXPECT_EQ(400u, stage->GetMemoryCache()->GetTracker()->Limit());
        EXPECT_EQ(600u, session->GetUnallocatedCapacity());
        EXPECT_EQ(400u, stage->BytesWanted());
    }
    EXPECT_EQ(1000u, session->GetUnallocatedCapacity());
}

TEST_F(ChainFixture, OutOfBandRequestsGoTowardTheSourceAndDataTowardTheOutput) {
    EXPECT_FALSE(a->OutOfBandRequest(0, 10));
    c->acceptsOutOfBand = true;
    EXPECT_TRUE(a->OutOfBandRequest(0, 10));
    EXPECT_FALSE(b->OutOfBandData(Data(1)));  // nobody toward the output takes it
    a->acceptsOutOfBand = true;
    EXPECT_TRUE(b->OutOfBandData(Data(1)));
}

// Names the class in the dump; the queued chunk is the session's pending data.
struct Holder {
    void Take(MemoryChunk) {}
};

TEST(Component, DumpPrintsOneLinePerStageThenThePendingData) {
    boost::shared_ptr<Session> session = Session::Create();
    Holder holder;
    session->AddTask(
        boost::make_shared<TaskTemplate1<Holder*, void (Holder::*)(MemoryChunk), MemoryChunk>>(
            1, StackIdMain, "Holder::Take", &holder, &Holder::Take, Data(7)));
    ComponentStack stack(StackIdMain);
    StagePtr a = boost::make_shared<Stage>("SarvelonMediaKit::A", session.get());
    StagePtr b = boost::make_shared<Stage>("SarvelonMediaKit::B", session.get());
    boost::shared_ptr<ExternalClient> c = boost::make_shared<ExternalClient>(session.get());
    stack.AddComponent(a);
    stack.AddComponent(b);
    stack.AddComponent(c);
    GiveCache(a)->Add(Data(5));
    a->dump = " [a]";
    EXPECT_EQ(
        "\tSarvelonMediaKit::A:5(5) [a]\r\n"
        "\tSarvelonMediaKit::B:No MemoryCache(0)\r\n"
        "\tSarvelonMediaKit::FunctorClient:No MemoryCache(0)\r\n"
        "\tPending data in Tasks 7",
        a->Dump());
}

}  // namespace
}  // namespace SarvelonMediaKit
