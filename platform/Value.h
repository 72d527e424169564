#ifndef PLATFORM_VALUE_H
#define PLATFORM_VALUE_H
// The value type the JSON library and the application use in place of the platform's
// collection classes: null, boolean, signed and unsigned 64-bit integers, double, exact
// decimal, UTF-8 string (embedded NUL allowed), array, dictionary, and the two kinds a property
// list adds: raw bytes (data) and a point in time (date).
//
// Lookups never throw: a missing key, an index out of range or a lookup on a value of another
// kind yields a shared null value, so lookups can be chained
// (`info["video"]["drm"]["deliveryUri"]`). `Find` tells a missing member from a JSON null.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Decimal.h"

namespace ns {

class Value;

using Array = std::vector<Value>;

// Raw bytes, as a property list's <data> holds them.
class Data {
public:
    Data() = default;
    explicit Data(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    explicit Data(std::string_view bytes) : bytes_(bytes.begin(), bytes.end()) {}

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

    bool operator==(const Data& other) const { return bytes_ == other.bytes_; }
    bool operator!=(const Data& other) const { return !(*this == other); }

private:
    std::vector<uint8_t> bytes_;
};

// A point in time in whole seconds since 1970-01-01T00:00:00Z (UTC, no leap seconds), as a
// property list's <date> holds it.
class Date {
public:
    Date() = default;
    explicit Date(int64_t secondsSince1970) : seconds_(secondsSince1970) {}

    int64_t SecondsSince1970() const { return seconds_; }

    // "2024-02-29T13:05:09Z". Years outside 1 to 9999 cannot be written this way and give "".
    std::string ToISO8601() const;
    // Reads exactly the form ToISO8601 writes (date, "T", time, "Z"), with the calendar checked
    // (no 30 February, no hour 24). False, and `out` untouched, for anything else.
    static bool FromISO8601(std::string_view text, Date& out);

    bool operator==(const Date& other) const { return seconds_ == other.seconds_; }
    bool operator!=(const Date& other) const { return !(*this == other); }

private:
    int64_t seconds_ = 0;
};

// String-keyed map that keeps its keys in insertion order. Setting a key that is already
// present replaces its value in place. Lookups are hashed once the dictionary grows, so
// building a large object stays linear.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;

    Dictionary() = default;
    Dictionary(const Dictionary& other);
    Dictionary(Dictionary&& other) noexcept = default;
    Dictionary& operator=(const Dictionary& other);
    Dictionary& operator=(Dictionary&& other) noexcept = default;
    // Releases the members' contents with the blocks of those a few places on asked for
    // ahead (see ReleaseMembers in Value.cpp).
    ~Dictionary();

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    const Value* Find(std::string_view key) const;
    Value* Find(std::string_view key);
    void Set(std::string key, Value value);
    // Sets `count` members in one step, moved out of keys[i] and values[i]: the same result as
    // Set for each in turn (a key given twice keeps its first place and takes its last value),
    // for builders that collect a whole object's members before they make it.
    void SetAll(std::string* keys, Value* values, size_t count);
    std::vector<std::string> Keys() const;

    // Same keys with equal values, in any order.
    bool operator==(const Dictionary& other) const;
    bool operator!=(const Dictionary& other) const { return !(*this == other); }

private:
    ptrdiff_t Slot(std::string_view key, size_t hash) const;
    void Rehash(size_t slots);

    std::vector<Entry> entries_;
    // Open-addressing table of entry numbers + 1 (0: empty slot); only past kIndexFrom entries.
    // Element 0 holds the number of slots that follow it. One pointer rather than a vector
    // keeps the dictionary, and so every ns::Value, 16 bytes smaller (40 instead of 56): a
    // parsed document's tree is mostly values.
    std::unique_ptr<uint32_t[]> index_;
    // Up to 16 entries a scan costs about what hashing the key does, and objects of 9 to 16
    // members (records) are common enough that an index of their own for each one (an
    // allocation, every key hashed) cost a parsed document about a tenth of its time.
    static constexpr size_t kIndexFrom = 16;
};

class Value {
public:
    enum class Kind {
        Null,
        Bool,
        Int,
        UInt,
        Double,
        Decimal,
        String,
        Array,
        Dictionary,
        Data,
        Date
    };

