#include "engine/input/SmilManifestReader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <boost/make_shared.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "SVLibrary/Path/Path.h"
#include "SVLibrary/Path/PercentDecoder.h"
#include "SVLibrary/Path/Url.h"
#include "SVLibrary/Util/Hex.h"
#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

namespace {

const char kLocalSourceOfRemoteManifest[] = "A manifest on a server may not name a local file: ";
const char kMissingSrc[] = "Missing src attribute";
const char kMissingTextLanguage[] = "Missing textstream systemLanguage attribute";
const char kBadBegin[] = "SMIL \"begin\" attribute must be in seconds (x.ys)";
const char kFileScheme[] = "file://";
const size_t kFileSchemeLength = sizeof(kFileScheme) - 1;

// Elements nested deeper than this are not looked into (libxml2 refuses deeper documents
// anyway; the walk must not rely on it for its stack).
const unsigned kMaxElementDepth = 256;
// Entity references inside an attribute value are expanded, within these bounds.
const size_t kMaxAttributeBytes = 64 * 1024;
const unsigned kMaxEntityNesting = 16;

bool IsFileUrl(const std::string& location) {
    return SV::IsUrl(location) && SV::GetUrlScheme(location) == "file";
}

// A URI reference as it may go on the wire: every valid "%XX" escape and every byte a URI may
// hold stay as they are ('/', '?', '=', '&', '+' among them, so segments and a query keep
// their meaning); a byte that may not stand in a URI (controls, space, '"', '<', '>', '\',
// '^', '`', '{', '|', '}', non-ASCII) and a '%' that opens no escape are encoded. Encoding an
// escape again would name another resource ("c%20d" would become "c%2520d").
std::string EncodeUriReference(const std::string& reference) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(reference[i]);
        if (byte == '%' && i + 2 < reference.size() &&
            SV::PercentDecoder::IsHexDigit(reference[i + 1]) &&
            SV::PercentDecoder::IsHexDigit(reference[i + 2])) {
            result.append(reference, i, 3);
            i += 2;
            continue;
        }
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}%", byte) != nullptr) {
            result += '%';
            result += kDigits[byte >> 4];
            result += kDigits[byte & 0x0F];
        } else {
            result += static_cast<char>(byte);
        }
    }
    return result;
}

// The file name a src of a local manifest gives: each valid "%XX" escape decoded, everything
// else (a literal space, a '%' that opens no escape) as it stands. "%00" stays: a NUL would
// cut the name short and open another file.
std::string DecodeFileName(const std::string& src) {
    std::string name;
    SV::PercentDecoder(SV::PercentDecoder::kFileName).Decode(src, name);
    return name;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

const char* Name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

}  // namespace

SmilManifestReader::SmilManifestReader(const std::string& location)
    : location_(location), status_(SVStatusSuccess) {
    // A file manifest's relative sources resolve against its path.
    if (IsFileUrl(location_)) location_.erase(0, kFileSchemeLength);
}

void SmilManifestReader::Fail(const std::string& text) {
    // The first error is the one that stands.
    if (status_ != SVStatusSuccess) return;
    status_ = SVStatusManifest;
    errorText_ = text;
}

SVStatus SmilManifestReader::Read(const std::string& text) {
    if (text.empty()) {
        Fail("Manifest is empty");
        return status_;
    }
    if (text.size() > kMaxManifestBytes) {
        Fail("Manifest is larger than " + std::to_string(kMaxManifestBytes) + " bytes");
        return status_;
    }
    // A manifest has no use for entities of its own, and a few declarations that refer to
    // each other by the thousand keep the XML reader busy for minutes before any time-out
    // applies: a document that declares one is refused before it is read.
    if (text.find("<!ENTITY") != std::string::npos) {
        Fail("Manifest declares entities, which a manifest may not");
        return status_;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
    if (!context) {
        Fail("Out of memory reading the manifest");
        return status_;
    }
    // No network, no external subset, no entity substitution, no lifting of libxml2's depth
    // and amplification limits: a manifest is data, never a reason to fetch or expand.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(context.get(), text.data(),
                                                           static_cast<int>(text.size()),
                                                           location_.c_str(), nullptr, options));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) {
        Fail("Manifest is not a well-formed XML document");
        return status_;
    }
    ParseElements(root, 0);
    return status_;
}

void SmilManifestReader::ParseElements(_xmlNode* node, unsigned depth) {
    if (depth >= kMaxElementDepth) {
        Fail("Manifest is nested too deeply");
        return;
    }
    for (; node != nullptr && status_ == SVStatusSuccess; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const char* name = Name(node);
        if (std::strcmp(name, "video") == 0 || std::strcmp(name, "audio") == 0) {
            ParseMediaElement(node);
        } else if (std::strcmp(name, "textstream") == 0) {
            ParseTextStreamElement(node);
        }
        if (node->children != nullptr && status_ == SVStatusSuccess) {
            ParseElements(node->children, depth + 1);
        }
    }
}

