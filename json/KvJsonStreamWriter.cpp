#include "json/KvJsonStreamWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "json/KvJsonStreamWriterState.h"
#include "json/KvJsonUTF8Stream.h"
#include "platform/EscapeTable.h"

namespace {

constexpr size_t kInitialWriterDepth = 32;
constexpr size_t kInitialBufferSize = 4096;

// What a byte below 0x20, '"' or '\\' becomes inside a string: \b \t \n \f \r \" \\, and
// "\u00" with two lower-case hexadecimal digits for the others.
constexpr ns::EscapeTable kEscapes(ns::EscapeTable::kUnicode | ns::EscapeTable::kLetters);

// Numbers up to this long are copied as a block of this size.
constexpr size_t kShortNumber = 32;

// CopyPlainString may write this many bytes past the end of the text it copies.
constexpr size_t kCopySlack = 8;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Loads and stores of 2, 4 or 8 bytes at any alignment. Each byte keeps a lane of its own
// in the value, whatever the byte order.
template <typename T>
inline uint64_t Load(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <typename T>
inline void Store(char* at, uint64_t value) {
    const T narrow = static_cast<T>(value);
    std::memcpy(at, &narrow, sizeof(T));
}

// Flags (in each byte's high bit) the bytes that a JSON string cannot hold as they are or
// that are not ASCII: below 0x20, '"', '\\', and from 0x80 up. Borrows only run upwards from
// a flagged byte, so "any flag" is exact. Padding with 'a' (0x61) flags nothing.
inline uint64_t NotPlain(uint64_t word) {
    const uint64_t quote = word ^ (kOnes * '"');
    const uint64_t backslash = word ^ (kOnes * '\\');
    return ((((word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes)) & ~word) | word) &
           kHighBits;
}

// Copies `length` bytes to `out` (which has room for kCopySlack more) and answers whether
// they are all plain ASCII that needs no escape. Short texts go in overlapping words, without
// a call to memcpy: strings are mostly keys and short values.
inline bool CopyPlainString(char* out, const char* text, size_t length) {
    if (length >= 8) {
        uint64_t flags = 0;
        size_t i = 0;
        for (; length - i > 8; i += 8) {
            const uint64_t word = Load<uint64_t>(text + i);
            flags |= NotPlain(word);
            Store<uint64_t>(out + i, word);
        }
        const uint64_t last = Load<uint64_t>(text + length - 8);
        Store<uint64_t>(out + length - 8, last);
        return (flags | NotPlain(last)) == 0;
    }
    constexpr uint64_t kPadding = kOnes * 'a';
    if (length >= 4) {
        const uint64_t head = Load<uint32_t>(text);
        const uint64_t tail = Load<uint32_t>(text + length - 4);
        Store<uint32_t>(out, head);
        Store<uint32_t>(out + length - 4, tail);
        return NotPlain(head | tail << 32) == 0;
    }
    if (length >= 2) {
        const uint64_t head = Load<uint16_t>(text);
        const uint64_t tail = Load<uint16_t>(text + length - 2);
        Store<uint16_t>(out, head);
        Store<uint16_t>(out + length - 2, tail);
        return NotPlain(head | tail << 16 | kPadding << 32) == 0;
    }
    if (length == 1) {
        const uint64_t byte = static_cast<unsigned char>(text[0]);
        out[0] = text[0];
        return NotPlain(byte | kPadding << 8) == 0;
    }
    return true;
}

// The writer's time goes mostly to waiting for the tree: members and elements lie in a row,
// which the processor fetches ahead by itself, but the blocks they point to (a container's
// members, a long string's text) lie wherever the allocator put them. So while one member is
// written, the blocks of those a few places further on are asked for: the block of the member
// kPrefetchFar ahead (up to kPrefetchBytes of it), and the first line of what the members of
// the one kPrefetchNear ahead point to (its block having arrived by then). Writing a value
// reads what was fetched, so a prefetch costs nothing but its instructions.
constexpr size_t kPrefetchNear = 2;
constexpr size_t kPrefetchFar = 4;
constexpr size_t kPrefetchBytes = 1024;  // a record's members
constexpr size_t kCacheLine = 64;

// GCC counts a prefetch as no effect at all: a function or a loop of nothing else is
// dropped as if it did nothing, hence always inline, and a volatile marker in each loop.
#define SV_PREFETCH_INLINE inline __attribute__((always_inline))
#define SV_PREFETCH_KEEP_LOOP() asm volatile("")

// Where the contents of `value` start (nullptr when it has none) and how many bytes they span.
SV_PREFETCH_INLINE const char* Contents(const ns::Value& value, size_t& bytes) {
    if (const ns::Dictionary* object = value.AsDictionary()) {
        bytes = object->size() * sizeof(ns::Dictionary::Entry);
        return object->empty() ? nullptr : reinterpret_cast<const char*>(&*object->begin());
    }
    if (const ns::Array* array = value.AsArray()) {
        bytes = array->size() * sizeof(ns::Value);
        return reinterpret_cast<const char*>(array->data());
    }
    if (const std::string* string = value.AsString()) {
        bytes = string->size();
        return string->data();
    }
    bytes = 0;
    return nullptr;
}

// The first line of the contents, and the others up to `limit` bytes.
SV_PREFETCH_INLINE void PrefetchContents(const ns::Value& value, size_t limit) {
    size_t bytes = 0;
    if (const char* at = Contents(value, bytes)) {
        __builtin_prefetch(at);
        bytes = std::min(bytes, limit);
        for (size_t offset = kCacheLine; offset < bytes; offset += kCacheLine) {
            __builtin_prefetch(at + offset);
            SV_PREFETCH_KEEP_LOOP();
        }
    }
}

SV_PREFETCH_INLINE const ns::Value& ValueOf(const ns::Value& element) { return element; }
SV_PREFETCH_INLINE const ns::Value& ValueOf(const ns::Dictionary::Entry& entry) {
    return entry.second;
}

// The first line of the contents of those of the `size` members from `first` on that lie
// within the prefetched part of their block.
template <typename Iterator>
SV_PREFETCH_INLINE void PrefetchMembers(Iterator first, size_t size) {
    const size_t count = std::min(size, kPrefetchBytes / sizeof(*first));
    for (size_t i = 0; i < count; ++i) {
        PrefetchContents(ValueOf(first[i]), 0);
        SV_PREFETCH_KEEP_LOOP();
    }
}

// Called for each member in turn, `at` pointing to the one about to be written.
template <typename Iterator>
SV_PREFETCH_INLINE void PrefetchAhead(Iterator at, Iterator end) {
    const ptrdiff_t left = end - at;
    if (left > static_cast<ptrdiff_t>(kPrefetchFar)) {
        PrefetchContents(ValueOf(at[kPrefetchFar]), kPrefetchBytes);
    }
    if (left > static_cast<ptrdiff_t>(kPrefetchNear)) {
        const ns::Value& near = ValueOf(at[kPrefetchNear]);
        if (const ns::Dictionary* object = near.AsDictionary()) {
            PrefetchMembers(object->begin(), object->size());
        } else if (const ns::Array* array = near.AsArray()) {
            PrefetchMembers(array->begin(), array->size());
        }
    }
}

const char* KindName(const ns::Value& value) {
    switch (value.GetKind()) {
        case ns::Value::Kind::Null: return "null";
        case ns::Value::Kind::Bool: return "boolean";
        case ns::Value::Kind::String: return "string";
        case ns::Value::Kind::Array: return "array";
        case ns::Value::Kind::Dictionary: return "dictionary";
        case ns::Value::Kind::Data: return "data";
        case ns::Value::Kind::Date: return "date";
        default: return "number";
    }
}

// Writes a decimal into `out` (kDecimalTextSize bytes) and answers its length: the plain
// text ("1.5", "0.001", "10000000000000000000000"), unless that would hold more digits than a
// JSON number the parser accepts (38); then the digits with an exponent, so that what is
// written reads back. "1e-128" is written "1E-128", not as 129 digits; an exponent above
// 127 (left by normalisation, as in 1 followed by 37 zeros, times 10^127) moves into
// padding zeros.
constexpr size_t kDecimalTextSize = 160;
size_t DecimalText(const ns::Decimal& decimal, char* out) {
    constexpr int64_t kMaxDigits = 38;
    constexpr int64_t kMaxExponent = 127;
    char digits[48];
    size_t n = 0;
    ns::Decimal::Mantissa m = decimal.GetMantissa();
    if (m <= UINT64_MAX) {
        n = static_cast<size_t>(
            std::to_chars(digits, digits + sizeof(digits), static_cast<uint64_t>(m)).ptr - digits);
    } else {
        char reversed[48];
        for (; m != 0; m /= 10) {
            reversed[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
        }
        std::reverse_copy(reversed, reversed + n, digits);
    }
    const int64_t exponent = decimal.IsZero() ? 0 : decimal.GetExponent();
    const int64_t count = static_cast<int64_t>(n);
    char* p = out;
    if (decimal.IsNegative()) {
        *p++ = '-';
    }
    const int64_t plainDigits = exponent >= 0 ? count + exponent : std::max(count, 1 - exponent);
    if (plainDigits <= kMaxDigits) {
        if (exponent >= 0) {
            p = std::copy(digits, digits + n, p);
            p = std::fill_n(p, exponent, '0');
        } else if (-exponent < count) {
            const size_t point = static_cast<size_t>(count + exponent);
            p = std::copy(digits, digits + point, p);
            *p++ = '.';
            p = std::copy(digits + point, digits + n, p);
        } else {
            *p++ = '0';
            *p++ = '.';
            p = std::fill_n(p, -exponent - count, '0');
            p = std::copy(digits, digits + n, p);
        }
        return static_cast<size_t>(p - out);
    }
    *p++ = digits[0];
    const int64_t padding =
        exponent > kMaxExponent ? std::min(exponent - kMaxExponent, kMaxDigits) : 0;
    if (n > 1 || padding > 0) {
        *p++ = '.';
        p = std::copy(digits + 1, digits + n, p);
        p = std::fill_n(p, padding, '0');
    }
    const int64_t scientific = exponent + count - 1;
    *p++ = 'E';
    *p++ = scientific < 0 ? '-' : '+';
    p = std::to_chars(p, out + kDecimalTextSize, scientific < 0 ? -scientific : scientific).ptr;
    return static_cast<size_t>(p - out);
}

}  // namespace

KvJsonStreamWriter::KvJsonStreamWriter() : state_(&KvJsonStreamWriterStateStart::sharedInstance()) {
    stateStack_.reserve(kInitialWriterDepth);
    grow(kInitialBufferSize);
}

// Keeps the bytes of a composite write together (see pending_).
struct KvJsonStreamWriter::Batch {
    explicit Batch(KvJsonStreamWriter& writer) : writer(writer) { ++writer.nesting_; }
    ~Batch() {
        --writer.nesting_;
        writer.flush();
    }
    KvJsonStreamWriter& writer;
};

void KvJsonStreamWriter::deliverPending() {
    if (delegate_ != nullptr && pendingSize_ > 0) {
        delegate_->writerAppendBytes(*this, pending_.get(), pendingSize_);
    }
    pendingSize_ = 0;
}

inline bool KvJsonStreamWriter::stateAllowsValue(bool isKey) {
    if (state_->acceptsValue(isKey)) {
        return true;
    }
    if (state_->isInvalidState(*this)) {
        return false;
    }
    return isKey || !state_->expectingKey(*this);
}

inline void KvJsonStreamWriter::beginValue() {
    state_->appendSeparator(*this);
    if (humanReadable_) {
        state_->appendWhitespace(*this);
    }
}

inline void KvJsonStreamWriter::endValue() {
    state_->transitionState(*this);
    flush();
}

bool KvJsonStreamWriter::writeNull() {
    if (!stateAllowsValue(false)) {
        return false;
    }
    beginValue();
    appendBytes("null", 4);
    endValue();
    return true;
}

bool KvJsonStreamWriter::writeBool(bool value) {
    if (!stateAllowsValue(false)) {
        return false;
    }
    beginValue();
    if (value) {
        appendBytes("true", 4);
    } else {
        appendBytes("false", 5);
    }
    endValue();
    return true;
}

bool KvJsonStreamWriter::writeNumber(const ns::Value& number) {
    if (const bool* b = number.AsBool()) {
        return writeBool(*b);
    }
    if (!number.IsNumber()) {
        error_ = std::string("JSON serialisation not supported for ") + KindName(number);
        return false;
    }
    if (!stateAllowsValue(false)) {
        return false;
    }
    // Formatted before anything is written, so that a failed write leaves no separator.
    char text[kDecimalTextSize];
    size_t length = 0;
    if (!formatNumber(number, text, length)) {
        return false;
    }
    beginValue();
    appendNumberText(text, length);
    endValue();
    return true;
}

// The text of a number (not a boolean) in `text` (kDecimalTextSize bytes); false with the
// error set for a double that JSON cannot hold.
bool KvJsonStreamWriter::formatNumber(const ns::Value& number, char* text, size_t& length) {
    char* end = text;
    if (const int64_t* i = number.AsInt()) {
        end = std::to_chars(text, text + kDecimalTextSize, *i).ptr;
    } else if (const uint64_t* u = number.AsUInt()) {
        end = std::to_chars(text, text + kDecimalTextSize, *u).ptr;
    } else if (const double* d = number.AsDouble()) {
        if (std::isnan(*d)) {
            error_ = "NaN is not a valid number in JSON";
            return false;
        }
        if (std::isinf(*d)) {
            error_ = *d > 0 ? "+Infinity is not a valid number in JSON"
                            : "-Infinity is not a valid number in JSON";
            return false;
        }
        // The "%.17g" form, without the locale's decimal separator.
        end = std::to_chars(text, text + kDecimalTextSize, *d, std::chars_format::general, 17).ptr;
    } else if (const ns::Decimal* decimal = number.AsDecimal()) {
        end = text + DecimalText(*decimal, text);
    }
    length = static_cast<size_t>(end - text);
    return true;
}

void KvJsonStreamWriter::appendNumberText(const char* text, size_t length) {
    if (length <= kShortNumber) {
        // Integers and most decimals: one copy of fixed size, no call to memcpy.
        std::memcpy(room(kShortNumber), text, kShortNumber);
        pendingSize_ += length;
    } else {
        appendBytes(text, length);
    }
}

// A whole value in compact form with keys in their stored order: the same bytes and the same
// first error as writing it through the states, which a value's own shape already obeys
// (keys are strings, members and elements alternate with separators), so they are not asked.
// `depth` counts the containers open around the value.
bool KvJsonStreamWriter::writeCompactValue(const ns::Value& value, size_t depth) {
    switch (value.GetKind()) {
        case ns::Value::Kind::Dictionary: {
            if (maxDepth_ != 0 && depth + 1 > maxDepth_) {
                error_ = "Nested too deep";
                return false;
            }
            appendByte('{');
            const ns::Dictionary& object = *value.AsDictionary();
            for (auto entry = object.begin(); entry != object.end(); ++entry) {
                PrefetchAhead(entry, object.end());
                if (entry != object.begin()) {
                    appendByte(',');
                }
                if (!appendString(entry->first)) {
                    return false;
                }
                appendByte(':');
                if (!writeCompactValue(entry->second, depth + 1)) {
                    return false;
                }
            }
            appendByte('}');
            return true;
        }
        case ns::Value::Kind::Array: {
            if (maxDepth_ != 0 && depth + 1 > maxDepth_) {
                error_ = "Nested too deep";
                return false;
            }
            appendByte('[');
            const ns::Array& array = *value.AsArray();
            for (auto element = array.begin(); element != array.end(); ++element) {
                PrefetchAhead(element, array.end());
                if (element != array.begin()) {
                    appendByte(',');
                }
                if (!writeCompactValue(*element, depth + 1)) {
                    return false;
                }
            }
            appendByte(']');
            return true;
        }
        case ns::Value::Kind::String: return appendString(*value.AsString());
        case ns::Value::Kind::Null: appendBytes("null", 4); return true;
        case ns::Value::Kind::Bool:
            if (*value.AsBool()) {
                appendBytes("true", 4);
            } else {
                appendBytes("false", 5);
            }
            return true;
        default: {
            if (!value.IsNumber()) {
                error_ = std::string("JSON serialisation not supported for ") + KindName(value);
                return false;
            }
            char text[kDecimalTextSize];
            size_t length = 0;
            if (!formatNumber(value, text, length)) {
                return false;
            }
            appendNumberText(text, length);
            return true;
        }
    }
}

bool KvJsonStreamWriter::writeString(std::string_view string) {
    if (!stateAllowsValue(true)) {
        return false;
    }
    const size_t mark = pendingSize_;
    beginValue();
    if (!appendString(string)) {
        pendingSize_ = mark;  // a failed write writes nothing, not even the separator
        return false;
    }
    endValue();
    return true;
}

bool KvJsonStreamWriter::appendString(std::string_view string) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(string.data());
    const size_t length = string.size();
    // Most strings are plain ASCII: copied between quotation marks while they are checked,
    // and written over when they need more work.
    char* out = room(length + kCopySlack + 2);
    if (CopyPlainString(out + 1, string.data(), length)) {
        out[0] = '"';
        out[length + 1] = '"';
        pendingSize_ += length + 2;
        return true;
    }
    const bool cacheable = length <= kStringCacheLength;
    if (cacheable && !cache_.empty()) {
        const auto cached = cache_.find(string);
        if (cached != cache_.end()) {
            appendBytes(cached->second.data(), cached->second.size());
            return true;
        }
    }
    if (!KvJsonUTF8Stream::isValidUTF8(bytes, length)) {
        error_ = "String is not valid UTF-8";
        return false;
    }
    const size_t start = pendingSize_;
    appendEncodedString(string);
    if (cacheable && cache_.size() < kStringCacheEntries) {
        if (cacheKeys_.empty()) {
            cacheKeys_.reserve(kStringCacheEntries);
        }
        cacheKeys_.emplace_back(string);
        cache_.emplace(cacheKeys_.back(),
                       std::string(pending_.get() + start, pendingSize_ - start));
    }
    return true;
}

// The string between quotation marks, with the bytes a JSON string cannot hold as they are
// escaped.
void KvJsonStreamWriter::appendEncodedString(std::string_view string) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(string.data());
    const size_t length = string.size();
    appendByte('"');
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = KvJsonUTF8Stream::findStringStop(bytes, 0, length); i < length;
         i = KvJsonUTF8Stream::findStringStop(bytes, i + 1, length)) {
        appendBytes(string.data() + run, i - run);
        const std::string_view escape = kEscapes[bytes[i]];
        appendBytes(escape.data(), escape.size());
        run = i + 1;
    }
    appendBytes(string.data() + run, length - run);
    appendByte('"');
}

