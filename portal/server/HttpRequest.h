#ifndef PORTAL_SERVER_HTTPREQUEST_H
#define PORTAL_SERVER_HTTPREQUEST_H

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ZulPortal {

// One request as the loopback server received it.
struct HttpRequest {
    std::string method;
    std::string target;  // as sent (origin or absolute form)
    std::string path;    // the path it was served by (no query)
    std::string query;   // after the first "?", as sent (still escaped); empty without one
    std::string head;    // request line and header lines as received (wire order),
                         // CRLF-separated, without the blank line
    // The header fields in the order received, names as sent, values trimmed.
    std::vector<std::pair<std::string, std::string>> fields;
    // Names in lower case; a repeated field keeps its last value.
    std::map<std::string, std::string> headers;
    std::string body;

    // The value of a header (any case), or fallback.
    std::string Header(const std::string& name, const std::string& fallback = "") const;
};

}  // namespace ZulPortal

#endif
