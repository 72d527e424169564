#include "engine/core/ChapterInfoSource.h"

#include <boost/bind/bind.hpp>

namespace SarvelonMediaKit {

using boost::placeholders::_1;

void ChapterInfoSource::PublishChapterCount(unsigned count) {
    PublishToMonitors(boost::bind(&ChapterInfoMonitor::ChaptersAvailable, _1, count));
}

void ChapterInfoSource::PublishChapter(unsigned sequenceNumber, MediaTime startTime,
                                       const std::string& title) {
    PublishToMonitors(
        boost::bind(&ChapterInfoMonitor::ChapterReceived, _1, sequenceNumber, startTime, title));
}

void ChapterInfoSource::PublishThumbnail(unsigned index, const std::vector<unsigned char>& image) {
    PublishToMonitors(boost::bind(&ChapterInfoMonitor::ThumbnailReceived, _1, index, image));
}

}  // namespace SarvelonMediaKit
