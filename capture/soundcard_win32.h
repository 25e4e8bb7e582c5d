// Recording from the sound card (wave-input device 0, 8-bit mono PCM at 44100/s): three buffers of
// n bytes, carved from one fixed global block, circulate between the program and the device.
// The device signals each returned buffer on an event that a capture thread of its own waits on;
// while recording, that thread queues the buffer's recorded bytes for the decoder, hands it back at
// once and leaves the strip's drawing to the main dialog. So the buffers go back to the device
// however long the window takes to paint: under load, or with Xvfb and Wine behind it, the
// user-interface thread was seen to stall for 60 to 260 ms, and three buffers hold 70 ms.
// OpenSoundCard, ShowPosition, ResetSoundDevice (Stop) and the drawing: user-interface thread;
// OnBufferDone: the capture thread.
// Failures: a refused start shows its reason and returns 0; errors while buffers circulate are
// logged (the system's text shown by the main dialog) and recording goes on with one buffer fewer;
// Stop closes the device and frees the block exactly once.
#ifndef QUORVANE_SOUNDCARD_WIN32_H
#define QUORVANE_SOUNDCARD_WIN32_H

#include <windows.h>
#include <mmsystem.h>

// Posted by the capture thread to the main dialog: a recorded buffer waits to be drawn
// (DrawRecordedBuffer), or a wave-input error's text waits to be shown (wParam: the code).
enum { WM_BUFFER_TO_DRAW = WM_APP + 4, WM_WAVE_ERROR = WM_APP + 5 };

// 1 when recording has started (CaptureState 0), 0 when refused (the reason has been shown).
int OpenSoundCard();

// Prepares a header and queues it on the device.
void AddBuffer(WAVEHDR* header);

// A buffer has come back from the device. Headers the device has not finished with are ignored.
void OnBufferDone(HWND dialog, WAVEHDR* header);

// Draws the buffer most recently recorded into the strip.
void DrawRecordedBuffer(HWND dialog);

// The longest time, in microseconds, between two buffers coming back while recording, since the
// device was opened or since the last call with restart, which starts the measure afresh.
long LongestReturnGap(bool restart);

// The timer's tick: the device's position in bytes into "Record Position:", while recording.
void ShowPosition();

// The wave-input system's text for an error code, in an information box.
void ShowWaveError(MMRESULT code);

#endif
