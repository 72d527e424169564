#include "app/TtmlParser.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"

namespace {

constexpr int32_t kNone = -1;

// The integer a text starts with, as the platform's string reads one: leading blanks skipped,
// an optional sign, then digits; 0 when there are none; saturated at the 32-bit limits.
int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : std::numeric_limits<int32_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(limit, value * 10 + (text[i] - '0'));
    }
    return negative ? -value : value;
}

// "hours:minutes:seconds" (anything after a third colon ignored) in whole seconds; kNone for
// text of fewer than three parts or a time below 0 or past the 32-bit range.
int32_t clockSeconds(std::string_view text) {
    int64_t parts[3] = {0, 0, 0};
    size_t start = 0;
    for (int part = 0; part < 3; ++part) {
        const size_t colon = text.find(':', start);
        if (colon == std::string_view::npos && part < 2) return kNone;
        parts[part] = leadingInteger(text.substr(start, colon - start));
        start = colon == std::string_view::npos ? text.size() : colon + 1;
    }
    const int64_t seconds = parts[2] + parts[1] * 60 + parts[0] * 3600;
    if (seconds < 0 || seconds > std::numeric_limits<int32_t>::max()) return kNone;
    return static_cast<int32_t>(seconds);
}

// The attribute's time; a missing attribute is 0 s.
int32_t attributeSeconds(const std::vector<ns::XMLParser::Attribute>& attributes,
                         const std::string& name) {
    for (const ns::XMLParser::Attribute& attribute : attributes) {
        if (attribute.name == name) return clockSeconds(attribute.value);
    }
    return 0;
}

// Every "</span>" is removed from the document before parsing, and "<br/>" becomes a
// line feed: a span (italic or not) and a line break, however written ("<br />",
// "<br></br>"), never end the cue.
bool keepsTheCueOpen(const std::string& name) { return name == "span" || name == "br"; }

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size()) {
        out.append(text, start, at - start);
        out.append(to);
    }
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

}  // namespace

TtmlParser::Result TtmlParser::parse(std::string document) {
    // Line breaks become plain text before parsing (a break written otherwise, "<br />", is
    // the same element: DidStartElement gives its line feed). Hyphens are removed from the cue
    // text only (FoundCharacters): taken out of the whole document they would also turn every
    // comment "<!-- -->" into markup that does not parse.
    replaceAll(document, "<br/>", "\n");
    TtmlParser reader;
    ns::XMLParser parser(reader);
    parser.Parse(document);
    return std::move(reader.result_);
}

void TtmlParser::DidStartDocument(ns::XMLParser& /*parser*/) {
    result_ = Result();
    result_.started = true;
    currentSubtitle_.clear();
    foundElement_ = false;
    openInCue_.clear();
}

void TtmlParser::DidEndDocument(ns::XMLParser& /*parser*/) { result_.finished = true; }

void TtmlParser::DidStartElement(ns::XMLParser& /*parser*/, const std::string& name,
                                 const std::vector<ns::XMLParser::Attribute>& attributes) {
    if (name == "p") {
        foundElement_ = true;
        currentElement_ = "p";
        currentBegin_ = attributeSeconds(attributes, "begin");
        currentEnd_ = attributeSeconds(attributes, "end");
        openInCue_.clear();
    } else if (foundElement_) {
        if (name == "br") currentSubtitle_ += '\n';
        openInCue_.push_back(keepsTheCueOpen(name));
    }
}

void TtmlParser::FoundCharacters(ns::XMLParser& /*parser*/, std::string_view text) {
    if (!foundElement_ || currentElement_ != "p") return;
    std::string piece(text);
    replaceAll(piece, "-", "");
    ns::Log("[Q-S] %@", piece);
    currentSubtitle_ += piece;
}

void TtmlParser::DidEndElement(ns::XMLParser& /*parser*/, const std::string& /*name*/) {
    if (!foundElement_ || currentElement_ != "p") return;
    if (!openInCue_.empty()) {
        const bool keepsOpen = openInCue_.back();
        openInCue_.pop_back();
        // Spans are dropped and their text kept, as is the text after them.
        if (keepsOpen) return;
    }
    if (currentBegin_ != kNone && !currentSubtitle_.empty()) {
        result_.entries.push_back(SubtitleEntry{currentBegin_, currentSubtitle_});
    } else {
        ns::Log("[Q-S] Bad cell %i - %@", currentBegin_, currentSubtitle_);
    }
    currentBegin_ = kNone;
    currentSubtitle_.clear();
    if (currentEnd_ >= 0) result_.entries.push_back(SubtitleEntry{currentEnd_, std::string()});
    // Text after an inner element's end, within the same cue, is not collected.
    foundElement_ = false;
    openInCue_.clear();
}

void TtmlParser::ParseErrorOccurred(ns::XMLParser& /*parser*/, const ns::XMLParser::Error& error) {
    ns::Log("[Q-S] Error: %@",
            ns::Format("line %d column %d: %@", error.line, error.column, error.message));
}