void KvJsonStreamWriter::grow(size_t length) {
    size_t capacity = std::max<size_t>(pendingCapacity_, kInitialBufferSize);
    // Half as much again each time (as a doubling would not): the text of a 20 MB document
    // then ends in a buffer below the allocator's 32 MB limit for mapping blocks of their
    // own, taken from and returned to the heap, instead of one that is mapped, faulted in
    // page by page and unmapped again on every write.
    while (capacity - pendingSize_ < length) {
        capacity += capacity / 2;
    }
    char* buffer = static_cast<char*>(std::realloc(pending_.get(), capacity));
    if (buffer == nullptr) {
        throw std::bad_alloc();
    }
    pending_.release();
    pending_.reset(buffer);
    pendingCapacity_ = capacity;
}

std::string KvJsonStreamWriter::takeOutput() {
    std::string output(pending_.get(), pendingSize_);
    pendingSize_ = 0;
    return output;
}

bool KvJsonStreamWriter::openContainer(bool object) {
    if (!stateAllowsValue(false)) {
        return false;
    }
    if (maxDepth_ != 0 && stateStack_.size() + 1 > maxDepth_) {
        error_ = "Nested too deep";
        return false;
    }
    state_->appendSeparator(*this);
    if (humanReadable_ && !stateStack_.empty()) {
        state_->appendWhitespace(*this);
    }
    stateStack_.push_back(state_);
    if (object) {
        state_ = &KvJsonStreamWriterStateObjectStart::sharedInstance();
        appendByte('{');
    } else {
        state_ = &KvJsonStreamWriterStateArrayStart::sharedInstance();
        appendByte('[');
    }
    flush();
    return true;
}

