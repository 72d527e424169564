// Feeds arbitrary text to the URL reader, the reference resolver and the percent escaping.
// A URL that parses must give back its text, and every URL made from it (resolved against a
// fixed base or against itself) must read back from its string form with the same components.
// Escaping must be undone by unescaping wherever unescaping is defined.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/PercentEscape.h"
#include "platform/net/URL.h"

namespace {

// Component by component, not through operator== (which compares the string forms only).
bool SameComponents(const ns::URL& a, const ns::URL& b) {
    return a.IsAbsolute() == b.IsAbsolute() && a.Scheme() == b.Scheme() &&
           a.HasAuthority() == b.HasAuthority() && a.Authority() == b.Authority() &&
           a.User() == b.User() && a.Password() == b.Password() && a.Host() == b.Host() &&
           a.Port() == b.Port() && a.PercentEncodedPath() == b.PercentEncodedPath() &&
           a.HasQuery() == b.HasQuery() && a.Query() == b.Query() &&
           a.HasFragment() == b.HasFragment() && a.Fragment() == b.Fragment();
}

// The string form of the URL reads back as the same URL.
void CheckReadsBack(const ns::URL& url) {
    const std::string text = url.AbsoluteString();
    const std::optional<ns::URL> again = ns::URL::Parse(text);
    if (!again || !SameComponents(*again, url) || again->AbsoluteString() != text) {
        __builtin_trap();
    }
    if (url.Port() < -1 || url.Port() > 65535) __builtin_trap();
    // The accessors that decode must cope with whatever was accepted.
    (void)url.Path();
    (void)url.PathExtension();
    (void)url.PortOrDefault();
    (void)url.FileSystemPath();
    const ns::URL bare = url.WithoutFragment();
    if (bare.HasFragment() || !bare.Fragment().empty()) __builtin_trap();
}

// The path of a resolved URL keeps no "." or ".." segment, except the "/." that stops a path
// starting with "//" from reading as an authority.
bool HasDotSegment(std::string path) {
    if (!path.empty() && path.compare(0, 4, "/.//") == 0) path.erase(0, 2);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string_view segment(path.data() + start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

void CheckResolved(std::string_view reference, const ns::URL& base) {
    const std::optional<ns::URL> parsed = ns::URL::Parse(reference);
    const std::optional<ns::URL> resolved = ns::URL::Resolve(reference, base);
    // Against an absolute base, every reference that parses resolves, and nothing else does.
    if (parsed.has_value() != resolved.has_value()) __builtin_trap();
    if (!resolved) return;
    const ns::URL& r = *parsed;
    const ns::URL& t = *resolved;
    if (!t.IsAbsolute() || HasDotSegment(t.PercentEncodedPath())) __builtin_trap();
    // The fragment always comes from the reference; the scheme from the reference when it
    // names one, else from the base; the authority from the first of them that has one.
    if (t.HasFragment() != r.HasFragment() || t.Fragment() != r.Fragment()) __builtin_trap();
    if (t.Scheme() != (r.IsAbsolute() ? r.Scheme() : base.Scheme())) __builtin_trap();
    const ns::URL& authoritySource = r.IsAbsolute() || r.HasAuthority() ? r : base;
    if (t.HasAuthority() != authoritySource.HasAuthority() ||
        t.Authority() != authoritySource.Authority() || t.Host() != authoritySource.Host() ||
        t.Port() != authoritySource.Port()) {
        __builtin_trap();
    }
    CheckReadsBack(t);
    // A resolved URL is already its own resolution.
    const std::optional<ns::URL> again = ns::URL::Resolve(t.AbsoluteString(), base);
    if (!again || !SameComponents(*again, t)) __builtin_trap();
}

void CheckEscaping(std::string_view text) {
    // Component escaping leaves only unreserved characters and upper-case escapes, and is
    // undone exactly.
    const std::string component = ns::PercentEscape::EscapeComponent(text);
    for (size_t i = 0; i < component.size(); ++i) {
        const char c = component[i];
        if (c == '%') {
            if (i + 2 >= component.size()) __builtin_trap();
            for (size_t k = i + 1; k <= i + 2; ++k) {
                const char h = component[k];
                if (!((h >= '0' && h <= '9') || (h >= 'A' && h <= 'F'))) __builtin_trap();
            }
            i += 2;
        } else if (!ns::PercentEscape::IsUnreserved(c)) {
            __builtin_trap();
        }
    }
    const std::optional<std::string> back = ns::PercentEscape::Unescape(component);
    if (!back || *back != text) __builtin_trap();

    // URL escaping keeps valid escapes, so it is idempotent and leaves only characters that
    // may stand in a URL; where the text unescapes, its escaped form unescapes to the same.
    const std::string escaped = ns::PercentEscape::Escape(text);
    if (ns::PercentEscape::Escape(escaped) != escaped) __builtin_trap();
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '%') {
            if (i + 2 >= escaped.size() || !ns::PercentEscape::IsHexDigit(escaped[i + 1]) ||
                !ns::PercentEscape::IsHexDigit(escaped[i + 2])) {
                __builtin_trap();
            }
        } else if (!ns::PercentEscape::IsURLCharacter(escaped[i])) {
            __builtin_trap();
        }
    }
    const std::optional<std::string> unescaped = ns::PercentEscape::Unescape(text);
    const std::optional<std::string> escapedUnescaped = ns::PercentEscape::Unescape(escaped);
    if (!escapedUnescaped) __builtin_trap();
    if (unescaped && *escapedUnescaped != *unescaped) __builtin_trap();
    // With '%' itself listed, every byte comes back as it was.
    const std::optional<std::string> literal =
        ns::PercentEscape::Unescape(ns::PercentEscape::Escape(text, "%"));
    if (!literal || *literal != text) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckEscaping(text);

    static const ns::URL kBases[] = {
        *ns::URL::Parse("http://user:pw@a.example:8080/b/c/d;p?q#f"),
        *ns::URL::Parse("s:a/b/c"),   // no authority, relative path
        *ns::URL::Parse("file:///"),  // empty authority, root path
        *ns::URL::Parse("s://h"),     // authority, empty path
    };
    const std::optional<ns::URL> url = ns::URL::Parse(text);
    if (url) {
        // The text is kept as written.
        if (url->AbsoluteString() != text) __builtin_trap();
        CheckReadsBack(*url);
    }
    for (const ns::URL& base : kBases) CheckResolved(text, base);
    if (url && url->IsAbsolute()) CheckResolved(text, *url);
    return 0;
}
