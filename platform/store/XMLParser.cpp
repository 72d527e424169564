#include "platform/store/XMLParser.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/SAX2.h>
#include <libxml/xmlerror.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace ns {

namespace {

// libxml2 wants its globals set up once, before parsers are made on several threads.
void InitialiseLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

xmlParserCtxtPtr Ctxt(void* context) { return static_cast<xmlParserCtxtPtr>(context); }

// libxml2 hands text to SAX callbacks as xmlChar (unsigned char) runs in UTF-8.
const char* Text(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

// libxml2's own message ends with a line feed; ours do not.
std::string TrimMessage(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// libxml2 reports a few failures (an input that its encoding converter rejects) only to its
// thread's generic error handler, which prints to standard error. While our parser runs that
// handler is silenced; the failure itself reaches the caller through the parser's state.
void IgnoreMessage(void*, const char*, ...) {}

class QuietGenericErrors {
public:
    QuietGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, &IgnoreMessage);
    }
    ~QuietGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }
    QuietGenericErrors(const QuietGenericErrors&) = delete;
    QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* context_;
};

// Encoding detection looks at the first four bytes (byte order mark or "<?xm" in some
// encoding), so the context is made once that many have arrived.
constexpr size_t kDetectBytes = 4;

}  // namespace

// The SAX entry points. Each one checks that the parse is still live: after an error or an
// abort libxml2 turns SAX off, and the check keeps that promise even where it might not.
struct XMLParser::Callbacks {
    static XMLParser* From(void* user) { return static_cast<XMLParser*>(user); }

    static void StartDocument(void* user) {
        XMLParser* p = From(user);
        if (!p->Stopped()) p->delegate_.DidStartDocument(*p);
    }
    static void EndDocument(void* user) {
        XMLParser* p = From(user);
        if (!p->Stopped()) p->delegate_.DidEndDocument(*p);
    }
    static void StartElement(void* user, const xmlChar* name, const xmlChar** attributes) {
        XMLParser* p = From(user);
        if (p->Stopped()) return;
        p->name_.assign(Text(name));
        ++p->depth_;
        p->sawRoot_ = true;
        p->attributes_.clear();
        // Name, value, name, value, ..., NULL: in document order.
        for (const xmlChar** a = attributes; a != nullptr && a[0] != nullptr; a += 2) {
            p->attributes_.push_back({Text(a[0]), a[1] ? Text(a[1]) : ""});
        }
        p->delegate_.DidStartElement(*p, p->name_, p->attributes_);
    }
    static void EndElement(void* user, const xmlChar* name) {
        XMLParser* p = From(user);
        if (p->Stopped()) return;
        p->name_.assign(Text(name));
        --p->depth_;
        p->delegate_.DidEndElement(*p, p->name_);
    }
    static void Characters(void* user, const xmlChar* text, int length) {
        XMLParser* p = From(user);
        if (p->Stopped() || length <= 0) return;
        p->delegate_.FoundCharacters(*p, std::string_view(Text(text), static_cast<size_t>(length)));
    }
    // libxml2 reports through the handler's error hook (with a ready message as "%s") after
    // storing the details in the context's lastError.
    static void ErrorMessage(void* user, const char* format, ...) {
        XMLParser* p = From(user);
        if (p->Stopped()) return;
        char text[512];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        // Every error ends the parse, recoverable or not, so a caller never gets half-checked
        // data reported as a good document.
        Error e;
        const xmlError& last = Ctxt(p->context_)->lastError;
        if (last.code != 0) {
            e.code = last.code;
            e.line = last.line;
            e.column = last.int2;
        } else {
            e.code = XML_ERR_INTERNAL_ERROR;
            e.line = p->Line();
            e.column = p->Column();
        }
        e.message = TrimMessage(text);
        p->Fail(e);
    }
    // Warnings (an unused declaration, a parameter entity left unread) do not end the parse
    // and are not printed.
    static void WarningMessage(void*, const char*, ...) {}
};

XMLParser::XMLParser(Delegate& delegate) : delegate_(delegate) { InitialiseLibxml(); }

XMLParser::~XMLParser() {
    if (context_ != nullptr) {
        xmlParserCtxtPtr ctxt = Ctxt(context_);
        // Entity declarations leave a stand-in document behind even in pure event mode, and
        // freeing the context does not free it.
        if (ctxt->myDoc != nullptr) {
            xmlFreeDoc(ctxt->myDoc);
            ctxt->myDoc = nullptr;
        }
        xmlFreeParserCtxt(ctxt);
    }
}

