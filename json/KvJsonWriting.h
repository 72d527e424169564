#ifndef JSON_KVJSONWRITING_H
#define JSON_KVJSONWRITING_H
// JSONRepresentation for values: a fresh KvJsonWriter (compact); on failure the log line
// "-JSONRepresentation failed. Error is: <text>" and nothing.

#include <optional>
#include <string>

#include "platform/Value.h"

std::optional<std::string> JSONRepresentation(const ns::Value& value);

#endif  // JSON_KVJSONWRITING_H
