#ifndef ENGINE_INPUT_TRANSPORTTESTSUPPORT_H
#define ENGINE_INPUT_TRANSPORTTESTSUPPORT_H

// Header-only helpers for the transport tests of this folder (included by *Test.cpp only).

#include <pthread.h>

#include <boost/bind/bind.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/ErrorInfoMonitor.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterface.h"
#include "engine/input/HTTPThread.h"
#include "tests/support/TaskTestSupport.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace test {

// A made-up resource whose bytes depend on their position, so a shifted or repeated piece
// shows.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

inline std::string CurrentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// Owns one transport, installs every handler and records what the transport reports: end
// positions, bytes, idle reports, errors, the end and the threads each came on. Closes the
// transport and waits until it says so when it goes.
class TransportRecorder : public ErrorInfoMonitor {
public:
    // Called on the download thread after each delivery with the bytes delivered so far.
    typedef std::function<void(size_t)> DataHook;

    explicit TransportRecorder(const boost::shared_ptr<HTTPClientInterface>& transport,
                               bool chunks = true)
        : transport_(transport) {
        transport_->AddMonitor(this);
        transport_->SetEndPositionHandler(
            boost::bind(&TransportRecorder::OnEnd, this, boost::placeholders::_1));
        transport_->SetDoneHandler(
            boost::bind(&TransportRecorder::OnDone, this, boost::placeholders::_1));
        transport_->SetBandwidthHandler(boost::bind(&TransportRecorder::OnBandwidth, this,
                                                    boost::placeholders::_1,
                                                    boost::placeholders::_2));
        if (chunks) {
            transport_->SetMemoryChunkDataHandler(
                boost::bind(&TransportRecorder::OnChunk, this, boost::placeholders::_1));
        } else {
            transport_->SetDataHandler(boost::bind(&TransportRecorder::OnData, this,
                                                   boost::placeholders::_1,
                                                   boost::placeholders::_2));
        }
    }

    ~TransportRecorder() override {
        transport_->AbortDownload();
        transport_->Close();
        while (!transport_->IsClosed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        DetachFromSources();
    }

    void SetDataHook(const DataHook& hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = hook;
    }

    HTTPClientInterface& Transport() { return *transport_; }

    bool WaitDone(int seconds = 30) {
        return WaitFor([this] { return doneCount_ > 0; }, seconds);
    }
    // Asks for the bytes from start up to end (0: to the resource's end) and waits for the
    // transfer's end.
    bool Fetch(uint64_t start, uint64_t end) {
        transport_->StartDownload(start, end);
        return WaitDone();
    }
    bool WaitIdle(int count, int seconds = 30) {
        return WaitFor([this, count] { return idleReports_ >= count || doneCount_ > 0; }, seconds);
    }
    bool WaitFor(const std::function<bool()>& condition, int seconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), condition);
    }

    std::string Bytes() { return Locked(bytes_); }
    std::vector<unsigned long long> Ends() { return Locked(ends_); }
    std::vector<SVStatus> ErrorCodes() { return Locked(errorCodes_); }
    std::vector<std::string> ErrorTexts() { return Locked(errorTexts_); }
    std::set<std::string> ThreadNames() { return Locked(threadNames_); }
    std::set<pthread_t> Threads() { return Locked(threads_); }
    std::vector<size_t> Deliveries() { return Locked(deliveries_); }
    int IdleReports() { return Locked(idleReports_); }
    int DoneCount() { return Locked(doneCount_); }
    bool Failed() { return Locked(failed_); }
    // Whether an error came before the end.
    bool ErrorBeforeDone() { return Locked(errorBeforeDone_); }

    void SetError(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Note();
        errorCodes_.push_back(status);
        errorTexts_.push_back(text);
        if (doneCount_ == 0) errorBeforeDone_ = true;
        changed_.notify_all();
    }

private:
    template <typename T>
    T Locked(const T& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        return value;
    }

    void Note() {
        threadNames_.insert(CurrentThreadName());
        threads_.insert(pthread_self());
    }

    void OnEnd(unsigned long long end) {
        std::lock_guard<std::mutex> lock(mutex_);
        Note();
        ends_.push_back(end);
        changed_.notify_all();
    }

    bool Take(const char* data, size_t size) {
        DataHook hook;
        size_t total;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Note();
            bytes_.append(data, size);
            deliveries_.push_back(size);
            total = bytes_.size();
            hook = hook_;
            changed_.notify_all();
        }
        if (hook) hook(total);
        return true;
    }

    bool OnChunk(MemoryChunk chunk) {
        return Take(reinterpret_cast<const char*>(chunk.Data()), chunk.Size());
    }
    bool OnData(const signed char* data, unsigned int size) {
        return Take(reinterpret_cast<const char*>(data), size);
    }

    void OnDone(bool failed) {
        std::lock_guard<std::mutex> lock(mutex_);
        Note();
        ++doneCount_;
        failed_ = failed;
        changed_.notify_all();
    }

    void OnBandwidth(const SV::PilTime&, unsigned int bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        Note();
        if (bytes == 0) ++idleReports_;
        changed_.notify_all();
    }

    boost::shared_ptr<HTTPClientInterface> transport_;
    std::mutex mutex_;
    std::condition_variable changed_;
    DataHook hook_;
    std::string bytes_;
    std::vector<size_t> deliveries_;
    std::vector<unsigned long long> ends_;
    std::vector<SVStatus> errorCodes_;
    std::vector<std::string> errorTexts_;
    std::set<std::string> threadNames_;
    std::set<pthread_t> threads_;
    int idleReports_ = 0;
    int doneCount_ = 0;
    bool failed_ = false;
    bool errorBeforeDone_ = false;
};

// A libcurl transport made through the factory function.
inline boost::shared_ptr<HTTPClientInterface> MakeTransport(
    const std::string& url, const std::map<std::string, std::string>* parameters = nullptr,
    const std::string& body = std::string()) {
    boost::shared_ptr<HTTPClientInterface> transport;
    CreateCurlHTTPClientInterface(transport, url, parameters, nullptr, body, 0);
    return transport;
}

// Runs a marker task on the download thread, two times over. Once both have run, every task
// queued there before (the transports' start, allowance and close tasks) has run, and so has a
// whole turn of transfers after them: what those tasks let through has been delivered, and
// what they stopped can no longer call anyone.
inline bool DownloadThreadTurnedTwice() {
    for (int i = 0; i < 2; ++i) {
        const std::shared_ptr<std::atomic<bool>> ran = std::make_shared<std::atomic<bool>>(false);
        HTTPThread::Instance().Post(
            SvTestSupport::MakeTask("Test::Turn", [ran]() { *ran = true; }));
        if (!SvTestSupport::WaitUntil([&]() { return ran->load(); })) return false;
    }
    return true;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
