#pragma once
// Checks the JSON grammar over the tokens of its tokeniser and reports what it finds as events
// to a delegate, without building values. Input may come in pieces: every parse call appends
// the bytes and runs until they are used up, the document is complete or an error occurs.
// A document is an array or an object; containers nest at most maxDepth deep. Texts handed
// to the delegate are valid only during the call.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/KvJsonTokeniser.h"
#include "platform/Value.h"

class KvJsonStreamParser;
class KvJsonStreamParserState;

class KvJsonStreamParserDelegate {
public:
    virtual ~KvJsonStreamParserDelegate() = default;
    virtual void parserFoundObjectStart(KvJsonStreamParser& parser) = 0;
    virtual void parserFoundObjectKey(KvJsonStreamParser& parser, std::string_view key) = 0;
    virtual void parserFoundObjectEnd(KvJsonStreamParser& parser) = 0;
    virtual void parserFoundArrayStart(KvJsonStreamParser& parser) = 0;
    virtual void parserFoundArrayEnd(KvJsonStreamParser& parser) = 0;
    virtual void parserFoundBoolean(KvJsonStreamParser& parser, bool value) = 0;
    virtual void parserFoundNull(KvJsonStreamParser& parser) = 0;
    virtual void parserFoundNumber(KvJsonStreamParser& parser, const ns::Value& number) = 0;
    virtual void parserFoundString(KvJsonStreamParser& parser, std::string_view string) = 0;
};

// Results of KvJsonStreamParser::parse.
enum KvJsonStreamParserStatus {
    KvJsonStreamParserComplete = 0,
    KvJsonStreamParserWaitingForData = 1,
    KvJsonStreamParserError = 2,
};

class KvJsonStreamParser {
public:
    KvJsonStreamParser();

    // Appends the bytes and parses as far as they go: KvJsonStreamParserStatus.
    int parse(const void* bytes, size_t length);

    // True when the input so far ends inside a token (after a parse that answered complete,
    // this means bytes that are not white space follow the document).
    bool hasUnfinishedToken() const { return _tokeniser.hasUnfinishedToken(); }

    bool supportMultipleDocuments() const { return _supportMultipleDocuments; }
    void setSupportMultipleDocuments(bool support) { _supportMultipleDocuments = support; }
    KvJsonStreamParserDelegate* delegate() const { return _delegate; }
    void setDelegate(KvJsonStreamParserDelegate* delegate) { _delegate = delegate; }
    size_t maxDepth() const { return _maxDepth; }
    void setMaxDepth(size_t maxDepth) { _maxDepth = maxDepth; }
    const std::string& error() const { return _error; }

    // For the states.
    const KvJsonStreamParserState* state() const { return _state; }
    void setState(const KvJsonStreamParserState* state) { _state = state; }
    void setError(std::string error) { _error = std::move(error); }

private:
    void enterContainer(bool object);
    void leaveContainer(int token);

    bool _supportMultipleDocuments = false;
    KvJsonStreamParserDelegate* _delegate = nullptr;
    size_t _maxDepth = 32;
    std::string _error;
    const KvJsonStreamParserState* const _errorState;
    const KvJsonStreamParserState* _state;
    std::vector<const KvJsonStreamParserState*> _stateStack;
    KvJsonTokeniser _tokeniser;
};
