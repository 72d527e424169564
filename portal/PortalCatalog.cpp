#include "portal/PortalCatalog.h"

#include <cstdint>

namespace ZulPortal {

namespace {

// The code points of well-formed UTF-8; false for anything else (a stray or missing
// continuation byte, an overlong form, a surrogate, a value past U+10FFFF).
bool DecodeUtf8(const std::string& text, std::u32string& points) {
    points.clear();
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        size_t length;
        char32_t point;
        char32_t least;
        if (lead < 0x80) {
            points.push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, point = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, point = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, point = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        points.push_back(point);
        i += length;
    }
    return true;
}

// Capital letters of the Latin, Greek and Cyrillic scripts and what they fold to. A run is
// either contiguous (every letter moves by delta) or alternating (capitals at first, first + 2,
// ..., each followed by its small letter). Latin covers Latin-1, Extended-A, the regular pairs of
// Extended-B and Latin Extended Additional; a few letters fold to another small form so that
// any spelling of a word matches (long s, final sigma, micro sign, capital sharp s).
struct FoldRun {
    char32_t first;
    char32_t last;
    int32_t delta;
    bool alternating;
};

const FoldRun kFoldRuns[] = {
    {0x0041, 0x005A, 32, false},               // A-Z
    {0x00B5, 0x00B5, 0x03BC - 0x00B5, false},  // micro sign: Greek mu
    {0x00C0, 0x00D6, 32, false},               // À-Ö
    {0x00D8, 0x00DE, 32, false},               // Ø-Þ
    {0x0100, 0x012F, 1, true},                 // Ā-į
    {0x0130, 0x0130, 0x0069 - 0x0130, false},  // İ: i
    {0x0132, 0x0137, 1, true},                 // Ĳ-ķ
    {0x0139, 0x0148, 1, true},                 // Ĺ-ň
    {0x014A, 0x0177, 1, true},                 // Ŋ-ŷ
    {0x0178, 0x0178, 0x00FF - 0x0178, false},  // Ÿ: ÿ
    {0x0179, 0x017E, 1, true},                 // Ź-ž
    {0x017F, 0x017F, 0x0073 - 0x017F, false},  // long s: s
    {0x01CD, 0x01DC, 1, true},                 // Ǎ-ǜ
    {0x01DE, 0x01EF, 1, true},                 // Ǟ-ǯ
    {0x01F8, 0x021F, 1, true},                 // Ǹ-ȟ
    {0x0222, 0x0233, 1, true},                 // Ȣ-ȳ
    {0x0246, 0x024F, 1, true},                 // Ɇ-ɏ
    {0x0386, 0x0386, 0x03AC - 0x0386, false},  // Ά: ά
    {0x0388, 0x038A, 0x03AD - 0x0388, false},  // Έ-Ί
    {0x038C, 0x038C, 0x03CC - 0x038C, false},  // Ό: ό
    {0x038E, 0x038F, 0x03CD - 0x038E, false},  // Ύ-Ώ
    {0x0391, 0x03A1, 32, false},               // Α-Ρ
    {0x03A3, 0x03AB, 32, false},               // Σ-Ϋ
    {0x03C2, 0x03C2, 1, false},                // final sigma: σ
    {0x03D8, 0x03EF, 1, true},                 // Ϙ-ϯ
    {0x0400, 0x040F, 80, false},               // Ѐ-Џ
    {0x0410, 0x042F, 32, false},               // А-Я
    {0x0460, 0x0481, 1, true},                 // Ѡ-ҁ
    {0x048A, 0x04BF, 1, true},                 // Ҋ-ҿ
    {0x04C0, 0x04C0, 0x04CF - 0x04C0, false},  // palochka
    {0x04C1, 0x04CE, 1, true},                 // Ӂ-ӎ
    {0x04D0, 0x052F, 1, true},                 // Ӑ-ԯ
    {0x1E00, 0x1E95, 1, true},                 // Ḁ-ẕ
    {0x1E9E, 0x1E9E, 0x00DF - 0x1E9E, false},  // capital sharp s: ß
    {0x1EA0, 0x1EFF, 1, true},                 // Ạ-ỿ
};

char32_t FoldCase(char32_t point) {
    if (point < 0x41 || point > 0x1EFF) return point;
    for (const FoldRun& run : kFoldRuns) {
        if (point < run.first) break;
        if (point > run.last) continue;
        if (run.alternating && (point - run.first) % 2 != 0) return point;
        return static_cast<char32_t>(static_cast<int32_t>(point) + run.delta);
    }
    return point;
}

// Folded code points, or nothing when text is not UTF-8.
bool Folded(const std::string& text, std::u32string& points) {
    if (!DecodeUtf8(text, points)) return false;
    for (char32_t& point : points) point = FoldCase(point);
    return true;
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

bool PortalCatalog::Matches(const std::string& name, const std::string& text) {
    std::u32string needle;
    std::u32string haystack;
    return Folded(text, needle) && !needle.empty() && Folded(name, haystack) &&
           haystack.find(needle) != std::u32string::npos;
}

std::vector<const PortalCatalog::Title*> PortalCatalog::Search(const std::string& text) const {
    std::vector<const Title*> found;
    for (const Title& title : titles_) {
        if (Matches(title.name, text)) found.push_back(&title);
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
