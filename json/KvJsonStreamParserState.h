#ifndef JSON_KVJSONSTREAMPARSERSTATE_H
#define JSON_KVJSONSTREAMPARSERSTATE_H
// The grammar positions of KvJsonStreamParser. Each state class has one shared instance; a
// state answers which tokens it accepts, where a token leads, whether a string there is an
// object key, and what parse returns when the input runs out there.
//
// The answers are data held by the base class and filled in once for every state (see
// KvJsonStreamParserState.cpp): the parser asks them for every token, and plain loads cost
// far less than a virtual call each.

#include <cstdint>

#include "json/KvJsonStreamParser.h"

struct KvJsonStreamParserStates;

class KvJsonStreamParserState {
public:
    bool parserShouldAcceptToken(KvJsonStreamParser&, int token) const {
        return token > 0 && token < kTokenCount && ((accepts_ >> token) & 1u) != 0;
    }
    int parserShouldReturn(KvJsonStreamParser&) const { return shouldReturn_; }
    void parserShouldTransitionTo(KvJsonStreamParser& parser, int token) const {
        if (token <= 0 || token >= kTokenCount || next_[token] == nullptr) {
            return;
        }
        if (((documentEnds_ >> token) & 1u) != 0 && parser.supportMultipleDocuments()) {
            parser.setState(this);  // a complete document, and another may follow
        } else {
            parser.setState(next_[token]);
        }
    }
    bool needKey() const { return needKey_; }
    bool isError() const { return isError_; }
    const char* name() const { return name_; }

    KvJsonStreamParserState(const KvJsonStreamParserState&) = delete;
    KvJsonStreamParserState& operator=(const KvJsonStreamParserState&) = delete;

protected:
    KvJsonStreamParserState() = default;

private:
    friend struct KvJsonStreamParserStates;
    static constexpr int kTokenCount = 12;

    // The base behaviour: accepts nothing, waits for data, changes nothing.
    const char* name_ = "<aaiie!>";
    uint32_t accepts_ = 0;  // bit n: token n is accepted
    int shouldReturn_ = KvJsonStreamParserWaitingForData;
    bool needKey_ = false;
    bool isError_ = false;
    // Where each token leads; nullptr: no change.
    const KvJsonStreamParserState* next_[kTokenCount] = {};
    // Bit n: token n completes a document, and leads back to this state instead when the
    // parser takes multiple documents.
    uint32_t documentEnds_ = 0;
};

#define KV_JSON_PARSER_STATE(Class)                \
    class Class : public KvJsonStreamParserState { \
    public:                                        \
        static const Class& sharedInstance();      \
                                                   \
    private:                                       \
        friend struct KvJsonStreamParserStates;    \
        Class() = default;                         \
    };

KV_JSON_PARSER_STATE(KvJsonStreamParserStateStart)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateComplete)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateError)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateObjectStart)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateObjectGotKey)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateObjectSeparator)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateObjectGotValue)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateObjectNeedKey)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateArrayStart)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateArrayGotValue)
KV_JSON_PARSER_STATE(KvJsonStreamParserStateArrayNeedValue)

#undef KV_JSON_PARSER_STATE

#endif  // JSON_KVJSONSTREAMPARSERSTATE_H
