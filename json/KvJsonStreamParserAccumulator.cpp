#include "json/KvJsonStreamParserAccumulator.h"

#include <utility>

void KvJsonStreamParserAccumulator::parserFoundArray(KvJsonStreamParser&, ns::Value&& array) {
    _value = std::move(array);
}

void KvJsonStreamParserAccumulator::parserFoundObject(KvJsonStreamParser&,
                                                      ns::Value&& object) {
    _value = std::move(object);
}
