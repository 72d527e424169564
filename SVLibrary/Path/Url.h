#ifndef SVLIBRARY_PATH_URL_H
#define SVLIBRARY_PATH_URL_H

#include <cstddef>
#include <string>

// A small URL parser and the operations built on it. A URL here is a scheme (a letter, then
// letters, digits, '.', '+' or '-'), "://", an authority, an optional path starting with '/',
// an optional query starting with '?' and an optional fragment starting with '#'. Everything
// works on bytes; texts that are not URLs give empty results or false.
namespace SV {

// Finds the parts of a URL. On success writes each offset whose pointer is not null:
// schemeEnd (the offset of the "//"), pathStart, queryStart (its '?', or the fragment start),
// fragmentStart (its '#', or the length); pathStart <= queryStart <= fragmentStart.
bool ParseUrl(const std::string& url, size_t* schemeEnd = nullptr, size_t* pathStart = nullptr,
              size_t* queryStart = nullptr, size_t* fragmentStart = nullptr);

bool IsUrl(const std::string& url);

// The scheme in ASCII lower case.
std::string GetUrlScheme(const std::string& url);

// The last component of the path, percent-decoded; empty when there is no path.
std::string GetUrlFileName(const std::string& url);

// The percent-decoded value of the first query parameter whose key is exactly the name. When
// found is given it tells whether the key occurs (a key without '=' counts, with value "").
std::string GetUrlQueryParameter(const std::string& url, const std::string& name,
                                 bool* found = nullptr);

// The base URL's path extended by the percent-encoded relative path (so a '/' inside it
// becomes "%2F"), keeping the base's query and fragment.
std::string AppendUrlPath(const std::string& base, const std::string& relativePath);

// The URL up to the last '/' of its path, query and fragment dropped; scheme and authority
// only when the path is empty.
std::string GetUrlBase(const std::string& url);

// Keeps ASCII letters, digits and "-._~"; every other byte becomes "%XX" (upper-case hex).
// Reads the text up to its first NUL.
std::string PercentEncode(const std::string& text);

// Turns each "%XX" into its byte; an escape cut short by the end of the text is dropped, a '%'
// followed by anything but two hexadecimal digits stays as written, and '+' stays '+'. Reads
// the text up to its first NUL.
std::string PercentDecode(const std::string& text);

}  // namespace SV

#endif
