#ifndef SVLIBRARY_TYPEDVALUE_SVDICTIONARY_H
#define SVLIBRARY_TYPEDVALUE_SVDICTIONARY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVTypedValue.h"

namespace SV {

// A map from text keys to typed values, sorted by the keys' bytes (unsigned, so "B" comes before
// "a"). It is the map itself: look-up, indexing, iteration, size and clear stay available.
// Copying copies every value, so a copy shares nothing with its source.
class SVDictionary : public std::map<std::string, SVTypedValue> {
public:
    using std::map<std::string, SVTypedValue>::map;

    // Stores a copy of `value` under `key`, replacing what was there.
    void SetValue(const std::string& key, const SVTypedValue& value);
    // The stored value (changeable in place), or null when the key is absent.
    SVTypedValue* GetValue(const std::string& key);
    const SVTypedValue* GetValue(const std::string& key) const;
    // Erases the entry if there is one.
    void RemoveValue(const std::string& key);
    // Copies `source`'s value under `key` here; when `source` lacks the key, removes it here if
    // `removeIfAbsent`, else leaves it.
    void CopyValue(const std::string& key, const SVDictionary& source, bool removeIfAbsent);
    // Copies every entry of `source` that is missing here, or every entry when `overwrite`.
    void Merge(const SVDictionary& source, bool overwrite);

    // True, with the value in `out`, only when the key holds a value of the getter's kind;
    // `out` is left alone otherwise.
    bool GetUnsignedInt(const std::string& key, uint32_t& out) const;
    bool GetSignedInt(const std::string& key, int32_t& out) const;
    bool GetUnsignedLong(const std::string& key, uint64_t& out) const;
    bool GetFloat(const std::string& key, float& out) const;
    bool GetBoolean(const std::string& key, bool& out) const;
    bool GetString(const std::string& key, const std::string*& out) const;
    bool GetDataBlob(const std::string& key, const SVDataBlob*& out) const;

    // The stored value when the key holds one of the right kind, else `fallback`.
    uint32_t GetUnsignedIntOrDefault(const std::string& key, uint32_t fallback) const;
    float GetFloatOrDefault(const std::string& key, float fallback) const;
    bool GetBooleanOrDefault(const std::string& key, bool fallback) const;
    std::string GetStringOrDefault(const std::string& key, const std::string& fallback) const;

    // The dictionary's payload in the byte format: entry count, then per entry in key order the
    // key length, the key and the value's encoding. No kind byte.
    void Serialize(std::vector<uint8_t>& output) const;
    // Empties the dictionary, then reads a payload at `offset`; returns the bytes consumed, 0 on
    // failure. `nesting` counts the arrays and dictionaries around this one (0 from outside).
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset, uint32_t nesting = 0);
    void Print(const std::string& indent, std::string& output) const;
};

}  // namespace SV

#endif
