#ifndef JSON_KVJSONSTREAMPARSERACCUMULATOR_H
#define JSON_KVJSONSTREAMPARSERACCUMULATOR_H
// Adapter delegate that keeps the last value delivered.

#include <optional>

#include "json/KvJsonStreamParserAdapter.h"

class KvJsonStreamParserAccumulator : public KvJsonStreamParserAdapterDelegate {
public:
    void parserFoundArray(KvJsonStreamParser& parser, ns::Value&& array) override;
    void parserFoundObject(KvJsonStreamParser& parser, ns::Value&& object) override;

    const std::optional<ns::Value>& value() const { return value_; }
    // Moves the value out (a large document is not copied).
    std::optional<ns::Value> takeValue() { return std::move(value_); }

private:
    std::optional<ns::Value> value_;
};

#endif  // JSON_KVJSONSTREAMPARSERACCUMULATOR_H
