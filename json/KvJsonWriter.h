#ifndef JSON_KVJSONWRITER_H
#define JSON_KVJSONWRITER_H
// One call from a whole value (a dictionary or an array) to its JSON text, compact or
// human-readable (two-space indentation), with keys in their stored or in sorted order.

#include <cstddef>
#include <optional>
#include <string>

#include "json/KvJsonError.h"
#include "json/KvJsonStreamWriter.h"
#include "platform/Value.h"

class KvJsonWriter {
public:
    // The UTF-8 bytes, or nothing with error() set.
    std::optional<std::string> dataWithObject(const ns::Value& value);
    std::optional<std::string> stringWithObject(const ns::Value& value);
    // As above; on failure also fills `error` (when given).
    std::optional<std::string> stringWithObject(const ns::Value& value, KvJsonError* error);

    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
    size_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(size_t maxDepth) { maxDepth_ = maxDepth; }
    const KvJsonKeyComparator& sortKeysComparator() const { return sortKeysComparator_; }
    void setSortKeysComparator(KvJsonKeyComparator comparator) {
        sortKeysComparator_ = std::move(comparator);
    }
    const std::string& error() const { return error_; }

private:
    bool sortKeys_ = false;
    bool humanReadable_ = false;
    size_t maxDepth_ = 32;
    KvJsonKeyComparator sortKeysComparator_;
    std::string error_;
};

#endif  // JSON_KVJSONWRITER_H
