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
    : _errorState(&KvJsonStreamParserStateError::sharedInstance()),
      _state(&KvJsonStreamParserStateStart::sharedInstance()) {
    _stateStack.reserve(kInitialStackCapacity);
}

int KvJsonStreamParser::parse(const void* bytes, size_t length) {
    // A parser in error keeps its answer; its input is not buffered any more.
    if (_state == _errorState) {
        return KvJsonStreamParserError;
    }
    _tokeniser.appendData(bytes, length);
    for (;;) {
        const int token = _tokeniser.getToken();
        if (token == KvJsonTokenError) {
            _state = _errorState;
            _error = _tokeniser.error();
            return KvJsonStreamParserError;
        }
        if (token == KvJsonTokenEndOfInput) {
            return _state->parserShouldReturn(*this);
        }
        if (!_state->parserShouldAcceptToken(*this, token)) {
            _error = std::string("Token '") + TokenName(token) + "' not expected " +
                     _state->name();
            _state = _errorState;
            return KvJsonStreamParserError;
        }
        switch (token) {
        case KvJsonTokenArrayStart: enterContainer(false); break;
        case KvJsonTokenArrayEnd: leaveContainer(token); break;
        case KvJsonTokenObjectStart: enterContainer(true); break;
        case KvJsonTokenObjectEnd: leaveContainer(token); break;
        case KvJsonTokenValueSeparator:
        case KvJsonTokenKeyValueSeparator: _state->parserShouldTransitionTo(*this, token); break;
        case KvJsonTokenNumber:
            if (_delegate) {
                _delegate->parserFoundNumber(*this, _tokeniser.numberValue());
            }
            _state->parserShouldTransitionTo(*this, token);
            break;
        case KvJsonTokenString:
            if (_delegate) {
                if (_state->needKey()) {
                    _delegate->parserFoundObjectKey(*this, _tokeniser.stringValue());
                } else {
                    _delegate->parserFoundString(*this, _tokeniser.stringValue());
                }
            }
            _state->parserShouldTransitionTo(*this, token);
            break;
        case KvJsonTokenTrue:
        case KvJsonTokenFalse:
            if (_delegate) {
                _delegate->parserFoundBoolean(*this, token == KvJsonTokenTrue);
            }
            _state->parserShouldTransitionTo(*this, token);
            break;
        case KvJsonTokenNull:
            if (_delegate) {
                _delegate->parserFoundNull(*this);
            }
            _state->parserShouldTransitionTo(*this, token);
            break;
        default: break;
        }
        if (_state == _errorState) {  // the Error state is the one whose isError is true
            return KvJsonStreamParserError;
        }
    }
}

void KvJsonStreamParser::enterContainer(bool object) {
    if (_stateStack.size() >= _maxDepth) {
        _error = "Input depth exceeds max depth of " + std::to_string(_maxDepth);
        _state = _errorState;
        return;
    }
    if (_delegate) {
        if (object) {
            _delegate->parserFoundObjectStart(*this);
        } else {
            _delegate->parserFoundArrayStart(*this);
        }
    }
    _stateStack.push_back(_state);
    if (object) {
        _state = &KvJsonStreamParserStateObjectStart::sharedInstance();
    } else {
        _state = &KvJsonStreamParserStateArrayStart::sharedInstance();
    }
}

void KvJsonStreamParser::leaveContainer(int token) {
    // The states let a closing token through only inside a container of its kind, so the
    // stack is not empty here.
    _state = _stateStack.back();
    _stateStack.pop_back();
    _state->parserShouldTransitionTo(*this, token);
    if (_delegate) {
        if (token == KvJsonTokenObjectEnd) {
            _delegate->parserFoundObjectEnd(*this);
        } else {
            _delegate->parserFoundArrayEnd(*this);
        }
    }
}
