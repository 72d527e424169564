#ifndef ENGINE_CORE_INFOSOURCE_H
#define ENGINE_CORE_INFOSOURCE_H

#include <boost/container/flat_set.hpp>
#include <boost/container/small_vector.hpp>
#include <boost/function.hpp>

#include <mutex>
#include <vector>

#include "engine/core/InfoLinks.h"

namespace SarvelonMediaKit {

template <typename Source, typename Monitor>
class InfoMonitor;

// The publishing side of an information family. Source is the family's source class (derived
// from this), Monitor its monitor class (derived from InfoMonitor<Source, Monitor>).
//
// Attach, detach and publish may happen on different threads. Each link is recorded on both
// sides under one lock (InfoLinks), so either side may go first. Events run on the publishing
// thread with no lock held; a monitor may detach itself, or attach and detach others, from
// inside an event. A detach made on another thread waits until a delivery to that monitor that
// is already running has returned, and no delivery starts after it.
template <typename Source, typename Monitor>
class InfoSource {
public:
    typedef InfoMonitor<Source, Monitor> MonitorBase;

    InfoSource() {}
    // Detaches every monitor.
    virtual ~InfoSource() { DetachAll(); }

    InfoSource(const InfoSource&) = delete;
    InfoSource& operator=(const InfoSource&) = delete;

    // Attaches the monitor (once, however often it is added).
    void AddMonitor(Monitor* monitor) {
        if (monitor == nullptr) return;
        MonitorBase* m = monitor;
        std::lock_guard<std::mutex> lock(InfoLinks::Lock());
        monitors_.insert(m);
        m->sources_.insert(this);
    }

    // Detaches the monitor; returns once no delivery to it is running on another thread.
    void RemoveMonitor(Monitor* monitor) {
        if (monitor == nullptr) return;
        Unlink(this, monitor);
    }

    // Detaches every monitor; returns once no delivery of this source is running on another
    // thread.
    void DetachAll() {
        std::unique_lock<std::mutex> lock(InfoLinks::Lock());
        for (typename MonitorSet::iterator it = monitors_.begin(); it != monitors_.end(); ++it) {
            (*it)->sources_.erase(this);
        }
        monitors_.clear();
        InfoLinks::WaitForDeliveries(lock, this, nullptr);
    }

    bool HasMonitors() const {
        std::lock_guard<std::mutex> lock(InfoLinks::Lock());
        return !monitors_.empty();
    }

    bool HasMonitor(const Monitor* monitor) const {
        const MonitorBase* m = monitor;
        std::lock_guard<std::mutex> lock(InfoLinks::Lock());
        return monitors_.count(const_cast<MonitorBase*>(m)) != 0;
    }

protected:
    // Calls the event on every attached monitor, in set order, on this thread. The event holds
    // its own copies of the arguments. A monitor detached before its turn is skipped.
    // A template, so that a bound call is used as it is, not first wrapped (and allocated) in
    // a boost::function: some events go out for every sample.
    template <typename Event>
    void PublishToMonitors(const Event& event) {
        // Most sources have one or two monitors: their list stays on the stack.
        boost::container::small_vector<MonitorBase*, 4> monitors;
        {
            std::lock_guard<std::mutex> lock(InfoLinks::Lock());
            if (monitors_.empty()) return;
            monitors.assign(monitors_.begin(), monitors_.end());
        }
        // One record for the whole publication, moved from monitor to monitor: ending one
        // delivery and beginning the next take one turn of the lock.
        InfoLinks::Delivery delivery(this);
        DeliveryScope scope(delivery);
        for (size_t i = 0; i < monitors.size(); ++i) {
            MonitorBase* m = monitors[i];
            {
                std::lock_guard<std::mutex> lock(InfoLinks::Lock());
                if (delivery.linked) InfoLinks::EndDelivery(delivery);
                // Only the pointer is compared: a monitor gone meanwhile is no longer here.
                if (monitors_.count(m) == 0) continue;
                delivery.monitor = m;
                InfoLinks::BeginDelivery(delivery);
            }
            event(static_cast<Monitor*>(m));
        }
    }

private:
    friend class InfoMonitor<Source, Monitor>;

    // Ends the running delivery, if any, even when the event throws.
    class DeliveryScope {
    public:
        explicit DeliveryScope(InfoLinks::Delivery& delivery) : delivery_(delivery) {}
        ~DeliveryScope() {
            std::lock_guard<std::mutex> lock(InfoLinks::Lock());
            if (delivery_.linked) InfoLinks::EndDelivery(delivery_);
        }

    private:
        InfoLinks::Delivery& delivery_;
    };

    static void Unlink(InfoSource* source, MonitorBase* monitor) {
        std::unique_lock<std::mutex> lock(InfoLinks::Lock());
        source->monitors_.erase(monitor);
        monitor->sources_.erase(source);
        InfoLinks::WaitForDeliveries(lock, source, monitor);
    }

    // A sorted vector: the few monitors a source has are copied out for every event, which
    // costs a node walk in a tree. Under InfoLinks::Lock().
    typedef boost::container::flat_set<MonitorBase*> MonitorSet;
    MonitorSet monitors_;
};

// The subscribing side of an information family: the family's monitor class derives from it
// and adds the event operations.
//
// A monitor detaches itself from every source when it is destroyed. A monitor whose events
// touch its own members should call DetachFromSources() first thing in its own destructor:
// by the time this base destructor runs, those members are gone while an event on another
// thread might still be using them.
template <typename Source, typename Monitor>
class InfoMonitor {
public:
    typedef InfoSource<Source, Monitor> SourceBase;

    InfoMonitor() {}
    virtual ~InfoMonitor() { DetachFromSources(); }

    InfoMonitor(const InfoMonitor&) = delete;
    InfoMonitor& operator=(const InfoMonitor&) = delete;

    // The same link as source->AddMonitor(this).
    void AddSource(Source* source) {
        if (source == nullptr) return;
        source->AddMonitor(static_cast<Monitor*>(this));
    }

    // The same as source->RemoveMonitor(this): both sides forget the link.
    void RemoveSource(Source* source) {
        if (source == nullptr) return;
        SourceBase::Unlink(source, this);
    }

    // Detaches from every source; returns once no delivery to this monitor is running on
    // another thread.
    void DetachFromSources() {
        std::unique_lock<std::mutex> lock(InfoLinks::Lock());
        for (typename SourceSet::iterator it = sources_.begin(); it != sources_.end(); ++it) {
            (*it)->monitors_.erase(this);
        }
        sources_.clear();
        InfoLinks::WaitForDeliveries(lock, nullptr, this);
    }

    bool HasSources() const {
        std::lock_guard<std::mutex> lock(InfoLinks::Lock());
        return !sources_.empty();
    }

    bool HasSource(const Source* source) const {
        const SourceBase* s = source;
        std::lock_guard<std::mutex> lock(InfoLinks::Lock());
        return sources_.count(const_cast<SourceBase*>(s)) != 0;
    }

private:
    friend class InfoSource<Source, Monitor>;

    typedef boost::container::flat_set<SourceBase*> SourceSet;
    SourceSet sources_;  // under InfoLinks::Lock()
};

}  // namespace SarvelonMediaKit

#endif
