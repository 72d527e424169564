#include "engine/container/Mpeg2PsMetadata.h"

#include <cstdio>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {
namespace {

using namespace Mpeg2PsFormat;

const char kIndexTooShort[] = "Mpeg2PsMetadata::Read ERROR: Index too short\n";
const char kEntryTooShort[] = "Mpeg2PsMetadata::Read ERROR: Entry too short\n";

// Name (for the size message) and exact length of the fixed-size types 1 to 8.
struct FixedType {
    const char* name;
    uint32_t length;
};
const FixedType kFixedTypes[9] = {
    {"", 0},       {"uint8", 1}, {"int8", 1},   {"uint16", 2}, {"int16", 2},
    {"uint32", 4}, {"int32", 4}, {"uint64", 8}, {"int64", 8},
};

// A fixed-size value of types 1 to 8 from a reader over exactly its bytes.
boost::any DecodeFixed(uint8_t type, ByteReader& value) {
    switch (type) {
        case ValueTypeUInt8: return value.U8();
        case ValueTypeInt8: return static_cast<int8_t>(value.U8());
        case ValueTypeUInt16: return value.U16();
        case ValueTypeInt16: return static_cast<int16_t>(value.U16());
        case ValueTypeUInt32: return value.U32();
        case ValueTypeInt32: return static_cast<int32_t>(value.U32());
        case ValueTypeUInt64: return value.U64();
        default: return static_cast<int64_t>(value.U64());
    }
}

// The type code and encoded value of a held value; false for a type the format lacks.
bool Encode(const boost::any& value, uint8_t& type, std::vector<uint8_t>& bytes) {
    uint8_t buffer[8];
    const std::type_info& t = value.type();
    if (t == typeid(uint8_t)) {
        type = ValueTypeUInt8;
        bytes.assign(1, boost::any_cast<uint8_t>(value));
    } else if (t == typeid(int8_t)) {
        type = ValueTypeInt8;
        bytes.assign(1, static_cast<uint8_t>(boost::any_cast<int8_t>(value)));
    } else if (t == typeid(uint16_t) || t == typeid(int16_t)) {
        type = t == typeid(uint16_t) ? ValueTypeUInt16 : ValueTypeInt16;
        const uint32_t v = t == typeid(uint16_t)
                               ? boost::any_cast<uint16_t>(value)
                               : static_cast<uint16_t>(boost::any_cast<int16_t>(value));
        SV::WriteBigEndian16(v, buffer);
        bytes.assign(buffer, buffer + 2);
    } else if (t == typeid(uint32_t) || t == typeid(int32_t)) {
        type = t == typeid(uint32_t) ? ValueTypeUInt32 : ValueTypeInt32;
        const uint32_t v = t == typeid(uint32_t)
                               ? boost::any_cast<uint32_t>(value)
                               : static_cast<uint32_t>(boost::any_cast<int32_t>(value));
        SV::WriteBigEndian32(v, buffer);
        bytes.assign(buffer, buffer + 4);
    } else if (t == typeid(uint64_t) || t == typeid(int64_t)) {
        type = t == typeid(uint64_t) ? ValueTypeUInt64 : ValueTypeInt64;
        const uint64_t v = t == typeid(uint64_t)
                               ? boost::any_cast<uint64_t>(value)
                               : static_cast<uint64_t>(boost::any_cast<int64_t>(value));
        SV::WriteBigEndian64(v, buffer);
        bytes.assign(buffer, buffer + 8);
    } else if (t == typeid(std::string)) {
        type = ValueTypeString;
        const std::string& s = boost::any_cast<const std::string&>(value);
        bytes.assign(s.begin(), s.end());
    } else if (t == typeid(std::vector<uint8_t>)) {
        type = ValueTypeBytes;
        bytes = boost::any_cast<const std::vector<uint8_t>&>(value);
    } else {
        return false;
    }
    return true;
}

// Encoded length of a held value without encoding it.
uint64_t EncodedLength(const boost::any& value) {
    const std::type_info& t = value.type();
    if (t == typeid(uint8_t) || t == typeid(int8_t)) return 1;
    if (t == typeid(uint16_t) || t == typeid(int16_t)) return 2;
    if (t == typeid(uint32_t) || t == typeid(int32_t)) return 4;
    if (t == typeid(uint64_t) || t == typeid(int64_t)) return 8;
    if (t == typeid(std::string)) return boost::any_cast<const std::string&>(value).size();
    return boost::any_cast<const std::vector<uint8_t>&>(value).size();
}

template <typename T>
bool Get(const std::map<Mpeg2PsMetadata::Tag, boost::any>& tags, Mpeg2PsMetadata::Tag tag, T& out) {
    auto it = tags.find(tag);
    if (it == tags.end()) return false;
    out = boost::any_cast<const T&>(it->second);  // throws on another held type
    return true;
}

}  // namespace

