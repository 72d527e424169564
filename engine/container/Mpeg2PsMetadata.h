#ifndef ENGINE_CONTAINER_MPEG2PSMETADATA_H
#define ENGINE_CONTAINER_MPEG2PSMETADATA_H

#include <boost/any.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

// A tag/type/length/value list of the container: the track descriptions of version-4 index
// entries (a bare list) and the 0xF1 metadata blocks (a headed list). Numbers are big-endian.
//
//   headed: u32 total length (header included), kind byte, entry count, entries
//   bare:   entry count, entries
//   entry:  tag, value type, u32 value length L, L value bytes
//
// One value per tag, held with its native type: uint8_t, int8_t, uint16_t, int16_t, uint32_t,
// int32_t, uint64_t, int64_t (types 1 to 8), std::string (9) or std::vector<uint8_t> (10).
// Values of other types are skipped by the reader.
class Mpeg2PsMetadata {
public:
    typedef Mpeg2PsFormat::Tag Tag;

    // version 0 reads and writes a bare list; a version above 0 a headed one, whose kind byte
    // is the version when writing and replaces the version when reading.
    explicit Mpeg2PsMetadata(uint32_t version = 0);
    virtual ~Mpeg2PsMetadata();

    // Parses one list from size bytes at data, replacing the values held. True with the bytes
    // up to the end of the last entry in consumed; false on a malformed list, with the reason
    // in GetError (and the values decoded before the fault kept). Never reads beyond size.
    bool Read(const uint8_t* data, size_t size, size_t& consumed);
    uint32_t GetVersion() const { return version_; }
    // The text of the last failed Read ("Mpeg2PsMetadata::Read ERROR: ...\n"); empty before.
    const std::string& GetError() const { return error_; }

    // Typed getters: false and out untouched when the tag is absent; the value when it is held
    // with the getter's type; boost::bad_any_cast thrown when it is held with another type
    // (a tag sent with the wrong type is a malformed list to the caller).
    bool GetUInt8(Tag tag, uint8_t& out) const;
    bool GetInt8(Tag tag, int8_t& out) const;
    bool GetUInt16(Tag tag, uint16_t& out) const;
    bool GetInt16(Tag tag, int16_t& out) const;
    bool GetUInt32(Tag tag, uint32_t& out) const;
    bool GetInt32(Tag tag, int32_t& out) const;
    bool GetUInt64(Tag tag, uint64_t& out) const;
    bool GetInt64(Tag tag, int64_t& out) const;
    bool GetString(Tag tag, std::string& out) const;
    bool GetBytes(Tag tag, std::vector<uint8_t>& out) const;
    bool Has(Tag tag) const { return tags_.count(tag) != 0; }

    // Setters for writing: store the value under the tag with its type, replacing any other.
    void SetUInt8(Tag tag, uint8_t value) { tags_[tag] = value; }
    void SetInt8(Tag tag, int8_t value) { tags_[tag] = value; }
    void SetUInt16(Tag tag, uint16_t value) { tags_[tag] = value; }
    void SetInt16(Tag tag, int16_t value) { tags_[tag] = value; }
    void SetUInt32(Tag tag, uint32_t value) { tags_[tag] = value; }
    void SetInt32(Tag tag, int32_t value) { tags_[tag] = value; }
    void SetUInt64(Tag tag, uint64_t value) { tags_[tag] = value; }
    void SetInt64(Tag tag, int64_t value) { tags_[tag] = value; }
    void SetString(Tag tag, const std::string& value) { tags_[tag] = value; }
    void SetBytes(Tag tag, const std::vector<uint8_t>& value) { tags_[tag] = value; }
    void Remove(Tag tag) { tags_.erase(tag); }
    size_t Count() const { return tags_.size(); }

    // Bytes that Write appends: the header (5 bytes, headed only) or the count byte, then the
    // entries in tag order.
    uint64_t GetSize() const;
    // Appends the list; false (nothing appended) when it holds more than 255 values or does
    // not fit the 32-bit lengths.
    bool Write(std::vector<uint8_t>& out) const;

private:
    bool Fail(const std::string& text);

    uint32_t version_;
    std::map<Tag, boost::any> tags_;
    std::string error_;
};

}  // namespace SarvelonMediaKit

#endif
