#pragma once
// The positions of KvJsonStreamWriter. Each state class has one shared instance; a state
// decides whether anything (or only a key) may be written there, the separator before a
// value, the white space of the human-readable layout, and the position after a value.
//
// As with the parser's states, the answers are data held by the base class and filled in
// once for all states (KvJsonStreamWriterState.cpp): the writer asks them for every value.

#include "json/KvJsonStreamWriter.h"

struct KvJsonStreamWriterStates;

class KvJsonStreamWriterState {
public:
    // True (with the writer's error set) when nothing may be written here.
    bool isInvalidState(KvJsonStreamWriter& writer) const {
        if (_closed) {
            writer.setError("Stream is closed");
        }
        return _closed;
    }
    // True (with the writer's error set) when only a key may be written here.
    bool expectingKey(KvJsonStreamWriter& writer) const {
        if (_expectsKey) {
            writer.setError("JSON object key must be string");
        }
        return _expectsKey;
    }
    void appendSeparator(KvJsonStreamWriter& writer) const {
        if (_separator != '\0') {
            writer.appendByte(_separator);
        }
    }
    void transitionState(KvJsonStreamWriter& writer) const {
        if (_next != nullptr) {
            writer.setState(_next);
        }
    }
    // Human-readable layout: a line feed and two spaces per open container (after an object
    // key: one space).
    void appendWhitespace(KvJsonStreamWriter& writer) const;

    KvJsonStreamWriterState(const KvJsonStreamWriterState&) = delete;
    KvJsonStreamWriterState& operator=(const KvJsonStreamWriterState&) = delete;

protected:
    KvJsonStreamWriterState() = default;

private:
    friend struct KvJsonStreamWriterStates;

    // The base behaviour: anything may be written, no separator, no change.
    bool _closed = false;
    bool _expectsKey = false;
    char _separator = '\0';
    bool _oneSpace = false;
    const KvJsonStreamWriterState* _next = nullptr;
};

#define KV_JSON_WRITER_STATE(Class, Base)           \
    class Class : public Base {                     \
    public:                                         \
        static const Class& sharedInstance();       \
                                                    \
    protected:                                      \
        friend struct KvJsonStreamWriterStates;     \
        Class() = default;                          \
    };

KV_JSON_WRITER_STATE(KvJsonStreamWriterStateStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateComplete, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectKey, KvJsonStreamWriterStateObjectStart)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectValue, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateArrayStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateArrayValue, KvJsonStreamWriterState)

#undef KV_JSON_WRITER_STATE
