#ifndef PLATFORM_NET_HTML_ESCAPE_H
#define PLATFORM_NET_HTML_ESCAPE_H
// Text put into an HTML page as text: the five characters that could start markup, end an
// attribute value or begin a character reference are written as character references, so
// words from a user, a server or an error cannot become markup.

#include <string>
#include <string_view>

namespace ns {

class HtmlEscape {
public:
    // & < > " ' as "&amp;" "&lt;" "&gt;" "&quot;" "&#39;"; every other byte as it is (UTF-8
    // passes through unchanged). Safe inside element text and inside quoted attribute values.
    static std::string Escape(std::string_view text);
};

}  // namespace ns

#endif
