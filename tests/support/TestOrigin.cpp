#include "tests/support/TestOrigin.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <stdexcept>

#include "SVLibrary/Http/ByteRange.h"
#include "portal/server/HttpResponse.h"

namespace SvTestSupport {

using ZulPortal::HttpConnection;
using ZulPortal::HttpResponse;

namespace {

const char* Reason(int status) { return HttpResponse::Reason(status); }

}  // namespace

TestOrigin::TestOrigin() : TestOrigin("127.0.0.1") {}

TestOrigin::TestOrigin(const std::string& address)
    : server_([this](HttpConnection& connection, const Request& request,
                     bool* keepAlive) { return Answer(connection, request, keepAlive); },
              [&address] {
                  ZulPortal::HttpServer::Options options;
                  options.address = address;
                  return options;
              }()) {}

TestOrigin::~TestOrigin() {
    // Stopped here, while the maps its handler reads are still whole.
    server_.Stop();
}

std::string TestOrigin::Url(const std::string& path) const { return server_.Url(path); }

void TestOrigin::Serve(const std::string& path, const std::string& bytes) {
    Resource resource;
    resource.bytes = std::make_shared<const std::string>(bytes);
    resource.size = bytes.size();
    std::lock_guard<std::mutex> lock(mutex_);
    resources_[path] = resource;
}

void TestOrigin::ServeFile(const std::string& path, const std::string& filePath) {
    const int fd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("TestOrigin: cannot open " + filePath);
    const off_t size = lseek(fd, 0, SEEK_END);
    close(fd);
    Resource resource;
    resource.filePath = filePath;
    resource.size = static_cast<uint64_t>(size);
    std::lock_guard<std::mutex> lock(mutex_);
    resources_[path] = resource;
}

void TestOrigin::SetFault(const std::string& path, const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[path] = fault;
}

void TestOrigin::Release(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.insert(path);
}

int TestOrigin::AnswersBegun(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::map<std::string, int>::const_iterator count = requestCounts_.find(path);
    return count == requestCounts_.end() ? 0 : count->second;
}

bool TestOrigin::Answer(HttpConnection& connection, const Request& request, bool* keepAlive) {
    Fault fault;
    Resource resource;
    bool found = false;
    int number = 0;
    bool gone = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::string, Fault>::const_iterator f = faults_.find(request.path);
        if (f != faults_.end()) fault = f->second;
        std::map<std::string, Resource>::const_iterator r = resources_.find(request.path);
        if (r != resources_.end()) {
            resource = r->second;
            found = true;
        }
        number = ++requestCounts_[request.path];
        gone = gone_.count(request.path) != 0;
    }
    if (gone) {
        connection.Reset();
        return false;
    }
    if (fault.headDelayMs > 0 && !connection.Pause(fault.headDelayMs)) return false;
    for (bool held = fault.held; held;) {
        if (!connection.Pause(10)) return false;  // the origin stops
        std::lock_guard<std::mutex> lock(mutex_);
        held = released_.count(request.path) == 0;
    }
    if (!fault.rawAnswer.empty()) {
        connection.SendAll(fault.rawAnswer);
        connection.CloseWrite();
        return false;
    }
    const bool failNow = fault.failEvery > 0 && (number - 1) % fault.failEvery == 0;

    int status = 200;
    std::string headers;
    std::string textBody;
    uint64_t first = 0;
    uint64_t length = resource.size;
    for (const std::pair<std::string, std::string>& header : fault.headers) {
        headers += header.first + ": " + header.second + "\r\n";
    }
    std::map<std::string, std::string>::const_iterator authorization =
        request.headers.find("authorization");
    if (!fault.authorization.empty() &&
        (authorization == request.headers.end() || authorization->second != fault.authorization)) {
        status = 401;
        headers += "WWW-Authenticate: Basic realm=\"" + fault.realm + "\"\r\n";
        textBody = std::string(Reason(status)) + "\n";
    } else if (failNow && found) {
        status = fault.failStatus;
        textBody = std::string(Reason(status)) + "\n";
    } else if (fault.status != 0 || !found) {
        status = fault.status != 0 ? fault.status : 404;
        if (!fault.location.empty()) headers += "Location: " + fault.location + "\r\n";
        textBody = std::string(Reason(status)) + "\n";
    } else if (request.headers.count("range") != 0 && !fault.ignoreRange) {
        const SV::ByteRange range = SV::ByteRange::Resolve(
            request.headers.at("range"), resource.size, SV::ByteRange::Syntax::Exact);
        if (range.GetKind() == SV::ByteRange::Kind::Unsatisfiable) {
            status = 416;
            headers += "Content-Range: bytes */" + std::to_string(resource.size) + "\r\n";
            textBody = "Range Not Satisfiable\n";
        } else if (range.GetKind() == SV::ByteRange::Kind::Satisfiable) {
            status = 206;
            first = range.First();
            length = range.Length();
            headers += "Content-Range: bytes " + std::to_string(range.First()) + "-" +
                       std::to_string(range.Last()) + "/" +
                       (fault.totalUnknown ? std::string("*") : std::to_string(resource.size)) +
                       "\r\n";
        }
    }
    if (!textBody.empty()) length = textBody.size();
    // The body of a resume from further on than its Content-Range says.
    uint64_t bodyFirst = first;
    if (status == 206 && first > 0 && fault.resumeShift > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        int& shifted = shiftCounts_[request.path];
        if (fault.shiftedResumes < 0 || shifted < fault.shiftedResumes) {
            ++shifted;
            bodyFirst = first + fault.resumeShift;
        }
    }
    const bool head = request.method == "HEAD";
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    response += headers;
    // A path whose headers name a type of their own (an HTML page for a web view) keeps it.
    bool typed = false;
    for (const std::pair<std::string, std::string>& header : fault.headers) {
        if (strcasecmp(header.first.c_str(), "content-type") == 0) typed = true;
    }
    if (!typed) response += "Content-Type: application/octet-stream\r\n";
    const bool chunked = (fault.chunked && textBody.empty()) || fault.endless;
    if (fault.noContentLength) {
        response += "Connection: close\r\n";
        *keepAlive = false;
    } else if (chunked) {
        response += "Transfer-Encoding: chunked\r\n";
        response += *keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    } else {
        response += "Content-Length: " + std::to_string(length) + "\r\n";
        response += *keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    }
    response += "\r\n";
    if (!connection.SendAll(response)) return false;
    if (head) return true;
    if (fault.endless) {
        return SendEndless(connection, !textBody.empty() ? textBody
                                       : resource.bytes && !resource.bytes->empty()
                                           ? *resource.bytes
                                           : std::string("x"));
    }
    if (!textBody.empty()) {
        Resource text;
        text.bytes = std::make_shared<const std::string>(textBody);
        text.size = textBody.size();
        // Only the resource's body ends in the faults at its end, or comes in chunks.
        Fault textFault = fault;
        textFault.chunked = false;
        textFault.stallAtEndMs = 0;
        textFault.dropAtEnd = false;
        return SendBody(connection, text, 0, text.size, textFault);
    }
    const uint64_t available = bodyFirst < resource.size ? resource.size - bodyFirst : 0;
    const bool whole =
        SendBody(connection, resource, bodyFirst, std::min(length, available), fault);
    if (!whole && fault.goneAfterCut && (fault.closeAfter != kNever || fault.dropAfter != kNever)) {
        std::lock_guard<std::mutex> lock(mutex_);
        gone_.insert(request.path);
    }
    // A shifted body cut at the end of the resource is shorter than its Content-Length.
    return whole && bodyFirst == first;
}

