#ifndef ENGINE_CORE_CHAPTERINFOSOURCE_H
#define ENGINE_CORE_CHAPTERINFOSOURCE_H

#include <string>
#include <vector>

#include "engine/core/ChapterInfoMonitor.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

// Publisher of chapters and thumbnails. The publishing operations are virtual: the
// demultiplexer and its out-of-band parser inherit them.
class ChapterInfoSource : public InfoSource<ChapterInfoSource, ChapterInfoMonitor> {
public:
    ~ChapterInfoSource() override {}

    virtual void PublishChapterCount(unsigned count);
    virtual void PublishChapter(unsigned sequenceNumber, MediaTime startTime,
                                const std::string& title);
    virtual void PublishThumbnail(unsigned index, const std::vector<unsigned char>& image);
};

}  // namespace SarvelonMediaKit

#endif
