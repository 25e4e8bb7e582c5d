// The queue's wake-up on Windows: a named auto-reset kernel event. A second running instance opens
// the same event, so a signal can arrive for a queue that is still empty; the queue waits again then.
#include "capture/wake.h"

#include <windows.h>

#include <new>

struct WakeEvent {
    HANDLE handle;
};

WakeEvent* WakeCreate(const char* name)
{
    HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, name);
    if (!handle)
        return nullptr;
    WakeEvent* event = new (std::nothrow) WakeEvent{handle};
    if (!event)
        CloseHandle(handle);
    return event;
}

void WakeDestroy(WakeEvent* event)
{
    if (!event)
        return;
    CloseHandle(event->handle);
    delete event;
}

void WakeSignal(WakeEvent* event)
{
    SetEvent(event->handle);
}

void WakeReset(WakeEvent* event)
{
    ResetEvent(event->handle);
}

bool WakeWait(WakeEvent* event)
{
    return WaitForSingleObject(event->handle, INFINITE) == WAIT_OBJECT_0;
}
