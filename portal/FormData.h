#ifndef PORTAL_FORMDATA_H
#define PORTAL_FORMDATA_H

#include <string>
#include <utility>
#include <vector>

namespace ZulPortal {

// "a=1&b=x%20y" as a query or an application/x-www-form-urlencoded body ("+" is a space), and
// the "name=value; name2=value2" of a Cookie header.
class FormData {
public:
    // False (and fields left as far as read) when an escape is malformed or a decoded text is
    // not valid UTF-8.
    static bool Parse(const std::string& text, FormData& out);
    static FormData Cookies(const std::string& header);

    // The first value of name; fallback without one.
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const;

    // %XX and "+"; false on a broken escape.
    static bool Decode(const std::string& text, std::string& out);
    static bool IsUtf8(const std::string& text);
    // Everything but unreserved characters escaped as %XX (UTF-8 bytes).
    static std::string Encode(const std::string& text);

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace ZulPortal

#endif
