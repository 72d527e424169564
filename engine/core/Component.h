#ifndef ENGINE_CORE_COMPONENT_H
#define ENGINE_CORE_COMPONENT_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <string>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/MemoryCache.h"
#include "engine/core/MemoryChunk.h"

namespace SV {
class SVDictionary;
}

namespace SarvelonMediaKit {

class Pump;
class Session;

// Base of every pipeline stage. A stage holds its source (toward the input) strongly and its
// consumer (toward the output) weakly. Data is pulled from the output end: each stage asks its
// source for what it can pass on and the bytes come back as chunks through Add, stopping in a
// stage's memory cache where it has one. Control requests travel from the output end toward
// the source.
//
// Every virtual operation has a default body, so a stage overrides only what it does. The
// non-virtual chain operations ask one virtual operation and then walk the chain. Everything
// runs on the session's task thread; a stage needs no lock for this state.
//
// A subclass that overrides one DoSeek form should bring the other into scope
// (`using Component::DoSeek;`).
class Component : public boost::enable_shared_from_this<Component> {
public:
    // The session may be null for a stage used on its own; the stage then allocates nothing
    // from it and posts nothing to it.
    explicit Component(Session* session);
    virtual ~Component();

    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    // ---- Virtual operations with their default bodies ----

    // The file position one past the bytes loaded: the first stage toward the source that
    // knows it answers; all bits set when none does.
    virtual BytePosition CurrentLoadedFilePosition();
    virtual void SetConsumer(const boost::shared_ptr<Component>& consumer);
    virtual void SetSource(const boost::shared_ptr<Component>& source);
    // The room this stage itself needs before and after a payload (0).
    virtual uint32_t GetHeadroom() const;
    virtual uint32_t GetTailroom() const;
    virtual void DoSetName(const std::string& name, bool flag);
    virtual std::string DoGetName();
    virtual void PrePullData(ByteAmount& amount);
    // Passes at most amount bytes on to the consumer, pulling from the source when short.
    virtual void DoPullData(ByteAmount& amount);
    virtual void PostPullData(ByteAmount& amount);
    // Hands a chunk straight to the consumer, past this stage's own cache.
    virtual void DoSend(const MemoryChunk& chunk);
    // timeout in microseconds.
    virtual void DoPreLoad(MediaTime timeout);
    // Into the cache, or on to the consumer without one.
    virtual void DoAdd(const MemoryChunk& chunk);
    virtual void DoTick();
    // False stops the marker at this stage.
    virtual bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker);
    // The cache's free bytes; without a cache what the consumer wants; 0 without either.
    virtual ByteAmount DoGetBytesWanted();
    // Bytes ready in this stage's cache and everything toward the source (saturated).
    virtual ByteAmount DoGetBufferedBytes();
    virtual void DoPeriodicCheck();
    virtual void DoStop();
    // Sent on each linking of the stack; firstTime only on the first.
    virtual void DoLinked(bool firstTime);
    // The class's name, such as "SarvelonMediaKit::FunctorClient".
    virtual std::string GetTypeName() const = 0;
    // A byte range of the source (start, second position) to move to.
    virtual void DoSeek(BytePosition start, BytePosition second, bool flag);
    virtual void DoSeek(MediaTime time);
    virtual bool DoTrickPlay(TrickPlayRate rate, MediaTime time);
    virtual void DoSelectTrack(TrackId track);
    virtual bool DoOutOfBandRequest(BytePosition start, BytePosition end);
    virtual bool DoOutOfBandEnd();
    virtual bool DoOutOfBandData(const MemoryChunk& chunk);
    virtual void DoGetChapterData(uint32_t first, uint32_t last);
    // Two empty operations that no stage overrides; they keep their places in the order of the
    // operations.
    virtual void DoUnusedHook1();
    virtual void DoUnusedHook2();
    virtual void DoSetDownloadLimited(bool limited);
    // Repositions the cache when the stack id is this stage's or StackIdAny.
    virtual void DoSetPosition(BytePosition position, StackId stackId);
    virtual bool KnowCurrentLoadedFilePosition();
    virtual bool KnowEndPosition();
    virtual BytePosition DoCurrentLoadedFilePosition();
    virtual BytePosition DoEndPosition();
    virtual void DoGetStatistics(SV::SVDictionary& statistics);
    // The totals the stack hands out when it links: the room of this stage and every stage
    // toward the output.
    virtual void SetHeadroom(uint32_t headroom);
    virtual void SetTailroom(uint32_t tailroom);
    virtual bool IsMux() const;
    virtual bool IsDemux() const;
    // A third empty operation that no stage overrides, in its place before DoDump.
    virtual void DoUnusedHook3();
    // Extra text for Dump.
    virtual std::string DoDump();

