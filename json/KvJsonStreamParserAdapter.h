#ifndef JSON_KVJSONSTREAMPARSERADAPTER_H
#define JSON_KVJSONSTREAMPARSERADAPTER_H
// A stream-parser delegate that builds values from the parser's events (objects become
// ns::Dictionary, arrays ns::Array) and hands each finished top-level value to its own
// delegate. With levelsToSkip > 0 the outer levels are not built: every value found inside
// them (containers and scalars alike) is handed over on its own, so that the elements of a
// large outer array arrive one by one.

#include <cstddef>
#include <string>
#include <vector>

#include "json/KvJsonStreamParser.h"
#include "platform/Value.h"

class KvJsonStreamParserAdapterDelegate {
public:
    virtual ~KvJsonStreamParserAdapterDelegate() = default;
    virtual void parserFoundArray(KvJsonStreamParser& parser, ns::Value&& array) = 0;
    // Every value that is not an array (objects, and scalars found in skipped levels).
    virtual void parserFoundObject(KvJsonStreamParser& parser, ns::Value&& object) = 0;
};

class KvJsonStreamParserAdapter : public KvJsonStreamParserDelegate {
public:
    KvJsonStreamParserAdapter();

    KvJsonStreamParserAdapterDelegate* delegate() const { return delegate_; }
    void setDelegate(KvJsonStreamParserAdapterDelegate* delegate) { delegate_ = delegate; }
    size_t levelsToSkip() const { return levelsToSkip_; }
    void setLevelsToSkip(size_t levels) { levelsToSkip_ = levels; }

    void parserFoundObjectStart(KvJsonStreamParser& parser) override;
    void parserFoundObjectKey(KvJsonStreamParser& parser, std::string_view key) override;
    void parserFoundObjectEnd(KvJsonStreamParser& parser) override;
    void parserFoundArrayStart(KvJsonStreamParser& parser) override;
    void parserFoundArrayEnd(KvJsonStreamParser& parser) override;
    void parserFoundBoolean(KvJsonStreamParser& parser, bool value) override;
    void parserFoundNull(KvJsonStreamParser& parser) override;
    void parserFoundNumber(KvJsonStreamParser& parser, const ns::Value& number) override;
    void parserFoundString(KvJsonStreamParser& parser, std::string_view string) override;

private:
    // A container being built: where its members start on the value and key stacks.
    struct Frame {
        size_t values;
        size_t keys;
    };

    void containerStart();
    void containerEnd(KvJsonStreamParser& parser, bool object);
    void deliver(KvJsonStreamParser& parser, ns::Value&& value);

    KvJsonStreamParserAdapterDelegate* delegate_ = nullptr;
    size_t levelsToSkip_ = 0;
    size_t depth_ = 0;
    // The members of every container being built wait on one stack (their keys on another)
    // until the container ends; it is then made in one step (an array at its final size)
    // instead of growing and moving its members as they arrive.
    std::vector<Frame> frames_;  // innermost last
    std::vector<ns::Value> values_;
    std::vector<std::string> keys_;
};

#endif  // JSON_KVJSONSTREAMPARSERADAPTER_H
