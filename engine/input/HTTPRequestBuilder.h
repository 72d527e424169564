#ifndef ENGINE_INPUT_HTTPREQUESTBUILDER_H
#define ENGINE_INPUT_HTTPREQUESTBUILDER_H

#include <cstdint>
#include <map>
#include <string>

namespace SarvelonMediaKit {

// What a transport sends for its URL, request parameters, body and byte range.
class HTTPRequestBuilder {
public:
    struct Request {
        std::string url;       // where the request goes
        std::string formBody;  // the body of a POST (may be empty)
        bool post = false;
    };

    // The URL is split at its first '?'. Parameters join the query in ascending order of name
    // as name=value joined by '&', each percent-encoded for a GET and taken as they are for a
    // POST. A non-empty body makes the request a POST carrying that body to the bare address;
    // otherwise a POST (post set) carries the query as its body, and a GET keeps it in the URL.
    static Request Build(const std::string& url,
                         const std::map<std::string, std::string>& parameters,
                         const std::string& body, bool post);

    // The value of the Range header for [start, end): "bytes=start-(end-1)", or "bytes=start-"
    // for end 0 (to the end of the resource). Empty, meaning no header, for the whole resource
    // (both 0) and for an empty or reversed range (end <= start), which no header can express.
    static std::string RangeValue(uint64_t start, uint64_t end);
};

}  // namespace SarvelonMediaKit

#endif
