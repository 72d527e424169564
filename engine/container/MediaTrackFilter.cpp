#include "engine/container/MediaTrackFilter.h"

#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {
namespace {

bool Matches(double v, MediaTrackFilter::Operator op, double r) {
    switch (op) {
        case MediaTrackFilter::OperatorLess: return v < r;
        case MediaTrackFilter::OperatorLessOrEqual: return v <= r;
        case MediaTrackFilter::OperatorEqual: return v == r;
        case MediaTrackFilter::OperatorGreaterOrEqual: return v >= r;
        case MediaTrackFilter::OperatorGreater: return v > r;
        default: return false;
    }
}

}  // namespace

MediaTrackFilter& MediaTrackFilter::Instance() {
    // Never destroyed, so that no judgement can meet a destroyed filter at exit.
    static MediaTrackFilter* instance = new MediaTrackFilter();
    return *instance;
}

MediaTrackFilter::MediaTrackFilter() {}

void MediaTrackFilter::AddRule(Selector selector, Operator op, double value) {
    rules_[selector].emplace_back(op, value);
}

MediaTrackFilter::Rules MediaTrackFilter::GetRules(Selector selector) const {
    auto found = rules_.find(selector);
    return found == rules_.end() ? Rules() : found->second;
}

bool MediaTrackFilter::MatchesAny(double value, const Rules& rules) {
    for (const auto& rule : rules)
        if (Matches(value, rule.first, rule.second)) return true;
    return false;
}

bool MediaTrackFilter::Accept(const boost::shared_ptr<MediaTrack>& track) const {
    if (!track) return false;
    const SV::SVDictionary& info = track->GetInfo();
    auto get = [&info](const char* key) {
        return static_cast<double>(info.GetUnsignedIntOrDefault(key, 0));
    };
    const bool hasVideo = info.GetUnsignedIntOrDefault(TrackInfoKey_VideoFormat, 0) != 0;
    const bool hasAudio = info.GetUnsignedIntOrDefault(TrackInfoKey_AudioFormat, 0) != 0;

    bool accept = true;
    for (auto it = rules_.begin(); accept && it != rules_.end(); ++it) {
        double v = 0.0;
        switch (it->first) {
            case SelectorBitRate: v = static_cast<double>(track->GetByteRate().Get()) * 8.0; break;
            case SelectorVideoFormat:
            case SelectorVideoWidth:
            case SelectorVideoHeight:
            case SelectorAspectRatio:
            case SelectorVideoProfile:
            case SelectorVideoLevel:
                if (!hasVideo) continue;
                if (it->first == SelectorVideoFormat) {
                    v = get(TrackInfoKey_VideoFormat);
                } else if (it->first == SelectorVideoWidth) {
                    v = get(TrackInfoKey_VideoWidth);
                } else if (it->first == SelectorVideoHeight) {
                    v = get(TrackInfoKey_VideoHeight);
                } else if (it->first == SelectorVideoProfile) {
                    v = get(TrackInfoKey_VideoProfile);
                } else if (it->first == SelectorVideoLevel) {
                    v = get(TrackInfoKey_VideoLevel);
                } else {
                    const double height = get(TrackInfoKey_VideoHeight);
                    v = height;  // 0 without a height
                    if (height > 0) {
                        v = get(TrackInfoKey_VideoWidth) / height;
                        const double pixelHeight = get(TrackInfoKey_VideoPixelHeight);
                        if (pixelHeight != 0)
                            v = v * get(TrackInfoKey_VideoPixelWidth) / pixelHeight;
                    }
                }
                break;
            case SelectorAudioFormat:
            case SelectorChannelCount:
            case SelectorAudioProfile:
                if (!hasAudio) continue;
                v = get(it->first == SelectorAudioFormat    ? TrackInfoKey_AudioFormat
                        : it->first == SelectorChannelCount ? TrackInfoKey_AudioNumChannels
                                                            : TrackInfoKey_AudioProfile);
                break;
            default: continue;  // selectors outside 1-10 judge nothing
        }
        accept = MatchesAny(v, it->second);
    }
    return accept;
}

}  // namespace SarvelonMediaKit
