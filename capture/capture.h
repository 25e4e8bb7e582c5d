// Capture run state and the end of a run. CaptureState is 0 while recording from the sound card and
// 1 otherwise (a raw-file run leaves it at 1). StopCapture ends the current run and unlocks the
// controls; it is called on the user-interface thread by Stop and on the decoder thread at the end
// of the raw file (in file mode it touches no device).
// Failures: a failed device reset is logged and leaves the controls locked.
#ifndef QUORVANE_CAPTURE_H
#define QUORVANE_CAPTURE_H

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> CaptureState;

void StopCapture();

// Platform half: returns every queued buffer to the program and stops recording. Implemented by the
// sound-card capture of the Windows program; programs without a sound card provide a stand-in.
bool ResetSoundDevice();

#endif
