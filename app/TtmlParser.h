#ifndef APP_TTMLPARSER_H
#define APP_TTMLPARSER_H
// Reads the cues of a TTML subtitle document into timed entries.
//
// What a document gives: each `p` element (the name as written: "tt:p" is not one) is a cue
// from its "begin" to its "end" attribute, times in the clock form "hours:minutes:seconds"
// where each part counts only as far as its leading integer ("0:1:2.5" is 62 s; a fourth part,
// frames, is ignored). A missing attribute counts as 0 s; a time that is not in the clock form
// or comes out negative cannot be read: a cue without a readable begin is not given, an end that
// cannot be read gives no end marker. The cue's text is what its element holds up to the end
// of its first inner element other than a span or a line break, with a line break ("<br/>",
// "<br />") as a line feed, hyphens removed, and spans (italic, coloured or any other) kept as
// plain text with the text after them. A cue with no text gives no entry, but its end marker
// is given.
//
// A document that stops parsing on an error gives the cues read before the error.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/SubtitleEntry.h"
#include "platform/store/XMLParser.h"

class TtmlParser : private ns::XMLParser::Delegate {
public:
    struct Result {
        // The parser reached the document's start: its entries replace any read before.
        bool started = false;
        // The document was parsed to its end.
        bool finished = false;
        // In document order: each cue's text at its begin, then its end marker.
        std::vector<SubtitleEntry> entries;
    };

    static Result parse(std::string document);

private:
    TtmlParser() = default;

    // ns::XMLParser::Delegate
    void DidStartDocument(ns::XMLParser& parser) override;
    void DidEndDocument(ns::XMLParser& parser) override;
    void DidStartElement(ns::XMLParser& parser, const std::string& name,
                         const std::vector<ns::XMLParser::Attribute>& attributes) override;
    void DidEndElement(ns::XMLParser& parser, const std::string& name) override;
    void FoundCharacters(ns::XMLParser& parser, std::string_view text) override;
    void ParseErrorOccurred(ns::XMLParser& parser, const ns::XMLParser::Error& error) override;

    Result result_;
    bool foundElement_ = false;
    std::string currentElement_;
    int32_t currentBegin_ = -1;
    int32_t currentEnd_ = -1;
    std::string currentSubtitle_;  // the text being collected
    // The elements opened inside the cue, innermost last: true for a span or a line break,
    // whose end does not end the cue as the end of any other element does.
    std::vector<bool> openInCue_;
};

#endif  // APP_TTMLPARSER_H
