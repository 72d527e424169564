// Feeds arbitrary bytes to the headless web view's link reader as a page. Every link it gives
// must be an absolute URL (resolved against the page) that parses again to itself, with text
// free of runs of white space, and never more than the reader's bound.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/net/URL.h"
#include "platform/ui/HtmlLinkParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ns::URL page = *ns::URL::Parse("http://portal.example/a/b/page.html?x=1");
    const std::string html(reinterpret_cast<const char*>(data), size);
    const std::vector<ui::HtmlLink> links = ui::HtmlLinkParser::Parse(html, page);
    if (links.size() > ui::HtmlLinkParser::kMaxLinks) abort();
    for (const ui::HtmlLink& link : links) {
        if (!link.url.IsAbsolute()) abort();
        const std::string text = link.url.AbsoluteString();
        const auto again = ns::URL::Parse(text);
        if (!again || again->AbsoluteString() != text) abort();
        if (link.text.find("  ") != std::string::npos) abort();
        if (!link.text.empty() && (link.text.front() == ' ' || link.text.back() == ' ')) abort();
    }
    return 0;
}
