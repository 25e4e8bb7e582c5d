#include "capture/wake.h"

#include <condition_variable>
#include <mutex>
#include <new>

// An auto-reset event: a wait consumes the signal; a signal with nobody waiting is kept for the
// next wait. The name only matters on Windows, where instances share the kernel object.
struct WakeEvent {
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

WakeEvent* WakeCreate(const char*)
{
    return new (std::nothrow) WakeEvent;
}

void WakeDestroy(WakeEvent* event)
{
    delete event;
}

void WakeSignal(WakeEvent* event)
{
    {
        std::lock_guard<std::mutex> hold(event->lock);
        event->signalled = true;
    }
    event->changed.notify_one();
}

void WakeReset(WakeEvent* event)
{
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = false;
}

bool WakeWait(WakeEvent* event)
{
    std::unique_lock<std::mutex> hold(event->lock);
    event->changed.wait(hold, [event] { return event->signalled; });
    event->signalled = false;
    return true;
}