bool TestOrigin::SendEndless(HttpConnection& connection, const std::string& piece) {
    // The piece repeated to 64 KiB or more, so that a chunk is worth its header.
    std::string chunk = piece;
    while (chunk.size() < 65536) chunk += piece;
    char size[32];
    snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    chunk = size + chunk + "\r\n";
    while (connection.SendAll(chunk)) {
    }
    return false;
}

bool TestOrigin::SendBody(HttpConnection& connection, const Resource& resource, uint64_t first,
                          uint64_t length, const Fault& fault) {
    int file = -1;
    if (!resource.filePath.empty()) {
        file = open(resource.filePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) return false;
    }
    std::vector<char> buffer(65536);
    uint64_t sent = 0;
    bool stalled = false;
    bool ok = true;
    while (ok && sent < length) {
        uint64_t piece = std::min<uint64_t>(length - sent, buffer.size());
        if (fault.bytesPerSecond > 0)
            piece = std::min<uint64_t>(piece, std::max<uint64_t>(1, fault.bytesPerSecond / 20));
        if (!stalled && sent < fault.stallAfter) piece = std::min(piece, fault.stallAfter - sent);
        if (sent < fault.dropAfter) piece = std::min(piece, fault.dropAfter - sent);
        if (sent < fault.closeAfter) piece = std::min(piece, fault.closeAfter - sent);
        if (sent == fault.dropAfter) {
            connection.Reset();
            ok = false;
            break;
        }
        if (sent == fault.closeAfter) {
            // Closed, not reset: what was sent reaches the peer, then the end of the stream.
            connection.CloseWrite();
            ok = false;
            break;
        }
        if (!stalled && sent == fault.stallAfter) {
            stalled = true;
            if (!connection.Pause(fault.stallMs)) {
                ok = false;
                break;
            }
            continue;
        }
        const char* data;
        if (file >= 0) {
            const ssize_t n = pread(file, buffer.data(), piece, static_cast<off_t>(first + sent));
            if (n <= 0) {
                ok = false;
                break;
            }
            piece = static_cast<uint64_t>(n);
            data = buffer.data();
        } else {
            data = resource.bytes->data() + first + sent;
        }
        if (fault.chunked) {
            char size[32];
            snprintf(size, sizeof size, "%llx\r\n", static_cast<unsigned long long>(piece));
            ok = connection.SendAll(size, strlen(size)) && connection.SendAll(data, piece) &&
                 connection.SendAll("\r\n", 2);
        } else {
            ok = connection.SendAll(data, piece);
        }
        sent += piece;
        if (ok && fault.bytesPerSecond > 0)
            ok = connection.Pause(static_cast<int>(piece * 1000 / fault.bytesPerSecond));
    }
    if (file >= 0) close(file);
    if (ok && fault.stallAtEndMs > 0) ok = connection.Pause(fault.stallAtEndMs);
    if (ok && fault.dropAtEnd) {
        // Closed, not reset: a reset would throw away what the peer has not read yet.
        connection.CloseWrite();
        return false;
    }
    if (ok && fault.chunked) ok = connection.SendAll("0\r\n\r\n", 5);
    if (ok && fault.noContentLength) {
        connection.CloseWrite();
        return false;
    }
    return ok;
}

}  // namespace SvTestSupport
