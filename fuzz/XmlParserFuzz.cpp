// Feeds arbitrary bytes to the XML event reader, whole and in pieces. Both ways must agree:
// the same acceptance, the same events with the character data joined, and after an error
// or an abort no further event. The first byte picks the piece size and the element at which
// a callback aborts (0: never).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/XMLParser.h"

namespace {

class Recorder : public ns::XMLParser::Delegate {
public:
    explicit Recorder(int abortAt) : abortAt_(abortAt) {}

    void DidStartDocument(ns::XMLParser&) override { Add("begin"); }
    void DidEndDocument(ns::XMLParser&) override { Add("end"); }
    void DidStartElement(ns::XMLParser& parser, const std::string& name,
                         const std::vector<ns::XMLParser::Attribute>& attributes) override {
        std::string line = "<" + name;
        for (const auto& a : attributes) line += " " + a.name + "=" + a.value;
        Add(line);
        if (++elements_ == abortAt_) {
            parser.Abort();
            stopped_ = true;
        }
    }
    void DidEndElement(ns::XMLParser&, const std::string& name) override { Add("</" + name); }
    void FoundCharacters(ns::XMLParser&, std::string_view text) override {
        if (stopped_ || text.empty()) __builtin_trap();
        if (!events.empty() && events.back().rfind("text:", 0) == 0) {
            events.back().append(text);
        } else {
            Add("text:" + std::string(text));
        }
    }
    void ParseErrorOccurred(ns::XMLParser&, const ns::XMLParser::Error& error) override {
        if (error.code == 0) __builtin_trap();
        Add("error");
        stopped_ = true;
    }

    std::vector<std::string> events;

private:
    void Add(std::string event) {
        if (stopped_) __builtin_trap();  // nothing after an error or an abort
        events.push_back(std::move(event));
    }

    int abortAt_;
    int elements_ = 0;
    bool stopped_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + (data[0] & 0x0F);
    const int abortAt = data[0] >> 6;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    Recorder whole(abortAt);
    ns::XMLParser wholeParser(whole);
    const bool wholeOk = wholeParser.Parse(input);

    Recorder pieces(abortAt);
    ns::XMLParser piecesParser(pieces);
    for (size_t at = 0; at < input.size(); at += piece) piecesParser.Feed(input.substr(at, piece));
    const bool piecesOk = piecesParser.Finish();

    if (wholeOk != piecesOk || wholeOk == wholeParser.Failed()) __builtin_trap();
    // A document both ways accept gives the same events; failures may be found at different
    // places, so only what came before both is compared.
    if (wholeOk && whole.events != pieces.events) __builtin_trap();
    return 0;
}
