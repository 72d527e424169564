#include "platform/Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "platform/EscapeTable.h"

namespace ns {

namespace {

Decimal DecimalFromInt(int64_t i) {
    const uint64_t magnitude = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
    return Decimal(magnitude, 0, i < 0);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

size_t SkipSpace(std::string_view s, size_t i) {
    while (i < s.size() && IsSpace(s[i])) {
        ++i;
    }
    return i;
}

// Leading white space, an optional sign, then digits; saturates at the bounds; 0 without digits.
int64_t LeadingInteger(std::string_view s, int64_t min, int64_t max) {
    size_t i = SkipSpace(s, 0);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const uint64_t limit = negative ? 0 - static_cast<uint64_t>(min) : static_cast<uint64_t>(max);
    uint64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (value > (limit - digit) / 10) {
            return negative ? min : max;
        }
        value = value * 10 + digit;
    }
    if (negative) {
        return value == 0 ? 0 : static_cast<int64_t>(0 - value);
    }
    return static_cast<int64_t>(value);
}

bool LeadingBool(std::string_view s) {
    size_t i = SkipSpace(s, 0);
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        ++i;
    }
    while (i < s.size() && s[i] == '0') {
        ++i;
    }
    return i < s.size() && std::strchr("YyTt123456789", s[i]) != nullptr && s[i] != '\0';
}

// Decimal floating-point prefix of `s` after white space and an optional sign, independent of
// the locale. Overflow gives +-HUGE_VAL, underflow 0, no number 0.
double LeadingDouble(std::string_view s) {
    size_t i = SkipSpace(s, 0);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const char* first = s.data() + i;
    const char* last = s.data() + s.size();
    double value = 0;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Tell overflow from underflow by the position of the first significant digit.
        const char* p = first;
        int64_t integerDigits = 0;
        int64_t leadingZeros = 0;
        while (p < last && *p == '0') {
            ++p;
        }
        while (p < last && *p >= '0' && *p <= '9') {
            ++integerDigits;
            ++p;
        }
        if (p < last && *p == '.') {
            ++p;
            if (integerDigits == 0) {
                while (p < last && *p == '0') {
                    ++leadingZeros;
                    ++p;
                }
            }
            while (p < last && *p >= '0' && *p <= '9') {
                ++p;
            }
        }
        int64_t exponent = 0;
        if (p < last && (*p == 'e' || *p == 'E')) {
            ++p;
            bool negativeExponent = false;
            if (p < last && (*p == '+' || *p == '-')) {
                negativeExponent = *p == '-';
                ++p;
            }
            for (; p < last && *p >= '0' && *p <= '9'; ++p) {
                exponent = std::min<int64_t>(exponent * 10 + (*p - '0'), 1000000000);
            }
            if (negativeExponent) {
                exponent = -exponent;
            }
        }
        const int64_t magnitude = (integerDigits > 0 ? integerDigits : -leadingZeros) + exponent;
        value = magnitude > 0 ? HUGE_VAL : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0;
    }
    return negative ? -value : value;
}

int64_t SaturatedInt64(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= 9223372036854775808.0) {
        return std::numeric_limits<int64_t>::max();
    }
    if (d < -9223372036854775808.0) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(d);
}

int32_t SaturatedInt32(int64_t i) {
    return static_cast<int32_t>(std::clamp<int64_t>(i, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string ShortestDouble(double d) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), d);
    return std::string(buffer, result.ptr);
}

template <typename T>
std::string IntegerText(T i) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), i);
    return std::string(buffer, result.ptr);
}

// Strings in a description as JSON writes them, but for \b and \f, which are spelled by
// their number.
constexpr EscapeTable kDescriptionEscapes(EscapeTable::kUnicode);

