#ifndef SVLIBRARY_TYPEDVALUE_SVTYPEDVALUEREP_H
#define SVLIBRARY_TYPEDVALUE_SVTYPEDVALUEREP_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/TypedValue/SVTypedValue.h"

namespace SV {

// What a composite value points to. Exactly one value owns each representation.
class SVTypedValueRep {
public:
    virtual ~SVTypedValueRep();
    // A new, independent copy of the same class.
    virtual std::unique_ptr<SVTypedValueRep> Clone() const = 0;
    // Appends the payload's bytes (no kind byte).
    virtual void Serialize(std::vector<uint8_t>& output) const = 0;
    // Replaces the content from the payload at `offset`; returns the bytes consumed, 0 on
    // failure. `nesting` counts the arrays and dictionaries enclosing this payload.
    virtual size_t Deserialize(const std::vector<uint8_t>& input, size_t offset,
                               uint32_t nesting = 0) = 0;
    // Appends the printed form, label included.
    virtual void Print(const std::string& indent, std::string& output) const = 0;
};

class SVTypedValueRepString : public SVTypedValueRep {
public:
    explicit SVTypedValueRepString(const std::string& text) : text_(text) {}
    std::unique_ptr<SVTypedValueRep> Clone() const override;
    void Serialize(std::vector<uint8_t>& output) const override;
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset,
                       uint32_t nesting = 0) override;
    void Print(const std::string& indent, std::string& output) const override;

    const std::string& Get() const { return text_; }

private:
    std::string text_;
};

class SVTypedValueRepArray : public SVTypedValueRep {
public:
    explicit SVTypedValueRepArray(const SVTypedValueArray& array) : array_(array) {}
    std::unique_ptr<SVTypedValueRep> Clone() const override;
    void Serialize(std::vector<uint8_t>& output) const override;
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset,
                       uint32_t nesting = 0) override;
    void Print(const std::string& indent, std::string& output) const override;

    const SVTypedValueArray& Get() const { return array_; }

private:
    SVTypedValueArray array_;
};

class SVTypedValueRepDictionary : public SVTypedValueRep {
public:
    explicit SVTypedValueRepDictionary(const SVDictionary& dictionary) : dictionary_(dictionary) {}
    std::unique_ptr<SVTypedValueRep> Clone() const override;
    void Serialize(std::vector<uint8_t>& output) const override;
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset,
                       uint32_t nesting = 0) override;
    void Print(const std::string& indent, std::string& output) const override;

    const SVDictionary& Get() const { return dictionary_; }

private:
    SVDictionary dictionary_;
};

class SVTypedValueRepDataBlob : public SVTypedValueRep {
public:
    explicit SVTypedValueRepDataBlob(const SVDataBlob& blob) : blob_(blob) {}
    std::unique_ptr<SVTypedValueRep> Clone() const override;
    void Serialize(std::vector<uint8_t>& output) const override;
    size_t Deserialize(const std::vector<uint8_t>& input, size_t offset,
                       uint32_t nesting = 0) override;
    void Print(const std::string& indent, std::string& output) const override;

    const SVDataBlob& Get() const { return blob_; }

private:
    SVDataBlob blob_;
};

}  // namespace SV

#endif
