#include "engine/input/HTTPRequestBuilder.h"

#include "SVLibrary/Path/Url.h"

namespace SarvelonMediaKit {

HTTPRequestBuilder::Request HTTPRequestBuilder::Build(
    const std::string& url, const std::map<std::string, std::string>& parameters,
    const std::string& body, bool post) {
    const size_t mark = url.find('?');
    const std::string address = mark == std::string::npos ? url : url.substr(0, mark);
    std::string query = mark == std::string::npos ? std::string() : url.substr(mark + 1);
    for (std::map<std::string, std::string>::const_iterator it = parameters.begin();
         it != parameters.end(); ++it) {
        if (!query.empty()) query += '&';
        query += post ? it->first : SV::PercentEncode(it->first);
        query += '=';
        query += post ? it->second : SV::PercentEncode(it->second);
    }

    Request request;
    if (!body.empty()) {
        request.post = true;
        request.formBody = body;
        request.url = address;
    } else if (!post) {
        request.url = query.empty() ? address : address + "?" + query;
    } else {
        request.post = true;
        request.formBody = query;
        request.url = address;
    }
    return request;
}

std::string HTTPRequestBuilder::RangeValue(uint64_t start, uint64_t end) {
    if (end == 0) {
        return start == 0 ? std::string() : "bytes=" + std::to_string(start) + "-";
    }
    if (end <= start) return std::string();
    return "bytes=" + std::to_string(start) + "-" + std::to_string(end - 1);
}

}  // namespace SarvelonMediaKit
