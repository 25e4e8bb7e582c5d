// Capture run state, file mode and the end of a run. CaptureState is 0 while recording from the sound card and
// 1 otherwise (a raw-file run leaves it at 1). StopCapture ends the current run and unlocks the
// controls; it is called on the user-interface thread by Stop and on the decoder thread at the end
// of the raw file (in file mode it touches no device).
// Failures: a failed device reset is logged and leaves the controls locked.
#ifndef QUORVANE_CAPTURE_H
#define QUORVANE_CAPTURE_H

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> CaptureState;

// File mode: on while the raw recording file, not the sample queue, is the run's source. Set by the
// run's owner before the decoder thread starts; cleared at the run's end, on either thread.
void SetFileMode(bool on);
bool FileMode();

void StopCapture();

// How many buffers of `length` bytes circulate between the program and the sound card: enough for
// a second and a half of sound at 44100/s, so that a window that stalls that long loses nothing,
// and never fewer than three. `length` is the checked buffer length, 256 to 200000.
int32_t SoundBufferCount(int32_t length);

#endif