bool XMLParser::StartContext() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof(sax));
    // The first-generation handler layout: libxml2 then parses without namespace processing
    // and reports names with their prefixes, and attributes (xmlns ones included) as written.
    sax.initialized = 1;
    sax.startDocument = &Callbacks::StartDocument;
    sax.endDocument = &Callbacks::EndDocument;
    sax.startElement = &Callbacks::StartElement;
    sax.endElement = &Callbacks::EndElement;
    sax.characters = &Callbacks::Characters;
    sax.ignorableWhitespace = &Callbacks::Characters;
    sax.cdataBlock = &Callbacks::Characters;
    sax.error = &Callbacks::ErrorMessage;
    sax.fatalError = &Callbacks::ErrorMessage;
    sax.warning = &Callbacks::WarningMessage;
    // Deliberately left empty: internalSubset, externalSubset, entityDecl, getEntity,
    // getParameterEntity, resolveEntity, reference. Without them no DTD is loaded and no
    // declared entity is ever looked up (libxml2 only consults its own stand-in declarations
    // when the callbacks' user data is the context itself, which ours is not), so no entity
    // beyond the predefined ones can be expanded or loaded.

    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, this, nullptr, 0, nullptr);
    if (ctxt == nullptr) {
        Fail({kParserFailed, 0, 0, "cannot make an XML parser"});
        return false;
    }
    // No XML_PARSE_NOENT, DTDLOAD, DTDATTR, DTDVALID or HUGE: the defaults keep entities
    // unexpanded and libxml2's size and amplification limits on. The fields are also set
    // directly, because their defaults come from process-wide settings that other code may
    // have changed.
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
    ctxt->replaceEntities = 0;
    ctxt->loadsubset = 0;
    ctxt->validate = 0;
    context_ = ctxt;
    return true;
}

bool XMLParser::Push(const char* data, size_t size, bool terminate) {
    // xmlParseChunk takes an int length: hand over large inputs in slices.
    constexpr size_t kSlice = 1u << 20;
    QuietGenericErrors quiet;
    xmlParserCtxtPtr ctxt = Ctxt(context_);
    do {
        const size_t n = size < kSlice ? size : kSlice;
        const bool last = terminate && n == size;
        const int rc = xmlParseChunk(ctxt, data, static_cast<int>(n), last ? 1 : 0);
        data += n;
        size -= n;
        // Input its encoding converter rejects halts the parser without an error through the
        // handler, or leaves the rest of the input unread; the input buffer keeps the mark.
        const bool encoderFailed =
            ctxt->input != nullptr && ctxt->input->buf != nullptr && ctxt->input->buf->error != 0;
        if (!Stopped() && (rc < 0 || encoderFailed || (!last && ctxt->instate == XML_PARSER_EOF))) {
            Fail({XML_ERR_INVALID_CHAR, Line(), Column(),
                  "the input is not valid in the document's encoding"});
        }
    } while (size > 0 && !Stopped());
    return !failed_;
}

bool XMLParser::Feed(const char* data, size_t size) {
    if (Stopped()) return false;  // failed, aborted, or input after Finish
    if (size == 0) return true;
    if (context_ == nullptr) {
        pending_.append(data, size);
        if (pending_.size() < kDetectBytes) return true;
        if (!StartContext()) return false;
        std::string first;
        first.swap(pending_);
        return Push(first.data(), first.size(), false);
    }
    return Push(data, size, false);
}

bool XMLParser::Finish() {
    if (Stopped()) return !failed_;
    if (context_ == nullptr && !StartContext()) return false;
    std::string rest;
    rest.swap(pending_);
    Push(rest.data(), rest.size(), true);
    // libxml2 raises an error for a document that is not finished, except when it halted on
    // input its encoding converter rejects: then the elements tell.
    if (!failed_ && Ctxt(context_)->wellFormed == 0) {
        Fail({Ctxt(context_)->errNo, Line(), Column(), "the document is not well formed"});
    }
    if (!failed_ && (!sawRoot_ || depth_ != 0)) {
        Fail({XML_ERR_DOCUMENT_END, Line(), Column(), "the document ends inside its root element"});
    }
    finished_ = true;
    return !failed_;
}

bool XMLParser::Parse(std::string_view document) {
    Feed(document);
    return Finish();
}

void XMLParser::Abort() {
    if (Stopped()) return;
    failed_ = true;
    error_ = {kAborted, Line(), Column(), "the parse was aborted"};
    if (context_ != nullptr) xmlStopParser(Ctxt(context_));
}

void XMLParser::Fail(const Error& error) {
    if (Stopped()) return;
    failed_ = true;
    error_ = error;
    if (context_ != nullptr) xmlStopParser(Ctxt(context_));
    delegate_.ParseErrorOccurred(*this, error_);
}

int XMLParser::Line() const {
    if (context_ == nullptr) return 0;
    return xmlSAX2GetLineNumber(context_);
}

int XMLParser::Column() const {
    if (context_ == nullptr) return 0;
    return xmlSAX2GetColumnNumber(context_);
}

}  // namespace ns
