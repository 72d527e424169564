#include "engine/core/ExternalClient.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryTracker.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

// Serves a fixed byte string, offering a cycling amount per call.
class PatternProvider : public ExternalClient::Provider {
public:
    PatternProvider(uint32_t total, std::vector<uint32_t> offers)
        : bytes(SvTestSupport::PatternBytes(0, total)), offers_(offers), next_(0), position_(0) {}

    ByteAmount AvailableBytes() override {
        const uint32_t offer = offers_[next_++ % offers_.size()];
        return std::min<uint32_t>(offer, Remaining());
    }
    ByteAmount BufferedBytes() override { return Remaining(); }
    void Fill(const MemoryChunk& chunk) override {
        ++fills;
        ASSERT_LE(chunk.Size(), Remaining());
        if (chunk.Size() != 0) {
            std::memcpy(chunk.Data(0), bytes.data() + position_, chunk.Size());
        }
        position_ += chunk.Size();
    }
    void Seek(BytePosition start, BytePosition second) override {
        seeks.push_back(start);
        seeks.push_back(second);
        position_ = static_cast<uint32_t>(start);
    }
    BytePosition CurrentPosition() override { return position_; }
    BytePosition EndPosition() override { return bytes.size(); }
    bool AtEnd() override { return position_ == bytes.size(); }
    void Detach() override { ++detached; }

    std::vector<unsigned char> bytes;
    std::vector<uint64_t> seeks;
    int fills = 0;
    int detached = 0;

private:
    uint32_t Remaining() const { return static_cast<uint32_t>(bytes.size()) - position_; }

    std::vector<uint32_t> offers_;
    size_t next_;
    uint32_t position_;
};

typedef SvTestSupport::RecordingSink Sink;
typedef SvTestSupport::RecordingStage Stage;

// The end of the chain: every marker the client sends is the end of the stream, and no data
// comes after it.
void ExpectEndsCleanly(const Sink& sink) {
    EXPECT_EQ("", sink.CheckEndedBy(MemoryMarkerTypeEndOfStream));
}

size_t EndMarkers(const Sink& sink) { return sink.CountMarkers(MemoryMarkerTypeEndOfStream); }

// A plain middle stage that watches how full the cache of its consumer gets.
class Middle : public Stage {
public:
    Middle() : Stage(nullptr, "Middle") {}
    void DoAdd(const MemoryChunk& chunk) override {
        Stage::DoAdd(chunk);
        if (boost::shared_ptr<MemoryCache> cache = GetConsumer()->GetMemoryCache()) {
            maxHeld = std::max<uint32_t>(maxHeld, cache->BytesHeld());
        }
    }
    uint32_t maxHeld = 0;
};

TEST(ExternalClient, WithoutProviderItIsInert) {
    boost::shared_ptr<Sink> sink = boost::make_shared<Sink>();
    boost::shared_ptr<ExternalClient> client = boost::make_shared<ExternalClient>(nullptr);
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, client});
    client->PullData(1000);
    client->SeekFilePosition(10, 20, true);
    EXPECT_TRUE(sink->ChunkSizes().empty());
    EXPECT_EQ(0u, EndMarkers(*sink));
    EXPECT_EQ(0u, client->GetBufferedBytes());
    EXPECT_EQ(0u, sink->EndPosition());  // the client knows its end: 0
    EXPECT_EQ(0u, client->CurrentPosition());
    EXPECT_EQ("SarvelonMediaKit::FunctorClient", client->GetTypeName());
    ExpectEndsCleanly(*sink);
}

TEST(ExternalClient, DeliversNoMoreThanTheProviderHasThenEndsAfterEveryPull) {
    boost::shared_ptr<Sink> sink = boost::make_shared<Sink>();
    boost::shared_ptr<ExternalClient> client = boost::make_shared<ExternalClient>(nullptr);
    boost::shared_ptr<PatternProvider> provider =
        boost::make_shared<PatternProvider>(150, std::vector<uint32_t>{100});
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, client});
    client->SetProvider(provider);
    EXPECT_EQ(150u, sink->EndPosition());
    EXPECT_EQ(150u, client->GetBufferedBytes());

    client->PullData(1000);
    EXPECT_EQ((std::vector<uint32_t>{100}), sink->ChunkSizes());
    EXPECT_EQ(100u, client->CurrentPosition());
    EXPECT_EQ(0u, EndMarkers(*sink));
    client->PullData(1000);
    EXPECT_EQ((std::vector<uint32_t>{100, 50}), sink->ChunkSizes());
    EXPECT_EQ(1u, EndMarkers(*sink));
    EXPECT_EQ(provider->bytes, sink->Bytes());
    client->PullData(1000);
    EXPECT_EQ(2u, EndMarkers(*sink));
    ExpectEndsCleanly(*sink);
}

