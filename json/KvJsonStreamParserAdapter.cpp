#include "json/KvJsonStreamParserAdapter.h"

#include <utility>

KvJsonStreamParserAdapter::KvJsonStreamParserAdapter() {
    stack_.reserve(32);
    keyStack_.reserve(32);
}

void KvJsonStreamParserAdapter::updateCurrentType() {
    if (stack_.empty()) {
        currentType_ = CurrentTypeNone;
    } else {
        currentType_ = stack_.back().IsDictionary() ? CurrentTypeObject : CurrentTypeArray;
    }
}

void KvJsonStreamParserAdapter::containerStart(ns::Value&& container) {
    ++depth_;
    if (depth_ <= levelsToSkip_) {
        return;
    }
    stack_.push_back(std::move(container));
    updateCurrentType();
}

void KvJsonStreamParserAdapter::containerEnd(KvJsonStreamParser& parser) {
    const size_t depth = depth_--;
    if (depth <= levelsToSkip_) {
        return;
    }
    ns::Value finished = std::move(stack_.back());
    stack_.pop_back();
    updateCurrentType();
    deliver(parser, std::move(finished));
}

void KvJsonStreamParserAdapter::deliver(KvJsonStreamParser& parser, ns::Value&& value) {
    switch (currentType_) {
        case CurrentTypeObject:
            stack_.back().AsDictionary()->Set(std::move(keyStack_.back()), std::move(value));
            keyStack_.pop_back();
            break;
        case CurrentTypeArray: stack_.back().AsArray()->push_back(std::move(value)); break;
        case CurrentTypeNone:
            if (delegate_ == nullptr) {
                break;
            }
            if (value.IsArray()) {
                delegate_->parserFoundArray(parser, std::move(value));
            } else {
                delegate_->parserFoundObject(parser, std::move(value));
            }
            break;
    }
}

void KvJsonStreamParserAdapter::parserFoundObjectStart(KvJsonStreamParser&) {
    containerStart(ns::Value(ns::Dictionary()));
}

void KvJsonStreamParserAdapter::parserFoundObjectKey(KvJsonStreamParser&, std::string_view key) {
    // Keys of skipped objects are never used: keeping them would only pile them up.
    if (depth_ > levelsToSkip_) {
        keyStack_.emplace_back(key);
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
