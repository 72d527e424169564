#include "json/KvJsonStreamWriterState.h"

// Every shared state, made together on first use and deliberately never destroyed (a writer
// stays usable while static objects are destroyed at exit).
struct KvJsonStreamWriterStates {
    KvJsonStreamWriterStateStart start;
    KvJsonStreamWriterStateComplete complete;
    KvJsonStreamWriterStateObjectStart objectStart;
    KvJsonStreamWriterStateObjectKey objectKey;
    KvJsonStreamWriterStateObjectValue objectValue;
    KvJsonStreamWriterStateArrayStart arrayStart;
    KvJsonStreamWriterStateArrayValue arrayValue;

    static const KvJsonStreamWriterStates& shared() {
        static const KvJsonStreamWriterStates* const states = new KvJsonStreamWriterStates;
        return *states;
    }

private:
    KvJsonStreamWriterStates() {
        start.next_ = &complete;

        complete.closed_ = true;

        objectStart.expectsKey_ = true;
        objectStart.next_ = &objectValue;

        // ObjectKey is an ObjectStart after a member: the same, with a separator.
        objectKey.expectsKey_ = true;
        objectKey.separator_ = ',';
        objectKey.next_ = &objectValue;

        objectValue.separator_ = ':';
        objectValue.oneSpace_ = true;
        objectValue.next_ = &objectKey;

        arrayStart.next_ = &arrayValue;

        arrayValue.separator_ = ',';
    }
};

void KvJsonStreamWriterState::appendWhitespace(KvJsonStreamWriter& writer) const {
    if (oneSpace_) {
        writer.appendBytes(" ", 1);
        return;
    }
    writer.appendBytes("\n", 1);
    for (size_t i = 0; i < writer.stateStack().size(); ++i) {
        writer.appendBytes("  ", 2);
    }
}

#define KV_JSON_SHARED_INSTANCE(Class, member) \
    const Class& Class::sharedInstance() { return KvJsonStreamWriterStates::shared().member; }

KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateStart, start)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateComplete, complete)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateObjectStart, objectStart)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateObjectKey, objectKey)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateObjectValue, objectValue)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateArrayStart, arrayStart)
KV_JSON_SHARED_INSTANCE(KvJsonStreamWriterStateArrayValue, arrayValue)

#undef KV_JSON_SHARED_INSTANCE
