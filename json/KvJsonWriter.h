#pragma once
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

    bool sortKeys() const { return _sortKeys; }
    void setSortKeys(bool sortKeys) { _sortKeys = sortKeys; }
    bool humanReadable() const { return _humanReadable; }
    void setHumanReadable(bool humanReadable) { _humanReadable = humanReadable; }
    size_t maxDepth() const { return _maxDepth; }
    void setMaxDepth(size_t maxDepth) { _maxDepth = maxDepth; }
    const KvJsonKeyComparator& sortKeysComparator() const { return _sortKeysComparator; }
    void setSortKeysComparator(KvJsonKeyComparator comparator) {
        _sortKeysComparator = std::move(comparator);
    }
    const std::string& error() const { return _error; }

private:
    bool _sortKeys = false;
    bool _humanReadable = false;
    size_t _maxDepth = 32;
    KvJsonKeyComparator _sortKeysComparator;
    std::string _error;
};
