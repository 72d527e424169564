#include "engine/core/Component.h"

#include <boost/format.hpp>

#include <limits>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Util/Saturating.h"
#include "engine/core/Session.h"
#include "engine/core/DequeMemoryCache.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Pump.h"

namespace SarvelonMediaKit {

namespace {

const uint32_t kMax32 = std::numeric_limits<uint32_t>::max();
const uint64_t kUnknownPosition = std::numeric_limits<uint64_t>::max();
// What a puller sizes its pull by when nothing upstream has a cache.
const uint32_t kDefaultBytesReady = 65536;

bool StackMatches(StackId asked, StackId own) { return asked == own || asked == StackIdAny; }

}  // namespace

Component::Component(Session* session)
    : session_(session),
      stackId_(StackIdServing),
      headroom_(0),
      tailroom_(0),
      preloadState_(PreloadStateNone),
      linked_(false) {}

Component::~Component() {
    memoryCache_.reset();
    name_.clear();
    source_.reset();
    consumer_.reset();
}

// ---- Virtual operations ----

BytePosition Component::CurrentLoadedFilePosition() {
    if (KnowCurrentLoadedFilePosition()) {
        return DoCurrentLoadedFilePosition();
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->CurrentLoadedFilePosition();
    }
    return BytePosition(kUnknownPosition);
}

void Component::SetConsumer(const boost::shared_ptr<Component>& consumer) { consumer_ = consumer; }

void Component::SetSource(const boost::shared_ptr<Component>& source) { source_ = source; }

uint32_t Component::GetHeadroom() const { return 0; }

uint32_t Component::GetTailroom() const { return 0; }

void Component::DoSetName(const std::string&, bool) {}

std::string Component::DoGetName() { return std::string(); }

void Component::PrePullData(ByteAmount&) {}

void Component::DoPullData(ByteAmount& amount) {
    boost::shared_ptr<Component> consumer = GetConsumer();
    if (consumer) {
        const ByteAmount wanted = consumer->BytesWanted();
        if (amount > wanted) {
            amount = wanted;
        }
    }
    boost::shared_ptr<Component> source = source_;
    boost::shared_ptr<MemoryCache> cache = memoryCache_;

    if (!cache) {
        // The source's chunks pass straight through this stage to the consumer.
        if (source) {
            const ByteAmount buffered = source->GetBufferedBytes();
            const ByteAmount pull = amount < buffered ? amount : buffered;
            if (pull > 0) {
                source->PullData(pull);
            }
        }
        return;
    }

    ByteAmount ready = cache->BytesReady();
    if (ready < amount && source) {
        ByteAmount need = amount - ready;
        const ByteAmount buffered = source->GetBufferedBytes();
        if (need > buffered) {
            need = buffered;
        }
        if (need != 0) {
            source->PullData(need);  // arrives in our cache through Add
        }
    }

    if (consumer) {
        ready = cache->BytesReady();
        MemoryChunk chunk = ready > amount ? cache->Read(amount) : cache->ReadAll();
        consumer->Add(chunk);
    }

    // A finished preload gives its buffer and tracker back once it has been read out. Markers
    // still queued behind the data keep it until they too have been handed on.
    if (preloadState_ == PreloadStateDone && memoryCache_ == cache && cache->BytesReady() == 0 &&
        cache->IsEmpty()) {
        memoryCache_.reset();
        preloadState_ = PreloadStateNone;
    }
}

void Component::PostPullData(ByteAmount&) {}

void Component::DoSend(const MemoryChunk& chunk) {
    if (boost::shared_ptr<Component> consumer = GetConsumer()) {
        consumer->Add(chunk);
    }
}

void Component::DoPreLoad(MediaTime) {}

void Component::DoAdd(const MemoryChunk& chunk) {
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        cache->Add(chunk);
    } else {
        DoSend(chunk);
    }
}

void Component::DoTick() {}

bool Component::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>&) { return true; }

ByteAmount Component::DoGetBytesWanted() {
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        return cache->BytesAvailable();
    }
    if (boost::shared_ptr<Component> consumer = GetConsumer()) {
        return consumer->BytesWanted();
    }
    return ByteAmount(0);
}

ByteAmount Component::DoGetBufferedBytes() {
    uint32_t sum = 0;
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        sum = SV::SaturatingAdd<uint32_t>(sum, cache->BytesReady().Get());
    }
    if (boost::shared_ptr<Component> source = source_) {
        sum = SV::SaturatingAdd<uint32_t>(sum, source->GetBufferedBytes().Get());
    }
    return ByteAmount(sum);
}

void Component::DoPeriodicCheck() {}

void Component::DoStop() {}

void Component::DoLinked(bool) {}

