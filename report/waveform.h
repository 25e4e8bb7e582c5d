// Geometry of the waveform strip: one recorded buffer squeezed or stretched to the strip's width,
// one column per pixel. Each column gets an erase line over the strip's full height and a sample
// line from the middle to the sample's offset (values above 128 below the middle, below 128 above).
// The lines are also rendered here into the pixels they paint, so that the strip reaches the screen
// in one transfer (DrawWaveform in waveform_win32.cpp) instead of four line calls per column.
// A recording that clips (samples at 0 or 255: the input level is too high for the sound card) is
// shown as such: the columns whose samples clip are drawn red, and when any sample since the last
// strip clipped, a red line runs along its top and bottom edges.
// Pure arithmetic on the user-interface thread. Nothing here fails; a buffer shorter than the strip repeats its samples and
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
    bool clipped;               // a sample the column stands for is at 0 or 255
};

// True when a sample is at 0 or 255, the ends of the sound card's scale.
bool InputClips(const uint8_t* samples, int32_t length);

// The columns for the strip's client rectangle (left, top, right, bottom), from left to right - 1;
// none when the strip has no width.
std::vector<WaveformColumn> WaveformColumns(int left, int top, int right, int bottom,
                                            const uint8_t* samples, int32_t length);

// Pixel values as a 32-bit device-independent bitmap stores them (0x00RRGGBB).
enum : uint32_t { kWaveformBlack = 0x000000, kWaveformGreen = 0x00FF00, kWaveformRed = 0xFF0000 };

// What the lines of the columns paint: every erase line black, then every sample line green (red
// for a clipped column), each line covering its start point and stopping short of its end point,
// as a one-pixel line does; with `clipped`, the top and bottom rows red.
// The rectangle is exactly the pixels the lines touch: the columns' x range and erase range (for
// an odd height the bottom row is left alone).
struct WaveformPicture {
    int left, top, width, height;
    std::vector<uint32_t> pixels;  // width x height, top row first
};

WaveformPicture PaintWaveform(const std::vector<WaveformColumn>& columns, bool clipped);

#endif
