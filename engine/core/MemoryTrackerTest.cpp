#include "engine/core/MemoryTracker.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/core/Session.h"
#include "engine/core/DequeMemoryCache.h"

namespace SarvelonMediaKit {
namespace {

MemoryChunk Bytes(uint32_t size) { return MemoryChunk(size, 0, 0); }

TEST(MemoryTracker, TheMainTrackerFollowsTheUnallocatedCapacity) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(1000);
    boost::shared_ptr<MemoryTracker> main = session->GetMemoryTracker();
    EXPECT_EQ(1000u, main->Limit());
    boost::shared_ptr<MemoryTracker> dedicated = session->AllocateTracker(300);
    EXPECT_EQ(300u, dedicated->Limit());
    EXPECT_EQ(700u, main->Limit());
    {
        DequeMemoryCache cache(dedicated, nullptr);
        cache.Add(Bytes(100));
        EXPECT_EQ(200u, cache.BytesAvailable());
        EXPECT_EQ(700u, main->Limit());
    }
    // The cache was the tracker's only user: its limit is back.
    EXPECT_EQ(1000u, main->Limit());
}

TEST(MemoryTracker, AReleasedTrackerReturnsItsLimitExactlyOnce) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(1000);
    boost::shared_ptr<MemoryTracker> tracker = session->AllocateTracker(400);
    EXPECT_EQ(600u, session->GetUnallocatedCapacity());
    {
        DequeMemoryCache first(tracker, nullptr);
        DequeMemoryCache second(tracker, nullptr);
    }
    EXPECT_EQ(1000u, session->GetUnallocatedCapacity());
    // A user that comes and goes again on the released tracker gives nothing back twice.
    { DequeMemoryCache late(tracker, nullptr); }
    EXPECT_EQ(1000u, session->GetUnallocatedCapacity());
    EXPECT_EQ(1000u, session->GetCapacity());
}

TEST(MemoryTracker, TheMainTrackerIsNeverReleased) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(500);
    { DequeMemoryCache cache(session->GetMemoryTracker(), nullptr); }
    EXPECT_EQ(500u, session->GetUnallocatedCapacity());
    EXPECT_EQ(500u, session->GetMemoryTracker()->Limit());
}

TEST(MemoryTracker, ATrackerThatOutlivesItsSessionGivesNothingBack) {
    boost::shared_ptr<MemoryTracker> main;
    boost::shared_ptr<MemoryTracker> dedicated;
    boost::shared_ptr<DequeMemoryCache> cache;
    {
        boost::shared_ptr<Session> session = Session::Create();
        session->SetCapacity(1000);
        main = session->GetMemoryTracker();
        dedicated = session->AllocateTracker(100);
        cache = DequeMemoryCache::Create(dedicated, nullptr);
        cache->Add(Bytes(10));
    }
    // The session is gone; its trackers no longer reach it.
    EXPECT_EQ(0u, main->Limit());
    EXPECT_EQ(90u, cache->BytesAvailable());
    cache.reset();  // the last user leaves: nothing to hand the limit back to
    EXPECT_EQ(100u, dedicated->Limit());
}

// Caches come and go on several threads (trackers allocated, used and released) while another
// thread keeps summing the session's use: nothing is counted twice or read after it is gone.
TEST(MemoryTracker, UsersComingAndGoingOnSeveralThreads) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(1 << 20);
    std::atomic<bool> done(false);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&session]() {
            for (int i = 0; i < 300; ++i) {
                DequeMemoryCache shared(session->GetMemoryTracker(), nullptr);
                shared.Add(Bytes(100));
                DequeMemoryCache own(session->AllocateTracker(1000), nullptr);
                own.Add(Bytes(10));
                EXPECT_EQ(990u, own.BytesAvailable());
            }
        });
    }
    std::thread reader([&session, &done]() {
        while (!done) {
            session->SetCapacity(1 << 20);  // sums every tracker's use
            EXPECT_LE(session->GetMemoryTracker()->BytesUsed(), 400u);
        }
    });
    for (std::thread& worker : workers) {
        worker.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(1u << 20, session->GetUnallocatedCapacity());
    EXPECT_EQ(0u, session->GetMemoryTracker()->BytesUsed());
}

}  // namespace
}  // namespace SarvelonMediaKit
