#ifndef ENGINE_DEMUX_MPEG2PSDEMUX_H
#define ENGINE_DEMUX_MPEG2PSDEMUX_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Time/PilTime.h"
#include "engine/core/ChapterInfoSource.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/StreamInfoSource.h"
#include "engine/core/TaskManager.h"
#include "engine/demux/Demux.h"
#include "engine/container/MediaTrack.h"
#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsOutOfBandParser.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/demux/Mpeg2PsTimestampBatch.h"
#include "engine/demux/Mpeg2PsTrackTable.h"

namespace SarvelonMediaKit {

// The demultiplexer of the engine's program-stream container. Bytes from the source side are
// parsed as they arrive by its Mpeg2PsParser, whose listener it is. The index entries of the first
// pack become the track map (ids 1, 2, ... in the order the track filter accepts them); once the
// index is complete the tracks, the duration, the media size and whether trick play is possible are
// published, and one SampleStream is made per elementary stream of the tracks.
//
// With a multiplexer as consumer the PES payloads become timed samples in those streams; with
// any other consumer the container bytes are passed on unchanged. The parser's mode is fixed,
// so a change of consumer makes a new parser.
//
// Preload (DoPreLoad) reads until the index is complete or the time-out passes; then the
// chapters are published. Thumbnails are read on request (DoGetChapterData) as out-of-band
// data and published by the Mpeg2PsOutOfBandParser.
//
// Everything runs on the session's task thread; the information sources may be attached to
// from other threads.
class Mpeg2PsDemux : public Demux,
                     public StreamInfoSource,
                     public ChapterInfoSource,
                     public ErrorInfoSource,
                     public Mpeg2PsParserListener {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    explicit Mpeg2PsDemux(Session* session);
    // A demultiplexer for a further chain that starts from the other's tracks.
    Mpeg2PsDemux(Session* session, const Mpeg2PsDemux& other);
    ~Mpeg2PsDemux() override;

    // ---- Component ----

    std::string GetTypeName() const override;
    void DoAdd(const MemoryChunk& chunk) override;
    // Parses (demultiplexing) exactly when a multiplexer is linked. Linked to a new multiplexer
    // the streams are made anew; linked again to the same one they are kept with what they
    // hold, less the streams no remaining track uses, and the missing ones are added.
    void DoLinked(bool firstTime) override;
    void DoSetPosition(BytePosition position, StackId stackId) override;
    bool DoOutOfBandData(const MemoryChunk& chunk) override;
    void DoGetChapterData(uint32_t first, uint32_t last) override;
    // Nothing is pulled after the end of the media until a seek.
    void PrePullData(ByteAmount& amount) override;
    void DoSetName(const std::string& name, bool flag) override;
    std::string DoGetName() override;
    // timeout in microseconds.
    void DoPreLoad(MediaTime timeout) override;
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    using Component::DoSeek;
    void DoSeek(BytePosition start, BytePosition second, bool flag) override;
    void DoSeek(MediaTime time) override;
    bool DoTrickPlay(TrickPlayRate rate, MediaTime time) override;
    void DoGetStatistics(SV::SVDictionary& statistics) override;

    // ---- Demux ----

    uint32_t DoFlushPendingSample() override;
    MediaTime GetDuration() override;
    bool GetDecoderConfig(uint32_t kind, const uint8_t** data, uint32_t* size) override;

    // ---- Operations of its own ----

    void DoAddInTask(const MemoryChunk& chunk);
    // The first preload step: takes the preload cache (on the task thread, where the cache is
    // used), then runs the step.
    void StartPreLoadInTask(const MediaTime& timeout, const SV::PilTime& start);
    // One preload step; posts the next one itself.
    void DoPreLoadInTask(const MediaTime& timeout, const SV::PilTime& start);
    // Parsing restarts awaiting a pack header; the streams are flushed.
    virtual uint32_t ResetParsing();
    // Installs a track map built elsewhere; the stream's own index is then not read.
    void SetTracks(const TrackMap& tracks);
    bool HasAudioOnlyTracks() const;
    void RemoveAudioOnlyTracks();
    void RemoveVideoTracks();
    void RemoveTextStreamTracks();
    // Media time between the last parsed timestamp and how far the source has data.
    MediaTime GetTimeBufferedAhead();

    const TrackMap& GetTracks() const { return tracks_.Get(); }
    boost::shared_ptr<MediaTrack> GetCurrentTrack() const { return currentTrack_; }
    boost::shared_ptr<MediaTrack> GetSelectedTrack() const;
    const std::vector<Mpeg2PsParser::Chapter>& GetChapters() const;
    bool IsMetadataComplete() const { return metadataComplete_; }
    bool IsEndOfMedia() const { return endOfMedia_; }
    // Where the preload takes "now" from; the system clock by default.
    void SetClock(const TaskManager::Clock& clock) { clock_ = clock; }

protected:
    // ---- Mpeg2PsParserListener ----

    // Takes the track when the track filter accepts it, unless the tracks are known already
    // (read before, or installed from outside): a stream index read again by a new parser is
    // not taken.
    Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override;
    // Publishes the tracks once, unless they are known already.
    Mpeg2PsResult MetadataComplete() override;
    // In demultiplexing mode, a stream for each elementary stream of the map.
    void OnStreamMap(const Mpeg2PsPsm& map) override;
    Mpeg2PsResult OnOutputChunk(const MemoryChunk& chunk) override;
    Mpeg2PsResult OnSample(Sample& sample) override;
    // A sample of the stream's own when there is one.
    Sample CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type) override;
    // Within a parse, kept until the parse of the chunk ends (or a few dozen are held, or
    // something else is published from within the parse, which they must precede), then
    // published together; outside one, published at once.
    void OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase) override;
    // A warning (1003) naming the bytes skipped and where they lie in the title.
    void OnDataSkipped(uint64_t position, uint64_t count) override;

    // The parser in use now (a change of consumer may replace it).
    Mpeg2PsParser& GetParser() { return *parser_; }
    const Mpeg2PsParser& GetParser() const { return *parser_; }

