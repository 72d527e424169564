#pragma once
// Adapter delegate that keeps the last value delivered.

#include <optional>

#include "json/KvJsonStreamParserAdapter.h"

class KvJsonStreamParserAccumulator : public KvJsonStreamParserAdapterDelegate {
public:
    void parserFoundArray(KvJsonStreamParser& parser, ns::Value&& array) override;
    void parserFoundObject(KvJsonStreamParser& parser, ns::Value&& object) override;

    const std::optional<ns::Value>& value() const { return _value; }
    // Moves the value out (a large document is not copied).
    std::optional<ns::Value> takeValue() { return std::move(_value); }

private:
    std::optional<ns::Value> _value;
};
