// The waveform strip on the screen: one recorded buffer painted into the main dialog's strip
// (control 1003), `clipped` when the input clipped since the last one (report/waveform.h).
// User-interface thread only. Failures: a strip that cannot be drawn is left as it
// is.
#ifndef QUORVANE_WAVEFORM_WIN32_H
#define QUORVANE_WAVEFORM_WIN32_H

#include <windows.h>

#include <cstdint>

void DrawWaveform(HWND dialog, const uint8_t* samples, int32_t length, bool clipped);

#endif
