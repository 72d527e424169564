#ifndef SVLIBRARY_TYPEDVALUE_SVTYPEDVALUE_H
#define SVLIBRARY_TYPEDVALUE_SVTYPEDVALUE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SV {

class SVDictionary;
class SVTypedValue;
class SVTypedValueRep;

// What a value holds. The numbers are also the kind byte of the byte format.
enum class SVTypedValueKind : uint32_t {
    Null = 0,
    UnsignedInt = 1,
    SignedInt = 2,
    UnsignedLong = 3,
    SignedLong = 4,  // only ever made by reading bytes
    Float = 5,
    Boolean = 6,
    String = 7,
    Array = 8,
    Dictionary = 9,
    DataBlob = 10,
};

using SVTypedValueArray = std::vector<SVTypedValue>;
using SVDataBlob = std::vector<uint8_t>;

// Deepest nesting of arrays and dictionaries that reading bytes accepts. Reading recurses once
// per level, and so do printing, copying and destroying what was read; deeper input is refused
// rather than allowed to exhaust the stack.
constexpr uint32_t kSVTypedValueMaxNesting = 64;

// A tagged value: nothing, a number, a boolean, a text, an array, a dictionary or a block of
// bytes. A composite value (text, array, dictionary, blob) owns its representation outright;
// every copy clones it, so a copy can go to another thread without sharing anything.
class SVTypedValue {
public:
    SVTypedValue();
    SVTypedValue(uint32_t value);           // UnsignedInt
    SVTypedValue(int32_t value);            // SignedInt
    SVTypedValue(uint64_t value);           // UnsignedLong
    SVTypedValue(float value);              // Float
    SVTypedValue(bool value);               // Boolean
    SVTypedValue(const std::string& text);  // String
    // A string literal would otherwise convert to bool ahead of std::string.
    SVTypedValue(const char* text);                // String
    SVTypedValue(const SVTypedValueArray& array);  // Array
    SVTypedValue(const SVDictionary& dictionary);  // Dictionary
    SVTypedValue(const SVDataBlob& blob);          // DataBlob

    SVTypedValue(const SVTypedValue& other);
    // Takes the other's content without cloning; the other is left Null.
    SVTypedValue(SVTypedValue&& other) noexcept;
    SVTypedValue& operator=(const SVTypedValue& other);
    SVTypedValue& operator=(SVTypedValue&& other) noexcept;
    ~SVTypedValue();

    // Releases any representation and makes the value Null.
    void Clear();

    // After a failed read this may be a number above 10 (the kind byte that was read).
    SVTypedValueKind GetKind() const { return static_cast<SVTypedValueKind>(kind_); }

    // Typed getters: true and the held value in `out` when the kind matches, else false and
    // `out` untouched. Nothing is ever converted between kinds.
    bool GetUnsignedInt(uint32_t& out) const;
    bool GetSignedInt(int32_t& out) const;
    bool GetUnsignedLong(uint64_t& out) const;
    bool GetFloat(float& out) const;
    bool GetBoolean(bool& out) const;
    // These hand out a pointer into the value (nothing is copied), valid until the value is
    // cleared, overwritten or destroyed.
    bool GetString(const std::string*& out) const;
    bool GetArray(const SVTypedValueArray*& out) const;
    bool GetDictionary(const SVDictionary*& out) const;
    bool GetDataBlob(const SVDataBlob*& out) const;

    // Appends the value's encoding (kind byte, then payload) to `output`.
    void Serialize(std::vector<uint8_t>& output) const;
    // Reads one encoded value at `offset`; returns the bytes consumed, 0 on failure. The value
    // is cleared first; after a failure its content is not meaningful. `nesting` counts the
    // arrays and dictionaries around this value and stays 0 for a caller outside this library.
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset, uint32_t nesting = 0);
    // Appends the printed form, each line starting with `indent`.
    void Print(const std::string& indent, std::string& output) const;

private:
    bool IsComposite() const { return kind_ >= 7 && kind_ <= 10; }
    const SVTypedValueRep* Rep(uint32_t kind) const {
        return kind_ == kind ? payload_.rep : nullptr;
    }

    union Payload {
        uint32_t u32;
        int32_t s32;
        uint64_t u64;
        int64_t s64;
        float f;
        uint8_t b;
        SVTypedValueRep* rep;  // composite kinds; owned, may be null only after memory ran out
    };

    uint32_t kind_;
    Payload payload_;
};

}  // namespace SV

#endif