void AppendDescription(std::string& out, const Value& value) {
    switch (value.GetKind()) {
        case Value::Kind::Null: out += "null"; break;
        case Value::Kind::Bool: out += *value.AsBool() ? "true" : "false"; break;
        case Value::Kind::String: kDescriptionEscapes.AppendQuoted(out, *value.AsString()); break;
        case Value::Kind::Array: {
            out += '[';
            bool first = true;
            for (const Value& element : *value.AsArray()) {
                if (!first) {
                    out += ", ";
                }
                first = false;
                AppendDescription(out, element);
            }
            out += ']';
            break;
        }
        case Value::Kind::Dictionary: {
            out += '{';
            bool first = true;
            for (const auto& entry : *value.AsDictionary()) {
                if (!first) {
                    out += ", ";
                }
                first = false;
                kDescriptionEscapes.AppendQuoted(out, entry.first);
                out += ": ";
                AppendDescription(out, entry.second);
            }
            out += '}';
            break;
        }
        case Value::Kind::Data: {
            static const char kHex[] = "0123456789abcdef";
            out += '<';
            for (uint8_t byte : value.AsData()->Bytes()) {
                out += kHex[byte >> 4];
                out += kHex[byte & 15];
            }
            out += '>';
            break;
        }
        case Value::Kind::Date: out += value.AsDate()->ToISO8601(); break;
        default: out += value.StringValue(); break;
    }
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back (the era
// arithmetic of 400-year cycles, exact for every year we accept).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int64_t year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads exactly `count` decimal digits at text[at...].
bool ReadDigits(std::string_view text, size_t at, size_t count, unsigned& out) {
    if (at + count > text.size()) {
        return false;
    }
    unsigned value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    out = value;
    return true;
}

}  // namespace

// ---- Date ----

std::string Date::ToISO8601() const {
    // Floor division, so that a second before 1970 still belongs to 1969-12-31.
    int64_t days = seconds_ / 86400;
    int64_t rest = seconds_ % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 1 || year > 9999) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(year),
                  month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

bool Date::FromISO8601(std::string_view text, Date& out) {
    // YYYY-MM-DDTHH:MM:SSZ, 20 characters.
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 20 || !ReadDigits(text, 0, 4, year) || text[4] != '-' ||
        !ReadDigits(text, 5, 2, month) || text[7] != '-' || !ReadDigits(text, 8, 2, day) ||
        text[10] != 'T' || !ReadDigits(text, 11, 2, hour) || text[13] != ':' ||
        !ReadDigits(text, 14, 2, minute) || text[16] != ':' || !ReadDigits(text, 17, 2, second) ||
        text[19] != 'Z') {
        return false;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    out = Date(DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second);
    return true;
}

// ---- Releasing a tree ----

namespace {

// Freeing a large tree (a parsed document) waits mostly for memory: each block it frees lies
// wherever the allocator put it, and both reading a container's members and free() itself
// (the block's header, just before it) touch it. So while one member is released, the blocks
// of the one kReleaseAhead places on are asked for. A prefetch never faults, so addresses
// just outside a block are harmless.
constexpr size_t kReleaseAhead = 4;
constexpr size_t kReleaseBytes = 1024;  // of a container's block
constexpr size_t kCacheLine = 64;

// The allocator's header just before a block, as an address only (never read here).
inline const void* HeaderOf(const void* block) {
    return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(block) - 16);
}

// GCC counts a prefetch as no effect at all and drops a function or a loop of nothing else:
// hence always inline, and a volatile marker in the loop.
inline __attribute__((always_inline)) void PrefetchBlock(const void* block, size_t bytes) {
    const char* at = static_cast<const char*>(block);
    __builtin_prefetch(HeaderOf(block));
    for (size_t offset = 0; offset < bytes; offset += kCacheLine) {
        __builtin_prefetch(at + offset);
        asm volatile("");
    }
}

inline __attribute__((always_inline)) void PrefetchForRelease(const Value& value) {
    if (const Array* array = value.AsArray()) {
        if (!array->empty()) {
            PrefetchBlock(array->data(), std::min(array->size() * sizeof(Value), kReleaseBytes));
        }
    } else if (const Dictionary* dictionary = value.AsDictionary()) {
        if (!dictionary->empty()) {
            PrefetchBlock(&*dictionary->begin(),
                          std::min(dictionary->size() * sizeof(Dictionary::Entry), kReleaseBytes));
        }
    } else if (const std::string* string = value.AsString()) {
        // Only a string too long to be kept inside its own object has a block of its own.
        if (string->capacity() >= sizeof(std::string)) {
            __builtin_prefetch(HeaderOf(string->data()));
        }
    }
}

// Releases the contents of `count` values, each reached through `at(i)`, leaving nulls (which
// the container's own destructor then passes over without touching memory elsewhere).
// Last member first: a tree is built front to back, so its last members' blocks lie nearest
// the top of the heap, and the first blocks freed of each size stay with the allocator's
// per-thread cache. Kept there, they keep the rest of the freed tree from merging into one
// free top that glibc hands back to the system, which the next tree of that size then takes
// again at a page fault per page (front to back, a parse of a 20 MB document took 25,000).
template <typename At>
void ReleaseMembers(size_t count, At at) {
    for (size_t i = count; i-- > 0;) {
        if (i >= kReleaseAhead) {
            PrefetchForRelease(at(i - kReleaseAhead));
        }
        Value& member = at(i);
        if (member.GetKind() >= Value::Kind::String) {
            member.~Value();
            new (&member) Value();
        }
    }
}

}  // namespace

void Value::ReleaseElements() {
    Array& array = *std::get_if<Array>(&data_);
    ReleaseMembers(array.size(), [&array](size_t i) -> Value& { return array[i]; });
}

Dictionary::~Dictionary() {
    ReleaseMembers(entries_.size(), [this](size_t i) -> Value& { return entries_[i].second; });
}

