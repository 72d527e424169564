#pragma once
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
        return token > 0 && token < kTokenCount && ((_accepts >> token) & 1u) != 0;
    }
    int parserShouldReturn(KvJsonStreamParser&) const { return _shouldReturn; }
    void parserShouldTransitionTo(KvJsonStreamParser& parser, int token) const {
        if (token <= 0 || token >= kTokenCount || _next[token] == nullptr) {
            return;
        }
        if (((_documentEnds >> token) & 1u) != 0 && parser.supportMultipleDocuments()) {
            parser.setState(this);  // a complete document, and another may follow
        } else {
            parser.setState(_next[token]);
        }
    }
    bool needKey() const { return _needKey; }
    bool isError() const { return _isError; }
    const char* name() const { return _name; }

    KvJsonStreamParserState(const KvJsonStreamParserState&) = delete;
    KvJsonStreamParserState& operator=(const KvJsonStreamParserState&) = delete;

protected:
    KvJsonStreamParserState() = default;

private:
    friend struct KvJsonStreamParserStates;
    static constexpr int kTokenCount = 12;

    // The base behaviour: accepts nothing, waits for data, changes nothing.
    const char* _name = "<aaiie!>";
    uint32_t _accepts = 0;  // bit n: token n is accepted
    int _shouldReturn = KvJsonStreamParserWaitingForData;
    bool _needKey = false;
    bool _isError = false;
    // Where each token leads; nullptr: no change.
    const KvJsonStreamParserState* _next[kTokenCount] = {};
    // Bit n: token n completes a document, and leads back to this state instead when the
    // parser takes multiple documents.
    uint32_t _documentEnds = 0;
};

#define KV_JSON_PARSER_STATE(Class)                   \
    class Class : public KvJsonStreamParserState {    \
    public:                                           \
        static const Class& sharedInstance();         \
                                                      \
    private:                                          \
        friend struct KvJsonStreamParserStates;       \
        Class() = default;                            \
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
