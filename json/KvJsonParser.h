#ifndef JSON_KVJSONPARSER_H
#define JSON_KVJSONPARSER_H
// One call from a whole JSON document in memory to its value: wires a stream parser, an
// adapter and an accumulator together. The document must be one array or object, optionally
// surrounded by white space.

#include <cstddef>
#include <optional>
#include <string>

#include "json/KvJsonError.h"
#include "platform/Value.h"

class KvJsonParser {
public:
    // The value, or nothing with error() set. `bytes` nullptr stands for no input at all.
    std::optional<ns::Value> objectWithData(const void* bytes, size_t length);
    std::optional<ns::Value> objectWithString(const std::string& string);
    // As above; on failure also fills `error` (when given).
    std::optional<ns::Value> objectWithString(const std::string& string, KvJsonError* error);

    size_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(size_t maxDepth) { maxDepth_ = maxDepth; }
    const std::string& error() const { return error_; }

private:
    size_t maxDepth_ = 32;
    std::string error_;
};

#endif  // JSON_KVJSONPARSER_H
