#ifndef JSON_KVJSONPARSING_H
#define JSON_KVJSONPARSING_H
// JSONValue for strings and byte buffers: a fresh KvJsonParser on the input; on failure the
// log line "-JSONValue failed. Error is: <text>" and nothing.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/Value.h"

std::optional<ns::Value> JSONValue(const std::string& string);
// `bytes` nullptr stands for no buffer at all.
std::optional<ns::Value> JSONValue(const void* bytes, size_t length);

#endif  // JSON_KVJSONPARSING_H
