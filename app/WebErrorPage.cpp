#include "app/WebErrorPage.h"

#include "platform/net/HtmlEscape.h"

namespace WebErrorPage {

std::string fill(const std::string& page, const std::string& text) {
    const size_t at = page.find("%@");
    if (at == std::string::npos) return page;
    return page.substr(0, at) + ns::HtmlEscape::Escape(text) + page.substr(at + 2);
}

}  // namespace WebErrorPage
