#ifndef ENGINE_CONTAINER_MEDIATRACK_H
#define ENGINE_CONTAINER_MEDIATRACK_H

#include <cstdint>
#include <string>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/container/MediaTrackIndex.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {

// One elementary stream of an asset (video, audio or text): its identity and source, its
// properties under the TrackInfoKey_* names, and its seek index. Tracks are shared through
// boost::shared_ptr and gathered in maps keyed by track id. The setters keep the matching
// dictionary entries in step; the creators fill the rest of the dictionary and the flags.
class MediaTrack {
public:
    MediaTrack();

    // Stores the id and sets TrackInfoKey_Id.
    void SetId(TrackId id);
    TrackId GetId() const { return id_; }
    // Byte rate = bits / 8 (truncated); TrackInfoKey_BitRate = bits.
    void SetBitRate(uint32_t bitsPerSecond);
    ByteAmount GetByteRate() const { return byteRate_; }
    // 0 removes TrackInfoKey_TrickPlayRate, any other rate sets it (signed 32-bit).
    void SetTrickPlayRate(int16_t rate);
    TrickPlayRate GetTrickPlayRate() const { return trickPlayRate_; }
    // An empty source removes TrackInfoKey_Source, any other sets it.
    void SetSource(const std::string& source);
    const std::string& GetSource() const { return source_; }
    // 0.0 removes TrackInfoKey_TimingOffset, any other value sets it (seconds).
    void SetTimingOffset(float seconds);
    float GetTimingOffset() const { return timingOffset_; }

    bool HasAudio() const { return audio_; }
    void SetAudio(bool on) { audio_ = on; }
    bool HasVideo() const { return video_; }
    void SetVideo(bool on) { video_ = on; }
    bool HasText() const { return text_; }
    void SetText(bool on) { text_ = on; }

    SV::SVDictionary& GetInfo() { return info_; }
    const SV::SVDictionary& GetInfo() const { return info_; }
    MediaTrackIndex& GetIndex() { return index_; }
    const MediaTrackIndex& GetIndex() const { return index_; }

private:
    TrackId id_;
    SV::SVDictionary info_;
    MediaTrackIndex index_;
    ByteAmount byteRate_;
    bool audio_;
    bool video_;
    bool text_;
    TrickPlayRate trickPlayRate_;
    std::string source_;
    float timingOffset_;
};

}  // namespace SarvelonMediaKit

#endif
