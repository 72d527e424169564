#include "engine/core/ComponentStack.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/Component.h"
#include "tests/support/ChainTestComponents.h"

namespace SarvelonMediaKit {
namespace {

typedef SvTestSupport::RecordingStage Stage;

// A stage that needs the given room before and after a payload.
boost::shared_ptr<Stage> MakeStage(uint32_t headroom = 0, uint32_t tailroom = 0) {
    boost::shared_ptr<Stage> stage = boost::make_shared<Stage>();
    stage->SetRoom(headroom, tailroom);
    return stage;
}

typedef boost::shared_ptr<Stage> StagePtr;
typedef boost::shared_ptr<Component> ComponentPtr;

std::vector<ComponentPtr> List(const ComponentStack& stack) {
    return std::vector<ComponentPtr>(stack.GetComponents().begin(), stack.GetComponents().end());
}

// Checks that the list order and both links of every component agree.
void ExpectChain(const ComponentStack& stack, const std::vector<ComponentPtr>& expected) {
    ASSERT_EQ(expected, List(stack));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(i == 0 ? ComponentPtr() : expected[i - 1], expected[i]->GetConsumer())
            << "consumer of element " << i;
        EXPECT_EQ(i + 1 == expected.size() ? ComponentPtr() : expected[i + 1],
                  expected[i]->GetSource())
            << "source of element " << i;
    }
}

struct StackFixture : ::testing::Test {
    StackFixture()
        : stack(StackIdMain),
          a(boost::make_shared<Stage>()),
          b(boost::make_shared<Stage>()),
          c(boost::make_shared<Stage>()),
          n(boost::make_shared<Stage>()) {
        stack.AddComponent(a);
        stack.AddComponent(b);
        stack.AddComponent(c);
    }
    ComponentStack stack;
    StagePtr a, b, c, n;
};

TEST_F(StackFixture, AddingLinksAndNumbersTheComponents) {
    ExpectChain(stack, {a, b, c});
    EXPECT_EQ(ComponentPtr(a), stack.Front());
    EXPECT_FALSE(stack.IsEmpty());
    for (const StagePtr& s : {a, b, c}) {
        EXPECT_EQ(StackIdMain, s->GetStackId());
    }
}

TEST_F(StackFixture, InsertingPutsTheComponentOnTheConsumerSideOfThePoint) {
    stack.InsertComponent(n, b);
    ExpectChain(stack, {a, n, b, c});
    // The caller numbers an inserted component itself.
    EXPECT_EQ(StackIdServing, n->GetStackId());
}

TEST_F(StackFixture, InsertingAtTheOutputEndMakesANewFront) {
    stack.InsertComponent(n, a);
    ExpectChain(stack, {n, a, b, c});
    EXPECT_EQ(ComponentPtr(n), stack.Front());
}

TEST_F(StackFixture, InsertingWithoutPointAppends) {
    stack.InsertComponent(n, ComponentPtr());
    ExpectChain(stack, {a, b, c, n});
    EXPECT_EQ(StackIdMain, n->GetStackId());
}

TEST_F(StackFixture, UnknownPointsAndRepeatedComponentsChangeNothing) {
    stack.InsertComponent(n, boost::make_shared<Stage>());
    stack.AddComponent(b);        // would close the chain into a loop
    stack.InsertComponent(a, c);  // likewise
    stack.AddComponent(ComponentPtr());
    ExpectChain(stack, {a, b, c});
}

TEST(ComponentStack, LinkSumsTheRoomFromTheOutputEnd) {
    ComponentStack stack(StackIdMain);
    StagePtr a = MakeStage(4, 1);
    StagePtr b = MakeStage(0, 2);
    StagePtr c = MakeStage(12, 0);
    stack.AddComponent(a);
    stack.AddComponent(b);
    stack.AddComponent(c);
    for (int round = 0; round < 2; ++round) {
        stack.Link();  // a second link gives the same sums
        EXPECT_EQ(4u, a->GetLinkedHeadroom());
        EXPECT_EQ(4u, b->GetLinkedHeadroom());
        EXPECT_EQ(16u, c->GetLinkedHeadroom());
        EXPECT_EQ(1u, a->GetLinkedTailroom());
        EXPECT_EQ(3u, b->GetLinkedTailroom());
        EXPECT_EQ(3u, c->GetLinkedTailroom());
    }
    for (const StagePtr& s : {a, b, c}) {
        EXPECT_EQ((std::vector<std::string>{"linked first", "linked again"}),
                  s->Log(Stage::kLinked));
    }
    // The source end makes its chunks with room for every stage after it.
    MemoryChunk chunk = c->CreateMemoryChunk(10, 2, 1);
    EXPECT_TRUE(chunk.Reserve(18));
    EXPECT_FALSE(chunk.Reserve(1));
}

TEST(ComponentStack, LinkToConsumerSetsOnlyTheConsumerLink) {
    ComponentStack branch(StackIdAudioBranch);
    StagePtr first = boost::make_shared<Stage>();
    StagePtr mux = boost::make_shared<Stage>();
    branch.AddComponent(first);
    ComponentStack::LinkToConsumer(branch.Front(), mux);
    EXPECT_EQ(ComponentPtr(mux), first->GetConsumer());
    EXPECT_FALSE(mux->GetSource());
}

TEST(ComponentStack, CopiesShareTheComponents) {
    ComponentStack stack(StackIdMain);
    EXPECT_TRUE(stack.IsEmpty());
    EXPECT_FALSE(stack.Front());
    StagePtr a = boost::make_shared<Stage>();
    stack.AddComponent(a);
    ComponentStack copy = stack;
    EXPECT_EQ(ComponentPtr(a), copy.Front());
    EXPECT_EQ(StackIdMain, copy.GetStackId());
}

}  // namespace
}  // namespace SarvelonMediaKit