void KvJsonStreamWriter::closeContainer(char bracket) {
    const KvJsonStreamWriterState* closing = state_;
    state_ = stateStack_.back();
    stateStack_.pop_back();
    if (humanReadable_) {
        closing->appendWhitespace(*this);
    }
    appendByte(bracket);
    endValue();
}

bool KvJsonStreamWriter::writeObjectOpen() { return openContainer(true); }

bool KvJsonStreamWriter::writeArrayOpen() { return openContainer(false); }

bool KvJsonStreamWriter::writeObjectClose() {
    if (state_->isInvalidState(*this)) {
        return false;
    }
    // Only an open object, empty or after a complete member, may be closed.
    if (state_ == &KvJsonStreamWriterStateObjectValue::sharedInstance()) {
        error_ = "Object key without value";
        return false;
    }
    if (state_ != &KvJsonStreamWriterStateObjectStart::sharedInstance() &&
        state_ != &KvJsonStreamWriterStateObjectKey::sharedInstance()) {
        error_ = "Object close outside an object";
        return false;
    }
    closeContainer('}');
    return true;
}

bool KvJsonStreamWriter::writeArrayClose() {
    if (state_->isInvalidState(*this) || state_->expectingKey(*this)) {
        return false;
    }
    if (state_ != &KvJsonStreamWriterStateArrayStart::sharedInstance() &&
        state_ != &KvJsonStreamWriterStateArrayValue::sharedInstance()) {
        error_ = "Array close outside an array";
        return false;
    }
    closeContainer(']');
    return true;
}

