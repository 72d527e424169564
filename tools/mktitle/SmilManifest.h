#ifndef TOOLS_MKTITLE_SMILMANIFEST_H
#define TOOLS_MKTITLE_SMILMANIFEST_H

#include <cstdint>
#include <string>
#include <vector>

namespace SvTools {

// The SMIL document that ties a multi-file title together: one "video" or "audio" element per
// title file (its name relative to the document, its audio language, and the hex SHA-256 of its
// index entries, which the engine checks before it plays the file) and one "textstream" element
// per subtitle file. All elements stand in one "par" of the body: the files play side by side.
class SmilManifest {
public:
    // kind is "video" or "audio"; an empty language leaves systemLanguage out; digest is the
    // 32-byte index digest (empty: no "hash" attribute).
    void AddMedia(const std::string& kind, const std::string& src, const std::string& language,
                  const std::vector<uint8_t>& digest);
    void AddTextStream(const std::string& src, const std::string& language);

    // The whole document, UTF-8, attribute values escaped.
    std::string Text() const;

    // Lower-case hexadecimal text of bytes.
    static std::string Hex(const std::vector<uint8_t>& bytes);
    // The text with &, <, >, " and ' as XML character references.
    static std::string Escape(const std::string& text);

private:
    struct Element {
        std::string name;
        std::string src;
        std::string language;
        std::string hash;
    };
    std::vector<Element> elements_;
};

}  // namespace SvTools

#endif
