#include "portal/PortalApi.h"

#include "json/KvJsonWriter.h"
#include "portal/DemoData.h"

namespace ZulPortal {

ns::Value PortalApi::Search(const std::vector<const PortalCatalog::Title*>& titles) const {
    ns::Array movies;
    ns::Array series;
    ns::Array episodes;
    for (const PortalCatalog::Title* title : titles) {
        ns::Dictionary item;
        item.Set("title", title->name);
        item.Set("thumb", Url("/thumbs/" + title->id + ".jpg"));
        item.Set("id", title->id);
        item.Set("url", title->hasPage ? ns::Value("/-/-/" + title->id) : ns::Value(nullptr));
        switch (title->kind) {
            case PortalCatalog::Kind::Series: series.push_back(ns::Value(item)); break;
            case PortalCatalog::Kind::Episode: episodes.push_back(ns::Value(item)); break;
            default: movies.push_back(ns::Value(item)); break;
        }
    }
    ns::Dictionary results;
    results.Set("movies", movies);
    results.Set("series", series);
    results.Set("episodes", episodes);
    ns::Dictionary root;
    root.Set("results", results);
    return root;
}

ns::Value PortalApi::Playback(const PortalCatalog::Title& title, int startPosition) const {
    using F = PortalCatalog::Fault;
    ns::Dictionary subtitles;
    for (const std::string& language : DemoData::Languages()) {
        ns::Dictionary ttml;
        ttml.Set("uri", Url("/media/" + title.id + "." + language + ".ttml"));
        ns::Dictionary assets;
        assets.Set("TTML", ttml);
        ns::Dictionary entry;
        entry.Set("label", DemoData::LanguageLabel(language));
        entry.Set("assets", assets);
        subtitles.Set(language, entry);
    }
    ns::Dictionary drm;
    drm.Set("deliveryUri",
            title.fault == F::EmptyDelivery ? std::string() : Url("/media/" + title.id + ".svm"));
    ns::Dictionary video;
    video.Set("mediaID", title.fault == F::TextMediaId ? "media-" + title.id : title.id);
    video.Set("startPosition", startPosition);
    video.Set("subtitles", subtitles);
    video.Set("drm", drm);
    ns::Dictionary root;
    root.Set("subtitleLanguage", "en");
    if (title.fault != F::MissingField) root.Set("UILanguage", "en");
    root.Set("video", video);
    return root;
}

std::string PortalApi::Text(const ns::Value& value) {
    KvJsonWriter writer;
    const std::optional<std::string> text = writer.stringWithObject(value);
    return text ? *text : std::string("{}");
}

}  // namespace ZulPortal