bool KvJsonStreamWriter::writeObject(const ns::Dictionary& object) {
    const Batch batch(*this);
    if (!writeObjectOpen()) {
        return false;
    }
    // Every write stops at the first failure: nothing is written after a broken member.
    auto writeMember = [this](const ns::Dictionary::Entry& entry) {
        return writeString(entry.first) && writeValue(entry.second);
    };
    if (sortKeys_) {
        std::vector<const ns::Dictionary::Entry*> entries;
        entries.reserve(object.size());
        for (const auto& entry : object) {
            entries.push_back(&entry);
        }
        if (sortKeysComparator_) {
            std::stable_sort(entries.begin(), entries.end(), [this](auto* a, auto* b) {
                return sortKeysComparator_(a->first, b->first) < 0;
            });
        } else {
            std::sort(entries.begin(), entries.end(),
                      [](auto* a, auto* b) { return a->first < b->first; });
        }
        for (const auto* entry : entries) {
            if (!writeMember(*entry)) {
                return false;
            }
        }
    } else {
        for (const auto& entry : object) {
            if (!writeMember(entry)) {
                return false;
            }
        }
    }
    return writeObjectClose();
}

bool KvJsonStreamWriter::writeArray(const ns::Array& array) {
    const Batch batch(*this);
    if (!writeArrayOpen()) {
        return false;
    }
    for (const ns::Value& element : array) {
        if (!writeValue(element)) {
            return false;
        }
    }
    return writeArrayClose();
}

bool KvJsonStreamWriter::writeValue(const ns::Value& value) {
    switch (value.GetKind()) {
        case ns::Value::Kind::Dictionary: return writeObject(*value.AsDictionary());
        case ns::Value::Kind::Array: return writeArray(*value.AsArray());
        case ns::Value::Kind::String: return writeString(*value.AsString());
        case ns::Value::Kind::Null: return writeNull();
        default: return writeNumber(value);
    }
}
