#include "json/KvJsonWriting.h"

#include "json/KvJsonLog.h"
#include "json/KvJsonWriter.h"

std::optional<std::string> JSONRepresentation(const ns::Value& value) {
    KvJsonWriter writer;
    std::optional<std::string> text = writer.stringWithObject(value);
    if (!text) {
        KvJsonLog("-JSONRepresentation failed. Error is: " + writer.error());
    }
    return text;
}
