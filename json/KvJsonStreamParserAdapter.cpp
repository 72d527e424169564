#include "json/KvJsonStreamParserAdapter.h"

#include <iterator>
#include <utility>

KvJsonStreamParserAdapter::KvJsonStreamParserAdapter() {
    frames_.reserve(32);
    values_.reserve(64);
    keys_.reserve(64);
}

void KvJsonStreamParserAdapter::containerStart() {
    ++depth_;
    if (depth_ <= levelsToSkip_) {
        return;
    }
    frames_.push_back(Frame{values_.size(), keys_.size()});
}

void KvJsonStreamParserAdapter::containerEnd(KvJsonStreamParser& parser, bool object) {
    const size_t depth = depth_--;
    if (depth <= levelsToSkip_) {
        return;
    }
    const Frame frame = frames_.back();
    frames_.pop_back();
    const auto first = values_.begin() + static_cast<ptrdiff_t>(frame.values);
    ns::Value finished;
    if (object) {
        // Duplicate keys resolve as they would by Set member by member: the first place, the
        // last value.
        ns::Dictionary dictionary;
        dictionary.SetAll(keys_.data() + frame.keys, values_.data() + frame.values,
                          values_.size() - frame.values);
        keys_.resize(frame.keys);
        finished = ns::Value(std::move(dictionary));
    } else if (frame.values == 0) {
        // Every waiting value is an element of this array (a document's outer array of
        // records, typically): the stack itself becomes the array, without moving them.
        finished = ns::Value(std::move(values_));
        values_ = std::vector<ns::Value>();
        values_.reserve(64);
    } else {
        finished = ns::Value(
            ns::Array(std::make_move_iterator(first), std::make_move_iterator(values_.end())));
    }
    values_.erase(values_.begin() + static_cast<ptrdiff_t>(frame.values), values_.end());
    deliver(parser, std::move(finished));
}

void KvJsonStreamParserAdapter::deliver(KvJsonStreamParser& parser, ns::Value&& value) {
    if (!frames_.empty()) {
        values_.push_back(std::move(value));
        return;
    }
    if (delegate_ == nullptr) {
        return;
    }
    if (value.IsArray()) {
        delegate_->parserFoundArray(parser, std::move(value));
    } else {
        delegate_->parserFoundObject(parser, std::move(value));
    }
}

void KvJsonStreamParserAdapter::parserFoundObjectStart(KvJsonStreamParser&) { containerStart(); }

void KvJsonStreamParserAdapter::parserFoundObjectKey(KvJsonStreamParser&, std::string_view key) {
    // Keys of skipped objects are never used: keeping them would only pile them up.
    if (depth_ > levelsToSkip_) {
        keys_.emplace_back(key);
    }
}

void KvJsonStreamParserAdapter::parserFoundObjectEnd(KvJsonStreamParser& parser) {
    containerEnd(parser, true);
}

void KvJsonStreamParserAdapter::parserFoundArrayStart(KvJsonStreamParser&) { containerStart(); }

void KvJsonStreamParserAdapter::parserFoundArrayEnd(KvJsonStreamParser& parser) {
    containerEnd(parser, false);
}

void KvJsonStreamParserAdapter::parserFoundBoolean(KvJsonStreamParser& parser, bool value) {
    if (!frames_.empty()) {
        values_.emplace_back(value);
        return;
    }
    deliver(parser, ns::Value(value));
}

void KvJsonStreamParserAdapter::parserFoundNull(KvJsonStreamParser& parser) {
    if (!frames_.empty()) {
        values_.emplace_back();
        return;
    }
    deliver(parser, ns::Value());
}

void KvJsonStreamParserAdapter::parserFoundNumber(KvJsonStreamParser& parser,
                                                  const ns::Value& number) {
    if (!frames_.empty()) {
        values_.push_back(number);
        return;
    }
    deliver(parser, ns::Value(number));
}

void KvJsonStreamParserAdapter::parserFoundString(KvJsonStreamParser& parser,
                                                  std::string_view string) {
    if (!frames_.empty()) {
        values_.emplace_back(string);
        return;
    }
    deliver(parser, ns::Value(string));
}
