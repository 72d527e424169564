#include "tests/support/FakeHTTPTransport.h"

#include <pthread.h>

#include <boost/make_shared.hpp>

#include <thread>

namespace SvTestSupport {

using SarvelonMediaKit::ByteAmount;
using SarvelonMediaKit::HTTPClientInterface;
using SarvelonMediaKit::HTTPClientInterfaceClient;
using SarvelonMediaKit::MemoryChunk;

namespace {

// The transports the factory made while a FakeHTTPTransports is in force.
struct Registry {
    std::mutex mutex;
    std::vector<boost::shared_ptr<FakeHTTPTransport>> made;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

FakeHTTPTransport::FakeHTTPTransport(const std::string& url, HTTPClientInterfaceClient* client,
                                     uint32_t transportParameter)
    : HTTPClientInterface(url, client),
      url_(url),
      hasOwner_(client != nullptr),
      transportParameter_(transportParameter),
      sampleTime_(0),
      aborts_(0),
      closes_(0) {}

FakeHTTPTransport::~FakeHTTPTransport() {}

std::vector<std::pair<uint64_t, uint64_t>> FakeHTTPTransport::Starts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
}

std::vector<uint32_t> FakeHTTPTransport::Allowances() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return allowances_;
}

bool FakeHTTPTransport::HasChunkHandler() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hasChunkHandler_;
}

bool FakeHTTPTransport::HasDataHandler() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hasDataHandler_;
}

bool FakeHTTPTransport::HasBandwidthHandler() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !bandwidthHandler_.empty();
}

bool FakeHTTPTransport::HasReadAheadHandler() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !readAheadHandler_.empty();
}

void FakeHTTPTransport::SetSampleTime(const SV::PilTime& time) { sampleTime_ = time.Get(); }

bool FakeHTTPTransport::Deliver(const std::vector<uint8_t>& bytes) {
    return DataReceived(reinterpret_cast<const signed char*>(bytes.data()),
                        static_cast<unsigned int>(bytes.size()));
}

void FakeHTTPTransport::RefuseRange(uint64_t total) {
    if (!RangeRefused(total)) PublishError(416, "HTTP Error 416");
    Done(true);
}

void FakeHTTPTransport::DeliverReadAhead(unsigned value) {
    BusyStart();
    ReadAheadHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = readAheadHandler_;
    }
    if (handler) handler(value);
    BusyDone();
}

void FakeHTTPTransport::SetMemoryChunkDataHandler(MemoryChunkDataHandler handler) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasChunkHandler_ = !handler.empty();
    }
    HTTPClientInterface::SetMemoryChunkDataHandler(handler);
}

void FakeHTTPTransport::SetDataHandler(DataHandler handler) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasDataHandler_ = !handler.empty();
    }
    HTTPClientInterface::SetDataHandler(handler);
}

void FakeHTTPTransport::SetBandwidthHandler(BandwidthHandler handler) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bandwidthHandler_ = handler;
    }
    if (handler.empty()) {
        HTTPClientInterface::SetBandwidthHandler(handler);
        return;
    }
    // The base stamps samples with the system's time; the test's time replaces it when set.
    // The owner's handler is taken under the lock for each call, so clearing it is seen at once.
    HTTPClientInterface::SetBandwidthHandler([this](const SV::PilTime& time, unsigned int bytes) {
        BandwidthHandler owner;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            owner = bandwidthHandler_;
        }
        const uint64_t chosen = sampleTime_.load();
        if (owner) owner(chosen != 0 ? SV::PilTime(chosen) : time, bytes);
    });
}

void FakeHTTPTransport::SetReadAheadHandler(ReadAheadHandler handler) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readAheadHandler_ = handler;
    }
    HTTPClientInterface::SetReadAheadHandler(handler);
}

void FakeHTTPTransport::StartDownload(uint64_t start, uint64_t end) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        starts_.push_back(std::make_pair(start, end));
    }
    HTTPClientInterface::StartDownload(start, end);
}

void FakeHTTPTransport::Close() {
    ++closes_;
    HTTPClientInterface::Close();
}

void FakeHTTPTransport::CloseConnection() {
    ++aborts_;
    HTTPClientInterface::CloseConnection();
}

void FakeHTTPTransport::DoSetMaxDownloadAmount(ByteAmount amount) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        allowances_.push_back(amount.Get());
    }
    HTTPClientInterface::DoSetMaxDownloadAmount(amount);
}

FakeHTTPTransports::FakeHTTPTransports() {
    Forget();
    SarvelonMediaKit::SetHTTPClientInterfaceFactory(&CreateFakeHTTPTransport);
}

FakeHTTPTransports::~FakeHTTPTransports() {
    SarvelonMediaKit::SetHTTPClientInterfaceFactory(nullptr);
    Forget();
}

size_t FakeHTTPTransports::Count() const {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.made.size();
}

boost::shared_ptr<FakeHTTPTransport> FakeHTTPTransports::At(size_t i) const {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return i < registry.made.size() ? registry.made[i] : boost::shared_ptr<FakeHTTPTransport>();
}

boost::shared_ptr<FakeHTTPTransport> FakeHTTPTransports::Last() const {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.made.empty() ? boost::shared_ptr<FakeHTTPTransport>() : registry.made.back();
}

void FakeHTTPTransports::Forget() {
    std::vector<boost::shared_ptr<FakeHTTPTransport>> gone;
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        gone.swap(registry.made);
    }
    // Let go outside the lock: a transport's end may call back into its owner.
}

void CreateFakeHTTPTransport(boost::shared_ptr<HTTPClientInterface>& result, const std::string& url,
                             const std::map<std::string, std::string>*,
                             HTTPClientInterfaceClient* client, const std::string&,
                             uint32_t transportParameter) {
    boost::shared_ptr<FakeHTTPTransport> transport =
        boost::make_shared<FakeHTTPTransport>(url, client, transportParameter);
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.made.push_back(transport);
    }
    result = transport;
}

void RunOnThread(const std::string& name, const std::function<void()>& body) {
    std::thread thread([&name, &body] {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        body();
    });
    thread.join();
}

}  // namespace SvTestSupport
