// Feeds arbitrary bytes to the SMIL manifest reader. Whatever the bytes, the reader either
// accepts the document or refuses it with the manifest status and a text; what it accepts
// holds only finite offsets and resolved sources, and its text-stream tracks are text tracks.
// The first byte picks where the manifest is said to come from (a path, a "file://" URL or an
// HTTP URL), which decides how relative sources resolve.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/container/MediaTrack.h"
#include "engine/input/SmilManifestReader.h"

using SarvelonMediaKit::MediaTrack;
using SarvelonMediaKit::SmilManifestReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kLocations[] = {"/data/title/m.smil", "file:///data/m.smil",
                                             "http://127.0.0.1:8080/t/m.smil?k=v", "m.smil"};
    const char* location = kLocations[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    SmilManifestReader reader(location);
    const SVStatus status = reader.Read(text);
    if (status != reader.GetStatus()) __builtin_trap();
    if (status != SVStatusSuccess) {
        if (status != SVStatusManifest || reader.GetErrorText().empty()) __builtin_trap();
        return 0;
    }
    if (!reader.GetErrorText().empty()) __builtin_trap();
    for (const SmilManifestReader::MediaEntry& entry : reader.GetMediaEntries()) {
        if (!std::isfinite(entry.begin) || entry.location.empty()) __builtin_trap();
        // A NUL in a resolved source would name another file than the one written.
        if (entry.location.find('\0') != std::string::npos) __builtin_trap();
    }
    for (const auto& track : reader.GetTextStreamTracks()) {
        if (!track->HasText() || track->HasAudio() || track->HasVideo()) __builtin_trap();
        if (track->GetSource().empty()) __builtin_trap();
        if (!std::isfinite(track->GetTimingOffset())) __builtin_trap();
    }
    return 0;
}
