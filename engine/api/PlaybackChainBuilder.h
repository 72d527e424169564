#ifndef ENGINE_API_PLAYBACKCHAINBUILDER_H
#define ENGINE_API_PLAYBACKCHAINBUILDER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/MediaClassification.h"
#include "engine/core/ComponentStack.h"

namespace SarvelonMediaKit {

class BatchedFileServer;
class Component;
class ErrorInfoMonitor;
class ErrorInfoSource;
class FileClient;
class FileServer;
class FirstRenditionCut;
class LiveHttpSegmenter;
class MediaSeeker;
class Mpeg2PsDemux;
class Mux;
class Session;
class StreamInfoMonitor;
class TitleInfoCache;

// What the transformation produces.
enum OutputKind : uint32_t {
    OutputKindNone = 1,
    OutputKindFile = 2,
    OutputKindPassThrough = 3,
    OutputKindRtmpServer = 4,
    OutputKindHls = 5
};

// How a file output is written; given when the chain is built.
struct FileOutputOptions {
    // Only the first rendition of a title taken as one of the engine's container whatever its
    // name (a download for an http(s) URL, the file of that path otherwise), read straight
    // through from its first byte and always multiplexed: a FirstRenditionCut stands where the
    // seeker would, no audio branch joins the chain, and a BatchedFileServer writes the output,
    // which ends once that sink IsComplete(). A file is opened when the chain is built, before
    // the output. Only for file output.
    bool firstRenditionOnly = false;
    // The batched sink's wake signal (BatchedFileServer::SetWakeSignal), set before it opens
    // the file; 0 for none.
    int wakeSignal = 0;
    // Also hears the source client's errors and warnings (a download's stall and its end), from
    // the moment the client is made; null for none.
    ErrorInfoMonitor* sourceMonitor = nullptr;
};

// The components of a playback's main chain that its owner steers, null when absent; the
// session's stack owns them.
struct PlaybackChain {
    Component* httpClient = nullptr;
    FileClient* fileClient = nullptr;
    MediaSeeker* seeker = nullptr;
    Mpeg2PsDemux* demux = nullptr;
    Mux* mux = nullptr;
    LiveHttpSegmenter* segmenter = nullptr;
    FileServer* fileServer = nullptr;  // the file output's sink
    // With FileOutputOptions::firstRenditionOnly: the cut and the sink (also fileServer).
    FirstRenditionCut* cut = nullptr;
    BatchedFileServer* batchedFileServer = nullptr;
    // Demultiplexers whose preload is to be waited for.
    int32_t demuxCount = 0;
};

// Builds the main chain of one playback for its source and the output asked for: the output
// (file server or segmenter), the multiplexer, the demultiplexer with its seeker, and the
// source client, each becoming the source of the one before it. Every component reports its
// errors to the error monitor; the demultiplexer reports the stream to the stream monitor and
// the title to the title cache. A piece this engine does not carry is said on standard output
// and recorded as the status (415 or 1002), and the chain goes on without it where it can.
class PlaybackChainBuilder {
public:
    PlaybackChainBuilder(Session& session, ErrorInfoMonitor& errors, StreamInfoMonitor& streams,
                         TitleInfoCache& titleInfo, const std::string& url, MediaFormat mediaFormat,
                         SourceKind sourceKind, MediaFormat outputFormat, OutputKind outputKind,
                         const std::string& outputName,
                         const FileOutputOptions& fileOptions = FileOutputOptions());
    PlaybackChainBuilder(const PlaybackChainBuilder&) = delete;
    PlaybackChainBuilder& operator=(const PlaybackChainBuilder&) = delete;

    // Appends the chain to the stack, output end first. sparse: the title is fetched piece by
    // piece over HTTP. False when the chain cannot be built: nothing of it may be used then.
    bool Build(ComponentStack& stack, bool sparse);
    // Once the session runs: the name the output is reached by (the loopback playlist URL for
    // served output, the remote playlist as it is, the file's name, or empty).
    void NamePlayback();

    SVStatus GetStatus() const { return status_; }
    PlaybackChain GetChain() const;
    std::string GetOutputName() const { return outputName_; }

    // The HTTP source of a chain, with the error monitor; the seeker given (if any) follows its
    // bandwidth. raw receives the plain pointer.
    static boost::shared_ptr<Component> MakeHttpClient(Session* session, ErrorInfoMonitor& errors,
                                                       MediaSeeker* steered, Component** raw);
    // The program-stream multiplexer; an empty result means "not available" (415).
    static boost::shared_ptr<Mux> MakePsMux(Session* session, bool dvd);

private:
    bool BuildOutput(ComponentStack& stack);
    bool BuildMux(ComponentStack& stack);
    void BuildDemux(ComponentStack& stack);
    bool BuildSource(ComponentStack& stack, bool sparse);
    void MonitorErrors(ErrorInfoSource& source);
    // The file output of one title's first rendition is asked for and can be built.
    bool FirstRenditionOnly() const;

    Session& session_;
    ErrorInfoMonitor& errors_;
    StreamInfoMonitor& streams_;
    TitleInfoCache& titleInfo_;
    const std::string url_;
    const MediaFormat mediaFormat_;
    const SourceKind sourceKind_;
    const MediaFormat outputFormat_;
    const OutputKind outputKind_;
    std::string outputName_;
    const FileOutputOptions fileOptions_;
    SVStatus status_ = SVStatusSuccess;
    Component* httpClient_ = nullptr;
    FileClient* fileClient_ = nullptr;
    MediaSeeker* seeker_ = nullptr;
    Mpeg2PsDemux* demux_ = nullptr;
    Mux* mux_ = nullptr;
    LiveHttpSegmenter* segmenter_ = nullptr;
    FileServer* fileServer_ = nullptr;
    FirstRenditionCut* cut_ = nullptr;
    BatchedFileServer* batchedFileServer_ = nullptr;
    int32_t pendingPreloads_ = 0;
};

}  // namespace SarvelonMediaKit

#endif
