#ifndef PORTAL_PORTALPAGES_H
#define PORTAL_PORTALPAGES_H

#include <string>
#include <vector>

#include "portal/PortalCatalog.h"

namespace ZulPortal {

// The portal's HTML pages and stylesheet. Every page links the stylesheet and carries the same
// bar with the Series, Movies and My ZUL links; pages are HTML5 and escape every text they
// insert.
class PortalPages {
public:
    // What the portal remembers of a title from the page bridge.
    struct Progress {
        int position = 0;  // seconds; 0: none
        bool completed = false;
        int error = 0;  // the last error code; 0: none
    };

    // address: "127.0.0.1:PORT", for the play links in the movie scheme.
    PortalPages(std::string address, std::string movieScheme);

    std::string Home(bool signedIn) const;
    // Movies, Series or the My page.
    std::string Grid(const std::string& heading,
                     const std::vector<const PortalCatalog::Title*>& titles,
                     const std::string& intro) const;
    std::string My(const std::vector<std::pair<const PortalCatalog::Title*, Progress>>& watched,
                   const std::vector<const PortalCatalog::Title*>& tests) const;
    std::string TitlePage(const PortalCatalog::Title& title, const Progress& progress) const;
    std::string SignIn(const std::string& message) const;
    std::string Maintenance() const;
    std::string NotFound() const;

    static std::string Stylesheet();
    // The page function the application calls when a title stops, completes or fails; it shows
    // what it received and posts it to the portal.
    static std::string BridgeScript();

    // The link of a playable title: "SCHEME://ADDRESS/api/playback?id=ID".
    std::string PlayLink(const PortalCatalog::Title& title) const;
    static std::string PagePath(const PortalCatalog::Title& title) { return "/-/-/" + title.id; }
    // "m:ss".
    static std::string MinutesSeconds(int seconds);

private:
    std::string Layout(const std::string& title, const std::string& body, bool signedIn) const;
    std::string Cards(const std::vector<const PortalCatalog::Title*>& titles) const;

    std::string address_;
    std::string movieScheme_;
};

}  // namespace ZulPortal

#endif
