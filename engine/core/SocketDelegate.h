#ifndef ENGINE_CORE_SOCKETDELEGATE_H
#define ENGINE_CORE_SOCKETDELEGATE_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <mutex>

#include "SVLibrary/Socket/PilSocketHolder.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

class Component;
class ConnectionSlot;
class SocketMaster;

// Owns one socket of the local server (a listening socket or one connection, the "session
// socket") and is told by its SocketMaster when it becomes readable. Reading happens on the
// master's thread; the reactions (connection opened, data received, connection closed) run as
// tasks on the session's queue, in the Do* hooks below.
//
// A derived class whose DoSocketReadable or hooks use its own members must call Detach first
// thing in its destructor: once that returns the master no longer calls it. The tasks the
// delegate posted hold a plain pointer to it: it must outlive them (destroy it on the pump
// thread, or once the pump has stopped).
class SocketDelegate {
public:
    // Registers with the master when there is one. component (may be null) allocates the
    // receive buffers, so what is read counts against its session's memory.
    SocketDelegate(SocketMaster* master, Component* component);
    // Leaves the master (Detach) and closes the session socket if it is still open. Posts
    // nothing.
    virtual ~SocketDelegate();

    SocketDelegate(const SocketDelegate&) = delete;
    SocketDelegate& operator=(const SocketDelegate&) = delete;

    // Called by the master on its thread, with its socket table locked. The default reads up
    // to 10000 bytes of the session socket: data goes to ProcessSessionData, an orderly close
    // or an error to SessionSocketClosed.
    virtual void DoSocketReadable(int fd);
    // The protocol hooks; they run on the session's task queue.
    virtual void DoSessionSocketOpen();
    virtual void DoProcessSessionData(MemoryChunk chunk);
    virtual void DoSessionSocketClosed();

    // Leaves the current master (taking the session socket off it) and joins the new one
    // (null: none). A connection already announced (SessionSocketOpen) is watched there at
    // once; one just handed over (SwapSocket) is watched from SessionSocketOpen on, so nothing
    // is read from it before its open task is queued and its session is set up.
    void SetSocketMaster(SocketMaster* master);
    SocketMaster* GetSocketMaster() const { return socketMaster_; }

    // Exchanges the session socket with the holder's descriptor (an accepted connection, handed
    // over before SetSocketMaster); the new one is not announced yet. Registrations do not
    // change.
    void SwapSocket(SV::PilSocketHolder& holder);

    // The connection is open: watch the session socket and post the open task.
    void SessionSocketOpen();
    // Posts the data task with the chunk (which shares its bytes).
    void ProcessSessionData(const MemoryChunk& chunk);
    // The connection has ended: stop watching the session socket, close it and post the
    // closed task. Only the first call for one connection does anything, so a connection is
    // reported closed once.
    void SessionSocketClosed();
    // Drops the connection if it is open.
    void CloseSessionSocket();

    // The session socket's descriptor, -1 when none.
    int GetSessionDescriptor() const;

    // Held while the session socket is open and let go when it closes or the delegate goes; the
    // server that handed out the connection counts its open connections by these, and may cut
    // one through it that has no request in progress.
    void HoldConnectionSlot(const boost::shared_ptr<ConnectionSlot>& slot);
    // Tells the connection's slot (if any) whether a request is in progress on it.
    void SetRequestInProgress(bool inProgress);

protected:
    // Takes the session socket off the master and leaves it. Safe to call more than once.
    void Detach();
    Component* GetComponent() const { return component_; }
    // Guards the sockets this delegate holds (the session socket here, more in subclasses).
    // Master operations are never called with it held.
    std::mutex& SocketLock() const { return socketLock_; }
    // The session socket; under SocketLock.
    SV::PilSocketHolder& SessionSocket() { return sessionSocket_; }

    // A send that writes to the session socket's descriptor without holding the lock takes it
    // here and gives it back when done: a close meanwhile (on the master's thread, when the
    // peer goes) takes the socket away from everyone else at once, but the descriptor itself is
    // closed only when given back, so its number cannot go to another connection under the
    // send. Returns -1 when the socket is closed; firstUse is set for the first take of each
    // connection (for what is set once per connection).
    int TakeSessionDescriptor(bool* firstUse);
    void GiveBackSessionDescriptor(int fd);

private:
    std::atomic<SocketMaster*> socketMaster_;
    Component* component_;
    mutable std::mutex socketLock_;
    SV::PilSocketHolder sessionSocket_;
    boost::shared_ptr<ConnectionSlot> connectionSlot_;  // under socketLock_
    // The session socket has been announced (SessionSocketOpen); under socketLock_.
    bool announced_;
    // Sends holding the session descriptor, a descriptor whose close waits for them, and
    // whether the connection has been taken for a send yet; all under socketLock_.
    int descriptorUsers_;
    int closeWhenGivenBack_;
    bool taken_;

    // Posts the data task; the task holds the unread mark (may be empty) until it is gone.
    void PostSessionData(const MemoryChunk& chunk, const boost::shared_ptr<void>& unread);
    // The data task: hands the bytes to DoProcessSessionData.
    void TakeSessionData(MemoryChunk chunk, boost::shared_ptr<void> unread);
    // Closes the session socket now, or once the sends holding it give it back; lets the slot
    // go into slot (released by the caller outside the lock). Under socketLock_.
    void CloseSessionSocketLocked(boost::shared_ptr<ConnectionSlot>* slot);
};

}  // namespace SarvelonMediaKit

#endif
