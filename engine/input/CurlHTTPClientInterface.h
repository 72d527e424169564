#ifndef ENGINE_INPUT_CURLHTTPCLIENTINTERFACE_H
#define ENGINE_INPUT_CURLHTTPCLIENTINTERFACE_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "engine/input/HTTPClientInterface.h"
#include "engine/input/HTTPResponseHeaders.h"

typedef void CURL;
struct curl_slist;

namespace SarvelonMediaKit {

class HTTPClientInterfaceClient;

// The engine's HTTP transport, on libcurl: one request for a byte range of one URL, carried
// out on the download thread (HTTPThread). Public calls only post tasks there; what arrives is
// handed on in pieces of at most 64 KiB through the base's deliveries.
//
// Back-pressure: the transport never delivers more than the owner's allowance. When the
// allowance is used up it pauses the transfer (the socket is then no longer read), reports
// itself idle, and resumes once the owner grants more than the resume threshold; bytes the
// library had already handed over are kept and delivered first.
//
// Answers: a status outside 200..299 is published as an error whose code is the status
// ("HTTP Error <status>") and ends the request as failed, with no data. A transfer failure is
// published as error 1010 ("CFStream error: <reason>") and ends the request as failed. A server
// that answers a ranged request with the whole resource (200) has the bytes before the range
// dropped and those after it cut off, so the owner always gets the range it asked for.
class CurlHTTPClientInterface : public HTTPClientInterface {
public:
    static constexpr uint32_t kMaxDelivery = 65536;

    CurlHTTPClientInterface(std::string url, HTTPClientInterfaceClient* client);
    CurlHTTPClientInterface(std::string url, const std::map<std::string, std::string>& parameters,
                            HTTPClientInterfaceClient* client, std::string body);
    ~CurlHTTPClientInterface() override;

    // Closes the request, then tells the owner.
    void Done(bool failed) override;
    // Posts the request to the download thread; a transport carries one request, so a second
    // start, or a start after the request was closed, does nothing.
    void StartDownload(uint64_t start, uint64_t end) override;
    void CloseConnection() override;
    void DoSetMaxDownloadAmount(ByteAmount amount) override;

    // Download thread.
    void DoStartDownload(uint64_t start, uint64_t end);
    void CloseStreamInTask();
    void DoSetMaxDownloadAmountInTask(ByteAmount amount);
    // The transfer ended with the library's result.
    void TransferFinished(int result);
    // The library's body and header callbacks.
    size_t BodyReceived(const char* data, size_t size);
    void HeaderReceived(const char* line, size_t size);
    void SetCFStreamError(int code, const std::string& text);

    // The owner wants no data now and the transfer waits.
    bool IsReadingPaused() const { return readingPaused_.load(); }

private:
    void CloseStream();
    // Examines the final response head; false when its status refuses the request.
    bool HandleHeaders();
    // Hands bytes on while the allowance lasts; returns how many went.
    size_t Deliver(const char* data, size_t size);
    void DeliverCarry();
    void SetPendingRead(bool pause);
    void Finish(int result);
    void OpenRequest(uint64_t start, uint64_t end);
    void ReleaseRequest();

    std::string url_;
    std::string formBody_;
    HTTPResponseHeaders responseHeaders_;
    // Bytes the library handed over beyond the allowance; delivered before anything else.
    std::vector<char> carry_;
    size_t carryOffset_;
    bool headersHandled_;
    std::atomic<bool> readingPaused_;
    SV::MutexedVariable<bool> streamClosed_;
    std::atomic<bool> startRequested_;
    CURL* easy_;
    curl_slist* headers_;
    char errorBuffer_[256];
    bool rejected_;       // the status refused the request
    uint64_t skip_;       // bytes before the range still to drop (range ignored by the server)
    bool limited_;        // the range has an end
    uint64_t remaining_;  // bytes of the range still to deliver
    bool rangeComplete_;  // everything asked for was delivered; the rest is not wanted
    bool finishPending_;  // the transfer ended while delivered bytes were held back
    int finishResult_;
    bool finished_;
};

// The transport factory to install with SetHTTPClientInterfaceFactory. With null parameters
// the body is ignored; the transport parameter is not used.
void CreateCurlHTTPClientInterface(boost::shared_ptr<HTTPClientInterface>& result,
                                   const std::string& url,
                                   const std::map<std::string, std::string>* parameters,
                                   HTTPClientInterfaceClient* client, const std::string& body,
                                   uint32_t transportParameter);

}  // namespace SarvelonMediaKit

#endif
