#include "tools/mktitle/SmilManifest.h"

#include <stdexcept>

namespace SvTools {

void SmilManifest::AddMedia(const std::string& kind, const std::string& src,
                            const std::string& language, const std::vector<uint8_t>& digest) {
    if (kind != "video" && kind != "audio") {
        throw std::logic_error("a manifest media element is video or audio, not " + kind);
    }
    elements_.push_back({kind, src, language, Hex(digest)});
}

void SmilManifest::AddTextStream(const std::string& src, const std::string& language) {
    elements_.push_back({"textstream", src, language, std::string()});
}

std::string SmilManifest::Text() const {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<smil xmlns=\"http://www.w3.org/ns/SMIL\" version=\"3.0\">\n"
        "  <head/>\n"
        "  <body>\n"
        "    <par>\n";
    for (const Element& element : elements_) {
        text += "      <" + element.name + " src=\"" + Escape(element.src) + "\"";
        if (!element.language.empty()) {
            text += " systemLanguage=\"" + Escape(element.language) + "\"";
        }
        if (!element.hash.empty()) {
            text += " hash=\"" + element.hash + "\"";
        }
        text += "/>\n";
    }
    text +=
        "    </par>\n"
        "  </body>\n"
        "</smil>\n";
    return text;
}

std::string SmilManifest::Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string SmilManifest::Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace SvTools
