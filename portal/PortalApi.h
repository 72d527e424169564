#ifndef PORTAL_PORTALAPI_H
#define PORTAL_PORTALAPI_H

#include <string>
#include <vector>

#include "portal/PortalCatalog.h"
#include "platform/Value.h"

namespace ZulPortal {

// The JSON answers of the portal's API, built as values and written by the JSON library.
class PortalApi {
public:
    // address: "127.0.0.1:PORT", for the absolute URLs inside the answers.
    explicit PortalApi(std::string address) : address_(std::move(address)) {}

    // {"results": {"movies": [...], "series": [...], "episodes": [...]}}; every list is there,
    // empty or not; an item is {"title", "thumb", "id", "url"} with "url" null for a title
    // without a page. Test titles are listed with the movies.
    ns::Value Search(const std::vector<const PortalCatalog::Title*>& titles) const;

    // The playback information of the player screen: "subtitleLanguage", "UILanguage" and
    // "video" with "mediaID", "startPosition", "subtitles" (per language "label" and
    // "assets"/"TTML"/"uri") and "drm"/"deliveryUri" naming the portal's own title file. A
    // title with a fault in its answer gets it here (a missing "UILanguage", an empty
    // "deliveryUri", a media id that is not a number).
    ns::Value Playback(const PortalCatalog::Title& title, int startPosition) const;

    // The compact JSON text of a value.
    static std::string Text(const ns::Value& value);

private:
    std::string Url(const std::string& path) const { return "http://" + address_ + path; }

    std::string address_;
};

}  // namespace ZulPortal

#endif