void Component::DoSeek(BytePosition start, BytePosition second, bool flag) {
    if (boost::shared_ptr<Component> source = source_) {
        source->SeekFilePosition(start, second, flag);
    }
}

void Component::DoSeek(MediaTime time) {
    if (boost::shared_ptr<Component> source = source_) {
        source->Seek(time);
    }
}

bool Component::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    if (boost::shared_ptr<Component> source = source_) {
        return source->TrickPlay(rate, time);
    }
    return false;
}

void Component::DoSelectTrack(TrackId track) {
    if (boost::shared_ptr<Component> source = source_) {
        source->DoSelectTrack(track);
    }
}

bool Component::DoOutOfBandRequest(BytePosition, BytePosition) { return false; }

bool Component::DoOutOfBandEnd() { return false; }

bool Component::DoOutOfBandData(const MemoryChunk&) { return false; }

void Component::DoGetChapterData(uint32_t first, uint32_t last) {
    if (boost::shared_ptr<Component> source = source_) {
        source->GetChapterData(first, last);
    }
}

void Component::DoUnusedHook1() {}

void Component::DoUnusedHook2() {}

void Component::DoSetDownloadLimited(bool) {}

void Component::DoSetPosition(BytePosition position, StackId stackId) {
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    if (cache && StackMatches(stackId, stackId_)) {
        cache->SetPosition(position);
    }
}

bool Component::KnowCurrentLoadedFilePosition() { return memoryCache_ != nullptr; }

bool Component::KnowEndPosition() { return false; }

BytePosition Component::DoCurrentLoadedFilePosition() {
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        return cache->CurrentLoadedFilePosition();
    }
    return BytePosition(kUnknownPosition);
}

BytePosition Component::DoEndPosition() { return BytePosition(0); }

void Component::DoGetStatistics(SV::SVDictionary&) {}

void Component::SetHeadroom(uint32_t headroom) { headroom_ = headroom; }

void Component::SetTailroom(uint32_t tailroom) { tailroom_ = tailroom; }

bool Component::IsMux() const { return false; }

bool Component::IsDemux() const { return false; }

void Component::DoUnusedHook3() {}

std::string Component::DoDump() { return std::string(); }

// ---- Construction and wiring ----

void Component::SetName(const std::string& name, bool flag) { DoSetName(std::string(name), flag); }

MemoryChunk Component::CreateMemoryChunk(uint32_t size, uint32_t extraHeadroom,
                                         uint32_t extraTailroom) {
    const uint64_t headroom = uint64_t(headroom_) + extraHeadroom;
    const uint64_t tailroom = uint64_t(tailroom_) + extraTailroom;
    if (headroom > kMax32 || tailroom > kMax32) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    return MemoryChunk(size, static_cast<uint32_t>(headroom), static_cast<uint32_t>(tailroom));
}

// ---- Chain operations ----

void Component::Add(const MemoryChunk& chunk) {
    if (const boost::shared_ptr<MemoryMarker>& marker = chunk.GetMarker()) {
        if (!chunk.IsEmpty()) {
            DebugPrint("ERROR: Component::Add: MemoryMarker chunk with data\n");
            return;
        }
        if (!DoProcessMemoryMarker(marker)) {
            return;
        }
        // A marker keeps its place: behind the data in our cache, or straight on without one.
        if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
            cache->Add(chunk);
        } else if (boost::shared_ptr<Component> consumer = GetConsumer()) {
            consumer->Add(chunk);
        }
        return;
    }
    if (chunk.Size() == 0) {
        return;
    }
    // Data on the move: the pump pass that runs this has work and comes round again soon.
    Pump::NoteDataMoved();
    DoAdd(chunk);
}

void Component::PullData(ByteAmount amount) {
    PrePullData(amount);
    if (amount != 0) {
        DoPullData(amount);
    }
    PostPullData(amount);
}

void Component::PullNext(ByteAmount amount) {
    if (boost::shared_ptr<Component> source = source_) {
        source->PullData(amount);
    }
}

ByteAmount Component::BytesWanted() { return DoGetBytesWanted(); }

ByteAmount Component::GetBufferedBytes() { return DoGetBufferedBytes(); }

ByteAmount Component::BytesReady() {
    ByteAmount ready(0);
    if (boost::shared_ptr<MemoryCache> cache = memoryCache_) {
        ready = cache->NextChunkSize();
    }
    if (ready != 0) {
        return ready;
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->BytesReady();
    }
    return ByteAmount(kDefaultBytesReady);
}

void Component::Tick() {
    DoTick();
    if (boost::shared_ptr<Component> source = source_) {
        source->Tick();
    }
}

void Component::PeriodicCheck() {
    DoPeriodicCheck();
    if (boost::shared_ptr<Component> source = source_) {
        source->PeriodicCheck();
    }
}

