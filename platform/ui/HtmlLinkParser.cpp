#include "platform/ui/HtmlLinkParser.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <optional>

namespace ui {

namespace {

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsHtmlSpace(text[begin])) ++begin;
    while (end > begin && IsHtmlSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string CollapseSpace(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (IsHtmlSpace(c)) {
            space = true;
            continue;
        }
        if (space && !out.empty()) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

// What a browser does to an href before it reads it as a URL.
std::string EncodeForUrl(const std::string& href) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : Trim(href)) {
        if (c <= 0x20 || c >= 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool IsJavaScript(const std::string& encoded) {
    static const std::string kScheme = "javascript:";
    if (encoded.size() < kScheme.size()) return false;
    for (size_t i = 0; i < kScheme.size(); ++i) {
        char c = encoded[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kScheme[i]) return false;
    }
    return true;
}

std::string Attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value) return {};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string TextOf(xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    if (!content) return {};
    std::string text(reinterpret_cast<const char*>(content));
    xmlFree(content);
    return CollapseSpace(text);
}

void Collect(xmlNode* node, const ns::URL& pageUrl, std::vector<HtmlLink>& links) {
    // Iterative walk: a page of deeply nested elements must not run the stack out.
    while (node && links.size() < HtmlLinkParser::kMaxLinks) {
        if (node->type == XML_ELEMENT_NODE &&
            xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>("a")) == 0 &&
            xmlHasProp(node, reinterpret_cast<const xmlChar*>("href"))) {
            HtmlLink link;
            link.href = Attribute(node, "href");
            const std::string encoded = EncodeForUrl(link.href);
            if (!IsJavaScript(encoded)) {
                if (std::optional<ns::URL> url = ns::URL::Resolve(encoded, pageUrl)) {
                    link.url = *url;
                    link.text = TextOf(node);
                    links.push_back(std::move(link));
                }
            }
        }
        if (node->children && node->type == XML_ELEMENT_NODE) {
            node = node->children;
            continue;
        }
        while (node && !node->next) {
            node = node->parent;
            if (node && node->type == XML_HTML_DOCUMENT_NODE) node = nullptr;
        }
        if (node) node = node->next;
    }
}

}  // namespace

std::vector<HtmlLink> HtmlLinkParser::Parse(const std::string& html, const ns::URL& pageUrl) {
    std::vector<HtmlLink> links;
    if (html.empty() || html.size() > kMaxPageBytes) return links;
    const std::string url = pageUrl.AbsoluteString();
    htmlDocPtr doc =
        htmlReadMemory(html.data(), static_cast<int>(html.size()), url.c_str(), nullptr,
                       HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (!doc) return links;
    Collect(xmlDocGetRootElement(doc), pageUrl, links);
    xmlFreeDoc(doc);
    return links;
}

}  // namespace ui
