// The sample queue's wake-up object: an auto-reset event. On Windows it is the named kernel event
// (shared by every running instance that opens the same name); elsewhere a mutex and condition
// variable with the same semantics. Signalled by the queue's writer and by a stop request, waited on
// by the decoder thread.
// Failures: WakeCreate returns null; WakeWait returns false when the wait itself failed.
#ifndef QUORVANE_WAKE_H
#define QUORVANE_WAKE_H

struct WakeEvent;

WakeEvent* WakeCreate(const char* name);
void WakeDestroy(WakeEvent* event);
void WakeSignal(WakeEvent* event);
void WakeReset(WakeEvent* event);
// Waits until signalled and consumes the signal.
bool WakeWait(WakeEvent* event);

#endif
