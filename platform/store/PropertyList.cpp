#include "platform/store/PropertyList.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/store/AtomicFile.h"

namespace ns {

namespace {

// ---- base64 ----

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void AppendBase64(std::string& out, const std::vector<uint8_t>& bytes) {
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kBase64[group >> 18];
        out += kBase64[(group >> 12) & 63];
        out += kBase64[(group >> 6) & 63];
        out += kBase64[group & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t group = bytes[i] << 16;
        out += kBase64[group >> 18];
        out += kBase64[(group >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kBase64[group >> 18];
        out += kBase64[(group >> 12) & 63];
        out += kBase64[(group >> 6) & 63];
        out += '=';
    }
}

// Decodes base64 with white space anywhere; the "=" padding may be left out but, when present,
// must complete the last group and end the text.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    size_t digits = 0;
    size_t padding = 0;
    for (char c : text) {
        if (IsXmlSpace(c)) {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const int digit = Base64Digit(c);
        if (digit < 0 || padding > 0) {
            return false;
        }
        group = (group << 6) | static_cast<uint32_t>(digit);
        if (++digits % 4 == 0) {
            bytes.push_back(static_cast<uint8_t>(group >> 16));
            bytes.push_back(static_cast<uint8_t>(group >> 8));
            bytes.push_back(static_cast<uint8_t>(group));
            group = 0;
        }
    }
    const size_t tail = digits % 4;
    if (tail == 1 || (padding > 0 && tail + padding != 4)) {
        return false;
    }
    if (tail == 2) {
        bytes.push_back(static_cast<uint8_t>(group >> 4));
    } else if (tail == 3) {
        bytes.push_back(static_cast<uint8_t>(group >> 10));
        bytes.push_back(static_cast<uint8_t>(group >> 2));
    }
    out = std::move(bytes);
    return true;
}

// ---- numbers ----

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool ParseInteger(std::string_view text, Value& out) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return false;
    }
    if (!negative) {
        if (magnitude <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            out = Value(static_cast<int64_t>(magnitude));
        } else {
            out = Value(magnitude);
        }
        return true;
    }
    if (magnitude > uint64_t{1} << 63) {
        return false;
    }
    out = Value(static_cast<int64_t>(0 - magnitude));
    return true;
}

bool ParseReal(std::string_view text, double& out) {
    text = Trim(text);
    if (text.empty() || text.size() > 512) {
        return false;
    }
    // strtod in the C locale, whatever the process's locale says about decimal separators.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string copy(text);
    char* end = nullptr;
    const double value =
        cLocale ? strtod_l(copy.c_str(), &end, cLocale) : std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || IsXmlSpace(copy.front())) {
        return false;
    }
    out = value;
    return true;
}

std::string RealText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

// ---- reading ----

const char* Name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

std::string At(const xmlNode* node) { return " (line " + std::to_string(node->line) + ")"; }

class PlistReader {
public:
    explicit PlistReader(std::string& error) : error_(error) {}

    bool Fail(const xmlNode* node, const std::string& what) {
        error_ = what + At(node);
        return false;
    }

    // A node that is neither an element nor text: comments and processing instructions carry
    // nothing and are skipped; an entity reference left unexpanded would silently lose its text,
    // so it is refused, as is any other node (with `unexpected`).
    bool OtherNode(const xmlNode* child, const std::string& unexpected) {
        switch (child->type) {
            case XML_COMMENT_NODE:
            case XML_PI_NODE: return true;
            case XML_ENTITY_REF_NODE:
                return Fail(child,
                            std::string("entity reference &") + Name(child) + "; is not expanded");
            default: return Fail(child, unexpected);
        }
    }

    // The text of a leaf element: text and CDATA pieces joined, comments skipped.
    bool LeafText(const xmlNode* element, std::string& text) {
        for (const xmlNode* child = element->children; child; child = child->next) {
            switch (child->type) {
                case XML_TEXT_NODE:
                case XML_CDATA_SECTION_NODE:
                    if (child->content) {
                        text += reinterpret_cast<const char*>(child->content);
                    }
                    break;
                default:
                    if (!OtherNode(child,
                                   std::string("<") + Name(element) + "> may hold only text")) {
                        return false;
                    }
            }
        }
        return true;
    }

    // Visits the element children of a container; text between them must be white space.
    template <typename Visit>
    bool Children(const xmlNode* element, Visit visit) {
        for (const xmlNode* child = element->children; child; child = child->next) {
            switch (child->type) {
                case XML_ELEMENT_NODE:
                    if (!visit(child)) {
                        return false;
                    }
                    break;
                case XML_TEXT_NODE:
                case XML_CDATA_SECTION_NODE:
                    if (child->content &&
                        !Trim(reinterpret_cast<const char*>(child->content)).empty()) {
                        return Fail(child,
                                    std::string("text directly inside <") + Name(element) + ">");
                    }
                    break;
                default:
                    if (!OtherNode(child,
                                   std::string("unexpected node in <") + Name(element) + ">")) {
                        return false;
                    }
            }
        }
        return true;
    }

