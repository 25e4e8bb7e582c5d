// The rescue decoder's slicer: full-precision samples into half-waves, for signals that a fixed base
// line cannot cut. One frame at a time it mixes the channels with the attempt's weights, smooths off
// hiss (optional low-pass), follows the base line with a high-pass so hum and DC drift do not move
// the slicing point, and switches sides with hysteresis scaled to the signal's own level. An edge is
// placed at the zero crossing that the hysteresis confirmed, interpolated between samples, so that
// a half-wave's length does not depend on the signal's level; a half-wave of a sample or two between
// two edges (noise riding on an edge, the tip of a click) is merged with its neighbours.
// Pure computation on the caller's record, any thread, one slicer per thread; nothing fails.
#ifndef QUORVANE_RESCUE_SLICER_H
#define QUORVANE_RESCUE_SLICER_H

#include <cstdint>
#include <vector>

enum { kSlicerMaxChannels = 8 };

// How one attempt slices. Frequencies in Hz; 0 turns the stage off.
struct SlicerSettings {
    float weights[kSlicerMaxChannels] = {1};  // the mix; channels beyond the file's are ignored
    double highPassHz = 30;
    double lowPassHz = 0;
    double hysteresis = 0.15;   // threshold as a share of the running mean level
    double sliverSamples = 2.5; // half-waves shorter than this, at 44100/s, are merged
};

// One half-wave: where it ended (in samples from the start of the recording, with the fraction of the
// interpolated crossing), its length in samples, and its side (+1 above the base line, -1 below).
struct HalfWave {
    double end;
    float length;
    int8_t side;
};

struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1, x2, y1, y2;
};

struct SlicerState {
    SlicerSettings settings;
    int channels;
    double rate;
    Biquad highPass, lowPass;
    bool useHighPass, useLowPass;
    double level;          // running mean of the filtered signal's magnitude
    double levelRate;      // its step per sample
    double previous;       // filtered value of the last sample
    int64_t position;      // index of the next sample
    int side;              // +1 or -1: the side the slicer is on
    double crossing;       // time of the last zero crossing towards the other side
    double pendingEdge;    // the last edge, held until the next one shows it is not a sliver's
    double lastEdge;       // the edge before it, where the half-wave now in progress began
    bool havePending;
    double sliver;         // sliverSamples at the recording's rate
    std::vector<float>* trace;  // when set, every filtered sample is appended to it
};

// A slicer starting at sample `position` of a recording of `channels` channels at `rate`.
void SlicerStart(SlicerState& s, const SlicerSettings& settings, int channels, double rate, int64_t position);

// Slices `count` interleaved frames; the half-waves they complete are appended to out.
void SlicerFeed(SlicerState& s, const float* frames, int64_t count, std::vector<HalfWave>& out);

// The end of the recording: the half-wave in progress ends at the last sample.
void SlicerFinish(SlicerState& s, std::vector<HalfWave>& out);

#endif
