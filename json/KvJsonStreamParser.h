#ifndef JSON_KVJSONSTREAMPARSER_H
#define JSON_KVJSONSTREAMPARSER_H
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
    bool hasUnfinishedToken() const { return tokeniser_.hasUnfinishedToken(); }

    bool supportMultipleDocuments() const { return supportMultipleDocuments_; }
    void setSupportMultipleDocuments(bool support) { supportMultipleDocuments_ = support; }
    KvJsonStreamParserDelegate* delegate() const { return delegate_; }
    void setDelegate(KvJsonStreamParserDelegate* delegate) { delegate_ = delegate; }
    size_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(size_t maxDepth) { maxDepth_ = maxDepth; }
    const std::string& error() const { return error_; }

    // For the states.
    const KvJsonStreamParserState* state() const { return state_; }
    void setState(const KvJsonStreamParserState* state) { state_ = state; }
    void setError(std::string error) { error_ = std::move(error); }

private:
    void enterContainer(bool object);
    void leaveContainer(int token);

    bool supportMultipleDocuments_ = false;
    KvJsonStreamParserDelegate* delegate_ = nullptr;
    size_t maxDepth_ = 32;
    std::string error_;
    const KvJsonStreamParserState* const errorState_;
    const KvJsonStreamParserState* state_;
    std::vector<const KvJsonStreamParserState*> stateStack_;
    KvJsonTokeniser tokeniser_;
};

#endif  // JSON_KVJSONSTREAMPARSER_H
