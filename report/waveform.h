// Geometry of the waveform strip: one recorded buffer squeezed or stretched to the strip's width,
// one column per pixel. Each column gets an erase line over the strip's full height and a sample
// line from the middle to the sample's offset (values above 128 below the middle, below 128 above).
// Pure arithmetic on the user-interface thread; the drawing itself is DrawWaveform in
// waveform_win32.cpp. Nothing here fails; a buffer shorter than the strip repeats its samples and
// an empty one draws a flat line without reading it.
#ifndef QUORVANE_WAVEFORM_H
#define QUORVANE_WAVEFORM_H

#include <cstdint>
#include <vector>

struct WaveformColumn {
    int x;
    int eraseTop, eraseBottom;  // the erase line, from eraseTop to eraseBottom
    int sampleFrom, sampleTo;   // the sample line: from the middle to the sample's offset
    int32_t sampleIndex;        // the sample drawn, always inside the buffer; -1 for an empty one
};

// The columns for the strip's client rectangle (left, top, right, bottom), from left to right - 1;
// none when the strip has no width.
std::vector<WaveformColumn> WaveformColumns(int left, int top, int right, int bottom,
                                            const uint8_t* samples, int32_t length);

#endif