    Value() = default;
    Value(const Value&) = default;
    Value(Value&&) noexcept = default;
    Value& operator=(const Value&) = default;
    Value& operator=(Value&&) noexcept = default;
    // An array's elements are released as a dictionary's members are (~Dictionary).
    ~Value() {
        if (data_.index() == static_cast<size_t>(Kind::Array)) {
            ReleaseElements();
        }
    }
    Value(std::nullptr_t) {}
    Value(bool b) : data_(b) {}
    Value(int i) : data_(int64_t{i}) {}
    Value(long i) : data_(int64_t{i}) {}
    Value(long long i) : data_(int64_t{i}) {}
    Value(unsigned u) : data_(uint64_t{u}) {}
    Value(unsigned long u) : data_(uint64_t{u}) {}
    Value(unsigned long long u) : data_(uint64_t{u}) {}
    Value(double d) : data_(d) {}
    Value(const ns::Decimal& d) : data_(d) {}
    Value(std::string s) : data_(std::move(s)) {}
    Value(const char* s) : data_(std::string(s ? s : "")) {}
    Value(std::string_view s) : data_(std::string(s)) {}
    Value(ns::Array a) : data_(std::move(a)) {}
    Value(ns::Dictionary d) : data_(std::move(d)) {}
    Value(ns::Data d) : data_(std::move(d)) {}
    Value(ns::Date d) : data_(d) {}

    Kind GetKind() const { return static_cast<Kind>(data_.index()); }
    bool IsNull() const { return GetKind() == Kind::Null; }
    bool IsBool() const { return GetKind() == Kind::Bool; }
    // Int, UInt, Double or Decimal (a boolean is not a number here).
    bool IsNumber() const;
    bool IsString() const { return GetKind() == Kind::String; }
    bool IsArray() const { return GetKind() == Kind::Array; }
    bool IsDictionary() const { return GetKind() == Kind::Dictionary; }
    bool IsData() const { return GetKind() == Kind::Data; }
    bool IsDate() const { return GetKind() == Kind::Date; }

    // The stored value when it is of that kind, else nullptr.
    const bool* AsBool() const { return std::get_if<bool>(&data_); }
    const int64_t* AsInt() const { return std::get_if<int64_t>(&data_); }
    const uint64_t* AsUInt() const { return std::get_if<uint64_t>(&data_); }
    const double* AsDouble() const { return std::get_if<double>(&data_); }
    const ns::Decimal* AsDecimal() const { return std::get_if<ns::Decimal>(&data_); }
    const std::string* AsString() const { return std::get_if<std::string>(&data_); }
    const ns::Array* AsArray() const { return std::get_if<ns::Array>(&data_); }
    ns::Array* AsArray() { return std::get_if<ns::Array>(&data_); }
    const ns::Dictionary* AsDictionary() const { return std::get_if<ns::Dictionary>(&data_); }
    ns::Dictionary* AsDictionary() { return std::get_if<ns::Dictionary>(&data_); }
    const ns::Data* AsData() const { return std::get_if<ns::Data>(&data_); }
    const ns::Date* AsDate() const { return std::get_if<ns::Date>(&data_); }

    // Lookups: the member or element, or a shared null value. Never throw.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](size_t index) const;
    // The member, or nullptr when this is not a dictionary or has no such key.
    const Value* Find(std::string_view key) const;
    // Elements of an array or members of a dictionary; 0 for every other kind.
    size_t Count() const;

    // Appends to an array / stores in a dictionary; false (nothing changed) for other kinds.
    bool Append(Value value);
    bool Set(std::string key, Value value);

    // Conversions after the platform's rules for numbers and strings:
    // - numbers convert as C does, but a double or decimal out of range saturates (NaN: 0);
    //   a 64-bit integer is cut to its low 32 bits by IntValue;
    // - a string is read from its start: leading white space, an optional sign and the
    //   digits that follow (IntValue / Int64Value saturate; no digits: 0); BoolValue is true
    //   when, after white space, a sign and leading zeros, the first character is one of
    //   "YyTt1-9"; DoubleValue reads a decimal floating-point prefix (no locale);
    // - true and false are 1 and 0; null, arrays, dictionaries, data and dates give 0 / false.
    int32_t IntValue() const;
    int64_t Int64Value() const;
    bool BoolValue() const;
    double DoubleValue() const;
    // A string itself; a number's text; "1" / "0" for booleans; "" for the other kinds.
    std::string StringValue() const;

    // One-line text for log lines, JSON-like: {"a": [1, "x"], "b": null}; data as hexadecimal
    // in angle brackets (<0a1b>), a date as its ISO 8601 text.
    std::string Description() const;

    // Numbers compare by value across Int, UInt and Decimal (exactly) and against Double
    // (through the nearest double); booleans equal only booleans; dictionaries ignore order.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

private:
    void ReleaseElements();

    std::variant<std::monostate, bool, int64_t, uint64_t, double, ns::Decimal, std::string,
                 ns::Array, ns::Dictionary, ns::Data, ns::Date>
        data_;
};

// The shared null value that failed lookups return.
const Value& NullValue();

}  // namespace ns

#endif  // PLATFORM_VALUE_H
