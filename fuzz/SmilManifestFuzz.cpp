// Feeds arbitrary bytes to the multi-file loader's manifest reader. Whatever the bytes, the
// reader either accepts the document or refuses it with the manifest status and a text; what
// it accepts holds only finite offsets, and its text-stream tracks number 1..n. The first byte
// picks where the manifest is said to come from (a path, a "file://" URL or an HTTP URL),
// which decides how relative sources resolve.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/container/MediaTrack.h"
#include "engine/input/MultiFileLoader.h"

using SarvelonMediaKit::ByteAmount;
using SarvelonMediaKit::MediaTrack;
using SarvelonMediaKit::MultiFileLoader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kLocations[] = {"/data/title/m.smil", "file:///data/m.smil",
                                             "http://127.0.0.1:8080/t/m.smil?k=v", "m.smil"};
    const char* location = kLocations[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    MultiFileLoader loader(location, ByteAmount(1024));
    const SVStatus status = loader.ParseManifest(text);
    if (status != loader.GetStatus()) __builtin_trap();
    if (status != SVStatusSuccess) {
        if (status != SVStatusManifest || loader.GetErrorText().empty()) __builtin_trap();
        return 0;
    }
    for (const MultiFileLoader::MediaEntry& entry : loader.GetMediaEntries()) {
        if (!std::isfinite(entry.begin)) __builtin_trap();
    }
    const size_t textTracks = loader.GetTextStreamTracks().size();
    MultiFileLoader::TrackMap tracks;
    loader.GetMediaTracks(tracks);  // no file was preloaded: the text-stream tracks only
    if (tracks.size() != textTracks) __builtin_trap();
    uint32_t id = 1;
    for (const auto& entry : tracks) {
        const MediaTrack& track = *entry.second;
        if (entry.first.Get() != id || track.GetId().Get() != id || !track.HasText()) {
            __builtin_trap();
        }
        if (!std::isfinite(track.GetTimingOffset())) __builtin_trap();
        ++id;
    }
    return 0;
}
