// Capture run state, file mode, and how many sound-card buffers circulate.
// CaptureState is 0 while recording from the sound card and 1 otherwise (a raw-file run leaves it at
// 1); the sound card sets it (capture/soundcard_win32.cpp), the decoder reads it.
#ifndef QUORVANE_CAPTURE_H
#define QUORVANE_CAPTURE_H

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> CaptureState;

// File mode: on while the raw recording file, not the sample queue, is the run's source. Set by the
// run's owner before the decoder thread starts; cleared when the run is ended (EndRun).
void SetFileMode(bool on);
bool FileMode();

// How many buffers of `length` bytes circulate between the program and the sound card: enough for
// a second and a half of sound at 44100/s, so that a window that stalls that long loses nothing,
// and never fewer than three. `length` is the checked buffer length, 256 to 200000.
int32_t SoundBufferCount(int32_t length);

#endif
