#include "json/KvJsonParsing.h"

#include "json/KvJsonLog.h"
#include "json/KvJsonParser.h"

std::optional<ns::Value> JSONValue(const void* bytes, size_t length) {
    KvJsonParser parser;
    std::optional<ns::Value> value = parser.objectWithData(bytes, length);
    if (!value) {
        KvJsonLog("-JSONValue failed. Error is: " + parser.error());
    }
    return value;
}

std::optional<ns::Value> JSONValue(const std::string& string) {
    return JSONValue(string.data(), string.size());
}
