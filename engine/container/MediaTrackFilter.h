#ifndef ENGINE_CONTAINER_MEDIATRACKFILTER_H
#define ENGINE_CONTAINER_MEDIATRACKFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace SarvelonMediaKit {

class MediaTrack;

// Rules that decide which tracks of an asset the engine may use. Each rule compares one
// property of a track with a value; the rules of one selector combine by OR, the selectors by
// AND, and a selector of video (audio) properties judges only tracks that have a video
// (audio) format. The process-wide instance is made on first use and never destroyed; rules
// are added during the engine's initialisation, before any track is judged, and never removed.
class MediaTrackFilter {
public:
    enum Selector : uint32_t {
        SelectorBitRate = 1,  // byte rate x 8
        SelectorVideoFormat = 2,
        SelectorVideoWidth = 3,
        SelectorVideoHeight = 4,
        SelectorAspectRatio = 5,  // width / height x pixel width / pixel height
        SelectorAudioFormat = 6,
        SelectorChannelCount = 7,
        SelectorVideoProfile = 8,
        SelectorVideoLevel = 9,
        SelectorAudioProfile = 10,
    };
    // Track value v against rule value r; any other operator never matches.
    enum Operator : uint32_t {
        OperatorLess = 1,            // v < r
        OperatorLessOrEqual = 2,     // v <= r
        OperatorEqual = 3,           // v == r
        OperatorGreaterOrEqual = 4,  // v >= r
        OperatorGreater = 5,         // v > r
    };
    typedef std::vector<std::pair<Operator, double>> Rules;

    // The process-wide filter (first use on one thread).
    static MediaTrackFilter& Instance();

    // An empty filter of its own (the engine uses Instance).
    MediaTrackFilter();

    // Appends a rule to the selector's list.
    void AddRule(Selector selector, Operator op, double value);
    // The rules of one selector in the order they were added (empty when it has none).
    Rules GetRules(Selector selector) const;
    // True when the track passes every selector that judges it; a missing track fails.
    bool Accept(const boost::shared_ptr<MediaTrack>& track) const;
    // True when any rule of the list matches the value (false for an empty list).
    static bool MatchesAny(double value, const Rules& rules);

private:
    std::map<Selector, Rules> rules_;
};

}  // namespace SarvelonMediaKit

#endif
