#ifndef JSON_KVJSONSTREAMWRITERSTATE_H
#define JSON_KVJSONSTREAMWRITERSTATE_H
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
    // True when a value (or, with isKey, a key) may be written here: the writer's quick
    // check before it asks the two questions below for the error.
    bool acceptsValue(bool isKey) const { return !closed_ && (isKey || !expectsKey_); }
    // True (with the writer's error set) when nothing may be written here.
    bool isInvalidState(KvJsonStreamWriter& writer) const {
        if (closed_) {
            writer.setError("Stream is closed");
        }
        return closed_;
    }
    // True (with the writer's error set) when only a key may be written here.
    bool expectingKey(KvJsonStreamWriter& writer) const {
        if (expectsKey_) {
            writer.setError("JSON object key must be string");
        }
        return expectsKey_;
    }
    void appendSeparator(KvJsonStreamWriter& writer) const {
        if (separator_ != '\0') {
            writer.appendByte(separator_);
        }
    }
    void transitionState(KvJsonStreamWriter& writer) const {
        if (next_ != nullptr) {
            writer.setState(next_);
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
    bool closed_ = false;
    bool expectsKey_ = false;
    char separator_ = '\0';
    bool oneSpace_ = false;
    const KvJsonStreamWriterState* next_ = nullptr;
};

#define KV_JSON_WRITER_STATE(Class, Base)       \
    class Class : public Base {                 \
    public:                                     \
        static const Class& sharedInstance();   \
                                                \
    protected:                                  \
        friend struct KvJsonStreamWriterStates; \
        Class() = default;                      \
    };

KV_JSON_WRITER_STATE(KvJsonStreamWriterStateStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateComplete, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectKey, KvJsonStreamWriterStateObjectStart)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateObjectValue, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateArrayStart, KvJsonStreamWriterState)
KV_JSON_WRITER_STATE(KvJsonStreamWriterStateArrayValue, KvJsonStreamWriterState)

#undef KV_JSON_WRITER_STATE

#endif  // JSON_KVJSONSTREAMWRITERSTATE_H