private:
    void MakeParser(bool demultiplexing);
    // Publishes the tracks, the duration, the end position and trick-play availability, and
    // makes the streams.
    void PublishMetadata();
    // Publishes why the title cannot be played, unless a reason was told already (a later word
    // on the same input would replace it where it is recorded).
    void Refuse(SVStatus status, const char* text);
    void ConfigureStreams();
    // Removes the streams of elementary streams that no track of the map carries.
    void RemoveStreamsWithoutTrack();
    // Hands what the preload cache holds to a parser made anew for a changed mode.
    void ReparseHeldBytes();
    void AddElementaryStream(uint8_t streamId, uint8_t streamType);
    void PostPreloadStep(const char* name, const MediaTime& timeout, const SV::PilTime& start,
                         void (Mpeg2PsDemux::*step)(const MediaTime&, const SV::PilTime&));
    SV::PilTime Now() const;

    std::unique_ptr<Mpeg2PsParser> parser_;
    std::string sourceName_;  // given to every accepted track as its source
    Mpeg2PsTrackTable tracks_;
    boost::shared_ptr<MediaTrack> currentTrack_;
    bool endOfMedia_;
    // Why the title cannot be played has been told (its format refused, or the end before its
    // index): no later word on the same input replaces it.
    bool refusalTold_ = false;
    bool metadataComplete_;
    // The track map came from SetTracks: the stream's own index is not used.
    bool tracksInstalled_;
    // The audio stream of the tracks (the last one with audio), whose decoder set-up the
    // multiplexer asks for.
    uint8_t audioStreamId_;
    boost::shared_ptr<Mpeg2PsOutOfBandParser> outOfBandParser_;
    bool outOfBandFailed_;  // the current out-of-band transfer failed to parse
    // The parser's stream positions are the title's byte positions: false from a track change
    // that the seeker made by moving its source, until the next repositioning.
    bool positionKnown_ = true;
    std::vector<uint8_t> decoderConfig_;
    TaskManager::Clock clock_;
    // Media times met by the parse under way, not yet published.
    Mpeg2PsTimestampBatch timestamps_{*this};
};

}  // namespace SarvelonMediaKit

#endif
