#include "json/KvJsonStreamParser.h"

#include "json/KvJsonStreamParserState.h"

namespace {

// Only a little is reserved up front: the depth limit may be set very high, and the stack
// grows with the document's real nesting.
constexpr size_t kInitialStackCapacity = 32;

const char* TokenName(int token) {
    switch (token) {
        case KvJsonTokenArrayStart: return "start of array";
        case KvJsonTokenArrayEnd: return "end of array";
        case KvJsonTokenObjectStart: return "start of object";
        case KvJsonTokenObjectEnd: return "end of object";
        case KvJsonTokenValueSeparator: return "value separator";
        case KvJsonTokenKeyValueSeparator: return "key-value separator";
        case KvJsonTokenNumber: return "number";
        case KvJsonTokenString: return "string";
        case KvJsonTokenTrue:
        case KvJsonTokenFalse: return "boolean";
        case KvJsonTokenNull: return "null";
        default: return "<aaiiie!>";
    }
}

}  // namespace

KvJsonStreamParser::KvJsonStreamParser()
    : errorState_(&KvJsonStreamParserStateError::sharedInstance()),
      state_(&KvJsonStreamParserStateStart::sharedInstance()) {
    stateStack_.reserve(kInitialStackCapacity);
}

int KvJsonStreamParser::parse(const void* bytes, size_t length) {
    // A parser in error keeps its answer; its input is not buffered any more.
    if (state_ == errorState_) {
        return KvJsonStreamParserError;
    }
    tokeniser_.appendData(bytes, length);
    for (;;) {
        const int token = tokeniser_.getToken();
        if (token == KvJsonTokenError) {
            state_ = errorState_;
            error_ = tokeniser_.error();
            return KvJsonStreamParserError;
        }
        if (token == KvJsonTokenEndOfInput) {
            return state_->parserShouldReturn(*this);
        }
        if (!state_->parserShouldAcceptToken(*this, token)) {
            error_ = std::string("Token '") + TokenName(token) + "' not expected " + state_->name();
            state_ = errorState_;
            return KvJsonStreamParserError;
        }
        switch (token) {
            case KvJsonTokenArrayStart: enterContainer(false); break;
            case KvJsonTokenArrayEnd: leaveContainer(token); break;
            case KvJsonTokenObjectStart: enterContainer(true); break;
            case KvJsonTokenObjectEnd: leaveContainer(token); break;
            case KvJsonTokenValueSeparator:
            case KvJsonTokenKeyValueSeparator:
                state_->parserShouldTransitionTo(*this, token);
                break;
            case KvJsonTokenNumber:
                if (delegate_) {
                    delegate_->parserFoundNumber(*this, tokeniser_.numberValue());
                }
                state_->parserShouldTransitionTo(*this, token);
                break;
            case KvJsonTokenString:
                if (delegate_) {
                    if (state_->needKey()) {
                        delegate_->parserFoundObjectKey(*this, tokeniser_.stringValue());
                    } else {
                        delegate_->parserFoundString(*this, tokeniser_.stringValue());
                    }
                }
                state_->parserShouldTransitionTo(*this, token);
                break;
            case KvJsonTokenTrue:
            case KvJsonTokenFalse:
                if (delegate_) {
                    delegate_->parserFoundBoolean(*this, token == KvJsonTokenTrue);
                }
                state_->parserShouldTransitionTo(*this, token);
                break;
            case KvJsonTokenNull:
                if (delegate_) {
                    delegate_->parserFoundNull(*this);
                }
                state_->parserShouldTransitionTo(*this, token);
                break;
            default: break;
        }
        if (state_ == errorState_) {  // the Error state is the one whose isError is true
            return KvJsonStreamParserError;
        }
    }
}

void KvJsonStreamParser::enterContainer(bool object) {
    if (stateStack_.size() >= maxDepth_) {
        error_ = "Input depth exceeds max depth of " + std::to_string(maxDepth_);
        state_ = errorState_;
        return;
    }
    if (delegate_) {
        if (object) {
            delegate_->parserFoundObjectStart(*this);
        } else {
            delegate_->parserFoundArrayStart(*this);
        }
    }
    stateStack_.push_back(state_);
    if (object) {
        state_ = &KvJsonStreamParserStateObjectStart::sharedInstance();
    } else {
        state_ = &KvJsonStreamParserStateArrayStart::sharedInstance();
    }
}

void KvJsonStreamParser::leaveContainer(int token) {
    // The states let a closing token through only inside a container of its kind, so the
    // stack is not empty here.
    state_ = stateStack_.back();
    stateStack_.pop_back();
    state_->parserShouldTransitionTo(*this, token);
    if (delegate_) {
        if (token == KvJsonTokenObjectEnd) {
            delegate_->parserFoundObjectEnd(*this);
        } else {
            delegate_->parserFoundArrayEnd(*this);
        }
    }
}
