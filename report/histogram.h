// The picture of a recording's half-waves: how many there are of each length, as the default
// decoder measures them against BaseLine (samples at 44100/s, 1 to 60), on a log scale, with the
// ten thresholds beneath it: the pilot and sync windows over the half-wave lengths they take, the
// 0 and 1 windows (which take the sum of a bit's two half-waves) over half their lengths. The
// geometry is worked out here once, in whole pixels, and both the window (GDI) and the console
// (SVG, written here) draw from it, so they draw the same picture.
// Pure computation, any thread; nothing fails (a picture too small for its margins gets plot and
// bars of no size, a histogram with no half-waves no bars).
#ifndef QUORVANE_REPORT_HISTOGRAM_H
#define QUORVANE_REPORT_HISTOGRAM_H

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/timing.h"

enum { kHistogramLongest = 60 };

struct HalfWaveHistogram {
    uint64_t counts[kHistogramLongest + 1] = {};  // counts[n]: half-waves of n samples (counts[0] unused)
    uint64_t longer = 0;                          // longer than kHistogramLongest
    uint64_t timeouts = 0;                        // no change of side within the decoder's time-out
};

// One result of the half-period measurement (decoder/scan.h): a length, or -1 for a time-out.
void CountHalfWave(HalfWaveHistogram& histogram, int32_t length);

// Colours as 0xRRGGBB.
enum : uint32_t {
    kHistogramPaper = 0xFFFFFF,
    kHistogramInk = 0x202020,    // axes, ticks and text
    kHistogramBar = 0x2060C0,
    kHistogramLaneBack = 0xE8E8E8,
    kHistogramPilot = 0xE0A020,
    kHistogramSync = 0xD04040,
    kHistogramZero = 0x40A040,
    kHistogramOne = 0x9050C0,
};

struct HistogramBox {
    int left, top, right, bottom;  // right and bottom exclusive
};

struct HistogramTick {
    int at;  // x of a length's bar centre, or y of a count
    std::string label;
};

// A threshold window: its lane (the full width of the plot) and the part of it shaded, empty when
// the window takes no length from 1 to 60.
struct HistogramLane {
    std::string name;
    uint32_t colour;
    HistogramBox lane;
    HistogramBox shaded;
};

enum { kLanePilot, kLaneSync, kLaneZero, kLaneOne, kHistogramLanes };

// What is painted, in order: filled boxes, then texts on them.
struct HistogramFill {
    HistogramBox box;
    uint32_t colour;
};
enum HistogramAlign { kAlignStart, kAlignMiddle, kAlignEnd };
struct HistogramText {
    int x, y;  // y is the text's baseline
    HistogramAlign align;
    std::string text;
};

enum { kHistogramLineHeight = 14, kHistogramFontSize = 11 };

struct HistogramLayout {
    int width, height;
    HistogramBox plot;                    // the bars' area; the axes run along its left and bottom
    int barWidth;                         // pixels a length takes on the x axis
    HistogramBox bars[kHistogramLongest]; // the bar of length n is bars[n - 1]; no height for no count
    std::vector<HistogramTick> xTicks, yTicks;
    HistogramLane lanes[kHistogramLanes];
    std::vector<std::string> notes;       // under the lanes: the base line, what lies beyond 60
    // All of the above as it is painted.
    std::vector<HistogramFill> fills;
    std::vector<HistogramText> texts;
};

// The picture in a width x height pixel area. The y axis is logarithmic, from 0.1 at the bottom of
// the plot to the power of ten at or above the largest count (10 at least) at its top, so that a
// single half-wave still shows as a bar.
HistogramLayout LayOutHistogram(const HalfWaveHistogram& histogram, const TimingRecord& thresholds, int width,
                                int height);

// The picture as an SVG document, with `side` (the rescue decoder's measurement, the suggested
// thresholds), one line each, in a column of `sideWidth` pixels to its right.
std::string HistogramSvg(const HistogramLayout& layout, const std::vector<std::string>& side, int sideWidth);

#endif
