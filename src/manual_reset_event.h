#pragma once

#include <condition_variable>
#include <initializer_list>
#include <mutex>

// A group of manual-reset events that share one mutex and condition
// variable, so a thread can block on "whichever of these is signalled
// first" without polling. Events stay signalled until reset.
class EventGroup {
public:
    EventGroup() = default;
    EventGroup(const EventGroup &) = delete;
    EventGroup &operator=(const EventGroup &) = delete;

private:
    friend class ManualResetEvent;
    std::mutex mutex;
    std::condition_variable changed;
};

class ManualResetEvent {
public:
    ManualResetEvent(EventGroup &group, bool initiallySignalled);
    ManualResetEvent(const ManualResetEvent &) = delete;
    ManualResetEvent &operator=(const ManualResetEvent &) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // Blocks until one of the events (all from the same group) is signalled
    // and returns its index. Earlier events win when several are signalled.
    static int WaitAny(std::initializer_list<const ManualResetEvent *> events);

private:
    EventGroup &group;
    bool signalled;
};
