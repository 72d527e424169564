#include "portal/PortalCatalog.h"

#include <cctype>

namespace ZulPortal {

namespace {

std::string FoldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

const PortalCatalog& PortalCatalog::Demo() {
    static const PortalCatalog* catalog = [] {
        PortalCatalog* c = new PortalCatalog;
        using K = Kind;
        using F = Fault;
        c->titles_ = {
            {"101", K::Movie, "Test Pattern", "A minute of moving colour and a beeping clock.",
             "pattern", "", true, F::None},
            {"102", K::Movie, "Colour Bars", "Twelve seconds of bars and a steady tone.", "bars",
             "", true, F::None},
            {"103", K::Movie, "Mandelbrot Zoom", "Down into the set, slowly.", "mandelbrot", "",
             true, F::None},
            {"104", K::Movie, "\xC5\xBB\xC3\xB3\xC5\x82w i zaj\xC4\x85\x63",
             "A race told in test signals.", "rgb", "", true, F::None},
            {"201", K::Series, "Game of Life", "Cells that live and die, in two episodes.", "life",
             "", true, F::None},
            {"211", K::Episode, "Game of Life: Episode 1", "The first generations.", "life", "201",
             true, F::None},
            {"212", K::Episode, "Game of Life: Episode 2", "A different rule.", "cells", "201",
             true, F::None},
            {"202", K::Series, "Coming Soon", "Not on the portal yet.", "cells", "", false,
             F::None},
            {"901", K::Test, "Test: missing field", "Its playback information lacks a field.",
             "bars", "", true, F::MissingField},
            {"902", K::Test, "Test: empty delivery URI", "Its playback information names no media.",
             "bars", "", true, F::EmptyDelivery},
            {"903", K::Test, "Test: never answers", "Its playback information never comes.", "bars",
             "", true, F::NeverAnswers},
            {"904", K::Test, "Test: dropped connection",
             "Its playback information request is cut off.", "bars", "", true, F::Dropped},
            {"905", K::Test, "Test: text media id", "Its media id is not a number.", "bars", "",
             true, F::TextMediaId},
            {"906", K::Test, "Test: thumbnail missing", "Its thumbnail answers 404.", "bars", "",
             true, F::ThumbMissing},
            {"907", K::Test, "Test: thumbnail cut off", "Its thumbnail connection is reset.",
             "bars", "", true, F::ThumbReset},
        };
        return c;
    }();
    return *catalog;
}

const PortalCatalog::Title* PortalCatalog::Find(const std::string& id) const {
    for (const Title& title : titles_) {
        if (title.id == id) return &title;
    }
    return nullptr;
}

std::vector<const PortalCatalog::Title*> PortalCatalog::OfKind(Kind kind) const {
    std::vector<const Title*> found;
    for (const Title& title : titles_) {
        if (title.kind == kind) found.push_back(&title);
    }
    return found;
}

std::vector<const PortalCatalog::Title*> PortalCatalog::EpisodesOf(
    const std::string& seriesId) const {
    std::vector<const Title*> found;
    for (const Title& title : titles_) {
        if (title.kind == Kind::Episode && title.seriesId == seriesId) found.push_back(&title);
    }
    return found;
}

std::vector<const PortalCatalog::Title*> PortalCatalog::Search(const std::string& text) const {
    std::vector<const Title*> found;
    if (text.empty()) return found;
    const std::string needle = FoldAscii(text);
    for (const Title& title : titles_) {
        if (FoldAscii(title.name).find(needle) != std::string::npos) found.push_back(&title);
    }
    return found;
}

std::string PortalCatalog::KindName(Kind kind) {
    switch (kind) {
        case Kind::Movie: return "movie";
        case Kind::Series: return "series";
        case Kind::Episode: return "episode";
        case Kind::Test: return "test";
    }
    return "title";
}

}  // namespace ZulPortal