// ---- Dictionary ----

// A parsed tree is mostly values: their size decides its memory and how fast it is walked.
static_assert(sizeof(Value) <= 40, "ns::Value grew");

Dictionary::Dictionary(const Dictionary& other) : entries_(other.entries_) {
    if (other.index_) {
        const size_t length = size_t{other.index_[0]} + 1;
        index_.reset(new uint32_t[length]);
        std::copy(other.index_.get(), other.index_.get() + length, index_.get());
    }
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
    if (this != &other) {
        Dictionary copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ptrdiff_t Dictionary::Slot(std::string_view key, size_t hash) const {
    const uint32_t* slots = index_.get() + 1;
    const size_t mask = index_[0] - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const uint32_t entry = slots[i];
        if (entry == 0 || entries_[entry - 1].first == key) {
            return static_cast<ptrdiff_t>(i);
        }
    }
}

void Dictionary::Rehash(size_t slots) {
    index_.reset(new uint32_t[slots + 1]());
    index_[0] = static_cast<uint32_t>(slots);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const std::string& key = entries_[i].first;
        index_[1 + Slot(key, std::hash<std::string_view>()(key))] = static_cast<uint32_t>(i + 1);
    }
}

const Value* Dictionary::Find(std::string_view key) const {
    if (!index_) {
        for (const Entry& entry : entries_) {
            if (entry.first == key) {
                return &entry.second;
            }
        }
        return nullptr;
    }
    const uint32_t entry = index_[1 + Slot(key, std::hash<std::string_view>()(key))];
    return entry == 0 ? nullptr : &entries_[entry - 1].second;
}

Value* Dictionary::Find(std::string_view key) {
    return const_cast<Value*>(static_cast<const Dictionary*>(this)->Find(key));
}

void Dictionary::Set(std::string key, Value value) {
    if (!index_) {
        for (Entry& entry : entries_) {
            if (entry.first == key) {
                entry.second = std::move(value);
                return;
            }
        }
        entries_.emplace_back(std::move(key), std::move(value));
        if (entries_.size() > kIndexFrom) {
            Rehash(64);
        }
        return;
    }
    uint32_t& slot = index_[1 + Slot(key, std::hash<std::string_view>()(key))];
    if (slot != 0) {
        entries_[slot - 1].second = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
    slot = static_cast<uint32_t>(entries_.size());
    if (entries_.size() * 2 > index_[0]) {
        Rehash(size_t{index_[0]} * 2);
    }
}

namespace {

// One of 64 bits per key, from its length and its first and last bytes: keys with different
// bits differ, so a scan for an earlier equal key is only needed when its bit is taken.
inline uint64_t KeyBit(const std::string& key) {
    const size_t length = key.size();
    const unsigned first = length == 0 ? 0 : static_cast<unsigned char>(key[0]);
    const unsigned last = length == 0 ? 0 : static_cast<unsigned char>(key[length - 1]);
    return uint64_t{1} << ((length * 11 + first * 7 + last * 3) & 63);
}

}  // namespace

void Dictionary::SetAll(std::string* keys, Value* values, size_t count) {
    size_t i = 0;
    if (!index_) {
        // Up to where Set builds an index, a key is only compared with the others when its
        // bit says an equal one may be there. A new dictionary takes its members' room in one
        // block rather than growing (a record of 13 members: 1 block instead of 5, with the
        // moves between them); freeing trees last member first (ReleaseMembers) is what keeps
        // that from leaving the heap to be handed back whole after each tree.
        if (entries_.empty() && count <= kIndexFrom) {
            entries_.reserve(count);
        }
        uint64_t bits = 0;
        for (const Entry& entry : entries_) {
            bits |= KeyBit(entry.first);
        }
        for (; i < count && entries_.size() < kIndexFrom; ++i) {
            const uint64_t bit = KeyBit(keys[i]);
            if ((bits & bit) != 0) {
                Value* same = Find(keys[i]);
                if (same != nullptr) {
                    *same = std::move(values[i]);
                    continue;
                }
            }
            bits |= bit;
            entries_.emplace_back(std::move(keys[i]), std::move(values[i]));
        }
    }
    for (; i < count; ++i) {
        Set(std::move(keys[i]), std::move(values[i]));
    }
}

std::vector<std::string> Dictionary::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        keys.push_back(entry.first);
    }
    return keys;
}

bool Dictionary::operator==(const Dictionary& other) const {
    if (size() != other.size()) {
        return false;
    }
    for (const Entry& entry : entries_) {
        const Value* found = other.Find(entry.first);
        if (found == nullptr || *found != entry.second) {
            return false;
        }
    }
    return true;
}

// ---- Value ----

const Value& NullValue() {
    static const Value* const null = new Value();  // never destroyed: usable during exit
    return *null;
}

