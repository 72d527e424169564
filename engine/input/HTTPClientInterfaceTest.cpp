#include "engine/input/HTTPClientInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "SVLibrary/Exception/Exception.h"
#include "engine/input/HTTPClientInterfaceClient.h"
#include "engine/input/HTTPClientInterfaceFactory.h"

namespace SarvelonMediaKit {
namespace {

class CountingClient : public HTTPClientInterfaceClient {
public:
    void HTTPClientInterfaceCreated(HTTPClientInterface*) override { ++created; }
    void HTTPClientInterfaceDestroyed(HTTPClientInterface*) override { ++destroyed; }
    int created = 0;
    int destroyed = 0;
};

boost::shared_ptr<HTTPClientInterface> MakeBase(HTTPClientInterfaceClient* client = nullptr) {
    return boost::shared_ptr<HTTPClientInterface>(new HTTPClientInterface("http://x/", client));
}

const signed char* Bytes(const char* text) { return reinterpret_cast<const signed char*>(text); }

TEST(HTTPClientInterface, EmptyDeliveryCallsNothing) {
    boost::shared_ptr<HTTPClientInterface> transport = MakeBase();
    int calls = 0;
    transport->SetBandwidthHandler([&](const SV::PilTime&, unsigned int) { ++calls; });
    transport->SetDataHandler([&](const signed char*, unsigned int) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(transport->DataReceived(Bytes("x"), 0));
    EXPECT_EQ(calls, 0);
}

TEST(HTTPClientInterface, ChunkHandlerWinsAndGetsTheMargins) {
    boost::shared_ptr<HTTPClientInterface> transport = MakeBase();
    transport->SetChunkHeadroom(16, 8);
    bool dataCalled = false;
    MemoryChunk seen;
    transport->SetDataHandler([&](const signed char*, unsigned int) {
        dataCalled = true;
        return true;
    });
    transport->SetMemoryChunkDataHandler([&](MemoryChunk chunk) {
        seen = chunk;
        return false;
    });
    EXPECT_FALSE(transport->DataReceived(Bytes("abcde"), 5));
    EXPECT_FALSE(dataCalled);
    ASSERT_EQ(seen.Size(), 5u);
    EXPECT_EQ(std::memcmp(seen.Data(), "abcde", 5), 0);
    // 16 bytes of headroom to take, no more.
    EXPECT_TRUE(seen.Reserve(16));
    EXPECT_FALSE(seen.Reserve(1));
    EXPECT_EQ(seen.Size(), 21u);
}

TEST(HTTPClientInterface, AllowanceShrinksByWhatArrivesUnlessUnlimited) {
    boost::shared_ptr<HTTPClientInterface> transport = MakeBase();
    std::vector<unsigned int> samples;
    transport->SetBandwidthHandler(
        [&](const SV::PilTime&, unsigned int n) { samples.push_back(n); });
    EXPECT_TRUE(transport->DataReceived(Bytes("abc"), 3));  // no handler: still true
    EXPECT_EQ(transport->GetMaxDownloadAmount(), HTTPClientInterface::kUnlimited);
    transport->DoSetMaxDownloadAmount(10);
    transport->DataReceived(Bytes("abcd"), 4);
    EXPECT_EQ(transport->GetMaxDownloadAmount(), 6u);
    transport->DataReceived(Bytes("abcdefgh"), 8);
    EXPECT_EQ(transport->GetMaxDownloadAmount(), 0u);  // never below 0
    transport->ReportIdle();
    EXPECT_EQ(transport->GetMaxDownloadAmount(), 0u);
    EXPECT_EQ(samples, (std::vector<unsigned int>{3, 4, 8, 0}));
}

TEST(HTTPClientInterface, CloseDuringADeliveryClearsWhenItEnds) {
    boost::shared_ptr<HTTPClientInterface> transport = MakeBase();
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    std::atomic<int> done(0);
    transport->SetDoneHandler([&](bool) {
        std::unique_lock<std::mutex> lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        ++done;
    });
    std::thread delivery([&] { transport->Done(false); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return inside; });
    }
    transport->Close();
    EXPECT_FALSE(transport->IsClosed());  // the running handler still needs itself
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    delivery.join();
    EXPECT_EQ(done.load(), 1);
    EXPECT_TRUE(transport->IsClosed());
    transport->Done(false);  // handlers gone: nothing runs
    EXPECT_EQ(done.load(), 1);
}

TEST(HTTPClientInterface, OwnerHearsOfDestructionOnlyWithoutClose) {
    CountingClient client;
    {
        boost::shared_ptr<HTTPClientInterface> transport = MakeBase(&client);
        EXPECT_EQ(client.created, 1);
    }
    EXPECT_EQ(client.destroyed, 1);
    {
        boost::shared_ptr<HTTPClientInterface> transport = MakeBase(&client);
        transport->Close();
        EXPECT_TRUE(transport->IsClosed());
    }
    EXPECT_EQ(client.created, 2);
    EXPECT_EQ(client.destroyed, 1);
}

TEST(HTTPClientInterface, UnbalancedBusyDoneStaysAtZero) {
    boost::shared_ptr<HTTPClientInterface> transport = MakeBase();
    transport->BusyStart();
    transport->BusyDone();
    transport->BusyDone();  // one too many: the count stays at 0
    transport->Close();
    EXPECT_TRUE(transport->IsClosed());  // so Close found no delivery running
}

void NullFactory(boost::shared_ptr<HTTPClientInterface>& result, const std::string& url,
                 const std::map<std::string, std::string>*, HTTPClientInterfaceClient* client,
                 const std::string&, uint32_t) {
    result.reset(new HTTPClientInterface(url, client));
}

TEST(HTTPClientInterfaceFactory, MissingFactoryIsABadInternalState) {
    SetHTTPClientInterfaceFactory(nullptr);
    try {
        GetHTTPClientInterfaceFactory();
        FAIL() << "no exception";
    } catch (const SV::SVLibraryException& e) {
        EXPECT_EQ(e.GetCode(), 0x28);
        EXPECT_STREQ(e.GetDetail(), "No HTTPClientInterface was set");
    }
    SetHTTPClientInterfaceFactory(&NullFactory);
    EXPECT_EQ(GetHTTPClientInterfaceFactory(), &NullFactory);
    SetHTTPClientInterfaceFactory(nullptr);
}

}  // namespace
}  // namespace SarvelonMediaKit
