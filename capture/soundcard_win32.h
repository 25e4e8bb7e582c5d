// Recording from the sound card (wave-input device 0, 8-bit mono PCM at 44100/s): as many buffers
// of n bytes as hold a second and a half (SoundBufferCount), carved with their headers from one
// fixed global block, circulate between the program and the device. The device signals an event
// for every buffer it returns, and a capture thread of this unit's own takes them in order: while
// recording, the recorded bytes go to the sample queue and the buffer is handed back at once. That
// thread never calls a window nor waits for the user-interface thread, so a stalled window (frozen,
// busy, or preempted) holds up neither the device nor the sound; the buffers at the device carry a
// recording through a stall of the capture thread itself of up to that second and a half. The
// window's timer shows the device's position and draws the newest buffer into the strip.
// Stop (CloseSoundCard) ends the capture thread, resets the device and takes the returned buffers
// back on the user-interface thread without re-queueing them; the last one closes the device and
// frees the block. Whether the device is open is known only here.
// OpenSoundCard, CloseSoundCard, ShowPosition, LongestReturnGap: user-interface thread.
// AddBuffer, OnBufferDone: the capture thread while recording, the user-interface thread otherwise.
// Failures: a refused start shows its reason and returns 0; errors while buffers circulate are
// logged (a system error text is shown at the next tick) and recording goes on with one buffer
// fewer, the count of buffers out at the device kept true so that the device is still closed and
// the block freed exactly once.
#ifndef QUORVANE_SOUNDCARD_WIN32_H
#define QUORVANE_SOUNDCARD_WIN32_H

#include <windows.h>
#include <mmsystem.h>

// 1 when recording has started (CaptureState 0), 0 when refused (the reason has been shown).
int OpenSoundCard();

// Stop of a recording: no more sound reaches the queue (CaptureState 1), the device is reset and
// every buffer taken back, the last closing the device. False, after "OnIDC_STOP -> ошибка функции
// waveInReset", when the device refuses the reset; true when it was not recording.
bool CloseSoundCard();

// Prepares a header and queues it on the device.
void AddBuffer(WAVEHDR* header);

// A buffer has come back from the device (the device has marked it done).
void OnBufferDone(WAVEHDR* header);

// The longest time, in microseconds, between two buffers coming back while recording, since the
// device was opened or since the last call with restart, which starts the measure afresh.
long LongestReturnGap(bool restart);

// The timer's tick: while recording, the device's position in bytes into "Record Position:" and
// the newest buffer, if not drawn yet, into the strip, marked when a sample since the last strip
// clipped (which the status pane also says, once a recording: "Input clips: lower the recording
// level"); an error text the capture thread left.
void ShowPosition();

// The wave-input system's text for an error code, in an information box.
void ShowWaveError(MMRESULT code);

#endif
