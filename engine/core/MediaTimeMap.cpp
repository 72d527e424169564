#include "engine/core/MediaTimeMap.h"

#include "SVLibrary/Output/DebugPrint.h"

namespace SarvelonMediaKit {

MediaTimeMap::MediaTimeMap() : started_(false), offset_(0) {}

MediaTimeMap::~MediaTimeMap() {}

void MediaTimeMap::SetCurrentTime(MediaTime firstTime, MediaTime secondTime) {
    SV::ScopedLock lock(*this);
    std::deque<std::pair<MediaTime, MediaTime>>& pairs = Value();
    if (!started_) {
        offset_ = firstTime.Get() - secondTime.Get();
        pairs.push_back(std::make_pair(firstTime, secondTime));
        started_ = true;
        return;
    }
    if (!pairs.empty() && firstTime.Get() < pairs.back().first.Get()) {
        DebugPrint("MediaTimeMap::SetCurrentTime: clearing media time map\n");
        pairs.clear();
        pairs.push_back(std::make_pair(firstTime, secondTime));
        return;
    }
    pairs.push_back(std::make_pair(firstTime, secondTime));
    if (pairs.size() > kMaxPairs) pairs.pop_front();
}

bool MediaTimeMap::IsStarted() {
    SV::ScopedLock lock(*this);
    return started_;
}

MediaTime MediaTimeMap::GetOffset() {
    SV::ScopedLock lock(*this);
    return offset_;
}

}  // namespace SarvelonMediaKit
