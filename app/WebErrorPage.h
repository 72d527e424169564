#ifndef APP_WEBERRORPAGE_H
#define APP_WEBERRORPAGE_H
// The page the portal screen shows in place of a portal page that could not be loaded: the
// bundle's "WebError.html", whose first "%@" receives the error's text. The text is HTML-escaped
// (it may carry a URL or a server's words), and only that first "%@" is filled: any other "%@"
// or "%" of the page stays as it is, so a page with a second placeholder or a percentage in
// its style cannot turn into garbage.

#include <string>

namespace WebErrorPage {

constexpr const char* kResourceName = "WebError";
constexpr const char* kResourceType = "html";

// The page text with its first "%@" replaced by the text, HTML-escaped (unchanged without one).
std::string fill(const std::string& page, const std::string& text);

}  // namespace WebErrorPage

#endif  // APP_WEBERRORPAGE_H