TEST(ExternalClient, SeekDropsItsStacksDataTasksAndMovesTheProvider) {
    struct Holder {
        void Take(MemoryChunk) {}
    } holder;
    typedef TaskTemplate1<Holder*, void (Holder::*)(MemoryChunk), MemoryChunk> ChunkTask;
    boost::shared_ptr<Session> session = Session::Create();
    // (category, stack, bytes): only the first is a data task of the client's stack.
    const struct {
        uint32_t category;
        StackId stack;
        uint32_t size;
    } tasks[] = {{1, StackIdMain, 10}, {8, StackIdMain, 20}, {1, StackIdAudioBranch, 40}};
    for (const auto& t : tasks) {
        session->AddTask(boost::make_shared<ChunkTask>(t.category, t.stack, "Holder::Take", &holder,
                                                       &Holder::Take, MemoryChunk(t.size, 0, 0)));
    }
    boost::shared_ptr<ExternalClient> client = boost::make_shared<ExternalClient>(session.get());
    client->SetStackId(StackIdMain);
    boost::shared_ptr<PatternProvider> provider =
        boost::make_shared<PatternProvider>(100, std::vector<uint32_t>{100});
    client->SetProvider(provider);
    client->SeekFilePosition(30, 60, true);
    EXPECT_EQ(60u, session->GetTaskManager()->PendingData());
    EXPECT_EQ((std::vector<uint64_t>{30, 60}), provider->seeks);
    EXPECT_EQ(30u, client->CurrentPosition());
}

TEST(ExternalClient, AProviderIsDetachedWhenReplacedOrWhenTheClientGoes) {
    boost::shared_ptr<PatternProvider> first =
        boost::make_shared<PatternProvider>(1, std::vector<uint32_t>{1});
    boost::shared_ptr<PatternProvider> second =
        boost::make_shared<PatternProvider>(1, std::vector<uint32_t>{1});
    {
        ExternalClient client(nullptr);
        client.SetProvider(first);
        client.SetProvider(first);  // the same one again stays attached
        EXPECT_EQ(0, first->detached);
        client.SetProvider(second);
        EXPECT_EQ(1, first->detached);
        EXPECT_EQ(0, second->detached);
    }
    EXPECT_EQ(1, second->detached);
    EXPECT_EQ(1, first->detached);
}

// sink <- cached consumer <- plain middle <- external client with 1 MiB of pattern bytes.
TEST(ExternalClient, AChainDeliversThePatternInOrderThenTheEnd) {
    const uint32_t kTotal = 1 << 20;
    const uint32_t kCacheLimit = 40000;  // smaller than one pull
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(kCacheLimit);

    boost::shared_ptr<Sink> sink = boost::make_shared<Sink>();
    boost::shared_ptr<Stage> cached = boost::make_shared<Stage>(session.get(), "Cached");
    boost::shared_ptr<Middle> middle = boost::make_shared<Middle>();
    boost::shared_ptr<ExternalClient> client = boost::make_shared<ExternalClient>(session.get());
    boost::shared_ptr<PatternProvider> provider = boost::make_shared<PatternProvider>(
        kTotal, std::vector<uint32_t>{70000, 3000, 65536, 1, 12345});
    client->SetProvider(provider);
    cached->SetMemoryCache(DequeMemoryCache::CreateForSession(cached.get()));

    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {cached, middle, client});
    ComponentStack::LinkToConsumer(cached, sink);
    stack.Link();

    int pulls = 0;
    while (EndMarkers(*sink) == 0 && pulls < 10000) {
        cached->PullData(65536);
        ++pulls;
    }
    ExpectEndsCleanly(*sink);
    ASSERT_EQ(1u, EndMarkers(*sink)) << "after " << pulls << " pulls";
    EXPECT_EQ(kTotal, sink->Bytes().size());
    EXPECT_TRUE(provider->bytes == sink->Bytes());
    for (uint32_t size : sink->ChunkSizes()) {
        EXPECT_LE(size, 65536u);
    }
    EXPECT_GT(middle->maxHeld, 0u);
    EXPECT_LE(middle->maxHeld, kCacheLimit);
    // Nothing more comes after the end.
    cached->PullData(65536);
    cached->PullData(65536);
    EXPECT_EQ(1u, EndMarkers(*sink));
    EXPECT_EQ(kTotal, sink->Bytes().size());
    EXPECT_EQ(0u, cached->GetMemoryCache()->BytesHeld());
    ExpectEndsCleanly(*sink);
}

}  // namespace
}  // namespace SarvelonMediaKit