bool Value::IsNumber() const {
    switch (GetKind()) {
        case Kind::Int:
        case Kind::UInt:
        case Kind::Double:
        case Kind::Decimal: return true;
        default: return false;
    }
}

const Value& Value::operator[](std::string_view key) const {
    const Value* found = Find(key);
    return found ? *found : NullValue();
}

const Value& Value::operator[](size_t index) const {
    const Array* array = AsArray();
    return array && index < array->size() ? (*array)[index] : NullValue();
}

const Value* Value::Find(std::string_view key) const {
    const Dictionary* dictionary = AsDictionary();
    return dictionary ? dictionary->Find(key) : nullptr;
}

size_t Value::Count() const {
    if (const Array* array = AsArray()) {
        return array->size();
    }
    if (const Dictionary* dictionary = AsDictionary()) {
        return dictionary->size();
    }
    return 0;
}

bool Value::Append(Value value) {
    Array* array = AsArray();
    if (array == nullptr) {
        return false;
    }
    array->push_back(std::move(value));
    return true;
}

bool Value::Set(std::string key, Value value) {
    Dictionary* dictionary = AsDictionary();
    if (dictionary == nullptr) {
        return false;
    }
    dictionary->Set(std::move(key), std::move(value));
    return true;
}

int32_t Value::IntValue() const {
    switch (GetKind()) {
        case Kind::Bool: return *AsBool() ? 1 : 0;
        case Kind::Int: return static_cast<int32_t>(static_cast<uint32_t>(*AsInt()));
        case Kind::UInt: return static_cast<int32_t>(static_cast<uint32_t>(*AsUInt()));
        case Kind::Double: return SaturatedInt32(SaturatedInt64(*AsDouble()));
        case Kind::Decimal: return SaturatedInt32(AsDecimal()->ToInt64());
        case Kind::String:
            return static_cast<int32_t>(LeadingInteger(*AsString(),
                                                       std::numeric_limits<int32_t>::min(),
                                                       std::numeric_limits<int32_t>::max()));
        default: return 0;
    }
}

int64_t Value::Int64Value() const {
    switch (GetKind()) {
        case Kind::Bool: return *AsBool() ? 1 : 0;
        case Kind::Int: return *AsInt();
        case Kind::UInt: return static_cast<int64_t>(*AsUInt());
        case Kind::Double: return SaturatedInt64(*AsDouble());
        case Kind::Decimal: return AsDecimal()->ToInt64();
        case Kind::String:
            return LeadingInteger(*AsString(), std::numeric_limits<int64_t>::min(),
                                  std::numeric_limits<int64_t>::max());
        default: return 0;
    }
}

bool Value::BoolValue() const {
    switch (GetKind()) {
        case Kind::Bool: return *AsBool();
        case Kind::Int: return *AsInt() != 0;
        case Kind::UInt: return *AsUInt() != 0;
        case Kind::Double: return *AsDouble() != 0.0;
        case Kind::Decimal: return !AsDecimal()->IsZero();
        case Kind::String: return LeadingBool(*AsString());
        default: return false;
    }
}

double Value::DoubleValue() const {
    switch (GetKind()) {
        case Kind::Bool: return *AsBool() ? 1.0 : 0.0;
        case Kind::Int: return static_cast<double>(*AsInt());
        case Kind::UInt: return static_cast<double>(*AsUInt());
        case Kind::Double: return *AsDouble();
        case Kind::Decimal: return AsDecimal()->ToDouble();
        case Kind::String: return LeadingDouble(*AsString());
        default: return 0.0;
    }
}

std::string Value::StringValue() const {
    switch (GetKind()) {
        case Kind::Bool: return *AsBool() ? "1" : "0";
        case Kind::Int: return IntegerText(*AsInt());
        case Kind::UInt: return IntegerText(*AsUInt());
        case Kind::Double: return ShortestDouble(*AsDouble());
        case Kind::Decimal: return AsDecimal()->ToString();
        case Kind::String: return *AsString();
        default: return std::string();
    }
}

std::string Value::Description() const {
    std::string text;
    AppendDescription(text, *this);
    return text;
}

bool Value::operator==(const Value& other) const {
    const Kind kind = GetKind();
    const Kind otherKind = other.GetKind();
    if (IsNumber() && other.IsNumber()) {
        if (kind == Kind::Double || otherKind == Kind::Double) {
            return DoubleValue() == other.DoubleValue();
        }
        auto exact = [](const Value& v) {
            switch (v.GetKind()) {
                case Kind::Int: return DecimalFromInt(*v.AsInt());
                case Kind::UInt: return Decimal(*v.AsUInt(), 0, false);
                default: return *v.AsDecimal();
            }
        };
        return exact(*this) == exact(other);
    }
    if (kind != otherKind) {
        return false;
    }
    return data_ == other.data_;
}

}  // namespace ns
