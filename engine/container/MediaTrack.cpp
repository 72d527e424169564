#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {

MediaTrack::MediaTrack()
    : id_(0),
      byteRate_(0),
      audio_(false),
      video_(false),
      text_(false),
      trickPlayRate_(0),
      timingOffset_(0.0f) {}

void MediaTrack::SetId(TrackId id) {
    id_ = id;
    info_.SetValue(TrackInfoKey_Id, SV::SVTypedValue(id.Get()));
}

void MediaTrack::SetBitRate(uint32_t bitsPerSecond) {
    byteRate_ = bitsPerSecond >> 3;
    info_.SetValue(TrackInfoKey_BitRate, SV::SVTypedValue(bitsPerSecond));
}

void MediaTrack::SetTrickPlayRate(int16_t rate) {
    trickPlayRate_ = rate;
    if (rate == 0)
        info_.RemoveValue(TrackInfoKey_TrickPlayRate);
    else
        info_.SetValue(TrackInfoKey_TrickPlayRate, SV::SVTypedValue(static_cast<int32_t>(rate)));
}

void MediaTrack::SetSource(const std::string& source) {
    source_ = source;
    if (source.empty())
        info_.RemoveValue(TrackInfoKey_Source);
    else
        info_.SetValue(TrackInfoKey_Source, SV::SVTypedValue(source));
}

void MediaTrack::SetTimingOffset(float seconds) {
    timingOffset_ = seconds;
    if (seconds == 0.0f)
        info_.RemoveValue(TrackInfoKey_TimingOffset);
    else
        info_.SetValue(TrackInfoKey_TimingOffset, SV::SVTypedValue(seconds));
}

}  // namespace SarvelonMediaKit