Mpeg2PsMetadata::Mpeg2PsMetadata(uint32_t version) : version_(version) {}

Mpeg2PsMetadata::~Mpeg2PsMetadata() {}

bool Mpeg2PsMetadata::Fail(const std::string& text) {
    error_ = text;
    DebugPrint("%s", text.c_str());
    return false;
}

bool Mpeg2PsMetadata::Read(const uint8_t* data, size_t size, size_t& consumed) {
    tags_.clear();
    ByteReader in(data, size);

    if (static_cast<int32_t>(version_) > 0) {
        const uint32_t total = in.U32();  // header included
        const uint8_t kind = in.U8();
        // The total only has to fit the bytes given; the entries are bounded by those bytes.
        if (in.Failed() || total > size) return Fail(kIndexTooShort);
        version_ = kind;
    }
    const uint8_t count = in.U8();
    if (in.Failed()) return Fail(kIndexTooShort);

    for (uint8_t i = 0; i < count; ++i) {
        const Tag tag = static_cast<Tag>(in.U8());
        const uint8_t type = in.U8();
        const uint32_t length = in.U32();
        ByteReader value = in.Sub(length);
        if (in.Failed()) return Fail(kEntryTooShort);

        if (type >= ValueTypeUInt8 && type <= ValueTypeInt64) {
            if (length != kFixedTypes[type].length) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "Mpeg2PsMetadata::Read ERROR: Invalid %s size %lu for tag %d\n",
                              kFixedTypes[type].name, static_cast<unsigned long>(length),
                              static_cast<int>(tag));
                return Fail(text);
            }
            tags_[tag] = DecodeFixed(type, value);
        } else if (type == ValueTypeString) {
            tags_[tag] = std::string(reinterpret_cast<const char*>(value.Current()), length);
        } else if (type == ValueTypeBytes) {
            tags_[tag] = std::vector<uint8_t>(value.Current(), value.Current() + length);
        }
        // Other types are skipped with their bytes.
    }
    consumed = in.Position();
    return true;
}

bool Mpeg2PsMetadata::GetUInt8(Tag tag, uint8_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetInt8(Tag tag, int8_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetUInt16(Tag tag, uint16_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetInt16(Tag tag, int16_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetUInt32(Tag tag, uint32_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetInt32(Tag tag, int32_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetUInt64(Tag tag, uint64_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetInt64(Tag tag, int64_t& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetString(Tag tag, std::string& out) const { return Get(tags_, tag, out); }
bool Mpeg2PsMetadata::GetBytes(Tag tag, std::vector<uint8_t>& out) const {
    return Get(tags_, tag, out);
}

uint64_t Mpeg2PsMetadata::GetSize() const {
    uint64_t size = (static_cast<int32_t>(version_) > 0 ? kMetadataBlockHeaderSize : 0) + 1;
    for (const auto& entry : tags_) size += kMetadataEntryHeaderSize + EncodedLength(entry.second);
    return size;
}

bool Mpeg2PsMetadata::Write(std::vector<uint8_t>& out) const {
    const uint64_t size = GetSize();
    if (tags_.size() > kMetadataMaxEntries || size > 0xFFFFFFFFu) return false;
    const size_t start = out.size();
    out.reserve(start + static_cast<size_t>(size));
    const bool headed = static_cast<int32_t>(version_) > 0;
    if (headed) {
        uint8_t header[kMetadataBlockHeaderSize];
        SV::WriteBigEndian32(static_cast<uint32_t>(size), header);  // total length
        header[4] = static_cast<uint8_t>(version_);                 // kind
        out.insert(out.end(), header, header + kMetadataBlockHeaderSize);
    }
    out.push_back(static_cast<uint8_t>(tags_.size()));  // entry count
    std::vector<uint8_t> value;
    for (const auto& entry : tags_) {
        uint8_t type = 0;
        if (!Encode(entry.second, type, value)) {
            out.resize(start);
            return false;
        }
        uint8_t header[kMetadataEntryHeaderSize];
        header[0] = entry.first;                                                // tag
        header[1] = type;                                                       // value type
        SV::WriteBigEndian32(static_cast<uint32_t>(value.size()), header + 2);  // length
        out.insert(out.end(), header, header + kMetadataEntryHeaderSize);
        out.insert(out.end(), value.begin(), value.end());
    }
    return true;
}

}  // namespace SarvelonMediaKit
