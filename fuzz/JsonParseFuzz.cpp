// Feeds arbitrary bytes to the JSON parser, whole and in pieces, and checks that both ways
// agree: the same acceptance, the same error text and the same value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "json/KvJsonParser.h"
#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"
#include "json/KvJsonWriter.h"

namespace {

std::string Written(const ns::Value& value) {
    KvJsonWriter writer;
    writer.setSortKeys(true);
    return writer.dataWithObject(value).value_or("<not written: " + writer.error() + ">");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    KvJsonParser parser;
    const std::optional<ns::Value> whole = parser.objectWithData(input.data(), input.size());
    const std::string wholeError = whole ? "" : parser.error();

    // The piece size comes from the input itself, so the fuzzer explores it too.
    const size_t piece = size > 0 ? 1 + data[size - 1] % 16 : 1;
    KvJsonStreamParserAccumulator accumulator;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&accumulator);
    KvJsonStreamParser stream;
    stream.setDelegate(&adapter);
    int status = KvJsonStreamParserWaitingForData;
    for (size_t at = 0; at < size && status != KvJsonStreamParserError; at += piece) {
        status = stream.parse(input.data() + at, piece < size - at ? piece : size - at);
    }
    std::optional<ns::Value> pieces;
    std::string piecesError;
    if (status == KvJsonStreamParserError) {
        piecesError = stream.error();
    } else if (status == KvJsonStreamParserComplete && !stream.hasUnfinishedToken()) {
        pieces = accumulator.takeValue();
    } else {
        piecesError = "Unexpected end of input";
    }

    if (whole.has_value() != pieces.has_value() || wholeError != piecesError) {
        __builtin_trap();
    }
    if (whole && (*whole != *pieces || Written(*whole) != Written(*pieces))) {
        __builtin_trap();
    }
    return 0;
}
