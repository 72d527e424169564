#ifndef PORTAL_PORTALCATALOG_H
#define PORTAL_PORTALCATALOG_H

#include <string>
#include <vector>

namespace ZulPortal {

// The demo catalogue: movies, series with their episodes, and test titles whose playback
// information or thumbnail misbehaves on purpose so that the application's failure paths can
// be tried. Each playable title names the clip recipe its media are made from (DemoData).
class PortalCatalog {
public:
    enum class Kind { Movie, Series, Episode, Test };

    // How a title's playback information or thumbnail is served.
    enum class Fault {
        None,
        MissingField,   // the answer lacks "UILanguage"
        EmptyDelivery,  // "deliveryUri" is ""
        NeverAnswers,   // the request is read and never answered (until the portal stops)
        Dropped,        // the connection is reset at once
        TextMediaId,    // "mediaID" is not a number, so the page bridge's script breaks
        ThumbMissing,   // the thumbnail answers 404
        ThumbReset,     // the thumbnail's connection is reset
    };

    struct Title {
        std::string id;  // digits; also the media id of the playback information
        Kind kind;
        std::string name;  // UTF-8
        std::string text;
        std::string clip;      // the clip recipe of its media and pictures
        std::string seriesId;  // an episode's series
        bool hasPage;          // false: search answers a null "url"
        Fault fault;
    };

    // The one built-in catalogue.
    static const PortalCatalog& Demo();

    const std::vector<Title>& Titles() const { return titles_; }
    const Title* Find(const std::string& id) const;
    std::vector<const Title*> OfKind(Kind kind) const;
    std::vector<const Title*> EpisodesOf(const std::string& seriesId) const;
    // Titles whose name holds text, letters compared without case (see Matches).
    std::vector<const Title*> Search(const std::string& text) const;
    // Whether name holds text, both UTF-8, with the letters of the Latin, Greek and Cyrillic
    // scripts folded to one case. Empty text, or text that is not UTF-8, matches nothing.
    static bool Matches(const std::string& name, const std::string& text);

    static std::string KindName(Kind kind);

private:
    std::vector<Title> titles_;
};

}  // namespace ZulPortal

#endif
