#ifndef APP_SUBTITLECONTROLLER_H
#define APP_SUBTITLECONTROLLER_H
// The player screen's subtitles: downloads the TTML document of the chosen language, turns its
// `p` elements into timed entries filed by minute, and answers, for each whole second of
// playback, with the text to show.
//
// What a document gives: each `p` element (the name as written: "tt:p" is not one) is a cue
// from its "begin" to its "end" attribute, times in the clock form "hours:minutes:seconds"
// where each part counts only as far as its leading integer ("0:1:2.5" is 62 s; a fourth part,
// frames, is ignored). A missing attribute counts as 0 s; a time that is not in the clock form
// or comes out negative cannot be read: a cue without a readable begin is not shown, an end that
// cannot be read leaves no end marker. The cue's text is what its element holds up to the end
// of its first inner element other than a span or a line break, with a line break ("<br/>",
// "<br />") as a line feed, hyphens removed, and spans (italic, coloured or any other) kept as
// plain text with the text after them. A cue with no text is not stored, but its end marker
// is.
//
// Entries are filed by minute (begin / 60). The filing starts with one bucket per minute of the
// duration known when the document is parsed and grows for entries past it (a document parsed
// before the duration is known keeps all its cues), up to kMaxMinutes; an entry later than that
// is dropped, so that no time in a document can make the table large.
//
// Lookups: getCurrentSubtitle(t) makes the text of the last entry at exactly second t the
// current text; when none is at t and the minute differs from that of the last answer, the
// current text becomes empty, so a cue running into a new minute ends there. A second past
// the filed minutes, or before 0, gives "".
//
// Downloads: only when the address changes; through the platform's URL loading on ui::Loop(),
// cache ignored, a 60 s time-out, at most kMaxDocumentBytes. A failure (no connection, an HTTP
// status other than 2xx, a document too large) is logged, keeps the cues already in use and
// forgets the address so that choosing it again retries. A document that does not parse keeps
// the cues read before the error. Main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/PendingConnection.h"
#include "app/SubtitleEntry.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/store/XMLParser.h"
#include "platform/ui/Label.h"

class SubtitleController : private ns::URLConnectionDelegate, private ns::XMLParser::Delegate {
public:
    static constexpr double kTimeoutSeconds = 60;
    static constexpr size_t kMaxDocumentBytes = 8 * 1024 * 1024;
    // A day of one-minute buckets.
    static constexpr int kMaxMinutes = 24 * 60;

    SubtitleController() = default;
    // The same as addSubtitleView(label) after construction.
    explicit SubtitleController(std::shared_ptr<ui::Label> label);
    // Cancels a download under way.
    ~SubtitleController() override;
    SubtitleController(const SubtitleController&) = delete;
    SubtitleController& operator=(const SubtitleController&) = delete;

    // The label that shows the subtitles; its text becomes "......." until the player screen
    // puts the first answer there. Kept weakly: the view tree owns it.
    void addSubtitleView(std::shared_ptr<ui::Label> label);
    // The movie's duration, truncated to whole seconds (not a number or below 0: 0).
    void addDuration(double seconds);
    // Loads the document at url unless it is the one in use (or an empty text).
    void addDFXPSubtitle(const std::string& url);
    // The text to show at second t (see the top of this file).
    std::string getCurrentSubtitle(int seconds);
    // Drops the cues, stops a download under way and forgets its address (the player screen
    // is going away; the same address given again loads it again).
    void clear();

    // Whether the last document asked for has been parsed to its end.
    bool parserDone() const { return parserDone_; }
    int duration() const { return duration_; }

private:
    // ns::URLConnectionDelegate
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

    // ns::XMLParser::Delegate
    void DidStartDocument(ns::XMLParser& parser) override;
    void DidEndDocument(ns::XMLParser& parser) override;
    void DidStartElement(ns::XMLParser& parser, const std::string& name,
                         const std::vector<ns::XMLParser::Attribute>& attributes) override;
    void DidEndElement(ns::XMLParser& parser, const std::string& name) override;
    void FoundCharacters(ns::XMLParser& parser, std::string_view text) override;
    void ParseErrorOccurred(ns::XMLParser& parser, const ns::XMLParser::Error& error) override;

    // The download failed: logged, the address forgotten, the cues kept.
    void downloadFailed(const std::string& reason);
    void parseDocument();
    // Files the entry in the bucket of its minute, growing the table up to kMaxMinutes.
    void file(SubtitleEntry entry);

    std::weak_ptr<ui::Label> subtitleView_;
    std::string currentURL_;  // empty: none
    PendingConnection connection_;
    std::string receivedData_;
    int duration_ = 0;
    std::vector<std::vector<SubtitleEntry>> subtitleCollection_;

    // Parse state.
    bool foundElement_ = false;
    std::string currentElement_;
    int32_t currentBegin_ = -1;
    int32_t currentEnd_ = -1;
    std::string currentSubtitle_;  // the text being collected
    // The elements opened inside the cue, innermost last: true for a span or a line break,
    // whose end does not end the cue as the end of any other element does.
    std::vector<bool> openInCue_;
    bool parserDone_ = false;

    // Lookup state.
    std::string shownSubtitle_;
    long currentIndex_ = -1;
};

#endif  // APP_SUBTITLECONTROLLER_H
