#include "engine/core/ConnectionSlot.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

namespace SarvelonMediaKit {
namespace {

// A slot over one end of a socket pair, counted in its own count.
struct SlotOnPair {
    SlotOnPair() : count(boost::make_shared<std::atomic<int>>(0)) {
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends));
        slot = boost::make_shared<ConnectionSlot>(count);
        slot->Attach(ends[0]);
    }
    ~SlotOnPair() {
        close(ends[0]);
        close(ends[1]);
    }
    // True when the served end has been shut down (the peer reads the end).
    bool PeerSeesTheEnd() {
        char byte = 0;
        return recv(ends[1], &byte, 1, MSG_DONTWAIT) == 0;
    }

    boost::shared_ptr<std::atomic<int>> count;
    boost::shared_ptr<ConnectionSlot> slot;
    int ends[2] = {-1, -1};
};

TEST(ConnectionSlotTest,
     BytesWaitingInTheSocketOrOnTheirWayToTheProtocolKeepAConnectionFromTheCut) {
    SlotOnPair pair;
    EXPECT_EQ(1, pair.count->load());
    // A request that has come but has not been read yet.
    ASSERT_EQ(3, send(pair.ends[1], "GET", 3, 0));
    EXPECT_FALSE(pair.slot->CutIfIdle());
    EXPECT_FALSE(pair.PeerSeesTheEnd());
    // Read (marked first, as the reader does), on its way to the protocol.
    boost::shared_ptr<void> mark = ConnectionSlot::MarkUnread(pair.slot);
    char bytes[3];
    ASSERT_EQ(3, recv(pair.ends[0], bytes, sizeof bytes, 0));
    EXPECT_TRUE(pair.slot->IsBusy());
    EXPECT_FALSE(pair.slot->CutIfIdle());
    // Handed on and taken up as a request, then answered: idle again, and cut.
    EXPECT_FALSE(pair.slot->WasAnswered());
    pair.slot->SetBusy(true);
    mark.reset();
    EXPECT_FALSE(pair.slot->CutIfIdle());
    EXPECT_FALSE(pair.slot->WasAnswered());
    pair.slot->SetBusy(false);
    EXPECT_FALSE(pair.slot->IsBusy());
    EXPECT_TRUE(pair.slot->WasAnswered());
    EXPECT_TRUE(pair.slot->CutIfIdle());
    EXPECT_TRUE(pair.PeerSeesTheEnd());
    EXPECT_EQ(0, pair.count->load());
    // Only once.
    EXPECT_FALSE(pair.slot->CutIfIdle());
    EXPECT_EQ(0, pair.count->load());
}

TEST(ConnectionSlotTest, AMarkThatOutlivesItsSlotIsHarmless) {
    boost::shared_ptr<void> mark;
    {
        SlotOnPair pair;
        mark = ConnectionSlot::MarkUnread(pair.slot);
        EXPECT_TRUE(pair.slot->IsBusy());
        // The mark does not hold the slot: the connection's place is given back with it.
        pair.slot.reset();
        EXPECT_EQ(0, pair.count->load());
    }
    // Let go after its slot: the count it never held stays as it is.
    mark.reset();
}

}  // namespace
}  // namespace SarvelonMediaKit
