#include "json/KvJsonStreamParserAccumulator.h"

#include <utility>

void KvJsonStreamParserAccumulator::parserFoundArray(KvJsonStreamParser&, ns::Value&& array) {
    value_ = std::move(array);
}

void KvJsonStreamParserAccumulator::parserFoundObject(KvJsonStreamParser&, ns::Value&& object) {
    value_ = std::move(object);
}
