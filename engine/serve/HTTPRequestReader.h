#ifndef ENGINE_SERVE_HTTPREQUESTREADER_H
#define ENGINE_SERVE_HTTPREQUESTREADER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace SarvelonMediaKit {

// Reads one HTTP/1.x request head (request line and header fields, up to its blank line).
// Lines may end in CRLF or in a bare LF. Header names are matched without regard to case;
// repeated fields are joined with ", " as HTTP lists are. Nothing here throws. A Range field's
// value is read by SV::ByteRange.
class HTTPRequestReader {
public:
    enum Method : uint32_t {
        MethodOther = 0,
        MethodGet = 1,
        MethodHead = 2,
    };

    // One past the blank line that ends the first head in the bytes; 0 when it is not there.
    static size_t FindHeadEnd(const char* data, size_t size);

    // Whether a Host value (or the authority of an absolute target) names the loopback server:
    // "localhost", "127.0.0.1" or "[::1]", each alone or with ":port". Any other name, even one
    // that resolves to 127.0.0.1, is a page reaching the server through a name of its own
    // (DNS rebinding), and is refused.
    static bool IsLoopbackHost(const std::string& value);

    HTTPRequestReader();

    // Parses one complete head (as FindHeadEnd delimits it). False when the request line is not
    // "method SP target SP HTTP/1.x" with a target that names a path; the fields are then
    // left empty.
    bool Parse(const char* data, size_t size);

    uint32_t GetMethod() const { return method_; }
    const std::string& GetMethodName() const { return methodName_; }
    // The path of the target: "/" and on, without query; a "token::" in front of the name is
    // taken out ("/abc::1.m3u8" is "/1.m3u8").
    const std::string& GetPath() const { return path_; }
    // The token taken out of the path, empty when none.
    const std::string& GetPathPrefix() const { return pathPrefix_; }
    // A target in absolute form ("http://authority/path") names its host itself: then true,
    // with the authority as written.
    bool HasAbsoluteTarget() const { return absoluteTarget_; }
    const std::string& GetAuthority() const { return authority_; }
    // 1 for HTTP/1.1 (and later minor versions), 0 for HTTP/1.0.
    int GetMinorVersion() const { return minorVersion_; }
    // The field's value without surrounding blanks; empty when absent.
    std::string GetHeader(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // The Content-Length field: 0 when absent; false when present and not one decimal number.
    bool GetContentLength(uint64_t* length) const;
    // Whether the comma-separated list of the field holds the token (case-insensitive).
    bool HeaderHasToken(const std::string& name, const std::string& token) const;

private:
    bool ParseRequestLine(const std::string& line);

    uint32_t method_;
    std::string methodName_;
    std::string path_;
    std::string pathPrefix_;
    bool absoluteTarget_;
    std::string authority_;
    int minorVersion_;
    std::map<std::string, std::string> headers_;  // lower-case name to value
};

}  // namespace SarvelonMediaKit

#endif
