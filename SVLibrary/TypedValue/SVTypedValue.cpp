#include "SVLibrary/TypedValue/SVTypedValue.h"

#include <cstring>
#include <memory>
#include <utility>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValueRep.h"
#include "SVLibrary/TypedValue/TypedValueDetail.h"
#include "SVLibrary/Util/ByteOrder.h"

namespace SV {

using TypedValueDetail::AppendBigEndian32;
using TypedValueDetail::AppendBigEndian64;
using TypedValueDetail::AppendFormatted;
using TypedValueDetail::BytesLeft;

namespace {

constexpr uint32_t KindOf(SVTypedValueKind kind) { return static_cast<uint32_t>(kind); }

constexpr uint32_t kNull = KindOf(SVTypedValueKind::Null);
constexpr uint32_t kUnsignedInt = KindOf(SVTypedValueKind::UnsignedInt);
constexpr uint32_t kSignedInt = KindOf(SVTypedValueKind::SignedInt);
constexpr uint32_t kUnsignedLong = KindOf(SVTypedValueKind::UnsignedLong);
constexpr uint32_t kSignedLong = KindOf(SVTypedValueKind::SignedLong);
constexpr uint32_t kFloat = KindOf(SVTypedValueKind::Float);
constexpr uint32_t kBoolean = KindOf(SVTypedValueKind::Boolean);
constexpr uint32_t kString = KindOf(SVTypedValueKind::String);
constexpr uint32_t kArray = KindOf(SVTypedValueKind::Array);
constexpr uint32_t kDictionary = KindOf(SVTypedValueKind::Dictionary);
constexpr uint32_t kDataBlob = KindOf(SVTypedValueKind::DataBlob);

const char kMissingRepresentation[] = "ERROR: Missing value representation in SVTypedValue\n";
const char kNullRepresentation[] = "ERROR: Null SVTypedValue representation\n";

// An empty representation of the class a composite kind uses, ready to be read into.
std::unique_ptr<SVTypedValueRep> MakeEmptyRep(uint32_t kind) {
    switch (kind) {
        case kString: return std::make_unique<SVTypedValueRepString>(std::string());
        case kArray: return std::make_unique<SVTypedValueRepArray>(SVTypedValueArray());
        case kDictionary: return std::make_unique<SVTypedValueRepDictionary>(SVDictionary());
        default: return std::make_unique<SVTypedValueRepDataBlob>(SVDataBlob());
    }
}

}  // namespace

SVTypedValue::SVTypedValue() : kind_(kNull) { payload_.u64 = 0; }

SVTypedValue::SVTypedValue(uint32_t value) : kind_(kUnsignedInt) {
    payload_.u64 = 0;
    payload_.u32 = value;
}

SVTypedValue::SVTypedValue(int32_t value) : kind_(kSignedInt) {
    payload_.u64 = 0;
    payload_.s32 = value;
}

SVTypedValue::SVTypedValue(uint64_t value) : kind_(kUnsignedLong) { payload_.u64 = value; }

SVTypedValue::SVTypedValue(float value) : kind_(kFloat) {
    payload_.u64 = 0;
    payload_.f = value;
}

SVTypedValue::SVTypedValue(bool value) : kind_(kBoolean) {
    payload_.u64 = 0;
    payload_.b = static_cast<uint8_t>(value ? 1 : 0);
}

SVTypedValue::SVTypedValue(const std::string& text) : kind_(kString) {
    payload_.rep = new SVTypedValueRepString(text);
}

SVTypedValue::SVTypedValue(const char* text) : SVTypedValue(std::string(text)) {}

SVTypedValue::SVTypedValue(const SVTypedValueArray& array) : kind_(kArray) {
    payload_.rep = new SVTypedValueRepArray(array);
}

SVTypedValue::SVTypedValue(const SVDictionary& dictionary) : kind_(kDictionary) {
    payload_.rep = new SVTypedValueRepDictionary(dictionary);
}

SVTypedValue::SVTypedValue(const SVDataBlob& blob) : kind_(kDataBlob) {
    payload_.rep = new SVTypedValueRepDataBlob(blob);
}

SVTypedValue::SVTypedValue(const SVTypedValue& other)
    : kind_(other.kind_), payload_(other.payload_) {
    if (IsComposite()) {
        payload_.rep = nullptr;
        if (other.payload_.rep != nullptr) {
            payload_.rep = other.payload_.rep->Clone().release();
        } else {
            DebugPrint(kMissingRepresentation);
        }
    }
}

SVTypedValue::SVTypedValue(SVTypedValue&& other) noexcept
    : kind_(other.kind_), payload_(other.payload_) {
    other.kind_ = kNull;
    other.payload_.u64 = 0;
}

SVTypedValue& SVTypedValue::operator=(const SVTypedValue& other) {
    if (this == &other) {
        return *this;
    }
    // Clone before releasing anything: the source may live inside this value's own array or
    // dictionary, and Clear would destroy it.
    std::unique_ptr<SVTypedValueRep> rep;
    if (other.IsComposite()) {
        if (other.payload_.rep != nullptr) {
            rep = other.payload_.rep->Clone();
        } else {
            DebugPrint(kMissingRepresentation);
        }
    }
    const uint32_t kind = other.kind_;
    const Payload payload = other.payload_;
    Clear();
    kind_ = kind;
    payload_ = payload;
    if (IsComposite()) {
        payload_.rep = rep.release();
    }
    return *this;
}

SVTypedValue& SVTypedValue::operator=(SVTypedValue&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    // Detach the source first, for the same reason as in the copy assignment.
    const uint32_t kind = other.kind_;
    const Payload payload = other.payload_;
    other.kind_ = kNull;
    other.payload_.u64 = 0;
    Clear();
    kind_ = kind;
    payload_ = payload;
    return *this;
}

SVTypedValue::~SVTypedValue() { Clear(); }

void SVTypedValue::Clear() {
    if (IsComposite()) {
        delete payload_.rep;
    }
    kind_ = kNull;
    payload_.u64 = 0;
}

bool SVTypedValue::GetUnsignedInt(uint32_t& out) const {
    if (kind_ != kUnsignedInt) return false;
    out = payload_.u32;
    return true;
}

bool SVTypedValue::GetSignedInt(int32_t& out) const {
    if (kind_ != kSignedInt) return false;
    out = payload_.s32;
    return true;
}

bool SVTypedValue::GetUnsignedLong(uint64_t& out) const {
    if (kind_ != kUnsignedLong) return false;
    out = payload_.u64;
    return true;
}

bool SVTypedValue::GetFloat(float& out) const {
    if (kind_ != kFloat) return false;
    out = payload_.f;
    return true;
}

bool SVTypedValue::GetBoolean(bool& out) const {
    if (kind_ != kBoolean) return false;
    out = (payload_.b & 1) != 0;
    return true;
}

bool SVTypedValue::GetString(const std::string*& out) const {
    const SVTypedValueRep* rep = Rep(kString);
    if (rep == nullptr) return false;
    out = &static_cast<const SVTypedValueRepString*>(rep)->Get();
    return true;
}

bool SVTypedValue::GetArray(const SVTypedValueArray*& out) const {
    const SVTypedValueRep* rep = Rep(kArray);
    if (rep == nullptr) return false;
    out = &static_cast<const SVTypedValueRepArray*>(rep)->Get();
    return true;
}

bool SVTypedValue::GetDictionary(const SVDictionary*& out) const {
    const SVTypedValueRep* rep = Rep(kDictionary);
    if (rep == nullptr) return false;
    out = &static_cast<const SVTypedValueRepDictionary*>(rep)->Get();
    return true;
}

bool SVTypedValue::GetDataBlob(const SVDataBlob*& out) const {
    const SVTypedValueRep* rep = Rep(kDataBlob);
    if (rep == nullptr) return false;
    out = &static_cast<const SVTypedValueRepDataBlob*>(rep)->Get();
    return true;
}

void SVTypedValue::Serialize(std::vector<uint8_t>& output) const {
    output.push_back(static_cast<uint8_t>(kind_));
    switch (kind_) {
        case kUnsignedInt: AppendBigEndian32(output, payload_.u32); break;
        case kSignedInt: AppendBigEndian32(output, static_cast<uint32_t>(payload_.s32)); break;
        case kUnsignedLong: AppendBigEndian64(output, payload_.u64); break;
        case kSignedLong: AppendBigEndian64(output, static_cast<uint64_t>(payload_.s64)); break;
        case kFloat: {
            // The float alone is little-endian in the format, whatever the host's order.
            uint32_t bits;
            std::memcpy(&bits, &payload_.f, sizeof bits);
            for (int shift = 0; shift < 32; shift += 8) {
                output.push_back(static_cast<uint8_t>(bits >> shift));
            }
            break;
        }
        case kBoolean: output.push_back(static_cast<uint8_t>(payload_.b & 1)); break;
        case kString:
        case kArray:
        case kDictionary:
        case kDataBlob:
            if (payload_.rep == nullptr) {
                DebugPrint(kNullRepresentation);
            } else {
                payload_.rep->Serialize(output);
            }
            break;
        default: break;
    }
}

size_t SVTypedValue::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                 uint32_t nesting) {
    Clear();
    if (offset >= input.size()) {
        return 0;
    }
    kind_ = input[offset];
    const size_t position = offset + 1;
    const size_t left = BytesLeft(input, position);
    const uint8_t* bytes = input.data() + position;
    switch (kind_) {
        case kNull: return 1;
        case kUnsignedInt:
            if (left < 4) return 0;
            payload_.u32 = ReadBigEndian32(bytes);
            return 5;
        case kSignedInt:
            if (left < 4) return 0;
            payload_.s32 = static_cast<int32_t>(ReadBigEndian32(bytes));
            return 5;
        case kUnsignedLong:
            if (left < 8) return 0;
            payload_.u64 = ReadBigEndian64(bytes);
            return 9;
        case kSignedLong:
            if (left < 8) return 0;
            payload_.s64 = static_cast<int64_t>(ReadBigEndian64(bytes));
            return 9;
        case kFloat: {
            if (left < 4) return 0;
            const uint32_t bits =
                static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
            std::memcpy(&payload_.f, &bits, sizeof bits);
            return 5;
        }
        case kBoolean:
            if (left < 1) return 0;
            payload_.b = static_cast<uint8_t>(bytes[0] != 0 ? 1 : 0);
            return 2;
        case kString:
        case kArray:
        case kDictionary:
        case kDataBlob: {
            payload_.rep = MakeEmptyRep(kind_).release();
            const size_t consumed = payload_.rep->Deserialize(input, position, nesting);
            return consumed == 0 ? 0 : consumed + 1;
        }
        default: return 0;
    }
}

