#ifndef ENGINE_CORE_CHAPTERINFOMONITOR_H
#define ENGINE_CORE_CHAPTERINFOMONITOR_H

#include <string>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

class ChapterInfoSource;

// Subscriber to a title's chapters and thumbnails. Every event does nothing unless overridden.
class ChapterInfoMonitor : public InfoMonitor<ChapterInfoSource, ChapterInfoMonitor> {
public:
    ~ChapterInfoMonitor() override {}

    // The number of chapters of the title.
    virtual void ChaptersAvailable(unsigned /*count*/) {}
    // One chapter: sequence number from 0, start in microseconds, title (may be empty).
    virtual void ChapterReceived(unsigned /*sequenceNumber*/, MediaTime /*startTime*/,
                                 const std::string& /*title*/) {}
    // The encoded image of the thumbnail of chapter index.
    virtual void ThumbnailReceived(unsigned /*index*/,
                                   const std::vector<unsigned char>& /*image*/) {}
};

}  // namespace SarvelonMediaKit

#endif
