#include "SVLibrary/TypedValue/SVTypedValueRep.h"

#include <algorithm>

#include "SVLibrary/TypedValue/TypedValueDetail.h"
#include "SVLibrary/Util/ByteOrder.h"

namespace SV {

using TypedValueDetail::AppendBigEndian32;
using TypedValueDetail::AppendFormatted;
using TypedValueDetail::BytesLeft;

namespace {

// A blob prints at most this many bytes in hexadecimal.
constexpr size_t kPrintedBlobBytes = 256;

// Room reserved up front for an array being read, whatever its count says: the count is only a
// claim, and the vector grows as elements actually arrive.
constexpr size_t kReadReserveLimit = 1024;

// Reads a 32-bit length and that many bytes at `offset` into `target`. Returns the bytes
// consumed or 0 when the input is too short for either.
template <typename Bytes>
size_t ReadCountedBytes(const std::vector<uint8_t>& input, size_t offset, Bytes& target) {
    target.clear();
    if (BytesLeft(input, offset) < 4) {
        return 0;
    }
    const uint32_t length = ReadBigEndian32(input.data() + offset);
    const size_t start = offset + 4;
    if (BytesLeft(input, start) < length) {
        return 0;
    }
    target.assign(input.begin() + static_cast<std::ptrdiff_t>(start),
                  input.begin() + static_cast<std::ptrdiff_t>(start + length));
    return 4 + static_cast<size_t>(length);
}

template <typename Bytes>
void WriteCountedBytes(const Bytes& source, std::vector<uint8_t>& output) {
    AppendBigEndian32(output, static_cast<uint32_t>(source.size()));
    output.insert(output.end(), source.begin(), source.end());
}

}  // namespace

SVTypedValueRep::~SVTypedValueRep() = default;

// --- String -----------------------------------------------------------------------------------

std::unique_ptr<SVTypedValueRep> SVTypedValueRepString::Clone() const {
    return std::make_unique<SVTypedValueRepString>(text_);
}

void SVTypedValueRepString::Serialize(std::vector<uint8_t>& output) const {
    WriteCountedBytes(text_, output);
}

size_t SVTypedValueRepString::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                          uint32_t) {
    return ReadCountedBytes(input, offset, text_);
}

void SVTypedValueRepString::Print(const std::string& indent, std::string& output) const {
    output += indent;
    output += "SVString \"";
    output += text_;
    output += "\"\n";
}

// --- Array ------------------------------------------------------------------------------------

std::unique_ptr<SVTypedValueRep> SVTypedValueRepArray::Clone() const {
    return std::make_unique<SVTypedValueRepArray>(array_);
}

void SVTypedValueRepArray::Serialize(std::vector<uint8_t>& output) const {
    AppendBigEndian32(output, static_cast<uint32_t>(array_.size()));
    for (const SVTypedValue& element : array_) {
        element.Serialize(output);
    }
}

size_t SVTypedValueRepArray::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                         uint32_t nesting) {
    array_.clear();
    if (nesting >= kSVTypedValueMaxNesting || BytesLeft(input, offset) < 4) {
        return 0;
    }
    const uint32_t count = ReadBigEndian32(input.data() + offset);
    size_t position = offset + 4;
    // Every element takes at least its kind byte, so a count beyond the bytes left is corrupt;
    // refuse it before making room for it.
    if (count > BytesLeft(input, position)) {
        return 0;
    }
    array_.reserve(std::min<size_t>(count, kReadReserveLimit));
    for (uint32_t i = 0; i < count; ++i) {
        array_.emplace_back();
        const size_t consumed = array_.back().Deserialize(input, position, nesting + 1);
        if (consumed == 0) {
            return 0;
        }
        position += consumed;
    }
    return position - offset;
}

void SVTypedValueRepArray::Print(const std::string& indent, std::string& output) const {
    output += indent;
    output += "SVTypedValueArray (";
    AppendFormatted(output, "%lu", static_cast<unsigned long>(array_.size()));
    output += " entries)\n";
    const std::string inner = indent + "    ";
    for (const SVTypedValue& element : array_) {
        element.Print(inner, output);
    }
}

// --- Dictionary -------------------------------------------------------------------------------

std::unique_ptr<SVTypedValueRep> SVTypedValueRepDictionary::Clone() const {
    return std::make_unique<SVTypedValueRepDictionary>(dictionary_);
}

void SVTypedValueRepDictionary::Serialize(std::vector<uint8_t>& output) const {
    dictionary_.Serialize(output);
}

size_t SVTypedValueRepDictionary::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                              uint32_t nesting) {
    return dictionary_.Deserialize(input, offset, nesting);
}

void SVTypedValueRepDictionary::Print(const std::string& indent, std::string& output) const {
    dictionary_.Print(indent, output);
}

// --- Data blob --------------------------------------------------------------------------------

std::unique_ptr<SVTypedValueRep> SVTypedValueRepDataBlob::Clone() const {
    return std::make_unique<SVTypedValueRepDataBlob>(blob_);
}

void SVTypedValueRepDataBlob::Serialize(std::vector<uint8_t>& output) const {
    WriteCountedBytes(blob_, output);
}

size_t SVTypedValueRepDataBlob::Deserialize(const std::vector<uint8_t>& input, size_t offset,
                                            uint32_t) {
    return ReadCountedBytes(input, offset, blob_);
}

void SVTypedValueRepDataBlob::Print(const std::string& indent, std::string& output) const {
    output += indent;
    output += "SVDataBlob (";
    AppendFormatted(output, "%lu", static_cast<unsigned long>(blob_.size()));
    output += " bytes) 0x";
    static const char kHexDigits[] = "0123456789abcdef";
    const size_t shown = std::min(blob_.size(), kPrintedBlobBytes);
    for (size_t i = 0; i < shown; ++i) {
        output += kHexDigits[blob_[i] >> 4];
        output += kHexDigits[blob_[i] & 0x0f];
    }
    output += blob_.size() > kPrintedBlobBytes ? "...\n" : "\n";
}

}  // namespace SV
