#include "manual_reset_event.h"

ManualResetEvent::ManualResetEvent(EventGroup &g, bool initiallySignalled)
    : group(g)
    , signalled(initiallySignalled)
{
}

void ManualResetEvent::Set()
{
    {
        std::lock_guard lock(group.mutex);
        signalled = true;
    }
    group.changed.notify_all();
}

void ManualResetEvent::Reset()
{
    std::lock_guard lock(group.mutex);
    signalled = false;
}

bool ManualResetEvent::IsSet() const
{
    std::lock_guard lock(group.mutex);
    return signalled;
}

int ManualResetEvent::WaitAny(std::initializer_list<const ManualResetEvent *> events)
{
    if (events.size() == 0)
        return -1;
    EventGroup &group = (*events.begin())->group;
    std::unique_lock lock(group.mutex);
    for (;;) {
        int index = 0;
        for (const ManualResetEvent *e : events) {
            if (e->signalled)
                return index;
            ++index;
        }
        group.changed.wait(lock);
    }
}
