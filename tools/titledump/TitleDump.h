#ifndef TOOLS_TITLEDUMP_TITLEDUMP_H
#define TOOLS_TITLEDUMP_TITLEDUMP_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/container/MediaTrack.h"
#include "engine/demux/Mpeg2PsParser.h"

namespace SvTools {

// What one elementary stream of a title delivered.
struct StreamSummary {
    uint8_t streamId = 0;
    uint8_t streamType = 0;  // from the program stream map; 0 when it names none
    uint32_t mediaType = 0;  // 1 audio, 2 video, 0 other
    uint64_t samples = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
    uint64_t firstDecodeTime = 0;  // microseconds
    uint64_t lastDecodeTime = 0;
};

// A seek point of a track's index, and whether its key frame came.
struct SeekPointSeen {
    size_t track = 0;   // in TitleSummary::tracks
    uint64_t time = 0;  // the key frame's decode time, microseconds
    bool met = false;
};

// What the parser read from a title.
struct TitleSummary {
    std::vector<boost::shared_ptr<SarvelonMediaKit::MediaTrack>> tracks;
    std::vector<SarvelonMediaKit::Mpeg2PsParser::Chapter> chapters;
    std::vector<StreamSummary> streams;  // in the order of their first sample
    // The parser's last result: ProgramEnd at the program end code, Ok when the file ended
    // without one, any other value is the error that stopped it.
    SarvelonMediaKit::Mpeg2PsResult result = SarvelonMediaKit::Mpeg2PsResult::Ok;
    uint64_t bytesParsed = 0;  // bytes handed to the parser before it stopped
    // The file's size (a regular file), or the bytes read when the input was a stream.
    uint64_t fileSize = 0;
    // An index entry was met; the index was complete (the first media packet followed it).
    bool indexSeen = false;
    bool indexComplete = false;
    // The seek points per stream id that carries them (a track's pictures, or its sound when it
    // has none), of every track on that stream in file order (renditions share stream ids),
    // each marked when the parser delivered its key frame.
    std::map<uint8_t, std::vector<SeekPointSeen>> seekPoints;
};

// Parses the title in pieces of pieceSize bytes. False, with the reason in error, when the file
// cannot be read; a title the parser refuses still gives true, with the parser's result.
bool ReadTitle(const std::string& path, TitleSummary& summary, std::string& error,
               size_t pieceSize = 65536);

// The summary as text, one item per line.
std::string FormatTitle(const TitleSummary& summary);

// The summary as JSON (the same items as FormatTitle), indented when human is set. False, with
// the JSON writer's reason in error and text untouched, when the writer refuses a value (a
// string from the title that is not UTF-8).
bool FormatTitleJson(const TitleSummary& summary, std::string& text, std::string& error,
                     bool human = true);

// Name of a parser result ("program end", "bad index entry magic", ...); Ok, the parser having
// taken the whole input, is the end of the file.
std::string ResultName(SarvelonMediaKit::Mpeg2PsResult result);

// What keeps the title from being whole, one sentence each: the file is empty, it has no index
// or ends within its header (in the engine's words for these), the parser
// stopped with an error or at the end of the file without the program end code, the title has
// no tracks, the file ends before its index says, the decode times met span well less than the
// index's duration (damaged media the parser skipped), or key frames the seek tables list never
// came before later ones did (groups of pictures lost mid-file, such as zeros the parser takes
// for stuffing). Empty when whole.
std::vector<std::string> TitleProblems(const TitleSummary& summary);

// Whether the bytes are no title at all, as the engine would refuse them: they do not begin
// as a program stream, or they make one without an index. An empty file is not among them.
bool IsNotATitle(const TitleSummary& summary);

}  // namespace SvTools

#endif
