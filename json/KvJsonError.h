#ifndef JSON_KVJSONERROR_H
#define JSON_KVJSONERROR_H
// Error object of the convenience parser and writer: code 0, the library's domain and the
// failure text as its localised description.

#include <string>

struct KvJsonError {
    int code = 0;
    std::string domain;
    std::string localizedDescription;
};

extern const char* const KvJsonParserErrorDomain;
extern const char* const KvJsonWriterErrorDomain;

#endif  // JSON_KVJSONERROR_H
