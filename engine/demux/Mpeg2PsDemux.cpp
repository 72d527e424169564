#include "engine/demux/Mpeg2PsDemux.h"

#include <boost/make_shared.hpp>

#include <unistd.h>

#include <limits>
#include <set>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/core/MemoryCache.h"
#include "engine/core/Session.h"
#include "engine/core/Task.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

namespace {

const uint64_t kAllBits = std::numeric_limits<uint64_t>::max();

typedef TaskTemplate2<boost::shared_ptr<Mpeg2PsDemux>,
                      void (Mpeg2PsDemux::*)(const MediaTime&, const SV::PilTime&), MediaTime,
                      SV::PilTime>
    PreloadTask;

const uint32_t kTaskCategoryControl = 8;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

Mpeg2PsDemux::Mpeg2PsDemux(Session* session)
    : Demux(session),
      endOfMedia_(false),
      metadataComplete_(false),
      tracksInstalled_(false),
      audioStreamId_(0),
      outOfBandFailed_(false) {
    MakeParser(false);
}

Mpeg2PsDemux::Mpeg2PsDemux(Session* session, const Mpeg2PsDemux& other)
    : Demux(session),
      tracks_(other.tracks_),
      endOfMedia_(false),
      metadataComplete_(other.metadataComplete_),
      tracksInstalled_(other.tracksInstalled_ ||
                       other.parser_->GetHeaderSection().IsIndexComplete()),
      audioStreamId_(0),
      outOfBandFailed_(false),
      positionKnown_(false) {  // its source starts where its track does, unsaid
    MakeParser(false);
}

Mpeg2PsDemux::~Mpeg2PsDemux() {
    outOfBandParser_.reset();
    // The streams lead to the parser (video output); let them go before it.
    for (SampleStreamMap::iterator it = sampleStreams_.begin(); it != sampleStreams_.end(); ++it) {
        it->second->SetConnected(false);
    }
    sampleStreams_.clear();
    parser_.reset();
}

void Mpeg2PsDemux::MakeParser(bool demultiplexing) {
    boost::shared_ptr<MediaTrack> selected;
    uint64_t position = 0;
    if (parser_) {
        selected = parser_->GetSelectedTrack();
        position = parser_->GetStreamPosition();
    }
    parser_.reset(new Mpeg2PsParser(*this, demultiplexing));
    parser_->SetSelectedTrack(selected);
    parser_->SetStreamPosition(position);
}

// ---------------------------------------------------------------------------------------------
// Component

std::string Mpeg2PsDemux::GetTypeName() const { return "Mpeg2PsDemux"; }

void Mpeg2PsDemux::DoAdd(const MemoryChunk& chunk) { DoAddInTask(chunk); }

void Mpeg2PsDemux::DoLinked(bool firstTime) {
    SampleConsumer* const previousMux = mux_;
    Demux::DoLinked(firstTime);
    const bool demultiplexing = mux_ != nullptr;
    const bool modeChanged = parser_->IsDemultiplexing() != demultiplexing;
    if (modeChanged) {
        // The mode is fixed per parser; the streams lead to the old one.
        RemoveAllSampleStreams();
        MakeParser(demultiplexing);
    }
    if (!tracks_.IsEmpty()) {
        if (mux_ != previousMux) {
            RemoveAllSampleStreams();
        } else {
            // Linked again to the same multiplexer (a running chain that another chain joins):
            // the streams keep the samples parsed but not yet multiplexed, which a stream made
            // anew would lose along with the rest of a group of pictures. Only the streams of
            // tracks that were removed go.
            RemoveStreamsWithoutTrack();
        }
        ConfigureStreams();
    }
    if (modeChanged && demultiplexing) ReparseHeldBytes();
}

void Mpeg2PsDemux::ReparseHeldBytes() {
    // A multiplexer put in front of a chain that was preloaded without one (the audio branch
    // joining a plain copy): the old parser has passed the bytes read so far into the preload
    // cache, from where nothing has taken them yet. They are the chain's next bytes, so the
    // new parser starts on them; the source goes on behind them. Markers keep their place.
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (!cache || cache->BytesReady() == 0) return;
    std::vector<MemoryChunk> held;
    while (!cache->IsEmpty()) {
        MemoryChunk chunk = cache->ReadAll();
        if (!chunk.GetMarker() && chunk.Size() == 0) break;  // nothing readable is left
        held.push_back(chunk);
    }
    // The end of the media the old parser met lies in these bytes: it is met again.
    endOfMedia_ = false;
    uint64_t heldBytes = 0;
    for (const MemoryChunk& chunk : held) heldBytes += chunk.GetMarker() ? 0 : chunk.Size();
    const uint64_t position = parser_->GetStreamPosition();
    parser_->SetStreamPosition(position > heldBytes ? position - heldBytes : 0);
    for (const MemoryChunk& chunk : held) {
        if (chunk.GetMarker()) {
            Add(chunk);
        } else if (chunk.Size() != 0) {
            DoAddInTask(chunk);
        }
    }
}

void Mpeg2PsDemux::RemoveStreamsWithoutTrack() {
    const std::set<uint8_t> used = tracks_.StreamIds();
    std::vector<StreamReference> unused;
    for (SampleStreamMap::const_iterator it = sampleStreams_.begin(); it != sampleStreams_.end();
         ++it) {
        if (used.count(static_cast<uint8_t>(it->first.Get())) == 0) unused.push_back(it->first);
    }
    for (const StreamReference& reference : unused) RemoveSampleStream(reference);
}

void Mpeg2PsDemux::DoSetPosition(BytePosition position, StackId stackId) {
    Demux::DoSetPosition(position, stackId);
    if (stackId == GetStackId() || stackId == StackIdAny) {
        parser_->Reset(false);
        parser_->SetStreamPosition(position.Get());
        positionKnown_ = true;
    }
}

bool Mpeg2PsDemux::DoOutOfBandData(const MemoryChunk& chunk) {
    if (outOfBandParser_ && !outOfBandFailed_ && !outOfBandParser_->ParseData(chunk)) {
        // The rest of this transfer is dropped rather than reported again.
        outOfBandFailed_ = true;
        OutOfBandEnd();
    }
    return true;
}

void Mpeg2PsDemux::DoGetChapterData(uint32_t first, uint32_t last) {
    const std::vector<Mpeg2PsParser::Chapter>& chapters = parser_->GetHeaderSection().GetChapters();
    if (first > last || last >= chapters.size()) {
        return;
    }
    const uint64_t start = chapters[first].thumbnailPosition;
    const uint64_t lastStart = chapters[last].thumbnailPosition;
    const uint64_t end = lastStart + chapters[last].thumbnailSize;
    // Chapters whose thumbnails do not lie in increasing order (or a size that runs past the
    // end of the position range) give no usable range: the request is ignored rather than
    // asking the source for a reversed one.
    if (end < lastStart || end <= start) {
        DebugPrint("Mpeg2PsDemux::DoGetChapterData: no range for chapters %u-%u\n", first, last);
        return;
    }
    if (!outOfBandParser_) {
        outOfBandParser_.reset(new Mpeg2PsOutOfBandParser(*this, *this));
    }
    outOfBandParser_->Restart();
    outOfBandFailed_ = false;
    OutOfBandRequest(BytePosition(start), BytePosition(end));
}

void Mpeg2PsDemux::PrePullData(ByteAmount& amount) {
    // After the end of the media only what the preload cache still holds goes on.
    const boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (endOfMedia_ && (!cache || cache->IsEmpty())) {
        amount = 0;
        return;
    }
    Component::PrePullData(amount);
}

void Mpeg2PsDemux::DoSetName(const std::string& name, bool flag) {
    sourceName_ = name;
    Component::DoSetName(name, flag);
}

std::string Mpeg2PsDemux::DoGetName() { return sourceName_; }

void Mpeg2PsDemux::DoPreLoad(MediaTime timeout) {
    if (!session_) {
        return;
    }
    // This may run on the thread that sets the session up while the pump already runs: only
    // the (atomic) state is set here, so a seek is refused from now on. The cache is taken by
    // the first step, on the task thread that uses it.
    preloadState_ = PreloadStatePreloading;
    PostPreloadStep("Mpeg2PsDemux::DoPreLoad", timeout, Now(), &Mpeg2PsDemux::StartPreLoadInTask);
}

void Mpeg2PsDemux::PostPreloadStep(const char* name, const MediaTime& timeout,
                                   const SV::PilTime& start,
                                   void (Mpeg2PsDemux::*step)(const MediaTime&,
                                                              const SV::PilTime&)) {
    boost::shared_ptr<Mpeg2PsDemux> self =
        boost::static_pointer_cast<Mpeg2PsDemux>(Component::shared_from_this());
    session_->AddTask(boost::make_shared<PreloadTask>(
        kTaskCategoryControl, GetStackId(), std::string(name), self, step, timeout, start));
}

void Mpeg2PsDemux::StartPreLoadInTask(const MediaTime& timeout, const SV::PilTime& start) {
    try {
        AllocateMemoryCache();
    } catch (const SV::SVLibraryException&) {
        // Without a cache of its own the preload still reads; only the room differs.
        DebugPrint("Mpeg2PsDemux::DoPreLoad: no preload cache\n");
    }
    DoPreLoadInTask(timeout, start);
}

void Mpeg2PsDemux::DoPreLoadInTask(const MediaTime& timeout, const SV::PilTime& start) {
    if (boost::shared_ptr<Component> source = GetSource()) {
        PullNext(source->BytesReady());
    }
    if (metadataComplete_) {
        SetPreLoaded();
        const std::vector<Mpeg2PsParser::Chapter>& chapters =
            parser_->GetHeaderSection().GetChapters();
        PublishChapterCount(static_cast<unsigned>(chapters.size()));
        for (size_t i = 0; i < chapters.size(); ++i) {
            PublishChapter(static_cast<unsigned>(i),
                           MediaTime(TicksToMicrosecondsTruncated(chapters[i].time)),
                           chapters[i].title);
        }
        PublishPreloadComplete();
        return;
    }
    const int64_t elapsed = Now() - start;
    const uint64_t elapsedMs = elapsed > 0 ? static_cast<uint64_t>(elapsed) : 0;
    // Media that has ended will not complete the index: that ends the preload at once, as a
    // full chain does, instead of waiting out the time.
    if (!endOfMedia_ && BytesWanted() != 0 && elapsedMs < timeout.Get() / 1000) {
        if (GetBufferedBytes() == 0) {
            usleep(10000);
        }
        PostPreloadStep("Mpeg2PsDemux::DoPreLoadInTask", timeout, start,
                        &Mpeg2PsDemux::DoPreLoadInTask);
        return;
    }
    preloadState_ = PreloadStateNone;
    // Media that ended before the index have said why; anything else ran out of time.
    if (!refusalTold_) PublishError(SVStatusPreloadTimeout, "Preload timeout");
    PublishPreloadComplete();
}

void Mpeg2PsDemux::Refuse(SVStatus status, const char* text) {
    if (refusalTold_) return;
    refusalTold_ = true;
    PublishError(status, text);
}

bool Mpeg2PsDemux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        parser_->EndOfData();
        if (endOfMedia_) {
            return false;  // the end of the media has been passed on already
        }
        if (!metadataComplete_ && !tracksInstalled_) {
            // Ended before the index: nothing came, a header cut short, or no index at all.
            const bool header = parser_->GetHeaderSection().IsIndexMagicSeen();
            Refuse(dataArrived_ && header ? SVStatusMediaTruncated : SVStatusInvalidDataFormat,
                   !dataArrived_ ? "The file is empty"
                   : header      ? "Media was truncated"
                                 : "The title has no index");
        }
    }
    const bool result = Demux::DoProcessMemoryMarker(marker);
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        // A source that ends without the program end code ends the media just the same: no
        // further pulls, and one end-of-stream marker however often the source repeats it.
        endOfMedia_ = true;
    }
    if (!marker) {
        return result;
    }
    TrackId named(0);
    bool select = false;
    if (marker->GetType() == MemoryMarkerTypeTrackChange) {
        const MemoryMarkerTrackChange* change =
            static_cast<const MemoryMarkerTrackChange*>(marker.get());
        DebugPrint(
            "stack %hu: Mpeg2PsDemux::DoProcessMemoryMarker: track change %d, change type %d\n",
            GetStackId(), static_cast<int>(change->GetTrack().Get()),
            static_cast<int>(change->GetChangeType()));
        named = change->GetTrack();
        select = change->GetChangeType() > 2;
        // A rendition switch (1, 2) moves the source without repositioning this chain: the new
        // rendition's bytes come from a place in the title that no one says.
        if (change->GetChangeType() == 1 || change->GetChangeType() == 2) positionKnown_ = false;
    } else if (marker->GetType() == MemoryMarkerTypeMediaTimeSeek) {
        const MemoryMarkerMediaTimeSeek* seek =
            static_cast<const MemoryMarkerMediaTimeSeek*>(marker.get());
        DebugPrint(
            "stack %hu: Mpeg2PsDemux::DoProcessMemoryMarker: media time seek %lluus, track %d\n",
            GetStackId(), static_cast<unsigned long long>(seek->GetMediaTime().Get()),
            static_cast<int>(seek->GetTrack().Get()));
        named = seek->GetTrack();
        select = true;
    }
    if (named.Get() != 0) {
        TrackMap::const_iterator found = tracks_.Get().find(named);
        if (found != tracks_.Get().end() && found->second != parser_->GetSelectedTrack()) {
            if (select) {
                parser_->SetSelectedTrack(found->second);
                PublishCurrentTrack(found->second);
            }
            currentTrack_ = found->second;
        }
    }
    return result;
}

