#ifndef ENGINE_API_SERVINGSESSIONS_H
#define ENGINE_API_SERVINGSESSIONS_H

#include <boost/shared_ptr.hpp>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "SVLibrary/Socket/PilSocketHolder.h"

namespace SarvelonMediaKit {

class ErrorInfoMonitor;
class GarbageCollectionTimer;
class LiveHttpFileSource;
class MultiSocketDelegateServer;
class Session;
class SocketDelegate;

// The loopback server of one playback: the listening socket (watched by the main session's
// socket thread), one serving session per accepted connection, the timer that lets stopped
// ones go, and where the listen stands for whoever hands out the playback URL.
//
// Thread use: Listen and Close on the playback's worker; CreateChain on the main session's
// socket thread; Collect on the timer thread; Shutdown and the queries on any thread. No lock
// of this object is held while a session stops or goes.
class ServingSessions {
public:
    // main: the session whose socket thread watches the listening socket; it outlives this
    // object. errors: the monitor of every serving session. servesFiles: connections get a
    // serving chain; otherwise every connection is refused (closed at once).
    ServingSessions(Session& main, ErrorInfoMonitor& errors, bool servesFiles);
    ~ServingSessions();
    ServingSessions(const ServingSessions&) = delete;
    ServingSessions& operator=(const ServingSessions&) = delete;

    // The files each serving chain answers with; null serves none. Set before connections come.
    void SetFileSource(LiveHttpFileSource* source) { fileSource_ = source; }

    // Opens the listening socket on the loopback port. Returns an empty text once it listens,
    // otherwise why it could not (or an empty-handed "stopped" after Shutdown: then false).
    bool Listen(uint16_t port, std::string& failure);
    // The port listened on, 0 when not listening.
    uint16_t GetListeningPort() const;

    // Called on the main session's socket thread for every accepted connection: a serving
    // chain on a session of its own, or null to refuse it.
    SocketDelegate* CreateChain(SV::PilSocketHolder& socket);
    // Arms the collection timer (once; never after Shutdown).
    void StartCollection();
    // Lets the stopped serving sessions go; running ones stay.
    void Collect();
    // Serving sessions in the list (running or stopped but not yet collected).
    size_t GetCount();

    // The playback is over: the listening socket closes.
    void CloseListener();
    // No connection gets a serving chain any more; the ones served stop.
    void CloseSessions();
    // Everything stops for good: nothing listens or collects from here on, the listener and
    // the timer go (waiting for an accept or a collection under way), then the sessions stop.
    void Shutdown();

    // The wait for the listen of a worker that will listen: Expect before the worker starts;
    // the worker's listen settles it as listening, a failure or the end of the worker as given
    // up. A settled listen stays as it is.
    void ExpectListen();
    void GiveUpListen() { SettleListen(ListenState::GivenUp); }
    // Returns once the listen expected is settled (at once when none is expected).
    void WaitUntilSettled();

private:
    enum class ListenState { NotAwaited, Pending, Listening, GivenUp };
    void SettleListen(ListenState state);

    Session& main_;
    ErrorInfoMonitor& errors_;
    const bool servesFiles_;
    LiveHttpFileSource* fileSource_ = nullptr;

    // Guards listener_, timer_ and stopped_: the worker makes the first two while Shutdown may
    // be taking them down on another thread.
    mutable std::mutex runtimeLock_;
    std::unique_ptr<MultiSocketDelegateServer> listener_;
    std::unique_ptr<GarbageCollectionTimer> timer_;
    bool stopped_ = false;

    // Guards sessions_ and closed_.
    std::mutex sessionsLock_;
    std::list<boost::shared_ptr<Session>> sessions_;
    bool closed_ = false;

    std::mutex listenStateLock_;
    std::condition_variable listenStateChanged_;
    ListenState listenState_ = ListenState::NotAwaited;
};

}  // namespace SarvelonMediaKit

#endif
