#ifndef PLATFORM_STORE_XMLPARSER_H
#define PLATFORM_STORE_XMLPARSER_H
// Event-driven XML reader over libxml2's push parser, for subtitle documents and other small
// XML texts that arrive over the network in pieces.
//
// What it delivers:
// - element starts with the name exactly as written ("tt:p" stays "tt:p": no namespace
//   processing) and the attributes in document order, values with references resolved;
// - element ends with the name as written;
// - character data (text and CDATA) in one or more pieces: a caller that needs whole text
//   nodes joins the pieces itself until the next start or end;
// - the first error, with the line and column where libxml2 found it; nothing is delivered
//   after an error.
//
// What it never does: touch the network, load a DTD or any external entity, or expand
// entities other than the five predefined ones and character references. A reference to any
// other entity is an error. libxml2's limits on nesting depth, name and text lengths and
// entity amplification stay in force.
//
// Input may be fed in chunks of any size, down to single bytes; a reference, a tag or a
// multi-byte character split across chunks arrives whole. A callback may call Abort() to stop
// the parse; no callback runs after that.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

class XMLParser {
public:
    struct Attribute {
        std::string name;   // as written, prefix included
        std::string value;  // with predefined entities and character references resolved
    };

    struct Error {
        int code = 0;  // libxml2's error number (xmlParserErrors), or one of ours below
        int line = 0;  // 1-based; 0 when unknown
        int column = 0;
        std::string message;
    };
    // Our own error codes, apart from libxml2's range.
    static constexpr int kAborted = 10001;       // a callback called Abort()
    static constexpr int kParserFailed = 10002;  // libxml2 could not make a parser context

    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual void DidStartDocument(XMLParser& /*parser*/) {}
        virtual void DidEndDocument(XMLParser& /*parser*/) {}
        virtual void DidStartElement(XMLParser& /*parser*/, const std::string& /*name*/,
                                     const std::vector<Attribute>& /*attributes*/) {}
        virtual void DidEndElement(XMLParser& /*parser*/, const std::string& /*name*/) {}
        virtual void FoundCharacters(XMLParser& /*parser*/, std::string_view /*text*/) {}
        // The first error only; the parse is over when this runs.
        virtual void ParseErrorOccurred(XMLParser& /*parser*/, const Error& /*error*/) {}
    };

    // The delegate must outlive the parser (or at least every Feed/Finish call).
    explicit XMLParser(Delegate& delegate);
    ~XMLParser();
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    // Feeds the next bytes. False once the parse has failed or was aborted (then the bytes are
    // ignored).
    bool Feed(const char* data, size_t size);
    bool Feed(std::string_view data) { return Feed(data.data(), data.size()); }
    // Ends the input: true when the whole document was well formed. A document that stops
    // early (no root element, an element left open) is an error.
    bool Finish();
    // Feed(document) then Finish().
    bool Parse(std::string_view document);

    // From inside a callback (or between Feed calls): stops the parse; no callback runs after.
    void Abort();

    bool Failed() const { return failed_; }
    // The error that ended the parse (code 0 while none).
    const Error& LastError() const { return error_; }
    // Where the parser is now (valid inside callbacks); 0 before the first byte is parsed.
    int Line() const;
    int Column() const;

private:
    struct Callbacks;
    friend struct Callbacks;

    bool StartContext();
    bool Push(const char* data, size_t size, bool terminate);
    void Fail(const Error& error);
    bool Stopped() const { return failed_ || finished_; }

    Delegate& delegate_;
    void* context_ = nullptr;  // xmlParserCtxtPtr, kept out of the header
    // The first bytes, held back until libxml2 has enough to detect the encoding.
    std::string pending_;
    std::vector<Attribute> attributes_;  // reused between element starts
    std::string name_;                   // reused between element callbacks
    Error error_;
    long depth_ = 0;  // elements open now
    bool sawRoot_ = false;
    bool failed_ = false;
    bool finished_ = false;
};

}  // namespace ns

#endif  // PLATFORM_STORE_XMLPARSER_H
