#ifndef PLATFORM_NET_URL_H
#define PLATFORM_NET_URL_H
// A URL or relative reference split into its RFC 3986 components (scheme, authority, path,
// query, fragment), kept percent-encoded as written, so that AbsoluteString() gives back the
// text it was parsed from. Parse() refuses text that cannot be a URI reference (a space, a
// control byte, a bare '%', a bad scheme or port), as the application's URL constructor
// answers nil for it. Resolve() joins a reference to a base URL by RFC 3986 section 5.2.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

class URL {
public:
    // The empty reference ("").
    URL() = default;

    // An absolute URL or a relative reference; nothing when the text is not one.
    static std::optional<URL> Parse(std::string_view text);
    // The reference resolved against the base (which must have a scheme); nothing when the
    // reference does not parse or the base is not absolute.
    static std::optional<URL> Resolve(std::string_view reference, const URL& base);
    // "file://" and the absolute path (made absolute against the working directory when it is
    // relative), each byte that may not stand in a path escaped; a directory ends in "/".
    static URL FileURL(const std::string& path, bool isDirectory = false);

    std::string AbsoluteString() const;
    // Everything after the scheme's colon ("//host/path?q" of "http://host/path?q").
    std::string ResourceSpecifier() const;

    bool IsAbsolute() const { return hasScheme_; }
    const std::string& Scheme() const { return scheme_; }
    bool HasAuthority() const { return hasAuthority_; }
    const std::string& Authority() const { return authority_; }
    // The host as written, without the brackets of an IPv6 literal.
    const std::string& Host() const { return host_; }
    // -1 when the URL names no port.
    int Port() const { return port_; }
    // The port, or 80 for http and 443 for https; -1 for other schemes without a port.
    int PortOrDefault() const;
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::string& PercentEncodedPath() const { return path_; }
    // The path percent-decoded, a trailing '/' dropped (except for the root "/").
    std::string Path() const;
    bool HasQuery() const { return hasQuery_; }
    const std::string& Query() const { return query_; }
    bool HasFragment() const { return hasFragment_; }
    const std::string& Fragment() const { return fragment_; }

    // Scheme compared without regard to case.
    bool IsFileURL() const;
    bool IsHTTP() const;  // http or https
    // The decoded path of a file URL; empty for other URLs and for a path holding an escaped NUL.
    std::string FileSystemPath() const;

    // "/" for an absolute path, then each non-empty segment decoded.
    std::vector<std::string> PathComponents() const;
    // The last of PathComponents(), or "" when there are none.
    std::string LastPathComponent() const;
    // What follows the last '.' of the last component (not a leading dot); "" when none.
    std::string PathExtension() const;
    // The path with one '/' and the component (escaped, its own '/' kept) appended; query and
    // fragment are kept.
    URL AppendingPathComponent(const std::string& component) const;
    // The same URL without its fragment.
    URL WithoutFragment() const;

    bool operator==(const URL& other) const { return AbsoluteString() == other.AbsoluteString(); }
    bool operator!=(const URL& other) const { return !(*this == other); }

    // RFC 3986 section 5.2.4.
    static std::string RemoveDotSegments(std::string_view path);

private:
    bool ParseAuthority();

    bool hasScheme_ = false;
    std::string scheme_;
    bool hasAuthority_ = false;
    std::string authority_;
    std::string user_;
    std::string password_;
    std::string host_;
    int port_ = -1;
    std::string path_;
    bool hasQuery_ = false;
    std::string query_;
    bool hasFragment_ = false;
    std::string fragment_;
};

}  // namespace ns

#endif
