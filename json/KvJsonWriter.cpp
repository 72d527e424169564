#include "json/KvJsonWriter.h"

const char* const KvJsonWriterErrorDomain = "KvJsonWriterErrorDomain";

std::optional<std::string> KvJsonWriter::dataWithObject(const ns::Value& value) {
    error_.clear();
    KvJsonStreamWriter writer;
    writer.keepOutput_ = true;  // the text in one piece, without an accumulator's copy
    writer.setSortKeys(sortKeys_);
    writer.setMaxDepth(maxDepth_);
    writer.setSortKeysComparator(sortKeysComparator_);
    writer.setHumanReadable(humanReadable_);

    bool ok;
    if (!value.IsDictionary() && !value.IsArray()) {
        error_ = "Not valid type for JSON";
        return std::nullopt;
    }
    if (!humanReadable_ && !sortKeys_) {
        // The common case in one pass over the value (the same bytes as through the states).
        ok = writer.writeCompactValue(value, 0);
    } else if (const ns::Dictionary* object = value.AsDictionary()) {
        ok = writer.writeObject(*object);
    } else {
        ok = writer.writeArray(*value.AsArray());
    }
    if (!ok) {
        error_ = writer.error();
        return std::nullopt;
    }
    return writer.takeOutput();
}

std::optional<std::string> KvJsonWriter::stringWithObject(const ns::Value& value) {
    return dataWithObject(value);
}

std::optional<std::string> KvJsonWriter::stringWithObject(const ns::Value& value,
                                                          KvJsonError* error) {
    std::optional<std::string> text = stringWithObject(value);
    if (!text && error != nullptr) {
        error->code = 0;
        error->domain = KvJsonWriterErrorDomain;
        error->localizedDescription = error_;
    }
    return text;
}
