// Round trips through the JSON writer: a document that parses is written (compact, and
// human-readable with sorted keys), and what is written must parse to an equal value and be
// written again byte for byte. The raw input is also written as a string, which must succeed
// exactly when it is valid UTF-8 and read back unchanged. The one-call writer's compact text
// must equal what the stream writer makes of the same value through its states.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "json/KvJsonParser.h"
#include "json/KvJsonStreamWriter.h"
#include "json/KvJsonStreamWriterAccumulator.h"
#include "json/KvJsonUTF8Stream.h"
#include "json/KvJsonWriter.h"

namespace {

std::optional<std::string> Write(const ns::Value& value, bool human, bool sort) {
    KvJsonWriter writer;
    writer.setHumanReadable(human);
    writer.setSortKeys(sort);
    return writer.dataWithObject(value);
}

void CheckRoundTrip(const ns::Value& value, bool human, bool sort) {
    const std::optional<std::string> text = Write(value, human, sort);
    if (!text) {
        __builtin_trap();
    }
    KvJsonParser parser;
    const std::optional<ns::Value> again = parser.objectWithString(*text);
    if (!again || *again != value) {
        __builtin_trap();
    }
    if (Write(*again, human, sort) != text) {
        __builtin_trap();
    }
}

// The same value through the stream writer's states, compact.
std::optional<std::string> WriteThroughStates(const ns::Value& value) {
    KvJsonStreamWriterAccumulator out;
    KvJsonStreamWriter writer;
    writer.setDelegate(&out);
    const bool ok = value.IsDictionary() ? writer.writeObject(*value.AsDictionary())
                                         : writer.writeArray(*value.AsArray());
    return ok ? std::optional<std::string>(out.data()) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    KvJsonParser parser;
    if (const std::optional<ns::Value> value = parser.objectWithString(input)) {
        CheckRoundTrip(*value, false, false);
        if (Write(*value, false, false) != WriteThroughStates(*value)) {
            __builtin_trap();
        }
        CheckRoundTrip(*value, true, true);
    }

    const ns::Value wrapped(ns::Array{ns::Value(input)});
    KvJsonWriter writer;
    const std::optional<std::string> text = writer.dataWithObject(wrapped);
    const bool valid = KvJsonUTF8Stream::isValidUTF8(data, size);
    if (text.has_value() != valid) {
        __builtin_trap();
    }
    if (text) {
        const std::optional<ns::Value> back = parser.objectWithString(*text);
        if (!back || *back != wrapped) {
            __builtin_trap();
        }
    } else if (writer.error() != "String is not valid UTF-8") {
        __builtin_trap();
    }
    return 0;
}
