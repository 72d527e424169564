#ifndef ENGINE_INPUT_SMILMANIFESTREADER_H
#define ENGINE_INPUT_SMILMANIFESTREADER_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <list>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"

struct _xmlNode;

namespace SarvelonMediaKit {

class MediaTrack;

// Reads the SMIL manifest of a title spread over several container files: the "video",
// "audio" and "textstream" elements, wherever they stand in the document, in document order.
// Other elements are looked through, not at.
//
//   <video|audio src="..." [systemLanguage="en"] [begin="2.5s"] [hash="hex"]/>
//   <textstream src="..." systemLanguage="en" [begin="-1.5"]/>
//
// "src" is resolved against the manifest's own location (ResolveLocation); "begin" is a number
// of seconds, a trailing "s" allowed; "hash" is the expected SHA-256 of the file's index, in
// hexadecimal. The text is read with no network access and no entity expansion; a document
// that declares entities is refused unread. The first error ends the reading and stands.
//
// Reads on the caller's thread and starts nothing.
class SmilManifestReader {
public:
    // A manifest larger than this is refused (status 1029) rather than held in memory.
    static constexpr size_t kMaxManifestBytes = 4u << 20;

    // What one "video" or "audio" element asks for.
    struct MediaEntry {
        std::string location;  // the "src", resolved against the manifest's location
        std::string language;  // "systemLanguage"; empty when absent
        float begin = 0.0f;    // "begin", in seconds
        bool hashGiven = false;
        std::vector<unsigned char> hash;  // "hash" decoded; empty when it is not hexadecimal
    };

    // location: where the manifest comes from, a URL or a file path (a leading "file://" is
    // dropped). It decides how the sources resolve.
    explicit SmilManifestReader(const std::string& location);

    // Reads manifest text: fills the media entries and the text-stream tracks. 200, or 1029
    // with the error text. Called once.
    SVStatus Read(const std::string& text);

    SVStatus GetStatus() const { return status_; }
    // The text of the error that decided the status; empty when there was none.
    const std::string& GetErrorText() const { return errorText_; }
    // The media entries read, in manifest order.
    const std::vector<MediaEntry>& GetMediaEntries() const { return entries_; }
    // The text-stream (subtitle) tracks read, in manifest order, each naming its file.
    const std::list<boost::shared_ptr<MediaTrack>>& GetTextStreamTracks() const {
        return textTracks_;
    }

    // A "src" as the reader takes it. A src is a URI reference: its "%XX" escapes are kept as
    // they stand. For a manifest on a server, a relative src is resolved against the folder
    // of the manifest (its URL up to the last '/'), a path from the root against the root of
    // that server, and only the bytes that may not stand in a URI are percent-encoded (a
    // query stays as given); a local source (a file:// URL) gives an empty string: refused.
    // For a local manifest the src names a file: its escapes are decoded to the file's name,
    // a relative one is taken in the manifest's folder, and a "file://" URL becomes its path.
    std::string ResolveLocation(const std::string& src) const;

private:
    void ParseElements(_xmlNode* node, unsigned depth);
    void ParseMediaElement(_xmlNode* node);
    void ParseTextStreamElement(_xmlNode* node);
    // Reads an attribute's value; false when absent. A value past the attribute cap fails
    // the reading.
    bool GetAttribute(_xmlNode* node, const char* name, std::string& value);
    bool ParseBegin(const std::string& text, float& seconds);
    void Fail(const std::string& text);

    std::string location_;
    SVStatus status_;
    std::string errorText_;
    std::vector<MediaEntry> entries_;
    std::list<boost::shared_ptr<MediaTrack>> textTracks_;
};

}  // namespace SarvelonMediaKit

#endif