namespace {

// Appends the text of an attribute's (or entity's) children to value, expanding entity
// references; false once the value would pass the bounds.
bool AppendNodeText(xmlDoc* doc, const xmlNode* node, unsigned nesting, std::string& value) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            const char* content = reinterpret_cast<const char*>(node->content);
            const size_t length = content != nullptr ? std::strlen(content) : 0;
            if (length > kMaxAttributeBytes - value.size()) return false;
            value.append(content != nullptr ? content : "", length);
        } else if (node->type == XML_ENTITY_REF_NODE) {
            if (nesting >= kMaxEntityNesting) return false;
            xmlEntity* entity = xmlGetDocEntity(doc, node->name);
            if (entity == nullptr) continue;
            if (entity->children != nullptr) {
                if (!AppendNodeText(doc, entity->children, nesting + 1, value)) return false;
            } else if (entity->content != nullptr) {
                const char* content = reinterpret_cast<const char*>(entity->content);
                const size_t length = std::strlen(content);
                if (length > kMaxAttributeBytes - value.size()) return false;
                value.append(content, length);
            }
        }
    }
    return true;
}

}  // namespace

bool SmilManifestReader::GetAttribute(_xmlNode* node, const char* name, std::string& value) {
    value.clear();
    for (xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        if (attribute->type != XML_ATTRIBUTE_NODE) continue;
        if (std::strcmp(reinterpret_cast<const char*>(attribute->name), name) != 0) continue;
        if (!AppendNodeText(node->doc, attribute->children, 0, value)) {
            Fail(std::string("Attribute \"") + name + "\" is too long");
            value.clear();
        }
        return true;
    }
    return false;
}

bool SmilManifestReader::ParseBegin(const std::string& text, float& seconds) {
    // A number, then anything (the "s" of "12.5s" is welcome but not required).
    const char* start = text.c_str();
    char* end = nullptr;
    const float value = std::strtof(start, &end);
    // Infinite or not-a-number offsets would poison every other track's offset.
    if (end == start || !std::isfinite(value)) {
        Fail(kBadBegin);
        return false;
    }
    seconds = value;
    return true;
}

void SmilManifestReader::ParseMediaElement(_xmlNode* node) {
    MediaEntry entry;
    std::string value;
    if (!GetAttribute(node, "src", value)) {
        Fail(kMissingSrc);
        return;
    }
    if (status_ != SVStatusSuccess) return;
    entry.location = ResolveLocation(value);
    if (entry.location.empty()) {
        Fail(kLocalSourceOfRemoteManifest + value);
        return;
    }
    if (GetAttribute(node, "systemLanguage", value)) entry.language = value;
    if (GetAttribute(node, "begin", value) && status_ == SVStatusSuccess &&
        !ParseBegin(value, entry.begin)) {
        return;
    }
    if (GetAttribute(node, "hash", value)) {
        // A hash that is not hexadecimal decodes to nothing and so matches no digest: the file
        // is still checked, and fails.
        entry.hashGiven = true;
        entry.hash = SV::HexToBytes(value);
    }
    if (status_ != SVStatusSuccess) return;
    entries_.push_back(entry);
}

void SmilManifestReader::ParseTextStreamElement(_xmlNode* node) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    std::string value;
    if (!GetAttribute(node, "src", value)) {
        Fail(kMissingSrc);
        return;
    }
    if (status_ != SVStatusSuccess) return;
    const std::string location = ResolveLocation(value);
    if (location.empty()) {
        Fail(kLocalSourceOfRemoteManifest + value);
        return;
    }
    track->SetSource(location);
    if (!GetAttribute(node, "systemLanguage", value)) {
        Fail(kMissingTextLanguage);
        return;
    }
    if (status_ != SVStatusSuccess) return;
    track->GetInfo().SetValue(TrackInfoKey_SubtitleIdentifier, SV::SVTypedValue(value));
    if (GetAttribute(node, "begin", value)) {
        float begin = 0.0f;
        if (status_ != SVStatusSuccess || !ParseBegin(value, begin)) return;
        track->SetTimingOffset(begin);
    }
    track->SetText(true);
    track->GetInfo().SetValue(TrackInfoKey_SubtitleFormat, SV::SVTypedValue(uint32_t(1)));
    textTracks_.push_back(track);
}

std::string SmilManifestReader::ResolveLocation(const std::string& src) const {
    // A manifest from a server names files on servers: a local path or file:// source in it
    // would let the server have this machine's files (or devices) opened, and a path from the
    // root means the root of the manifest's own server.
    const bool remote = SV::IsUrl(location_);
    if (SV::IsUrl(src)) {
        const std::string scheme = SV::GetUrlScheme(src);
        if (scheme == "file")
            return remote ? std::string() : DecodeFileName(src.substr(kFileSchemeLength));
        // Any scheme but the web's own is opened as a file: from a server, it is refused as
        // a file:// source is.
        if (remote && scheme != "http" && scheme != "https") return std::string();
        return EncodeUriReference(src);
    }
    if (remote) {
        if (!SV::IsAbsolutePath(src))
            return SV::GetUrlBase(location_) + "/" + EncodeUriReference(src);
        const size_t host = location_.find("://");
        const size_t path = location_.find('/', host == std::string::npos ? 0 : host + 3);
        return location_.substr(0, path) + EncodeUriReference(src);
    }
    // Whether it is a path from the root is read from the reference as written: an escaped
    // "%2F" at its start does not make it one.
    const std::string name = DecodeFileName(src);
    if (SV::IsAbsolutePath(src)) return name;
    // The folder up to and including its last '/': a manifest at the root ("/m.smil") keeps
    // its sources at the root rather than making them relative to the working folder.
    const size_t slash = location_.rfind('/');
    if (slash == std::string::npos) return name;
    return location_.substr(0, slash + 1) + name;
}

}  // namespace SarvelonMediaKit
