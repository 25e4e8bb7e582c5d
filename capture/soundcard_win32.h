// Recording from the sound card (wave-input device 0, 8-bit mono PCM at 44100/s): as many buffers
// of n bytes as hold a second and a half (SoundBufferCount), carved with their headers from one
// fixed global block, circulate between the program and the device. Every buffer comes back as
// MM_WIM_DATA to the main dialog; while recording its recorded bytes go to the sample queue, it is
// handed back at once and then drawn into the strip (of a burst, only the newest). The buffers at
// the device carry a recording through a stall of the main dialog's thread of up to that second
// and a half. After Stop the returned buffers are not re-queued; the last one closes the device
// and frees the block.
// User-interface thread only (the decoder thread's end of file never reaches the device).
// Failures: a refused start shows its reason and returns 0; errors while buffers circulate are
// logged and recording goes on with one buffer fewer, the count of buffers out at the device kept
// true so that the device is still closed and the block freed exactly once.
#ifndef QUORVANE_SOUNDCARD_WIN32_H
#define QUORVANE_SOUNDCARD_WIN32_H

#include <windows.h>
#include <mmsystem.h>

// 1 when recording has started (CaptureState 0), 0 when refused (the reason has been shown).
int OpenSoundCard();

// Prepares a header and queues it on the device.
void AddBuffer(WAVEHDR* header);

// MM_WIM_DATA: a buffer has come back from the device. Messages for buffers that are not ours or
// that the device has not finished with are ignored.
void OnBufferDone(HWND dialog, WAVEHDR* header);

// The longest time, in microseconds, between two buffers coming back while recording, since the
// device was opened or since the last call with restart, which starts the measure afresh.
long LongestReturnGap(bool restart);

// The timer's tick: the device's position in bytes into "Record Position:", while recording.
void ShowPosition();

// The wave-input system's text for an error code, in an information box.
void ShowWaveError(MMRESULT code);

#endif
