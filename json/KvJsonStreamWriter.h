#pragma once
// Writes JSON text piece by piece (open and close containers, write values) and passes the
// bytes to a delegate. A state object per position decides separators, white space and what
// may come next. Every write returns false on error, with error() set; a failed write writes
// nothing.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

class KvJsonStreamWriter;
class KvJsonStreamWriterState;

class KvJsonStreamWriterDelegate {
public:
    virtual ~KvJsonStreamWriterDelegate() = default;
    virtual void writerAppendBytes(KvJsonStreamWriter& writer, const char* bytes,
                                   size_t length) = 0;
};

// Orders two keys: negative, zero or positive.
using KvJsonKeyComparator = std::function<int(const std::string&, const std::string&)>;

class KvJsonStreamWriter {
public:
    KvJsonStreamWriter();

    bool writeObject(const ns::Dictionary& object);
    bool writeArray(const ns::Array& array);
    bool writeObjectOpen();
    bool writeObjectClose();
    bool writeArrayOpen();
    bool writeArrayClose();
    bool writeNull();
    bool writeBool(bool value);
    // Booleans, integers, doubles (finite ones) and decimals.
    bool writeNumber(const ns::Value& number);
    // Fails for text that is not valid UTF-8: the output stays valid JSON.
    bool writeString(std::string_view string);
    bool writeValue(const ns::Value& value);

    KvJsonStreamWriterDelegate* delegate() const { return _delegate; }
    void setDelegate(KvJsonStreamWriterDelegate* delegate) { _delegate = delegate; }
    const std::string& error() const { return _error; }
    // 0 means no limit.
    size_t maxDepth() const { return _maxDepth; }
    void setMaxDepth(size_t maxDepth) { _maxDepth = maxDepth; }
    bool humanReadable() const { return _humanReadable; }
    void setHumanReadable(bool humanReadable) { _humanReadable = humanReadable; }
    bool sortKeys() const { return _sortKeys; }
    void setSortKeys(bool sortKeys) { _sortKeys = sortKeys; }
    const KvJsonKeyComparator& sortKeysComparator() const { return _sortKeysComparator; }
    void setSortKeysComparator(KvJsonKeyComparator comparator) {
        _sortKeysComparator = std::move(comparator);
    }

    // For the states.
    const std::vector<const KvJsonStreamWriterState*>& stateStack() const { return _stateStack; }
    void setState(const KvJsonStreamWriterState* state) { _state = state; }
    void setError(std::string error) { _error = std::move(error); }
    void appendBytes(const char* bytes, size_t length) { _pending.append(bytes, length); }
    void appendByte(char byte) { _pending.push_back(byte); }

private:
    bool stateAllowsValue(bool isKey);
    void beginValue();
    void endValue();
    bool openContainer(bool object);
    void closeContainer(char bracket);
    void flush();
    struct Batch;

    KvJsonStreamWriterDelegate* _delegate = nullptr;
    std::string _error;
    size_t _maxDepth = 32;
    bool _humanReadable = false;
    bool _sortKeys = false;
    KvJsonKeyComparator _sortKeysComparator;
    const KvJsonStreamWriterState* _state;
    std::vector<const KvJsonStreamWriterState*> _stateStack;
    // The bytes of the write in progress, handed over in one piece when the outermost write
    // call ends (or in 64 kB pieces during a large composite write).
    std::string _pending;
    int _nesting = 0;  // composite writes in progress
};