    bool ReadValue(const xmlNode* element, Value& out, size_t depth) {
        const std::string name = Name(element);
        if (depth > PropertyList::kMaxDepth) {
            return Fail(element, "containers nested too deeply");
        }
        if (name == "dict") {
            Dictionary dictionary;
            std::string key;
            bool haveKey = false;
            const xmlNode* keyNode = nullptr;
            const bool ok = Children(element, [&](const xmlNode* child) {
                if (!haveKey) {
                    if (std::strcmp(Name(child), "key") != 0) {
                        return Fail(child, std::string("<") + Name(child) +
                                               "> in <dict> where a <key> belongs");
                    }
                    key.clear();
                    keyNode = child;
                    return haveKey = LeafText(child, key);
                }
                Value value;
                if (!ReadValue(child, value, depth + 1)) {
                    return false;
                }
                dictionary.Set(std::move(key), std::move(value));
                key = std::string();
                haveKey = false;
                return true;
            });
            if (!ok) {
                return false;
            }
            if (haveKey) {
                return Fail(keyNode, "key \"" + key + "\" has no value");
            }
            out = Value(std::move(dictionary));
            return true;
        }
        if (name == "array") {
            Array array;
            const bool ok = Children(element, [&](const xmlNode* child) {
                Value value;
                if (!ReadValue(child, value, depth + 1)) {
                    return false;
                }
                array.push_back(std::move(value));
                return true;
            });
            if (!ok) {
                return false;
            }
            out = Value(std::move(array));
            return true;
        }
        if (name == "true" || name == "false") {
            std::string text;
            if (!LeafText(element, text)) {
                return false;
            }
            if (!Trim(text).empty()) {
                return Fail(element, "<" + name + "/> must be empty");
            }
            out = Value(name == "true");
            return true;
        }
        std::string text;
        if (name == "string" || name == "key") {
            if (name == "key") {
                return Fail(element, "<key> outside a <dict>");
            }
            if (!LeafText(element, text)) {
                return false;
            }
            out = Value(std::move(text));
            return true;
        }
        if (name == "integer") {
            if (!LeafText(element, text)) {
                return false;
            }
            if (!ParseInteger(text, out)) {
                return Fail(element,
                            "<integer> \"" + text.substr(0, 64) + "\" is not a 64-bit integer");
            }
            return true;
        }
        if (name == "real") {
            double real = 0;
            if (!LeafText(element, text)) {
                return false;
            }
            if (!ParseReal(text, real)) {
                return Fail(element, "<real> \"" + text.substr(0, 64) + "\" is not a number");
            }
            out = Value(real);
            return true;
        }
        if (name == "data") {
            std::vector<uint8_t> bytes;
            if (!LeafText(element, text)) {
                return false;
            }
            if (!DecodeBase64(text, bytes)) {
                return Fail(element, "<data> is not valid base64");
            }
            out = Value(Data(std::move(bytes)));
            return true;
        }
        if (name == "date") {
            Date date;
            if (!LeafText(element, text)) {
                return false;
            }
            if (!Date::FromISO8601(Trim(text), date)) {
                return Fail(element, "<date> \"" + text.substr(0, 64) +
                                         "\" is not a date of the form 2001-12-31T23:59:59Z");
            }
            out = Value(date);
            return true;
        }
        return Fail(element, "unknown element <" + name.substr(0, 64) + ">");
    }

private:
    std::string& error_;
};

struct DocumentFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// ---- writing ----

// Appends text as element content: the markup characters escaped, and a carriage return as a
// character reference because a reader turns a literal one into a line feed. Refuses text
// that is not UTF-8 or holds a character that XML 1.0 cannot carry (controls other than tab,
// line feed and carriage return, surrogates, U+FFFE and U+FFFF).
bool AppendEscaped(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '\r': out += "&#13;"; break;
                default:
                    if (c < 0x20 && c != '\t' && c != '\n') {
                        return false;
                    }
                    out += static_cast<char>(c);
            }
            ++p;
            continue;
        }
        size_t length = 0;
        uint32_t code = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < length) {
            return false;
        }
        for (size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3F);
        }
        const uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
            code == 0xFFFE || code == 0xFFFF) {
            return false;
        }
        out.append(reinterpret_cast<const char*>(p), length);
        p += length;
    }
    return true;
}

class Writer {
public:
    Writer(std::string& out, std::string& error) : out_(out), error_(error) {}

    bool Fail(const std::string& path, const std::string& what) {
        error_ = (path.empty() ? std::string("the top value") : path) + ": " + what;
        return false;
    }

