#include "SVLibrary/TypedValue/SVDictionary.h"

#include "SVLibrary/TypedValue/TypedValueDetail.h"
#include "SVLibrary/Util/ByteOrder.h"

namespace SV {

using TypedValueDetail::AppendBigEndian32;
using TypedValueDetail::AppendFormatted;
using TypedValueDetail::BytesLeft;

namespace {

// The fewest bytes one encoded entry can take: a key length and the value's kind byte.
constexpr uint64_t kSmallestEntryBytes = 5;

}  // namespace

void SVDictionary::SetValue(const std::string& key, const SVTypedValue& value) {
    (*this)[key] = value;
}

SVTypedValue* SVDictionary::GetValue(const std::string& key) {
    const auto it = find(key);
    return it == end() ? nullptr : &it->second;
}

const SVTypedValue* SVDictionary::GetValue(const std::string& key) const {
    const auto it = find(key);
    return it == end() ? nullptr : &it->second;
}

void SVDictionary::RemoveValue(const std::string& key) { erase(key); }

void SVDictionary::CopyValue(const std::string& key, const SVDictionary& source,
                             bool removeIfAbsent) {
    const SVTypedValue* value = source.GetValue(key);
    if (value != nullptr) {
        SetValue(key, *value);
    } else if (removeIfAbsent) {
        RemoveValue(key);
    }
}

void SVDictionary::Merge(const SVDictionary& source, bool overwrite) {
    if (&source == this) {
        return;  // every key is already here with the same value
    }
    for (const auto& entry : source) {
        if (overwrite || find(entry.first) == end()) {
            SetValue(entry.first, entry.second);
        }
    }
}

bool SVDictionary::GetUnsignedInt(const std::string& key, uint32_t& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetUnsignedInt(out);
}

bool SVDictionary::GetSignedInt(const std::string& key, int32_t& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetSignedInt(out);
}

bool SVDictionary::GetUnsignedLong(const std::string& key, uint64_t& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetUnsignedLong(out);
}

bool SVDictionary::GetFloat(const std::string& key, float& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetFloat(out);
}

bool SVDictionary::GetBoolean(const std::string& key, bool& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetBoolean(out);
}

bool SVDictionary::GetString(const std::string& key, const std::string*& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetString(out);
}

bool SVDictionary::GetDataBlob(const std::string& key, const SVDataBlob*& out) const {
    const SVTypedValue* value = GetValue(key);
    return value != nullptr && value->GetDataBlob(out);
}

uint32_t SVDictionary::GetUnsignedIntOrDefault(const std::string& key, uint32_t fallback) const {
    uint32_t result = fallback;
    GetUnsignedInt(key, result);
    return result;
}

float SVDictionary::GetFloatOrDefault(const std::string& key, float fallback) const {
    float result = fallback;
    GetFloat(key, result);
    return result;
}

bool SVDictionary::GetBooleanOrDefault(const std::string& key, bool fallback) const {
    bool result = fallback;
    GetBoolean(key, result);
    return result;
}

std::string SVDictionary::GetStringOrDefault(const std::string& key,
                                             const std::string& fallback) const {
    const std::string* text = nullptr;
    return GetString(key, text) ? *text : fallback;
}

void SVDictionary::Serialize(std::vector<uint8_t>& output) const {
    AppendBigEndian32(output, static_cast<uint32_t>(size()));
    for (const auto& entry : *this) {
        AppendBigEndian32(output, static_cast<uint32_t>(entry.first.size()));
        output.insert(output.end(), entry.first.begin(), entry.first.end());
        entry.second.Serialize(output);
    }
}

size_t SVDictionary::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                 uint32_t nesting) {
    clear();
    if (nesting >= kSVTypedValueMaxNesting || BytesLeft(input, offset) < 4) {
        return 0;
    }
    const uint32_t count = ReadBigEndian32(input.data() + offset);
    size_t position = offset + 4;
    // A count the remaining bytes cannot hold is corrupt: refuse it before reading on.
    if (count * kSmallestEntryBytes > BytesLeft(input, position)) {
        return 0;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (BytesLeft(input, position) < 4) {
            return 0;
        }
        const uint32_t keyLength = ReadBigEndian32(input.data() + position);
        position += 4;
        if (BytesLeft(input, position) < keyLength) {
            return 0;
        }
        const auto keyStart = input.begin() + static_cast<std::ptrdiff_t>(position);
        const std::string key(keyStart, keyStart + static_cast<std::ptrdiff_t>(keyLength));
        position += keyLength;
        // A key repeated in the input keeps the last value read for it.
        SVTypedValue& value = (*this)[key];
        const size_t consumed = value.Deserialize(input, position, nesting + 1);
        if (consumed == 0) {
            return 0;
        }
        position += consumed;
    }
    return position - offset;
}

void SVDictionary::Print(const std::string& indent, std::string& output) const {
    output += indent;
    output += "SVDictionary (";
    AppendFormatted(output, "%lu", static_cast<unsigned long>(size()));
    output += " entries)\n";
    const std::string inner = indent + "    ";
    for (const auto& entry : *this) {
        output += inner;
        output += entry.first;
        output += " = ";
        entry.second.Print(inner, output);
    }
}

}  // namespace SV
