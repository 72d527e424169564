#ifndef PLATFORM_UI_HTML_LINK_PARSER_H
#define PLATFORM_UI_HTML_LINK_PARSER_H
// The links of an HTML page, for the headless web view: each <a> element with an href, in
// document order, with its URL resolved against the page and its text.
//
// The page goes through libxml2's HTML parser without network access and without reports on
// stderr (htmlReadMemory with HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING); it
// recovers from broken markup as a browser would, more or less. An href is taken as a browser
// takes it: leading and trailing white space dropped, and a space, a control byte or a byte of
// a non-ASCII character inside it percent-encoded before it is resolved (RFC 3986 section 5.2)
// against the page URL. An href that still does not resolve, and one of the "javascript:"
// scheme (which needs a script engine), gives no link. Pages over kMaxPageBytes and more than
// kMaxLinks links are not read past those bounds.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/net/URL.h"

namespace ui {

struct HtmlLink {
    std::string href;  // as written (entities decoded by the parser)
    ns::URL url;       // resolved against the page
    std::string text;  // the element's text, runs of white space as one space, trimmed
};

class HtmlLinkParser {
public:
    // libxml2 takes the size as an int; the web view caps its pages well below this.
    static constexpr size_t kMaxPageBytes = 64 * 1024 * 1024;
    static constexpr size_t kMaxLinks = 10000;

    // The links of the page; none when it is larger than kMaxPageBytes or not HTML at all.
    static std::vector<HtmlLink> Parse(const std::string& html, const ns::URL& pageUrl);
};

}  // namespace ui

#endif  // PLATFORM_UI_HTML_LINK_PARSER_H
