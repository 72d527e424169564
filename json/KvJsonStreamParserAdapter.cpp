#include "json/KvJsonStreamParserAdapter.h"

#include <utility>

KvJsonStreamParserAdapter::KvJsonStreamParserAdapter() {
    _stack.reserve(32);
    _keyStack.reserve(32);
}

void KvJsonStreamParserAdapter::updateCurrentType() {
    if (_stack.empty()) {
        _currentType = CurrentTypeNone;
    } else {
        _currentType = _stack.back().IsDictionary() ? CurrentTypeObject : CurrentTypeArray;
    }
}

void KvJsonStreamParserAdapter::containerStart(ns::Value&& container) {
    ++_depth;
    if (_depth <= _levelsToSkip) {
        return;
    }
    _stack.push_back(std::move(container));
    updateCurrentType();
}

void KvJsonStreamParserAdapter::containerEnd(KvJsonStreamParser& parser) {
    const size_t depth = _depth--;
    if (depth <= _levelsToSkip) {
        return;
    }
    ns::Value finished = std::move(_stack.back());
    _stack.pop_back();
    updateCurrentType();
    deliver(parser, std::move(finished));
}

void KvJsonStreamParserAdapter::deliver(KvJsonStreamParser& parser, ns::Value&& value) {
    switch (_currentType) {
    case CurrentTypeObject:
        _stack.back().AsDictionary()->Set(std::move(_keyStack.back()), std::move(value));
        _keyStack.pop_back();
        break;
    case CurrentTypeArray: _stack.back().AsArray()->push_back(std::move(value)); break;
    case CurrentTypeNone:
        if (_delegate == nullptr) {
            break;
        }
        if (value.IsArray()) {
            _delegate->parserFoundArray(parser, std::move(value));
        } else {
            _delegate->parserFoundObject(parser, std::move(value));
        }
        break;
    }
}

void KvJsonStreamParserAdapter::parserFoundObjectStart(KvJsonStreamParser&) {
    containerStart(ns::Value(ns::Dictionary()));
}

void KvJsonStreamParserAdapter::parserFoundObjectKey(KvJsonStreamParser&,
                                                     std::string_view key) {
    // Keys of skipped objects are never used: keeping them would only pile them up.
    if (_depth > _levelsToSkip) {
        _keyStack.emplace_back(key);
    }
}

void KvJsonStreamParserAdapter::parserFoundObjectEnd(KvJsonStreamParser& parser) {
    containerEnd(parser);
}

void KvJsonStreamParserAdapter::parserFoundArrayStart(KvJsonStreamParser&) {
    containerStart(ns::Value(ns::Array()));
}

void KvJsonStreamParserAdapter::parserFoundArrayEnd(KvJsonStreamParser& parser) {
    containerEnd(parser);
}

void KvJsonStreamParserAdapter::parserFoundBoolean(KvJsonStreamParser& parser, bool value) {
    deliver(parser, ns::Value(value));
}

void KvJsonStreamParserAdapter::parserFoundNull(KvJsonStreamParser& parser) {
    deliver(parser, ns::Value());
}

void KvJsonStreamParserAdapter::parserFoundNumber(KvJsonStreamParser& parser,
                                                  const ns::Value& number) {
    deliver(parser, ns::Value(number));
}

void KvJsonStreamParserAdapter::parserFoundString(KvJsonStreamParser& parser,
                                                  std::string_view string) {
    deliver(parser, ns::Value(string));
}
