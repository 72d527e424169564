#ifndef PORTAL_SERVER_HTTPRESPONSE_H
#define PORTAL_SERVER_HTTPRESPONSE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "portal/server/HttpConnection.h"
#include "portal/server/HttpRequest.h"

namespace ZulPortal {

// A whole response held in memory, or a file served with byte ranges.
struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    // Sent in this order after the status line, before Content-Type and Content-Length.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    static const char* Reason(int status);

    // Head and body (no body to a HEAD request); false when the peer is gone.
    bool Send(HttpConnection& connection, const HttpRequest& request, bool keepAlive) const;

    // A file from disk: 200 with all of it, 206 with the exact Content-Range for one range,
    // 416 with "bytes */size" for a range past the end, 404 when it cannot be opened.
    static bool SendFile(HttpConnection& connection, const HttpRequest& request,
                         const std::string& path, const std::string& contentType, bool keepAlive);
};

}  // namespace ZulPortal

#endif