    // ---- Construction and wiring ----

    void SetStackId(StackId stackId) { stackId_ = stackId; }
    StackId GetStackId() const { return stackId_; }
    Session* GetSession() const { return session_; }
    // Empty when there is none or it is gone.
    boost::shared_ptr<Component> GetConsumer() const { return consumer_.lock(); }
    boost::shared_ptr<Component> GetSource() const { return source_; }
    void SetName(const std::string& name, bool flag);
    // The cache is used on the session's task thread only: set it there (or before the session
    // runs), never from another thread while the pump runs.
    void SetMemoryCache(const boost::shared_ptr<MemoryCache>& cache) { memoryCache_ = cache; }
    boost::shared_ptr<MemoryCache> GetMemoryCache() const { return memoryCache_; }
    // A data chunk with this stage's headroom and tailroom plus the extras. Throws
    // SVLibraryException SVL_InvalidParameter when the buffer would pass 32 bits.
    MemoryChunk CreateMemoryChunk(uint32_t size, uint32_t extraHeadroom, uint32_t extraTailroom);
    uint32_t GetLinkedHeadroom() const { return headroom_; }
    uint32_t GetLinkedTailroom() const { return tailroom_; }
    // Any thread: a session asks whether its chain preloads before it queues a seek.
    uint32_t GetPreloadState() const { return preloadState_.load(); }

    // ---- Chain operations ----

    // Entry of data from the source side: markers are offered to DoProcessMemoryMarker and
    // then cached or passed on; a marker chunk with bytes and an empty data chunk are dropped;
    // other chunks go to DoAdd.
    void Add(const MemoryChunk& chunk);
    void PullData(ByteAmount amount);
    void PullNext(ByteAmount amount);
    ByteAmount BytesWanted();
    ByteAmount GetBufferedBytes();
    // The next chunk size of the first cache toward the source that has one ready; 65536 when
    // nothing upstream has a cache with data.
    ByteAmount BytesReady();
    void Tick();
    void PeriodicCheck();
    void Stop();
    void SetDownloadLimited(bool limited);
    void GetStatistics(SV::SVDictionary& statistics);
    // The source end starts first.
    void PreLoad(MediaTime timeout);
    void SeekFilePosition(BytePosition start, BytePosition second, bool flag);
    void Seek(MediaTime time);
    bool TrickPlay(TrickPlayRate rate, MediaTime time);
    void SelectTrack(TrackId track);
    void GetChapterData(uint32_t first, uint32_t last);
    // Offered toward the source until one stage accepts.
    bool OutOfBandRequest(BytePosition start, BytePosition end);
    bool OutOfBandEnd();
    // Offered toward the output until one stage takes it.
    bool OutOfBandData(const MemoryChunk& chunk);
    // Of the first stage toward the source that knows it; 0 when none does.
    BytePosition EndPosition();
    // The first non-empty DoGetName toward the source.
    std::string GetName();
    // Repositions this stage and every stage toward the source; a matching stack id also drops
    // a finished preload.
    void SetPosition(BytePosition position, StackId stackId);
    bool IsPreLoading();
    void SetPreLoaded() { preloadState_ = PreloadStateDone; }
    // A cache of its own on a new tracker of half the session's free budget. Lets the session's
    // exception through when it cannot give that much. Task thread only, as SetMemoryCache.
    void AllocateMemoryCache();
    bool NotifyLinked();
    // One line per stage from this one to the source end, then the pending data of the
    // session's task queue.
    std::string Dump();

    enum PreloadState : uint32_t {
        PreloadStateNone = 0,
        PreloadStatePreloading = 1,
        PreloadStateDone = 2,
    };

protected:
    // How a Trace text goes into the pump's trace.
    enum class TraceMode { NewLine, AppendToLast };
    // Records a step in the trace of the session's pump (its last steps, reported when it
    // stalls): a line of its own, or added to the last line. Nothing without a session or pump.
    void Trace(const char* text, TraceMode mode = TraceMode::NewLine) const;
    // The session's pump; empty without a session or pump.
    boost::shared_ptr<Pump> GetSessionPump() const;

    Session* session_;
    boost::weak_ptr<Component> consumer_;
    boost::shared_ptr<Component> source_;
    std::string name_;  // for stages that keep a name; the base never writes it
    StackId stackId_;
    boost::shared_ptr<MemoryCache> memoryCache_;
    uint32_t headroom_;
    uint32_t tailroom_;
    // Written on the task thread and by a preload started on the thread that sets the session
    // up; read by Session::Seek on any thread.
    std::atomic<uint32_t> preloadState_;
    bool linked_;
};

}  // namespace SarvelonMediaKit

#endif
