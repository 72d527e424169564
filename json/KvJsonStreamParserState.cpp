#include "json/KvJsonStreamParserState.h"

#include <initializer_list>

// Every shared state, made together on first use (so that their tables can point at each
// other) and deliberately never destroyed: a parser stays usable while static objects are
// destroyed at exit.
struct KvJsonStreamParserStates {
    KvJsonStreamParserStateStart start;
    KvJsonStreamParserStateComplete complete;
    KvJsonStreamParserStateError error;
    KvJsonStreamParserStateObjectStart objectStart;
    KvJsonStreamParserStateObjectGotKey objectGotKey;
    KvJsonStreamParserStateObjectSeparator objectSeparator;
    KvJsonStreamParserStateObjectGotValue objectGotValue;
    KvJsonStreamParserStateObjectNeedKey objectNeedKey;
    KvJsonStreamParserStateArrayStart arrayStart;
    KvJsonStreamParserStateArrayGotValue arrayGotValue;
    KvJsonStreamParserStateArrayNeedValue arrayNeedValue;

    static const KvJsonStreamParserStates& shared() {
        static const KvJsonStreamParserStates* const states = new KvJsonStreamParserStates;
        return *states;
    }

private:
    using State = KvJsonStreamParserState;

    static void accept(State& state, std::initializer_list<int> tokens) {
        for (const int token : tokens) {
            state.accepts_ |= 1u << token;
        }
    }
    static void lead(State& state, std::initializer_list<int> tokens, const State& next) {
        for (const int token : tokens) {
            state.next_[token] = &next;
        }
    }

    KvJsonStreamParserStates() {
        const std::initializer_list<int> kValues = {
            KvJsonTokenArrayStart, KvJsonTokenObjectStart, KvJsonTokenNumber, KvJsonTokenString,
            KvJsonTokenTrue,       KvJsonTokenFalse,       KvJsonTokenNull};
        const std::initializer_list<int> kEveryToken = {KvJsonTokenArrayStart,
                                                        KvJsonTokenArrayEnd,
                                                        KvJsonTokenObjectStart,
                                                        KvJsonTokenObjectEnd,
                                                        KvJsonTokenValueSeparator,
                                                        KvJsonTokenKeyValueSeparator,
                                                        KvJsonTokenNumber,
                                                        KvJsonTokenString,
                                                        KvJsonTokenTrue,
                                                        KvJsonTokenFalse,
                                                        KvJsonTokenNull};

        start.name_ = "before outer-most array or object";
        accept(start, {KvJsonTokenArrayStart, KvJsonTokenObjectStart});
        lead(start, kEveryToken, error);
        lead(start, {KvJsonTokenArrayEnd, KvJsonTokenObjectEnd}, complete);
        start.documentEnds_ = (1u << KvJsonTokenArrayEnd) | (1u << KvJsonTokenObjectEnd);
        lead(start, {KvJsonTokenArrayStart}, arrayStart);
        lead(start, {KvJsonTokenObjectStart}, objectStart);

        complete.name_ = "after outer-most array or object";
        complete.shouldReturn_ = KvJsonStreamParserComplete;

        error.name_ = "in error";
        error.shouldReturn_ = KvJsonStreamParserError;
        error.isError_ = true;

        objectStart.name_ = "at beginning of object";
        objectStart.needKey_ = true;
        accept(objectStart, {KvJsonTokenObjectEnd, KvJsonTokenString});
        lead(objectStart, kEveryToken, objectGotKey);

        objectGotKey.name_ = "after object key";
        accept(objectGotKey, {KvJsonTokenKeyValueSeparator});
        lead(objectGotKey, kEveryToken, objectSeparator);

        objectSeparator.name_ = "as object value";
        accept(objectSeparator, kValues);
        lead(objectSeparator, kEveryToken, objectGotValue);

        objectGotValue.name_ = "after object value";
        accept(objectGotValue, {KvJsonTokenObjectEnd, KvJsonTokenValueSeparator});
        lead(objectGotValue, kEveryToken, objectNeedKey);

        objectNeedKey.name_ = "in place of object key";
        objectNeedKey.needKey_ = true;
        accept(objectNeedKey, {KvJsonTokenString});
        lead(objectNeedKey, kEveryToken, objectGotKey);

        arrayStart.name_ = "at array start";
        accept(arrayStart, kValues);
        accept(arrayStart, {KvJsonTokenArrayEnd});
        lead(arrayStart, kEveryToken, arrayGotValue);

        arrayGotValue.name_ = "after array value";
        accept(arrayGotValue, {KvJsonTokenArrayEnd, KvJsonTokenValueSeparator});
        lead(arrayGotValue, {KvJsonTokenValueSeparator}, arrayNeedValue);

        arrayNeedValue.name_ = "as array value";
        accept(arrayNeedValue, kValues);
        lead(arrayNeedValue, kEveryToken, arrayGotValue);
    }
};

#define KV_JSON_SHARED_INSTANCE(Class, member) \
    const Class& Class::sharedInstance() { return KvJsonStreamParserStates::shared().member; }

KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateStart, start)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateComplete, complete)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateError, error)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateObjectStart, objectStart)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateObjectGotKey, objectGotKey)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateObjectSeparator, objectSeparator)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateObjectGotValue, objectGotValue)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateObjectNeedKey, objectNeedKey)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateArrayStart, arrayStart)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateArrayGotValue, arrayGotValue)
KV_JSON_SHARED_INSTANCE(KvJsonStreamParserStateArrayNeedValue, arrayNeedValue)

#undef KV_JSON_SHARED_INSTANCE
