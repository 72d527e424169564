#ifndef JSON_KVJSONSTREAMWRITER_H
#define JSON_KVJSONSTREAMWRITER_H
// Writes JSON text piece by piece (open and close containers, write values) and passes the
// bytes to a delegate. A state object per position decides separators, white space and what
// may come next. Every write returns false on error, with error() set; a failed write writes
// nothing.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
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

    KvJsonStreamWriterDelegate* delegate() const { return delegate_; }
    void setDelegate(KvJsonStreamWriterDelegate* delegate) { delegate_ = delegate; }
    const std::string& error() const { return error_; }
    // 0 means no limit.
    size_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(size_t maxDepth) { maxDepth_ = maxDepth; }
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }
    const KvJsonKeyComparator& sortKeysComparator() const { return sortKeysComparator_; }
    void setSortKeysComparator(KvJsonKeyComparator comparator) {
        sortKeysComparator_ = std::move(comparator);
    }

    // Strings whose encoded form (quotes included) is kept for reuse: short strings that need
    // work (escapes, or UTF-8 to check) and are written again and again are encoded once.
    // Plain ASCII without escapes is copied as it stands, which costs less than a lookup.
    // Bounded: at most kStringCacheEntries strings of at most kStringCacheLength bytes each,
    // the first such ones written.
    static constexpr size_t kStringCacheEntries = 32;
    static constexpr size_t kStringCacheLength = 256;
    size_t cachedStringCount() const { return cache_.size(); }

    // For the states.
    const std::vector<const KvJsonStreamWriterState*>& stateStack() const { return stateStack_; }
    void setState(const KvJsonStreamWriterState* state) { state_ = state; }
    void setError(std::string error) { error_ = std::move(error); }
    void appendBytes(const char* bytes, size_t length) {
        std::memcpy(room(length), bytes, length);
        pendingSize_ += length;
    }
    void appendByte(char byte) {
        *room(1) = byte;
        ++pendingSize_;
    }

private:
    bool stateAllowsValue(bool isKey);
    void beginValue();
    void endValue();
    bool openContainer(bool object);
    void closeContainer(char bracket);
    // Hands the pending bytes to the delegate once the outermost write ends (or a piece is
    // full).
    void flush() {
        if (!keepOutput_ && (nesting_ == 0 || pendingSize_ >= kPieceSize)) {
            deliverPending();
        }
    }
    void deliverPending();
    static constexpr size_t kPieceSize = 65536;
    // Where `length` more bytes of pending output go (the buffer grows as needed).
    char* room(size_t length) {
        if (pendingCapacity_ - pendingSize_ < length) {
            grow(length);
        }
        return pending_.get() + pendingSize_;
    }
    void grow(size_t length);
    void appendEncodedString(std::string_view string);
    // The value's bytes without separator or state change; false with the error set.
    bool appendString(std::string_view string);
    bool formatNumber(const ns::Value& number, char* text, size_t& length);
    void appendNumberText(const char* text, size_t length);
    bool writeCompactValue(const ns::Value& value, size_t depth);
    struct Batch;

    KvJsonStreamWriterDelegate* delegate_ = nullptr;
    std::string error_;
    size_t maxDepth_ = 32;
    bool humanReadable_ = false;
    bool sortKeys_ = false;
    KvJsonKeyComparator sortKeysComparator_;
    const KvJsonStreamWriterState* state_;
    std::vector<const KvJsonStreamWriterState*> stateStack_;
    // The bytes of the write in progress, handed over in one piece when the outermost write
    // call ends (or in 64 kB pieces during a large composite write).
    // Appends are the writer's inner loop: a buffer of its own, grown with realloc (which
    // moves a large buffer by remapping its pages rather than copying and zeroing them).
    struct Free {
        void operator()(char* buffer) const { std::free(buffer); }
    };
    std::unique_ptr<char, Free> pending_;
    size_t pendingSize_ = 0;
    size_t pendingCapacity_ = 0;
    // Set by KvJsonWriter, which wants the whole text in one string: nothing is handed to the
    // delegate, and takeOutput copies the text out once.
    bool keepOutput_ = false;
    friend class KvJsonWriter;
    std::string takeOutput();
    int nesting_ = 0;  // composite writes in progress
    // string -> encoded form; the keys view the strings in cacheKeys_, whose capacity is
    // reserved for every entry up front so that they never move.
    std::unordered_map<std::string_view, std::string> cache_;
    std::vector<std::string> cacheKeys_;
};

#endif  // JSON_KVJSONSTREAMWRITER_H