void SVTypedValue::Print(const std::string& indent, std::string& output) const {
    switch (kind_) {
        case kNull:
            output += indent;
            output += "Null\n";
            break;
        case kUnsignedInt:
            output += indent;
            output += "SVUnsignedInt ";
            AppendFormatted(output, "%lu\n", static_cast<unsigned long>(payload_.u32));
            break;
        case kSignedInt:
            output += indent;
            output += "SVSignedInt ";
            AppendFormatted(output, "%ld\n", static_cast<long>(payload_.s32));
            break;
        case kUnsignedLong:
            output += indent;
            output += "SVUnsignedLong ";
            AppendFormatted(output, "%llu\n", static_cast<unsigned long long>(payload_.u64));
            break;
        case kSignedLong:
            output += indent;
            output += "SVSignedLong ";
            AppendFormatted(output, "%lld\n", static_cast<long long>(payload_.s64));
            break;
        case kFloat:
            output += indent;
            output += "SVFloat ";
            AppendFormatted(output, "%f\n", static_cast<double>(payload_.f));
            break;
        case kBoolean:
            output += indent;
            output += (payload_.b & 1) != 0 ? "SVBoolean true\n" : "SVBoolean false\n";
            break;
        case kString:
        case kArray:
        case kDictionary:
        case kDataBlob:
            if (payload_.rep == nullptr) {
                output += indent;
                output += kNullRepresentation;
            } else {
                payload_.rep->Print(indent, output);
            }
            break;
        default: break;
    }
}

}  // namespace SV