void Component::Stop() {
    DoStop();
    if (boost::shared_ptr<Component> source = source_) {
        source->Stop();
    }
}

void Component::SetDownloadLimited(bool limited) {
    DoSetDownloadLimited(limited);
    if (boost::shared_ptr<Component> source = source_) {
        source->SetDownloadLimited(limited);
    }
}

void Component::GetStatistics(SV::SVDictionary& statistics) {
    DoGetStatistics(statistics);
    if (boost::shared_ptr<Component> source = source_) {
        source->GetStatistics(statistics);
    }
}

void Component::PreLoad(MediaTime timeout) {
    if (boost::shared_ptr<Component> source = source_) {
        source->PreLoad(timeout);
    }
    DoPreLoad(timeout);
}

void Component::SeekFilePosition(BytePosition start, BytePosition second, bool flag) {
    DoSeek(start, second, flag);
}

void Component::Seek(MediaTime time) { DoSeek(time); }

bool Component::TrickPlay(TrickPlayRate rate, MediaTime time) { return DoTrickPlay(rate, time); }

void Component::SelectTrack(TrackId track) { DoSelectTrack(track); }

void Component::GetChapterData(uint32_t first, uint32_t last) { DoGetChapterData(first, last); }

bool Component::OutOfBandRequest(BytePosition start, BytePosition end) {
    if (DoOutOfBandRequest(start, end)) {
        return true;
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->OutOfBandRequest(start, end);
    }
    return false;
}

bool Component::OutOfBandEnd() {
    if (DoOutOfBandEnd()) {
        return true;
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->OutOfBandEnd();
    }
    return false;
}

bool Component::OutOfBandData(const MemoryChunk& chunk) {
    if (DoOutOfBandData(chunk)) {
        return true;
    }
    if (boost::shared_ptr<Component> consumer = GetConsumer()) {
        return consumer->OutOfBandData(chunk);
    }
    return false;
}

BytePosition Component::EndPosition() {
    if (KnowEndPosition()) {
        return DoEndPosition();
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->EndPosition();
    }
    return BytePosition(0);
}

std::string Component::GetName() {
    std::string name = DoGetName();
    if (!name.empty()) {
        return name;
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->GetName();
    }
    return std::string();
}

void Component::SetPosition(BytePosition position, StackId stackId) {
    DoSetPosition(position, stackId);
    // Preloaded bytes do not survive a reposition.
    if (preloadState_ == PreloadStateDone && StackMatches(stackId, stackId_)) {
        memoryCache_.reset();
        preloadState_ = PreloadStateNone;
    }
    if (boost::shared_ptr<Component> source = source_) {
        source->SetPosition(position, stackId);
    }
}

bool Component::IsPreLoading() {
    if (preloadState_ == PreloadStatePreloading) {
        return true;
    }
    if (boost::shared_ptr<Component> source = source_) {
        return source->IsPreLoading();
    }
    return false;
}

void Component::AllocateMemoryCache() {
    if (!session_) {
        throw SV::SVLibraryException(SV::SVL_BadInternalState, "Component without Session");
    }
    boost::shared_ptr<MemoryTracker> main = session_->GetMemoryTracker();
    const ByteAmount half(main ? main->BytesAvailable().Get() >> 1 : 0);
    boost::shared_ptr<MemoryTracker> tracker = session_->AllocateTracker(half);
    memoryCache_ = DequeMemoryCache::Create(tracker, this);
}

bool Component::NotifyLinked() {
    DoLinked(!linked_);
    linked_ = true;
    return true;
}

std::string Component::Dump() {
    boost::shared_ptr<MemoryCache> cache = memoryCache_;
    const std::string held =
        cache ? std::to_string(cache->BytesHeld().Get()) : std::string("No MemoryCache");
    std::string rest;
    if (boost::shared_ptr<Component> source = source_) {
        rest = source->Dump();
    } else {
        const uint32_t pending = session_ ? session_->GetTaskManager()->PendingData().Get() : 0;
        rest = (boost::format("\tPending data in Tasks %1%") % pending).str();
    }
    return (boost::format("\t%1%:%2%(%3%)%4%\r\n%5%") % GetTypeName() % held %
            GetBufferedBytes().Get() % DoDump() % rest)
        .str();
}

boost::shared_ptr<Pump> Component::GetSessionPump() const {
    return session_ != nullptr ? session_->GetPump() : boost::shared_ptr<Pump>();
}

void Component::Trace(const char* text, TraceMode mode) const {
    boost::shared_ptr<Pump> pump = GetSessionPump();
    if (!pump) return;
    if (mode == TraceMode::AppendToLast) {
        pump->AppendToLastTrace(text);
    } else {
        pump->AddTrace(text);
    }
}

}  // namespace SarvelonMediaKit
