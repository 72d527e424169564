#include "app/WebErrorPage.h"

namespace WebErrorPage {

std::string htmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string fill(const std::string& page, const std::string& text) {
    const size_t at = page.find("%@");
    if (at == std::string::npos) return page;
    return page.substr(0, at) + htmlEscaped(text) + page.substr(at + 2);
}

}  // namespace WebErrorPage
