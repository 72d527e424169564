#include "portal/server/HttpResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "SVLibrary/Http/ByteRange.h"

namespace ZulPortal {

const char* HttpResponse::Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 206: return "Partial Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

namespace {

std::string Head(int status, const std::vector<std::pair<std::string, std::string>>& headers,
                 const std::string& contentType, uint64_t length, bool keepAlive) {
    std::string head =
        "HTTP/1.1 " + std::to_string(status) + " " + HttpResponse::Reason(status) + "\r\n";
    for (const auto& header : headers) head += header.first + ": " + header.second + "\r\n";
    if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    return head;
}

}  // namespace

bool HttpResponse::Send(HttpConnection& connection, const HttpRequest& request,
                        bool keepAlive) const {
    const std::string head = Head(status, headers, contentType, body.size(), keepAlive);
    if (!connection.SendAll(head)) return false;
    if (request.method == "HEAD") return true;
    return connection.SendAll(body);
}

bool HttpResponse::SendFile(HttpConnection& connection, const HttpRequest& request,
                            const std::string& path, const std::string& contentType,
                            bool keepAlive) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (file >= 0) close(file);
        HttpResponse missing;
        missing.status = 404;
        missing.contentType = "text/plain; charset=utf-8";
        missing.body = "Not Found\n";
        return missing.Send(connection, request, keepAlive);
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    uint64_t first = 0;
    uint64_t length = size;
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers = {{"Accept-Ranges", "bytes"}};
    const auto rangeHeader = request.headers.find("range");
    if (rangeHeader != request.headers.end()) {
        const SV::ByteRange range =
            SV::ByteRange::Resolve(rangeHeader->second, size, SV::ByteRange::Syntax::Exact);
        if (range.GetKind() == SV::ByteRange::Kind::Unsatisfiable) {
            close(file);
            HttpResponse refused;
            refused.status = 416;
            refused.contentType = "text/plain; charset=utf-8";
            refused.headers = {{"Content-Range", "bytes */" + std::to_string(size)}};
            refused.body = "Range Not Satisfiable\n";
            return refused.Send(connection, request, keepAlive);
        }
        if (range.GetKind() == SV::ByteRange::Kind::Satisfiable) {
            status = 206;
            first = range.First();
            length = range.Length();
            headers.emplace_back("Content-Range", "bytes " + std::to_string(range.First()) + "-" +
                                                      std::to_string(range.Last()) + "/" +
                                                      std::to_string(size));
        }
    }
    bool ok = connection.SendAll(Head(status, headers, contentType, length, keepAlive));
    if (request.method == "HEAD") {
        close(file);
        return ok;
    }
    std::vector<char> buffer(65536);
    uint64_t sent = 0;
    while (ok && sent < length) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(length - sent, buffer.size()));
        const ssize_t n = pread(file, buffer.data(), piece, static_cast<off_t>(first + sent));
        if (n <= 0) {
            // The file shrank under us: the promised length cannot be kept, so the connection
            // ends rather than carry a short body into the next response.
            ok = false;
            break;
        }
        ok = connection.SendAll(buffer.data(), static_cast<size_t>(n));
        sent += static_cast<uint64_t>(n);
    }
    close(file);
    return ok;
}

}  // namespace ZulPortal