    bool Leaf(const char* name, std::string_view text, size_t depth, const std::string& path) {
        out_.append(depth, '\t');
        out_ += '<';
        out_ += name;
        out_ += '>';
        if (!AppendEscaped(out_, text)) {
            return Fail(path, "text is not UTF-8 or holds a character XML cannot carry");
        }
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    void Raw(const std::string& line, size_t depth) {
        out_.append(depth, '\t');
        out_ += line;
        out_ += '\n';
    }

    bool Write(const Value& value, size_t depth, const std::string& path) {
        if (depth > PropertyList::kMaxDepth) {
            return Fail(path, "containers nested too deeply");
        }
        switch (value.GetKind()) {
            case Value::Kind::Null: return Fail(path, "a property list cannot hold null");
            case Value::Kind::Bool: Raw(*value.AsBool() ? "<true/>" : "<false/>", depth); break;
            case Value::Kind::Int:
            case Value::Kind::UInt: return Leaf("integer", value.StringValue(), depth, path);
            case Value::Kind::Double: return Leaf("real", RealText(*value.AsDouble()), depth, path);
            case Value::Kind::Decimal:
                return Leaf("real", value.AsDecimal()->ToString(), depth, path);
            case Value::Kind::String: return Leaf("string", *value.AsString(), depth, path);
            case Value::Kind::Data: {
                std::string text;
                AppendBase64(text, value.AsData()->Bytes());
                return Leaf("data", text, depth, path);
            }
            case Value::Kind::Date: {
                const std::string text = value.AsDate()->ToISO8601();
                if (text.empty()) {
                    return Fail(path, "the date lies outside the years 1 to 9999");
                }
                return Leaf("date", text, depth, path);
            }
            case Value::Kind::Array: {
                const Array& array = *value.AsArray();
                if (array.empty()) {
                    Raw("<array/>", depth);
                    break;
                }
                Raw("<array>", depth);
                for (size_t i = 0; i < array.size(); ++i) {
                    if (!Write(array[i], depth + 1, path + "[" + std::to_string(i) + "]")) {
                        return false;
                    }
                }
                Raw("</array>", depth);
                break;
            }
            case Value::Kind::Dictionary: {
                const Dictionary& dictionary = *value.AsDictionary();
                if (dictionary.empty()) {
                    Raw("<dict/>", depth);
                    break;
                }
                Raw("<dict>", depth);
                for (const auto& [key, member] : dictionary) {
                    const std::string memberPath = path + "[\"" + key + "\"]";
                    if (!Leaf("key", key, depth + 1, memberPath) ||
                        !Write(member, depth + 1, memberPath)) {
                        return false;
                    }
                }
                Raw("</dict>", depth);
                break;
            }
        }
        return true;
    }

private:
    std::string& out_;
    std::string& error_;
};

}  // namespace

bool PropertyList::Parse(std::string_view xml, Value& out, std::string& error) {
    if (xml.size() > kMaxDocumentSize) {
        error = "property list larger than " + std::to_string(kMaxDocumentSize) + " bytes";
        return false;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
    if (!context) {
        error = "out of memory while parsing a property list";
        return false;
    }
    // No XML_PARSE_NOENT (entities are not substituted), no DTDLOAD / DTDATTR / DTDVALID (no
    // external subset is read), no HUGE (the depth and amplification limits stay).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocumentFree> doc(xmlCtxtReadMemory(
        context.get(), xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, options));
    if (!doc) {
        const xmlError* last = &context->lastError;
        std::string message = last->message ? last->message : "malformed XML";
        while (!message.empty() && message.back() == '\n') {
            message.pop_back();
        }
        error = "not a property list: " + message + " (line " + std::to_string(last->line) + ")";
        return false;
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) {
        error = "not a property list: no root element";
        return false;
    }
    PlistReader reader(error);
    const xmlNode* top = root;
    if (std::strcmp(Name(root), "plist") == 0) {
        top = nullptr;
        size_t count = 0;
        const bool ok = reader.Children(root, [&](const xmlNode* child) {
            top = child;
            return ++count == 1 || reader.Fail(child, "<plist> holds more than one value");
        });
        if (!ok) {
            return false;
        }
        if (!top) {
            return reader.Fail(root, "<plist> holds no value");
        }
    }
    Value value;
    if (!reader.ReadValue(top, value, 0)) {
        return false;
    }
    out = std::move(value);
    return true;
}

bool PropertyList::Serialize(const Value& value, std::string& out, std::string& error) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    Writer writer(text, error);
    if (!writer.Write(value, 0, "")) {
        return false;
    }
    text += "</plist>\n";
    out = std::move(text);
    return true;
}

bool PropertyList::ReadFile(const std::string& path, Value& out, std::string& error,
                            bool* missing) {
    std::string text;
    // Documents such as a bundle's Info.plist may be installed as symbolic links.
    AtomicFile::ReadFailure failure = AtomicFile::ReadFailure::None;
    const bool read =
        AtomicFile::Read(path, kMaxDocumentSize, text, error, &failure, AtomicFile::Links::Follow);
    if (missing) {
        *missing = failure == AtomicFile::ReadFailure::Missing;
    }
    if (!read) {
        return false;
    }
    if (!Parse(text, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool PropertyList::WriteFile(const std::string& path, const Value& value, mode_t mode,
                             std::string& error) {
    std::string text;
    if (!Serialize(value, text, error)) {
        error = "cannot write " + path + ": " + error;
        return false;
    }
    return AtomicFile::Write(path, text, mode, error);
}

}  // namespace ns
