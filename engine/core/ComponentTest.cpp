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
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

typedef SvTestSupport::RecordingSink Sink;
typedef SvTestSupport::RecordingStage Stage;
typedef boost::shared_ptr<Stage> StagePtr;

StagePtr MakeStage(const std::string& type, Session* session = nullptr) {
    return boost::make_shared<Stage>(session, type);
}

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
          a(MakeStage("A")),
          b(MakeStage("B")),
          c(MakeStage("C")) {
        stack = SvTestSupport::BuildChain(StackIdMain, {sink, a, b, c});
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
    EXPECT_EQ(0, c->Count(Stage::kMarker));
    EXPECT_TRUE(sink->Trace().empty());
    c->Add(Data(3));
    EXPECT_EQ((std::vector<std::string>{"D3"}), sink->Trace());
}

TEST_F(ChainFixture, MarkersPassStagesWithoutCachesInOrderUntilOneRefuses) {
    c->Add(Data(3));
    c->Add(Marker(2));
    c->Add(Data(2));
    c->Add(Marker(0));
    EXPECT_EQ((std::vector<std::string>{"D3", "M2", "D2", "M0"}), sink->Trace());
    EXPECT_EQ(2, a->Count(Stage::kMarker));
    EXPECT_EQ(2, c->Count(Stage::kMarker));

    b->SetPassMarkers(false);
    c->Add(Marker(4));
    c->Add(Data(1));
    EXPECT_EQ(3, c->Count(Stage::kMarker));
    EXPECT_EQ(3, b->Count(Stage::kMarker));
    EXPECT_EQ(2, a->Count(Stage::kMarker));
    EXPECT_EQ((std::vector<std::string>{"D3", "M2", "D2", "M0", "D1"}), sink->Trace());
}

TEST_F(ChainFixture, AMarkerWaitsInACacheBehindTheDataBeforeIt) {
    GiveCache(b);
    c->Add(Data(5));
    c->Add(Marker(2));
    EXPECT_TRUE(sink->Trace().empty());
    b->PullData(100);
    EXPECT_EQ((std::vector<std::string>{"D5"}), sink->Trace());
    b->PullData(100);
    EXPECT_EQ((std::vector<std::string>{"D5", "M2"}), sink->Trace());
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
    c->SetEndPosition(5000);
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
    boost::shared_ptr<Sink> full = boost::make_shared<Sink>(0);
    StagePtr a = MakeStage("A");
    StagePtr source = MakeStage("S");
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {full, a, source});
    boost::shared_ptr<DequeMemoryCache> cacheA = GiveCache(a);
    boost::shared_ptr<DequeMemoryCache> cacheS = GiveCache(source);
    cacheA->Add(Data(10));
    cacheS->Add(Data(10));
    a->PullData(100);
    EXPECT_TRUE(full->entries.empty());
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
    EXPECT_EQ((std::vector<std::string>{"D10", "M2"}), sink->Trace());
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
    StagePtr a = MakeStage("A");
    StagePtr b = MakeStage("B");
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {a, b});
    EXPECT_FALSE(a->IsPreLoading());
    b->SetPreloadState(Component::PreloadStatePreloading);
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
        StagePtr stage = MakeStage("A", session.get());
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
    c->SetAcceptOutOfBand(true);
    EXPECT_TRUE(a->OutOfBandRequest(0, 10));
    EXPECT_FALSE(b->OutOfBandData(Data(1)));  // nobody toward the output takes it
    a->SetAcceptOutOfBand(true);
    EXPECT_TRUE(b->OutOfBandData(Data(1)));
}

// A stage with extra text of its own for the dump.
class DumpingStage : public Stage {
public:
    DumpingStage(Session* session, const std::string& type, const std::string& dump)
        : Stage(session, type), dump_(dump) {}
    std::string DoDump() override { return dump_; }

private:
    std::string dump_;
};

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
    StagePtr a =
        boost::make_shared<DumpingStage>(session.get(), "SarvelonMediaKit::A", std::string(" [a]"));
    StagePtr b = MakeStage("SarvelonMediaKit::B", session.get());
    boost::shared_ptr<ExternalClient> c = boost::make_shared<ExternalClient>(session.get());
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {a, b, c});
    GiveCache(a)->Add(Data(5));
    EXPECT_EQ(
        "\tSarvelonMediaKit::A:5(5) [a]\r\n"
        "\tSarvelonMediaKit::B:No MemoryCache(0)\r\n"
        "\tSarvelonMediaKit::FunctorClient:No MemoryCache(0)\r\n"
        "\tPending data in Tasks 7",
        a->Dump());
}

}  // namespace
}  // namespace SarvelonMediaKit
