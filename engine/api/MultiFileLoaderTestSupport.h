#ifndef ENGINE_API_MULTIFILELOADERTESTSUPPORT_H
#define ENGINE_API_MULTIFILELOADERTESTSUPPORT_H

// What the loader's checks share: a folder of hand-written manifests next to fixture titles.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "engine/demux/IndexDigestTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace test {

inline std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// A folder holding a video-only title (v.svm) and two audio-only titles, English (en.svm) and
// French (audio/fr.svm, one folder down), next to which the checks write their manifests.
class ManifestFolder {
public:
    ManifestFolder() : folder_("svloader") {
        if (mkdir(folder_.File("audio").c_str(), 0755) != 0) {
            throw std::runtime_error("cannot make " + folder_.File("audio"));
        }
        Link(SvTestSupport::Fixtures::VideoOnlyTitle(), "v.svm");
        Link(SvTestSupport::Fixtures::LanguageAudioTitle("eng"), "en.svm");
        Link(SvTestSupport::Fixtures::LanguageAudioTitle("fra"), "audio/fr.svm");
    }
    const std::string& Path() const { return folder_.Path(); }
    std::string File(const std::string& name) const { return folder_.File(name); }
    // Writes the manifest and returns its path.
    std::string Manifest(const std::string& name, const std::string& body) const {
        const std::string path = folder_.File(name);
        WriteText(path,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<smil xmlns=\"http://www.w3.org/ns/SMIL\"><body><par>\n" +
                      body + "\n</par></body></smil>\n");
        return path;
    }

private:
    void Link(const std::string& target, const std::string& name) {
        if (symlink(target.c_str(), folder_.File(name).c_str()) != 0) {
            throw std::runtime_error("cannot link " + name);
        }
    }
    SvTestSupport::TemporaryDirectory folder_;
};

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
