#include "json/KvJsonParser.h"

#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"

const char* const KvJsonParserErrorDomain = "KvJsonParserErrorDomain";

std::optional<ns::Value> KvJsonParser::objectWithData(const void* bytes, size_t length) {
    if (bytes == nullptr) {
        error_ = "Input was 'nil'";
        return std::nullopt;
    }
    KvJsonStreamParserAccumulator accumulator;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&accumulator);
    KvJsonStreamParser parser;
    parser.setMaxDepth(maxDepth_);
    parser.setDelegate(&adapter);

    switch (parser.parse(bytes, length)) {
        case KvJsonStreamParserComplete:
            // A complete document followed by the start of another token ("[1] tru") is not a
            // whole document: the input ended in the middle of something.
            if (parser.hasUnfinishedToken()) {
                break;
            }
            return accumulator.takeValue();
        case KvJsonStreamParserWaitingForData: break;
        default: error_ = parser.error(); return std::nullopt;
    }
    error_ = "Unexpected end of input";
    return std::nullopt;
}

std::optional<ns::Value> KvJsonParser::objectWithString(const std::string& string) {
    return objectWithData(string.data(), string.size());
}

std::optional<ns::Value> KvJsonParser::objectWithString(const std::string& string,
                                                        KvJsonError* error) {
    std::optional<ns::Value> value = objectWithString(string);
    if (!value && error != nullptr) {
        error->code = 0;
        error->domain = KvJsonParserErrorDomain;
        error->localizedDescription = error_;
    }
    return value;
}