void Mpeg2PsDemux::DoSeek(BytePosition start, BytePosition second, bool flag) {
    parser_->Reset(false);
    parser_->SetStreamPosition(start.Get());
    positionKnown_ = true;
    Component::DoSeek(start, second, flag);
    endOfMedia_ = false;
}

void Mpeg2PsDemux::DoSeek(MediaTime time) {
    parser_->Reset(false);
    Component::DoSeek(time);
    endOfMedia_ = false;
}

bool Mpeg2PsDemux::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    parser_->GetTrickPlay().SetRate(rate.Get(), time.Get() != kAllBits);
    const bool accepted = Component::DoTrickPlay(rate, time);
    if (accepted) {
        endOfMedia_ = false;
    }
    return accepted;
}

void Mpeg2PsDemux::DoGetStatistics(SV::SVDictionary& statistics) {
    Demux::DoGetStatistics(statistics);
    const char* timeKey = nullptr;
    if (GetStackId() == StackIdMain) {
        timeKey = "StatsKey_VideoTimeBuffered";
    } else if (GetStackId() == StackIdAudioBranch) {
        timeKey = "StatsKey_AudioTimeBuffered";
    }
    if (timeKey && statistics.GetValue(timeKey) != nullptr) {
        const float value = statistics.GetFloatOrDefault(timeKey, 0.0f) +
                            static_cast<float>(GetTimeBufferedAhead().Get()) /
                                static_cast<float>(kMicrosecondsPerSecond);
        statistics.SetValue(timeKey, SV::SVTypedValue(value));
    }
    if (!currentTrack_) {
        return;
    }
    const boost::shared_ptr<MediaTrack> selected = parser_->GetSelectedTrack();
    if (!selected) {
        return;
    }
    uint32_t rate = 0;
    if (currentTrack_->HasVideo() && statistics.GetValue("StatsKey_VideoBitRate") != nullptr &&
        selected->GetInfo().GetUnsignedInt(TrackInfoKey_VideoBitRate, rate)) {
        statistics.SetValue("StatsKey_VideoBitRate", SV::SVTypedValue(rate));
    }
    if (currentTrack_->HasAudio()) {
        if (statistics.GetValue("StatsKey_AudioBitRate") != nullptr &&
            selected->GetInfo().GetUnsignedInt(TrackInfoKey_AudioBitRate, rate)) {
            statistics.SetValue("StatsKey_AudioBitRate", SV::SVTypedValue(rate));
        }
        const std::string* identifier = nullptr;
        if (statistics.GetValue("StatsKey_AudioIdentifier") != nullptr &&
            selected->GetInfo().GetString(TrackInfoKey_AudioIdentifier, identifier) &&
            identifier != nullptr) {
            statistics.SetValue("StatsKey_AudioIdentifier", SV::SVTypedValue(*identifier));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Demux

uint32_t Mpeg2PsDemux::DoFlushPendingSample() {
    return Mpeg2PsResultNumber(parser_->FlushPendingSample());
}

MediaTime Mpeg2PsDemux::GetDuration() {
    const boost::shared_ptr<MediaTrack> selected = parser_->GetSelectedTrack();
    if (!selected) {
        return MediaTime(0);
    }
    const MediaTrackIndex& index = selected->GetIndex();
    return MediaTime(index.TicksToMicroseconds(index.GetDuration()));
}

bool Mpeg2PsDemux::GetDecoderConfig(uint32_t kind, const uint8_t** data, uint32_t* size) {
    // The audio stream of the tracks; the stream map's when the tracks name none.
    const uint8_t audioId = audioStreamId_ != 0 ? audioStreamId_ : parser_->GetAudioStreamId();
    if (kind == StreamInfoKindEsDescriptor && data && size) {
        const uint8_t* es = nullptr;
        uint32_t esSize = 0;
        if (parser_->GetStreamMap().FindEsDescriptor(audioId, es, esSize)) {
            // A copy, so the answer outlives the next stream map the parser reads.
            decoderConfig_.assign(es, es + esSize);
            *data = decoderConfig_.data();
            *size = esSize;
            return true;
        }
    }
    if (kind == StreamInfoKindAudioSpecificConfig && data && size) {
        std::vector<uint8_t> config;
        const boost::shared_ptr<MediaTrack> track =
            tracks_.TrackOfAudioStream(audioId, parser_->GetSelectedTrack());
        if (parser_->GetAudioDecoderConfig(audioId, config, track.get()) && !config.empty()) {
            decoderConfig_.swap(config);
            *data = decoderConfig_.data();
            *size = static_cast<uint32_t>(decoderConfig_.size());
            return true;
        }
    }
    return Demux::GetDecoderConfig(kind, data, size);
}

// ---------------------------------------------------------------------------------------------
// Data path

void Mpeg2PsDemux::DoAddInTask(const MemoryChunk& chunk) {
    Demux::DoAdd(chunk);
    if (endOfMedia_) {
        return;
    }
    Mpeg2PsResult result;
    {
        const Mpeg2PsTimestampBatch::Parse parse(timestamps_);
        result = parser_->Parse(chunk, false);
    }
    timestamps_.Publish();
    switch (result) {
        case Mpeg2PsResult::Ok: break;
        case Mpeg2PsResult::NoPackFirst:
            Trace("Invalid Data", TraceMode::AppendToLast);
            Refuse(SVStatusInvalidDataFormat, "Invalid data format");
            break;
        case Mpeg2PsResult::UnknownVersion:
            Trace("Invalid Index", TraceMode::AppendToLast);
            Refuse(SVStatusInvalidDataVersion, "Invalid data version");
            break;
        case Mpeg2PsResult::ProgramEnd:
            Trace("EndOfMedia", TraceMode::AppendToLast);
            Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
            endOfMedia_ = true;
            break;
        default:
            Trace("Unknown Error", TraceMode::AppendToLast);
            PublishError(SVStatusParserError,
                         "Mpeg2PsParser error " + std::to_string(Mpeg2PsResultNumber(result)));
            break;
    }
}

uint32_t Mpeg2PsDemux::ResetParsing() {
    parser_->Reset(false);
    FlushSampleStreams();
    endOfMedia_ = false;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Tracks

Mpeg2PsResult Mpeg2PsDemux::OnNewTrack(const boost::shared_ptr<MediaTrack>& track) {
    if (metadataComplete_ || tracksInstalled_ || !track) {
        return Mpeg2PsResult::Ok;
    }
    tracks_.Take(track, sourceName_);
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsDemux::MetadataComplete() {
    timestamps_.Publish();
    if (!metadataComplete_ && !tracksInstalled_) {
        PublishMetadata();
    }
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsDemux::PublishMetadata() {
    DebugPrint("Mpeg2PsDemux::MetadataComplete\n");
    const Mpeg2PsTrackTable::Extent extent = tracks_.Measure();
    const uint64_t end = extent.end;
    PublishTracks(tracks_.Get(), true);
    PublishTrickPlayAvailable(extent.trickPlay);
    PublishDuration(MediaTime(extent.duration));
    PublishEndPosition(BytePosition(end));
    // Media packets with no index before them: a program stream, but not a title to play.
    if (!metadataComplete_ && tracks_.IsEmpty() &&
        !parser_->GetHeaderSection().IsIndexMagicSeen()) {
        Refuse(SVStatusInvalidDataFormat, "The title has no index");
    }
    if (!metadataComplete_) {
        const uint64_t mediaSize = EndPosition().Get();
        if (mediaSize != 0 && end > mediaSize) {
            DebugPrint("END POSITION MISMATCH end = %llu, mediaSize = %llu, file = %s\n",
                       static_cast<unsigned long long>(end),
                       static_cast<unsigned long long>(mediaSize), GetName().c_str());
            PublishError(SVStatusMediaTruncated, "Media was truncated");
        }
    }
    ConfigureStreams();
    metadataComplete_ = true;
}

void Mpeg2PsDemux::ConfigureStreams() {
    const TrackMap& tracks = tracks_.Get();
    for (TrackMap::const_iterator it = tracks.begin(); it != tracks.end(); ++it) {
        const MediaTrack& track = *it->second;
        const SV::SVDictionary& info = track.GetInfo();
        // The parser learns the ids too, so it classes the timestamps and samples of a title
        // without a stream map. A later track's id replaces an earlier one's, as the stream
        // map's would.
        if (track.HasAudio()) {
            audioStreamId_ = static_cast<uint8_t>(
                info.GetUnsignedIntOrDefault(TrackInfoKey_AudioMpegStreamId, 0));
            const uint8_t audioType = static_cast<uint8_t>(
                info.GetUnsignedIntOrDefault(TrackInfoKey_AudioMpegStreamType, 0));
            parser_->SetAudioStreamId(audioStreamId_);
            parser_->SetAudioStreamType(audioType);
            AddElementaryStream(audioStreamId_, audioType);
        }
        if (track.HasVideo()) {
            const uint8_t videoId = static_cast<uint8_t>(
                info.GetUnsignedIntOrDefault(TrackInfoKey_VideoMpegStreamId, 0));
            parser_->SetVideoStreamId(videoId);
            AddElementaryStream(videoId, static_cast<uint8_t>(info.GetUnsignedIntOrDefault(
                                             TrackInfoKey_VideoMpegStreamType, 0)));
        }
    }
}

void Mpeg2PsDemux::AddElementaryStream(uint8_t streamId, uint8_t streamType) {
    const StreamReference reference(streamId);
    if (!mux_ || FindSampleStream(reference)) {
        return;
    }
    uint32_t type = 0;
    uint32_t format = 0;
    switch (streamType) {
        case Mpeg2PsFormat::kStreamTypeAacAdts:
            type = SampleMediaTypeAudio;
            format = SampleFormatAacAdts;
            break;
        case Mpeg2PsFormat::kStreamTypeH264:
            type = SampleMediaTypeVideo;
            format = SampleFormatH264AnnexB;
            break;
        case Mpeg2PsFormat::kStreamTypeEac3:
            type = SampleMediaTypeAudio;
            format = SampleFormatEac3HdDvd;
            break;
        case Mpeg2PsFormat::kStreamTypePrivateData:
            if (streamId == Mpeg2PsFormat::kStreamIdPrivateStream1) {
                type = SampleMediaTypeAudio;
                format = SampleFormatPesPrivate;
            }
            break;
        default: break;
    }
    if (type == 0) {
        return;
    }
    boost::shared_ptr<SampleStream> stream =
        boost::make_shared<SampleStream>(this, reference, type, format);
    AddSampleStream(stream);
    if (type == SampleMediaTypeVideo) {
        stream->SetOutput(parser_.get());
    }
}

void Mpeg2PsDemux::OnStreamMap(const Mpeg2PsPsm& map) {
    if (!parser_->IsDemultiplexing()) return;
    // With a track map the tracks decide which streams this chain carries: a stream that only
    // the map names belongs to tracks removed from this chain (an audio rendition that another
    // chain reads), and carried here as well it would reach the output twice.
    const std::set<uint8_t> used = tracks_.StreamIds();
    for (const Mpeg2PsPsm::EsMapEntry& entry : map.GetEsMap()) {
        if (tracks_.IsEmpty() || used.count(entry.elementary_stream_id) != 0) {
            AddElementaryStream(entry.elementary_stream_id, entry.stream_type);
        }
    }
}

Mpeg2PsResult Mpeg2PsDemux::OnOutputChunk(const MemoryChunk& chunk) {
    // Into the preload cache while there is one: what is read during the preload is handed on
    // only when the chain is pulled, and stays here should a multiplexer still join the chain
    // (see ReparseHeldBytes). Without a cache it goes straight on.
    Component::DoAdd(chunk);
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsDemux::OnSample(Sample& sample) {
    const StreamReference reference = sample.GetStreamRef();
    if (reference.Get() == kInvalidStreamReference) {
        return Mpeg2PsResult::Ok;
    }
    if (boost::shared_ptr<SampleStream> stream = FindSampleStream(reference)) {
        stream->PushSample(sample);
    }
    return Mpeg2PsResult::Ok;
}

Sample Mpeg2PsDemux::CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type) {
    if (boost::shared_ptr<SampleStream> stream = FindSampleStream(StreamReference(streamId))) {
        // The payload chunk is left uncleared: whoever asks for it (the parser, the trick-play
        // writer) copies over every one of its bytes, and a sample whose packet ends before it
        // is full is dropped, never handed on. Clearing it first would touch each byte twice.
        Sample sample = stream->MakeSample(0);
        if (payloadLength != 0) {
            MemoryChunkList& payload = sample.GetPayload();
            payload.GetChunks().push_back(
                MemoryChunk::Unset(payloadLength, payload.GetHeadroom(), payload.GetTailroom()));
        }
        return sample;
    }
    return Mpeg2PsParserListener::CreateSample(streamId, payloadLength, type);
}

void Mpeg2PsDemux::OnDataSkipped(uint64_t position, uint64_t count) {
    timestamps_.Publish();
    const std::string skipped = "Damaged data: " + std::to_string(count) + " bytes skipped";
    PublishWarning(SVStatusParserError,
                   positionKnown_ ? skipped + " at byte " + std::to_string(position) : skipped);
}

void Mpeg2PsDemux::OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase) {
    timestamps_.Add(kind, timestamp, scrBase);
}

void Mpeg2PsDemux::SetTracks(const TrackMap& tracks) {
    tracks_.Assign(tracks);
    tracksInstalled_ = true;
    metadataComplete_ = true;
    PublishMetadata();
    SeekFilePosition(BytePosition(0), BytePosition(0), false);
}

bool Mpeg2PsDemux::HasAudioOnlyTracks() const { return tracks_.HasAudioOnlyTracks(); }

void Mpeg2PsDemux::RemoveAudioOnlyTracks() {
    tracks_.RemoveAudioOnlyTracks();
    PublishTracks(tracks_.Get(), false);
}

void Mpeg2PsDemux::RemoveVideoTracks() {
    tracks_.RemoveVideoTracks();
    PublishTracks(tracks_.Get(), false);
}

void Mpeg2PsDemux::RemoveTextStreamTracks() {
    tracks_.RemoveTextStreamTracks();
    PublishTracks(tracks_.Get(), false);
}

MediaTime Mpeg2PsDemux::GetTimeBufferedAhead() {
    if (!currentTrack_) {
        return MediaTime(0);
    }
    // The parser's full 33-bit decode time: its low word alone wraps after 13 hours 15 minutes
    // and would report a late title as far behind.
    const uint64_t decodeTime = parser_->GetDecodeTime();
    const uint64_t parsed = TicksToMicrosecondsTruncated(decodeTime);
    const BytePosition position = CurrentLoadedFilePosition();
    const uint64_t reached = currentTrack_->GetIndex().InterpolateTime(position).Get();
    if (decodeTime == 0 || reached <= parsed) {
        return MediaTime(0);
    }
    return MediaTime(reached - parsed);
}

boost::shared_ptr<MediaTrack> Mpeg2PsDemux::GetSelectedTrack() const {
    return parser_->GetSelectedTrack();
}

const std::vector<Mpeg2PsParser::Chapter>& Mpeg2PsDemux::GetChapters() const {
    return parser_->GetHeaderSection().GetChapters();
}

SV::PilTime Mpeg2PsDemux::Now() const { return clock_ ? clock_() : SV::PilTime::Now(); }

}  // namespace SarvelonMediaKit
