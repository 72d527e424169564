#ifndef PLATFORM_NET_PERCENT_ESCAPE_H
#define PLATFORM_NET_PERCENT_ESCAPE_H
// Percent escaping of UTF-8 text for URLs and form bodies (RFC 3986 section 2.1). Escapes are
// written with upper-case hexadecimal digits.

#include <optional>
#include <string>
#include <string_view>

namespace ns {

class PercentEscape {
public:
    // The characters RFC 3986 reserves as delimiters: ":/?#[]@" and "!$&'()*+,;=".
    static constexpr const char* kReserved = "!*'();:@&=+$,/?#[]";

    // Escapes every byte that may not stand in a URL (controls, space, bytes above 0x7E and
    // "\"<>\\^`{|}") and every character listed in `alsoEscape`. A '%' that already starts a
    // valid escape "%XX" is kept, so escaping an escaped URL text changes nothing; any other
    // '%' becomes "%25".
    static std::string Escape(std::string_view text, std::string_view alsoEscape = {});
    // Escapes everything but the unreserved characters (letters, digits, "-._~"), '%' included:
    // for a value put inside a query or a form body, where a reserved character would change
    // its meaning. Unescape() gives the text back.
    static std::string EscapeComponent(std::string_view text);
    // Turns each "%XX" into its byte. Returns nothing for a '%' not followed by two hex digits.
    static std::optional<std::string> Unescape(std::string_view text);

    static bool IsUnreserved(char c);
    // Whether the byte may stand unescaped somewhere in a URL (unreserved or reserved).
    static bool IsURLCharacter(char c);
    static bool IsHexDigit(char c);
};

}  // namespace ns

#endif
